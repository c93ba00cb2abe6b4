// Prints the recorder history view's figures: opening a 16-channel file of 20000 records with
// its window (curves and grid) loaded, the export of 1,000,000 records x 16 channels against
// pandas' to_csv of the same values, and one cross-hair move with its readout.

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "analysis/recorderexport.h"
#include "analysis/recorderhistory.h"
#include "analysis/tform1.h"
#include "chart/tchart.h"
#include "shared/datetime.h"
#include "shared/exportjob.h"
#include "shared/historychartpanel.h"
#include "shared/prompter.h"
#include "bench/benchtiming.h"

using namespace tamlo;
using namespace tamlo::analysis;

using namespace tamlo::bench;

namespace {

constexpr int kChannels = 16;

// Decimals code of channel c, and its raw value in record k: a slow wave with some noise.
int decimalsOf(int c) {
    return c % 4;
}
std::int16_t rawValue(std::int64_t k, int c) {
    return static_cast<std::int16_t>((k * 7 + c * 1311) % 20000 - 5000);
}

QString writeFile(const QString& path, std::int64_t records) {
    RecorderFileHeader header;
    header.newestTime = {26, 12, 7, 10, 0, 0};
    header.newestOffset = static_cast<std::uint32_t>((records - 1) * 2 * kChannels);
    header.dataSize = static_cast<std::uint32_t>(records * 2 * kChannels);
    header.channelCount = kChannels;
    ChannelRecords channels{};
    for (int c = 0; c < kChannels; ++c) {
        channels[c].setDecimalsCode(static_cast<std::uint16_t>(decimalsOf(c)));
        const std::uint8_t name[8] = {std::uint8_t(c % 10 + 16), 0, 0, 0, 0, 0, 0, 35};
        channels[c].setStoredName(name);
    }
    RecorderFileWriter writer;
    if (!writer.create(path, header, channels, 10))
        return {};
    std::vector<std::int16_t> values(static_cast<std::size_t>(records * kChannels));
    for (std::int64_t k = 0; k < records; ++k)
        for (int c = 0; c < kChannels; ++c) values[std::size_t(k * kChannels + c)] = rawValue(k, c);
    writer.append(values.data(), values.size());
    writer.commit(header);
    return path;
}

class SilentPrompter final : public Prompter {
public:
    void message(QWidget*, const QString&, const QString&) override {}
    void error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    QString openFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    QString saveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override { return {}; }
};

// pandas writing the same values as tab-separated text; seconds, or a negative value when
// pandas is missing.
double pandasSeconds(std::int64_t records, const QString& out) {
    const QString script = QStringLiteral(R"(
import sys, time
import numpy as np
import pandas as pd
n, channels, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
k = np.arange(n, dtype=np.int64)[:, None]
c = np.arange(channels, dtype=np.int64)[None, :]
raw = ((k * 7 + c * 1311) % 20000 - 5000).astype(np.float32)
values = raw / (10.0 ** (c % 4)).astype(np.float32)
start = pd.Timestamp('2026-12-07 10:00:00') - pd.Timedelta(seconds=10 * (n - 1))
frame = pd.DataFrame(values, columns=['CH%d' % i for i in range(channels)])
frame.insert(0, 'time', pd.date_range(start, periods=n, freq='10s'))
t = time.perf_counter()
frame.to_csv(out, sep='\t', index=False, date_format='%y-%m-%d %H:%M:%S', float_format='%.5g')
print(time.perf_counter() - t)
)");
    QProcess python;
    python.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"), script, QString::number(records), QString::number(kChannels), out});
    if (!python.waitForFinished(600000) || python.exitCode() != 0)
        return -1;
    bool ok = false;
    const double seconds = python.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    SilentPrompter prompter;
    SystemClock clock;

    // 1. Open + window of 16 x 20000, grid included, until the window has painted.
    const QString windowFile = writeFile(dir.filePath("window.dat"), 20000);
    TForm1 form(prompter, clock);
    form.resize(1200, 800);
    form.show();
    QApplication::processEvents();
    std::vector<double> opens;
    std::vector<double> painted;
    std::vector<double> cpu;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        form.openFile(windowFile);
        opens.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(threadCpuMs() - cpuStart);
        form.repaint();
        painted.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf(
        "open + loadWindow, 16 channels x 20000 records, grid included: %.1f ms "
        "(best of 15, median %.1f, first %.1f; CPU %.1f ms; %.1f ms with the first "
        "paint) [target <= 40 ms]\n",
        *std::min_element(opens.begin(), opens.end()), median(opens), opens.front(), median(cpu),
        *std::min_element(painted.begin(), painted.end()));

    // 3. Cross-hair moves over the loaded window, 16 value boxes and the readout label.
    HistoryChartPanel* panel = form.panel();
    chart::TChart* chart = panel->chart();
    const QRect plot = chart->plotRect();
    // Batches of moves; the best batch is the figure on a shared machine.
    double moveCpu = 0;
    const auto moves = [&](int batch, bool shown) {
        std::vector<double> perMove;
        const double cpuStart = threadCpuMs();
        for (int b = 0; b < 10; ++b) {
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < batch; ++i) {
                const int k = b * batch + i;
                panel->Chart2MouseMove(plot.left() + 1 + (k * 37) % (plot.width() - 2),
                                       plot.top() + 1 + (k * 13) % (plot.height() - 2));
                if (shown)
                    QApplication::processEvents();
            }
            perMove.push_back(timer.nsecsElapsed() / 1e6 / batch);
        }
        moveCpu = (threadCpuMs() - cpuStart) / (10 * batch);
        return perMove;
    };
    const std::vector<double> handler = moves(200, false);
    const double handlerCpu = moveCpu;
    const std::vector<double> shown = moves(50, true);
    std::printf(
        "cross-hair move with readout, 16 channels: %.3f ms (best batch, median %.3f; "
        "CPU %.3f ms; %.3f ms with the screen updated, CPU %.3f ms) [target <= 0.5 ms]\n",
        *std::min_element(handler.begin(), handler.end()), median(handler), handlerCpu,
        *std::min_element(shown.begin(), shown.end()), moveCpu);

    if (qEnvironmentVariableIsSet("TAMLO_BENCH_SHOT")) {
        form.grab().save(qEnvironmentVariable("TAMLO_BENCH_SHOT"));  // the window as measured
    }
    if (argc > 1 && QByteArray(argv[1]) == "--no-export") {
        return 0;
    }
    // 2. Export of 1,000,000 x 16 against pandas.
    constexpr std::int64_t kRecords = 1'000'000;
    const QString exportFile = writeFile(dir.filePath("big.dat"), kRecords);
    RecorderLoadResult loaded = loadRecorderHistory(exportFile);
    RecorderExportJob job(loaded.history);
    const ExportChoice all{loaded.history.startTime, loaded.history.endTime, 1};
    std::vector<double> exports;
    std::int64_t lines = 0;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        lines = runExport(job, all, dir.filePath("big.xls")).lines;
        exports.push_back(timer.nsecsElapsed() / 1e9);
    }
    const double ours = median(exports);
    std::printf("export of %lld records x %d channels: %.3f s (median of 3)\n",
                static_cast<long long>(lines), kChannels, ours);
    const double pandas = pandasSeconds(kRecords, dir.filePath("pandas.xls"));
    if (pandas < 0) {
        std::printf("pandas comparison skipped: /usr/bin/python3 with pandas is missing\n");
    } else {
        std::printf(
            "pandas to_csv, same values tab-separated: %.3f s; export is %.1f x faster "
            "[target >= 15 x]\n",
            pandas, pandas / ours);
    }
    return 0;
}
