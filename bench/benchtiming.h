#pragma once

#include <QElapsedTimer>

#include <sys/resource.h>
#include <algorithm>
#include <cstddef>
#include <ctime>
#include <functional>
#include <vector>

// Timing helpers the benchmarks share. Figures are medians, so one slow run on a busy machine
// does not move them.
namespace tamlo::bench {

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double timeMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

inline double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> samples;
    samples.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        samples.push_back(timeMs(work));
    }
    return median(samples);
}

// CPU time of the whole process, every thread, user and system, in seconds.
inline double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of this thread: on a machine shared with other work, wall-clock figures include
// the time spent waiting for a core.
inline double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace tamlo::bench
