// Alarms: the cost of judging 63 meters at one second's tick (target: under 20 µs, and no
// allocation at all), of judging one answered poll, and of writing one event line to the log.
//   bench_alarms [repetitions, default 20000]
#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "bench/benchtiming.h"
#include "station/alarmevaluator.h"
#include "station/alarmlog.h"

namespace {
std::atomic<long> allocations{0};
}

// Every allocation of the process passes here, so a judgement that allocates shows.
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace tamlo;
using namespace tamlo::station;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Capped below a day of ticks, so the delayed conditions stay pending throughout.
    const int reps = std::min(argc > 1 ? std::atoi(argv[1]) : 20000, 80000);

    // 63 meters, every one with all four limits, a deadband and a delay; a third of them beyond
    // their high limit and waiting out a delay longer than the run, so every tick judges them.
    DeviceTable table;
    table.count = kMaxDevices;
    AlarmSettings settings;
    for (int i = 0; i < kMaxDevices; ++i) {
        table.entries[static_cast<std::size_t>(i)].address = static_cast<std::uint8_t>(i + 1);
        settings.meters[{static_cast<std::uint8_t>(i + 1), 0}] = AlarmLimits{.high = 80,
                                                                             .low = 20,
                                                                             .highHigh = 95,
                                                                             .lowLow = 5,
                                                                             .deadband = 1,
                                                                             .delaySeconds = 86400};
    }
    AlarmEvaluator evaluator;
    AlarmEvaluator::Events events;
    events.reserve(256);
    qint64 now = 1'800'000'000'000;
    evaluator.configure(settings, table, now, events);
    for (int i = 0; i < kMaxDevices; ++i) {
        evaluator.answered(i, i % 3 == 0 ? 85.5 : 50.0, now, events);
    }

    std::vector<double> tickUs;
    tickUs.reserve(static_cast<std::size_t>(reps));
    const long before = allocations.load();
    for (int r = 0; r < reps; ++r) {
        now += 1000;
        const double t0 = bench::threadCpuMs();
        evaluator.tick(now, events);
        tickUs.push_back((bench::threadCpuMs() - t0) * 1000);
    }
    const long tickAllocations = allocations.load() - before;

    std::vector<double> pollUs;
    pollUs.reserve(static_cast<std::size_t>(reps));
    const long beforePolls = allocations.load();
    for (int r = 0; r < reps; ++r) {
        const double t0 = bench::threadCpuMs();
        evaluator.answered(r % kMaxDevices, r % 3 == 0 ? 85.5 : 50.0, now, events);
        pollUs.push_back((bench::threadCpuMs() - t0) * 1000);
    }
    const long pollAllocations = allocations.load() - beforePolls;

    std::printf(
        "judging 63 meters at one tick: %.2f us median (target < 20), %ld allocations in %d "
        "ticks (target 0), %zu events\n",
        bench::median(tickUs), tickAllocations, reps, events.size());
    std::printf("judging one answered poll:     %.3f us median, %ld allocations in %d polls\n",
                bench::median(pollUs), pollAllocations, reps);

    // Event lines appended to a month's file, each by one write(2) without fsync.
    QTemporaryDir dir;
    AlarmLog log(dir.path());
    AlarmEvent event;
    event.time = QDateTime::fromMSecsSinceEpoch(now);
    event.device = 6;
    event.address = 7;
    event.tag = QByteArrayLiteral("\xCE\xC2\xB6\xC8TI07");
    event.unit = QStringLiteral("℃");
    event.value = 85.5;
    event.limit = 80;
    const int lines = std::min(reps, 5000);
    std::vector<double> lineUs;
    std::vector<double> cpuUs;
    lineUs.reserve(static_cast<std::size_t>(lines));
    cpuUs.reserve(static_cast<std::size_t>(lines));
    const long beforeLines = allocations.load();
    for (int r = 0; r < lines; ++r) {
        const double c0 = bench::threadCpuMs();
        const double wall = bench::timeMs([&] { log.append(event); });
        cpuUs.push_back((bench::threadCpuMs() - c0) * 1000);
        lineUs.push_back(wall * 1000);
    }
    std::printf(
        "writing one event line:        %.1f us median wall, %.1f us median CPU "
        "(open, append, close), %.1f allocations per line%s\n",
        bench::median(lineUs), bench::median(cpuUs),
        static_cast<double>(allocations.load() - beforeLines) / lines,
        log.problem().isEmpty() ? "" : "  -- the log could not be written!");
    return 0;
}
