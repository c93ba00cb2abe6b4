// The station against 63 simulated meters: the CPU time the station spends outside the waits of
// its exchanges, and its memory, second by second over a run (a minute by default). Both must
// stay flat: a station runs for months.
//   bench_station [seconds]
#include <sys/resource.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <cstdio>

#include "bench/benchtiming.h"
#include "fakeclock.h"
#include "scriptedprompter.h"
#include "shared/datetime.h"
#include "simulatorprocess.h"
#include "station/devicetable.h"
#include "station/stationport.h"
#include "station/tform1.h"

using namespace tamlo;
using tamlo::test::SimulatorProcess;

namespace {

long residentKb() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, atoi(argv[1])) : 60;
    QTemporaryDir dir;
    QStringList meters;
    QByteArray config(station::kConfigFileSize, '\0');
    config[0] = 63;
    config.replace(5, 6, "583174");
    config[16] = 6;                                         // 115200 baud
    qToLittleEndian<std::uint16_t>(1, config.data() + 17);  // a record every second
    for (int i = 0; i < 63; ++i) {
        station::DeviceEntry e;
        e.model = i % 5 == 0 ? station::TM250 : station::TM210;
        e.address = static_cast<std::uint8_t>(i + 1);
        e.channel = e.isMultiChannel() ? 1 : 0;
        const QByteArray tag = QByteArray("M") + QByteArray::number(i + 1);
        std::copy(tag.begin(), tag.end(), e.tag.begin());
        config.replace(512 + 13 * i, 13, e.toBytes());
        meters << QStringLiteral("%1 %2 %3 sine:%4:500:60 1")
                      .arg(i + 1)
                      .arg(e.model)
                      .arg(e.channel)
                      .arg(1000 + i);
    }
    QFile file(dir.filePath("config.dat"));
    file.open(QIODevice::WriteOnly);
    file.write(config);
    file.close();
    SimulatorProcess::writeMetersFile(dir.filePath("meters.txt"), meters);
    SimulatorProcess sim("tamlo_meter_sim");
    if (!sim.start({"--link", dir.filePath("COM1"), "--meters", dir.filePath("meters.txt"), "--log",
                    dir.filePath("sim.log")})) {
        std::fprintf(stderr, "%s\n", qPrintable(sim.errorString()));
        return 1;
    }

    test::ScriptedPrompter prompter;
    SystemClock clock;
    const double cpuBefore = bench::processCpuSeconds();
    station::StationSession session(dir.path(), clock,
                                    std::make_unique<station::StationPort>(dir.path()));
    station::TForm1 form(session, prompter);
    form.show();
    std::printf("station: 63 meters at 115200 baud, a record every second, %d s\n", seconds);
    std::printf("%6s %12s %10s %12s %12s %10s\n", "second", "cpu ms/s", "polls/s", "cpu us/poll",
                "rss KiB", "records");

    QElapsedTimer wall;
    wall.start();
    double lastCpu = bench::processCpuSeconds();
    qsizetype lastPolls = 0;
    int elapsed = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        elapsed += 10;
        const double cpu = bench::processCpuSeconds();
        const qsizetype polls = sim.logLines().size();
        const qsizetype newPolls = polls - lastPolls;
        StationHistoryReader reader;
        const std::uint64_t records = reader.open(form.history().path()) ? reader.recordCount() : 0;
        std::printf("%6d %12.1f %10.1f %12.1f %12ld %10llu\n", elapsed, (cpu - lastCpu) * 1000 / 10,
                    newPolls / 10.0, newPolls ? (cpu - lastCpu) * 1e6 / newPolls : 0.0,
                    residentKb(), static_cast<unsigned long long>(records));
        std::fflush(stdout);
        lastCpu = cpu;
        lastPolls = polls;
        if (elapsed >= seconds) {
            app.quit();
        }
    });
    sampler.start(10000);
    app.exec();
    const double cpu = bench::processCpuSeconds() - cpuBefore;
    std::printf("total: %.2f s CPU in %.1f s (%.1f %% of one core), peak RSS %ld KiB, %s\n", cpu,
                wall.elapsed() / 1000.0, 100.0 * cpu / (wall.elapsed() / 1000.0), peakKb(),
                prompter.boxes().isEmpty() ? "no message boxes" : "MESSAGE BOXES SHOWN");
    std::printf(
        "  the waits inside exchanges block in poll() and cost no CPU: the CPU figures are the "
        "station's own work\n");
    std::printf(
        "  the data grid keeps 638 rows: memory grows with them over the first 638 records, then "
        "stays flat\n");
    form.close();
    sim.stop();
    return 0;
}
