// Viewer figures: one page of 20000 records x 63 channels read and drawn, and the export of
// 1,000,000 records x 16 channels against pandas' to_csv of the same float32 values.
// Prints medians; run from a release build (scripts/bench.sh or the release preset).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include "bench/benchtiming.h"
#include "bench/viewer/stationbenchfile.h"
#include "chart/tchart.h"
#include "shared/datetime.h"
#include "shared/exportjob.h"
#include "shared/historychartpanel.h"
#include "shared/prompter.h"
#include "shared/stationhistory.h"
#include "viewer/tform1.h"
#include "viewer/viewerexport.h"

using namespace tamlo;

using namespace tamlo::bench;

namespace {

class SilentPrompter final : public Prompter {
public:
    void message(QWidget*, const QString& text, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    QString openFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    QString saveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override { return {}; }
};

void pageFigure(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("page.nv"));
    if (!writeFile(path, 3 * viewer::PAGE_RECORDS + 5000, 63)) {
        std::printf("page: cannot write the test file\n");
        return;
    }
    SilentPrompter prompter;
    SystemClock clock;
    viewer::TForm1 form(prompter, clock);
    form.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    form.openFile(path);
    chart::TChart* chart = form.panel()->chart();
    chart->repaint();
    // Each sample: the next (or previous) page read from the file and drawn on the shown chart.
    std::vector<double> samples;
    for (int i = 0; i < 12; ++i) {
        const bool forward = (i / 2) % 2 == 0;
        samples.push_back(timeMs([&] {
            if (forward) {
                form.Button_histr_nextClick();
            } else {
                form.Button_histr_backClick();
            }
            chart->repaint();
        }));
    }
    std::printf("page 20000 x 63 read and drawn: %.1f ms median (target 60 ms), %d points/curve\n",
                median(samples), form.pages().page().recordCount);
}

class NoProgress final : public ExportProgress {
public:
    void setMaximum(std::int64_t) override {}
    void setPosition(std::int64_t) override {}
};

void exportFigure(const QTemporaryDir& dir, bool jitter) {
    const int records = 1'000'000;
    const int channels = 16;
    const QString path = dir.filePath(QStringLiteral("export.nv"));
    std::printf("%s\n", jitter ? "values that change at every record:"
                               : "slow plant signals (a value often repeats the record before):");
    if (!writeFile(path, records, channels, jitter)) {
        std::printf("export: cannot write the test file\n");
        return;
    }
    auto opened = viewer::StationExportJob::open(path);
    if (const QString* refused = std::get_if<QString>(&opened)) {
        std::printf("export: %s\n", qPrintable(*refused));
        return;
    }
    ExportJob& job = *std::get<std::unique_ptr<ExportJob>>(opened);
    ExportChoice choice;
    choice.from = job.startTime();
    choice.to = job.endTime();
    const QString out = dir.filePath(QStringLiteral("export.xls"));
    std::vector<double> samples;
    std::vector<double> cpu;
    std::int64_t lines = 0;
    for (int i = 0; i < 3; ++i) {
        const std::clock_t start = std::clock();
        samples.push_back(timeMs([&] {
            NoProgress progress;
            lines = runExport(job, choice, out, &progress).lines;
        }));
        cpu.push_back(double(std::clock() - start) * 1000.0 / CLOCKS_PER_SEC);
    }
    const double ours = median(samples);
    std::printf(
        "  export 1,000,000 x 16: %.0f ms median (%.0f ms of processor time), %lld lines, "
        "%lld bytes\n",
        ours, median(cpu), static_cast<long long>(lines),
        static_cast<long long>(QFile(out).size()));

    // pandas: the same float32 values from the file, written as the same text as the export
    // (GBK header with the tags, the record's time, general format with five significant digits,
    // a tab after every field, CR LF); only to_csv is timed, and its file is compared with ours.
    // Debian's python3 first: python3-pandas installs there, not into other interpreters.
    QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                         ? QStringLiteral("/usr/bin/python3")
                         : QStandardPaths::findExecutable(QStringLiteral("python3"));
    const QString script =
        QStringLiteral(
            "import filecmp, os, sys, time\n"
            "try:\n"
            "    import numpy as np, pandas as pd\n"
            "except ImportError:\n"
            "    print('missing'); sys.exit(0)\n"
            "a = np.fromfile(sys.argv[1], dtype='<f4', offset=%2).reshape(-1, %1)\n"
            "df = pd.DataFrame(a, columns=['TT%d' % (100 + i) for i in range(%1)])\n"
            "df.insert(0, '\\u65f6\\u95f4', pd.date_range('%3', periods=len(a), freq='%4s'))\n"
            "df[''] = ''\n"
            "def write(f):\n"
            "    df.to_csv(f, sep='\\t', index=False, float_format='%.5g', encoding='gbk',\n"
            "              date_format='%y-%m-%d %H:%M:%S', lineterminator='\\r\\n')\n"
            "t = time.perf_counter()\n"
            "c = time.process_time()\n"
            "write(sys.argv[2])\n"
            "e = (time.perf_counter() - t) * 1000\n"
            "u = (time.process_time() - c) * 1000\n"
            "# The same write made durable, as the export makes its file before it takes the "
            "name.\n"
            "t = time.perf_counter()\n"
            "with open(sys.argv[2] + '.synced', 'w', encoding='gbk', newline='') as f:\n"
            "    write(f)\n"
            "    f.flush()\n"
            "    os.fsync(f.fileno())\n"
            "s = (time.perf_counter() - t) * 1000\n"
            "same = filecmp.cmp(sys.argv[2], sys.argv[3], shallow=False)\n"
            "print('%.1f %.1f %.1f %s' % (e, u, s, 'same' if same else 'different'))\n")
            .arg(channels)
            .arg(kHistoryHeaderSize)
            .arg(QStringLiteral("2026-12-07 08:00:00"))
            .arg(5);
    QProcess p;
    if (!python.isEmpty()) {
        p.start(python, {QStringLiteral("-c"), script, path,
                         dir.filePath(QStringLiteral("pandas.tsv")), out});
        p.waitForFinished(600000);
    }
    const QString answer = QString::fromLatin1(p.readAllStandardOutput()).trimmed();
    const QStringList figures = answer.split(QLatin1Char(' '));
    bool ok = figures.size() == 4;
    const double pandas = ok ? figures[0].toDouble(&ok) : 0;
    const double pandasCpu = ok ? figures[1].toDouble(&ok) : 0;
    const double pandasSynced = ok ? figures[2].toDouble(&ok) : 0;
    if (python.isEmpty() || !ok) {
        std::printf("  pandas to_csv: skipped, pandas is not installed (%s)\n", qPrintable(answer));
        return;
    }
    std::printf(
        "  pandas to_csv of the same values as the same text (file %s to ours): %.0f ms (%.0f ms "
        "of processor time)\n",
        figures[3] == QLatin1String("same") ? "byte for byte equal" : "NOT equal", pandas,
        pandasCpu);
    std::printf("  ours is %.1f x faster in elapsed time, %.1f x in processor time (target 15 x)\n",
                pandas / ours, pandasCpu / median(cpu));
    // Our export syncs its file to disk before it replaces the chosen name; pandas does not.
    std::printf("  pandas to_csv synced to disk like ours: %.0f ms; ours is %.1f x faster\n",
                pandasSynced, pandasSynced / ours);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    pageFigure(dir);
    exportFigure(dir, false);
    exportFigure(dir, true);
    return 0;
}
