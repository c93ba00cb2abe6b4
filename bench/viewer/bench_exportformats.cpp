// The CSV and XLSX exports of 1,000,000 records x 16 channels against pandas in the same run:
// to_csv of the same table (targets: 15 x faster) and to_excel with its xlsxwriter engine
// (10 x), and the memory the exports take for 250,000 and for 1,000,000 records (flat).
// Run from a release build (scripts/bench.sh exportformats); --no-pandas leaves pandas out.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "bench/benchtiming.h"
#include "bench/viewer/stationbenchfile.h"
#include "shared/exportjob.h"
#include "viewer/viewerexport.h"

using namespace tamlo;
using namespace tamlo::bench;

namespace {

constexpr int kRecords = 1'000'000;
constexpr int kChannels = 16;

// Resident memory of this process now, in kilobytes.
long residentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

// The most resident memory seen while the export runs.
class MemoryWatch final : public ExportProgress {
public:
    void setMaximum(std::int64_t) override {}
    void setPosition(std::int64_t) override { peak_ = std::max(peak_, residentKb()); }
    double peakMb() const { return peak_ / 1024.0; }

private:
    long peak_ = 0;
};

struct Figure {
    double wallMs = 0;
    double cpuMs = 0;
    double peakMb = 0;
    qint64 bytes = 0;
};

Figure measure(ExportJob& job, std::int64_t records, ExportFormat format, const QString& out,
               int runs) {
    ExportChoice choice{job.startTime(), addSeconds(job.startTime(), 5 * (records - 1)), 1};
    std::vector<double> wall;
    std::vector<double> cpu;
    Figure f;
    for (int i = 0; i < runs; ++i) {
        MemoryWatch watch;
        const double cpuStart = processCpuSeconds();
        wall.push_back(timeMs([&] {
            if (runExport(job, choice, out, &watch, format).status != ExportOutcome::Status::Done) {
                std::printf("  the export failed\n");
            }
        }));
        cpu.push_back((processCpuSeconds() - cpuStart) * 1000);
        f.peakMb = std::max(f.peakMb, watch.peakMb());
    }
    f.wallMs = median(wall);
    f.cpuMs = median(cpu);
    f.bytes = QFile(out).size();
    return f;
}

// pandas writing the same table: the time column and the values in 5 significant digits.
// Elapsed and processor milliseconds of to_csv and to_excel, or an empty list.
QList<double> pandasFigures(const QString& input, const QTemporaryDir& dir) {
    const QString script = QStringLiteral(
                               "import sys, time\n"
                               "try:\n"
                               "    import numpy as np, pandas as pd, xlsxwriter\n"
                               "except ImportError as e:\n"
                               "    print('missing', e); sys.exit(0)\n"
                               "a = np.fromfile(sys.argv[1], dtype='<f4', offset=1176)"
                               ".reshape(-1, %1)\n"
                               "df = pd.DataFrame(a, columns=['TT%d' % (100 + i) for i in "
                               "range(%1)])\n"
                               "df.insert(0, '时间', pd.date_range('2026-12-07 08:00:00', "
                               "periods=len(a), freq='5s'))\n"
                               "def timed(f):\n"
                               "    t, c = time.perf_counter(), time.process_time()\n"
                               "    f()\n"
                               "    return '%.1f %.1f' % ((time.perf_counter() - t) * 1000, "
                               "(time.process_time() - c) * 1000)\n"
                               "csv = timed(lambda: df.to_csv(sys.argv[2], index=False, "
                               "float_format='%.5g', encoding='utf-8-sig'))\n"
                               "xlsx = timed(lambda: df.to_excel(sys.argv[3], index=False, "
                               "engine='xlsxwriter'))\n"
                               "print(csv, xlsx)\n")
                               .arg(kChannels);
    QProcess p;
    p.start("/usr/bin/python3",
            {"-c", script, input, dir.filePath("pandas.csv"), dir.filePath("pandas.xlsx")});
    p.waitForFinished(-1);
    const QString answer = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    QList<double> figures;
    for (const QString& field : answer.split(' ')) {
        bool ok = false;
        figures << field.toDouble(&ok);
        if (!ok) {
            std::printf("pandas: skipped (%s)\n", qPrintable(answer + p.readAllStandardError()));
            return {};
        }
    }
    return figures.size() == 4 ? figures : QList<double>{};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString input = dir.filePath("export.nv");
    if (!writeFile(input, kRecords, kChannels, true)) {
        std::printf("cannot write the station file\n");
        return 1;
    }
    auto opened = viewer::StationExportJob::open(input);
    ExportJob& job = *std::get<std::unique_ptr<ExportJob>>(opened);
    std::printf("%d records x %d channels, values that change at every record\n", kRecords,
                kChannels);
    Figure csv;
    Figure xlsx;
    for (const ExportFormat format : {ExportFormat::Csv, ExportFormat::Xlsx}) {
        const QString name = exportFormatName(format);
        const QString out = dir.filePath("export." + name);
        const Figure quarter = measure(job, kRecords / 4, format, out, 1);
        const Figure whole = measure(job, kRecords, format, out, 3);
        (format == ExportFormat::Csv ? csv : xlsx) = whole;
        std::printf(
            "  %-4s: %.0f ms median of 3 (%.0f ms of processor time), %lld bytes; resident "
            "memory %.1f MB at most for %d records, %.1f MB for %d\n",
            qPrintable(name), whole.wallMs, whole.cpuMs, static_cast<long long>(whole.bytes),
            quarter.peakMb, kRecords / 4, whole.peakMb, kRecords);
    }
    if (argc > 1 && QByteArray(argv[1]) == "--no-pandas") {
        return 0;
    }
    const QList<double> pandas = pandasFigures(input, dir);
    if (pandas.isEmpty()) {
        return 0;
    }
    std::printf("  pandas to_csv of the same table: %.0f ms (%.0f ms of processor time)\n",
                pandas[0], pandas[1]);
    std::printf("  pandas to_excel, xlsxwriter engine: %.0f ms (%.0f ms of processor time)\n",
                pandas[2], pandas[3]);
    std::printf("  CSV is %.1f x faster than pandas (%.1f x in processor time; target 15 x)\n",
                pandas[0] / csv.wallMs, pandas[1] / csv.cpuMs);
    std::printf("  XLSX is %.1f x faster than pandas (%.1f x in processor time; target 10 x)\n",
                pandas[2] / xlsx.wallMs, pandas[3] / xlsx.cpuMs);
    return 0;
}
