// How long one exchange with a meter takes over a pseudo-terminal: an answering meter, and a
// silent one (the request's write time plus the 65 ms read time-out of a 9-byte reply).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "shared/seriallink.h"
#include "simulatorprocess.h"

using tamlo::test::SimulatorProcess;

namespace {

struct Figures {
    double median, min, max;
};

Figures measure(tamlo::SerialPort& port, std::uint8_t address, int rounds, bool expectAnswer) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        std::uint8_t request[8] = {address, 0x43, 0x01, 0x00};
        std::uint8_t reply[9] = {};
        QElapsedTimer timer;
        timer.start();
        const bool ok = tamlo::exchange(port, request, 4, reply, 9);
        ms.push_back(timer.nsecsElapsed() / 1e6);
        if (ok != expectAnswer) {
            std::fprintf(stderr, "unexpected %s\n", ok ? "answer" : "failure");
        }
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SimulatorProcess::writeMetersFile(dir.filePath("meters.txt"), {"1 TM210 0 const:1234 1"});
    SimulatorProcess sim("tamlo_meter_sim");
    if (!sim.start({"--link", dir.filePath("COM1"), "--meters", dir.filePath("meters.txt")})) {
        std::fprintf(stderr, "%s\n", qPrintable(sim.errorString()));
        return 1;
    }
    tamlo::SerialPort port;
    if (port.open(dir.filePath("COM1"), 9600) != tamlo::PortOpenResult::Opened) {
        std::fprintf(stderr, "cannot open the simulator's line\n");
        return 1;
    }
    const Figures answered = measure(port, 1, 200, true);
    const Figures silent = measure(port, 9, 40, false);
    std::printf("exchange with an answering meter (9600 baud over a pseudo-terminal): median %.2f ms, min %.2f, max %.2f\n",
                answered.median, answered.min, answered.max);
    std::printf("exchange with a silent meter (6-byte request, 9-byte reply):        median %.2f ms, min %.2f, max %.2f\n",
                silent.median, silent.min, silent.max);
    std::printf("  expected for a silent meter: the write (immediate on a pseudo-terminal) + read time-out 5 x 9 + 20 = 65 ms\n");
    sim.stop();
    return 0;
}
