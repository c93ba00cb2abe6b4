// The station's overview tiles and real-time curves with 63 devices: the record step with the
// repaint of the curve page, the once-a-second update of the tiles and value boxes, and the
// resident memory over a simulated day of records driven by a fake clock (no real waiting).
//   bench_stationpages [records]   (86400 by default)
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "fakeclock.h"
#include "scriptedprompter.h"
#include "shared/datetime.h"
#include "station/devicetable.h"
#include "station/stationport.h"
#include "station/tform1.h"

using namespace tamlo;

namespace {

constexpr int kDevices = 63;

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long residentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

bool writeConfig(const QString& path) {
    QByteArray config(station::kConfigFileSize, '\0');
    config[0] = kDevices;
    config.replace(5, 6, "583174");
    qToLittleEndian<std::uint16_t>(1, config.data() + 17);  // a record every second
    for (int i = 0; i < kDevices; ++i) {
        station::DeviceEntry e;
        e.model = station::TM210;
        e.address = static_cast<std::uint8_t>(i + 1);
        const QByteArray tag = QByteArray("TI-") + QByteArray::number(i + 1);
        std::copy(tag.begin(), tag.end(), e.tag.begin());
        config.replace(512 + 13 * i, 13, e.toBytes());
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(config) == config.size();
}

struct Spread {
    double median;
    double mean;
    double worst;
};

Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) {
        sum += x;
    }
    return {v[v.size() / 2], sum / static_cast<double>(v.size()), v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int day = argc > 1 ? std::max(1000, atoi(argv[1])) : 86400;
    QTemporaryDir dir;
    if (!writeConfig(dir.filePath(QStringLiteral("config.dat")))) {
        std::fprintf(stderr, "cannot write config.dat\n");
        return 1;
    }
    // No meter is linked: the port reports its failure once, and the ticks are driven by hand.
    test::ScriptedPrompter prompter;
    test::FakeClock clock;
    station::StationSession session(dir.path(), clock,
                                    std::make_unique<station::StationPort>(dir.path()));
    station::TForm1 form(session, prompter);
    form.Timer1->stop();
    form.Timer2->stop();
    form.resize(1024, 768);
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    QApplication::processEvents();
    station::RealTimePage& curves = form.realTimePage();
    station::OverviewPage& tiles = form.overviewPage();
    std::printf("station pages: %d devices, window %dx%d, chart %dx%d\n", kDevices, form.width(),
                form.height(), form.Chart1->width(), form.Chart1->height());

    // Record step plus the repaint it causes on the curve page (the window repaints what the
    // record changed: the chart), with lines that move.
    std::vector<float> values(kDevices);
    std::vector<double> stepMs;
    std::vector<double> stepCpuMs;
    std::vector<double> appendMs;
    std::vector<double> fullChartMs;
    QElapsedTimer wall;
    for (int r = 0; r < 2000; ++r) {
        for (int k = 0; k < kDevices; ++k) {
            values[static_cast<std::size_t>(k)] =
                static_cast<float>(500 + 400 * std::sin((r + 7 * k) / 30.0));
        }
        clock.advanceSeconds(1);
        const QString label = formatDateTime(QStringLiteral("YY-DD-MM HH:NN:SS"), clock.now());
        const double cpuBefore = cpuMs();
        wall.start();
        curves.appendRecord(values.data(), kDevices, label);
        appendMs.push_back(wall.nsecsElapsed() / 1e6);
        QApplication::processEvents();
        stepMs.push_back(wall.nsecsElapsed() / 1e6);
        stepCpuMs.push_back(cpuMs() - cpuBefore);
        if (r % 10 == 0) {
            // Drawn again from the data, not only put on the screen again.
            form.Chart1->refresh();
            wall.start();
            form.Chart1->repaint();
            fullChartMs.push_back(wall.nsecsElapsed() / 1e6);
        }
    }
    const Spread step = spread(stepMs);
    const Spread stepCpu = spread(stepCpuMs);
    std::printf(
        "record step (63 appends, oldest deleted) + repaint of the curve page:\n"
        "  wall: median %.3f ms, mean %.3f ms, worst %.3f ms; CPU: median %.3f ms, mean "
        "%.3f ms over 2000 records (target <= 1.5 ms)\n",
        step.median, step.mean, step.worst, stepCpu.median, stepCpu.mean);
    std::printf(
        "  of which the appends: median %.3f ms; a forced repaint of the chart alone: "
        "median %.3f ms\n",
        spread(appendMs).median, spread(fullChartMs).median);

    // Once a second: the texts of 63 tiles and 63 value boxes change, with the overview page
    // shown, and the page paints what changed.
    form.PageControl1->setCurrentWidget(form.TabSheet3);
    QApplication::processEvents();
    std::vector<double> updateMs;
    for (int s = 0; s < 2000; ++s) {
        QStringList texts;
        for (int i = 0; i < kDevices; ++i) {
            texts << (s % 17 == i % 17 ? QStringLiteral("Err")
                                       : QString::number((s * 37 + i * 101) % 20000 / 10.0));
        }
        const double before = cpuMs();
        for (int i = 0; i < kDevices; ++i) {
            tiles.setValueText(i, texts[i]);
            curves.setValueText(i, texts[i]);
        }
        QApplication::processEvents();
        updateMs.push_back(cpuMs() - before);
    }
    const Spread update = spread(updateMs);
    std::printf(
        "once-a-second update of 63 tiles and 63 value boxes, overview page shown and painted "
        "(CPU):\n"
        "  median %.3f ms, mean %.3f ms, worst %.3f ms over 2000 seconds (target <= 1 ms)\n",
        update.median, update.mean, update.worst);
    wall.start();
    form.TabSheet3->repaint();
    std::printf("  (a repaint of the whole overview page, for comparison: %.3f ms)\n",
                wall.nsecsElapsed() / 1e6);

    // A day of the station's one-second tick with a record every second.
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    long afterFirst600 = 0;
    const double dayCpu = cpuMs();
    wall.start();
    for (int s = 1; s <= day; ++s) {
        clock.advanceSeconds(1);
        form.Timer2Timer();
        if (s % 100 == 0) {
            QApplication::processEvents();
        }
        if (s % 3600 == 0) {
            form.TabSheet4->repaint();
        }
        if (s == 600) {
            QApplication::processEvents();
            afterFirst600 = residentKb();
        }
    }
    QApplication::processEvents();
    const long atEnd = residentKb();
    std::printf(
        "a day of %d records (one-second tick with a record each, fake clock): %.1f s CPU, "
        "%.1f s wall\n",
        day, (cpuMs() - dayCpu) / 1000, wall.elapsed() / 1000.0);
    std::printf(
        "  resident after the first 600 records %ld KiB, at the end %ld KiB: %+ld KiB "
        "(target within 1024 KiB)\n",
        afterFirst600, atEnd, atEnd - afterFirst600);
    std::printf("  points per line at the end: %d\n", form.Chart1->series(0)->count());
    form.close();
    return 0;
}
