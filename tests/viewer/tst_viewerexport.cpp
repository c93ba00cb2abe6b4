// The viewer's export file, byte for byte: which records a range selects, their own times, the
// header line, the end of the file.
#include <QTemporaryDir>
#include <QTest>

#include "nvbytes.h"
#include "shared/datetime.h"
#include "shared/exportjob.h"
#include "shared/numbertext.h"
#include "shared/stationhistory.h"
#include "viewer/viewerexport.h"

using namespace tamlo;
using namespace tamlo::viewer;

namespace {

const OleDate kStart = oleDateFromParts(2026, 12, 7, 23, 55, 0);
const QByteArray kHeaderLine = QByteArray("\xca\xb1\xbc\xe4\tTT101\tPT202\t\r\n");

// Record k: channel 0 = k + 0.5, channel 1 = -k x 100.
float valueAt(int k, int c) {
    return c == 0 ? float(k) + 0.5f : float(-100 * k);
}

QByteArray line(const char* time, int k) {
    return QByteArray(time) + '\t' + QByteArray::number(k) + ".5\t" +
           (k == 0 ? QByteArray("0") : "-" + QByteArray::number(k * 100)) + "\t\r\n";
}

// Exports [from, to] of `path` as the dialog would; the bytes, or a note when refused.
QByteArray exportRange(const QString& path, OleDate from, OleDate to,
                       std::int64_t* lines = nullptr) {
    auto opened = StationExportJob::open(path);
    if (std::holds_alternative<QString>(opened)) {
        return "unreadable";
    }
    ExportJob& job = *std::get<std::unique_ptr<ExportJob>>(opened);
    QTemporaryDir dir;
    const ExportOutcome outcome = runExport(job, {from, to, 1}, dir.filePath("out.xls"));
    if (outcome.status != ExportOutcome::Status::Done) {
        return outcome.message == QString::fromUtf8(kExportRangeText) ? "refused" : "failed";
    }
    if (lines) {
        *lines = outcome.lines;
    }
    return nvbytes::read(dir.filePath("out.xls"));
}

QString tenRecords(const QTemporaryDir& dir, double start = kStart) {
    const QString path = dir.filePath("ten.nv");
    nvbytes::write(path, nvbytes::header(start, 60, 2, {"TT101", "PT202"}) +
                             nvbytes::records(0, 10, 2, valueAt));
    return path;
}

}  // namespace

class ViewerExportTest : public QObject {
    Q_OBJECT
private slots:
    void wholeFileGivesEveryRecordAtItsTime() {
        QTemporaryDir dir;
        std::int64_t lines = 0;
        const QByteArray expected = kHeaderLine + line("26-12-07 23:55:00", 0) +
                                    line("26-12-07 23:56:00", 1) + line("26-12-07 23:57:00", 2) +
                                    line("26-12-07 23:58:00", 3) + line("26-12-07 23:59:00", 4) +
                                    line("26-12-08 00:00:00", 5) + line("26-12-08 00:01:00", 6) +
                                    line("26-12-08 00:02:00", 7) + line("26-12-08 00:03:00", 8) +
                                    line("26-12-08 00:04:00", 9);
        QCOMPARE(exportRange(tenRecords(dir), kStart, addSeconds(kStart, 600), &lines), expected);
        QCOMPARE(lines, 10);
    }

    void rangesSelectRecordsByTheirOwnTimes() {
        QTemporaryDir dir;
        const QString path = tenRecords(dir);
        // From between two records: the next record, dated with its own time.
        QCOMPARE(exportRange(path, addSeconds(kStart, 90), addSeconds(kStart, 200)),
                 kHeaderLine + line("26-12-07 23:57:00", 2) + line("26-12-07 23:58:00", 3));
        // A single instant at a record gives that record, at the end of the file none.
        QCOMPARE(exportRange(path, addSeconds(kStart, 300), addSeconds(kStart, 300)),
                 kHeaderLine + line("26-12-08 00:00:00", 5));
        QCOMPARE(exportRange(path, addSeconds(kStart, 600), addSeconds(kStart, 600)), kHeaderLine);
        // To between two records: nothing taken after it.
        QCOMPARE(exportRange(path, addSeconds(kStart, 480), addSeconds(kStart, 599)),
                 kHeaderLine + line("26-12-08 00:03:00", 8) + line("26-12-08 00:04:00", 9));

        QCOMPARE(exportRange(path, addSeconds(kStart, 61), addSeconds(kStart, 60)), "refused");
        QCOMPARE(exportRange(path, addSeconds(kStart, -1), addSeconds(kStart, 60)), "refused");
        QCOMPARE(exportRange(path, kStart, addSeconds(kStart, 601)), "refused");
    }

    void startWithMillisecondsCountsInShownSeconds() {
        // The station stamps its files with the milliseconds of the clock; the pickers and
        // the command line give whole seconds as shown.
        QTemporaryDir dir;
        const OleDate start = addMilliseconds(kStart, 600);
        const QString path = tenRecords(dir, start);
        QCOMPARE(exportRange(path, kStart, addSeconds(kStart, 60)),
                 kHeaderLine + line("26-12-07 23:55:00", 0) + line("26-12-07 23:56:00", 1));
        QCOMPARE(exportRange(path, addSeconds(kStart, 600), addSeconds(kStart, 600)), kHeaderLine);
    }

    void headerOnlyAndIntervalZeroGiveTheHeaderLine() {
        QTemporaryDir dir;
        const QString empty = dir.filePath("empty.nv");
        nvbytes::write(empty, nvbytes::header(kStart, 60, 2, {"TT101", "PT202"}));
        std::int64_t lines = -1;
        QCOMPARE(exportRange(empty, kStart, kStart, &lines), kHeaderLine);
        QCOMPARE(lines, 0);

        const QString zero = dir.filePath("zero.nv");
        nvbytes::write(zero, nvbytes::header(kStart, 0, 2, {"TT101", "PT202"}) +
                                 nvbytes::records(0, 3, 2, valueAt));
        QCOMPARE(exportRange(zero, kStart, kStart), kHeaderLine);
        QCOMPARE(exportRange(zero, kStart, addSeconds(kStart, 1)), "refused");
    }

    void tagsAreWrittenAsStored() {
        QTemporaryDir dir;
        const QString path = dir.filePath("tags.nv");
        const QByteArray gbk8("\xce\xc2\xb6\xc8\xd1\xb9\xc1\xa6");  // 温度压力, all 8 bytes
        nvbytes::write(path, nvbytes::header(kStart, 60, 3, {"A", gbk8, "12345678"}));
        QCOMPARE(exportRange(path, kStart, kStart),
                 QByteArray("\xca\xb1\xbc\xe4\tA\t") + gbk8 + "\t12345678\t\r\n");
    }

    void fileEndingBeforeToWritesItsWholeRecords() {
        // The range was chosen on 10 records; the file now ends in a torn record after 7.
        QTemporaryDir dir;
        const QString path = tenRecords(dir);
        StationExportJob job(path, kStart, addSeconds(kStart, 600), 60);
        const ExportChoice choice{kStart, addSeconds(kStart, 540), 1};
        QCOMPARE(job.progressMaximum(choice), 10);
        QVERIFY(QFile::resize(path, 1176 + 7 * 8 + 5));
        struct Gauge final : ExportProgress {
            std::int64_t maximum = -1;
            std::int64_t position = -1;
            void setMaximum(std::int64_t m) override { maximum = m; }
            void setPosition(std::int64_t p) override { position = p; }
        } gauge;
        const QString out = dir.filePath("out.xls");
        const ExportOutcome outcome = runExport(job, choice, out, &gauge);
        QCOMPARE(outcome.status, ExportOutcome::Status::Done);
        QCOMPARE(outcome.lines, 7);
        QCOMPARE(gauge.maximum, 10);
        QCOMPARE(gauge.position, 7);
        QVERIFY(nvbytes::read(out).endsWith(line("26-12-08 00:01:00", 6)));
        QCOMPARE(nvbytes::read(out).count("\r\n"), 8);
    }

    void recurringValuesKeepTheirTexts() {
        // Readings that come back again and again, as a station's do, interleaved so that
        // different values meet in the writer's memory of texts written before.
        QTemporaryDir dir;
        const QString path = dir.filePath("recurring.nv");
        const auto value = [](int k, int c) {
            return c == 0 ? float(k % 97) / 10.0f : float((k * 7) % 131) * -0.001f;
        };
        nvbytes::write(path, nvbytes::header(kStart, 1, 2, {"TT101", "PT202"}) +
                                 nvbytes::records(0, 3000, 2, value));
        const QByteArray bytes = exportRange(path, kStart, addSeconds(kStart, 2999));
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 3002);
        for (int k = 0; k < 3000; ++k) {
            const QList<QByteArray> fields = lines[k + 1].split('\t');
            QCOMPARE(fields.size(), 4);
            QCOMPARE(fields[1], formatGeneral(value(k, 0), 5, 3).toLatin1());
            QCOMPARE(fields[2], formatGeneral(value(k, 1), 5, 3).toLatin1());
        }
    }

    void replacedFileIsNotExportedWithTheOldTimes() {
        QTemporaryDir dir;
        const QString path = tenRecords(dir);
        StationExportJob job(path, kStart, addSeconds(kStart, 600), 60);
        nvbytes::write(path, nvbytes::header(kStart, 30, 2) + nvbytes::records(0, 20, 2, valueAt));
        const ExportOutcome outcome =
            runExport(job, {kStart, addSeconds(kStart, 600), 1}, dir.filePath("out.xls"));
        QCOMPARE(outcome.status, ExportOutcome::Status::Refused);
        QVERIFY(!QFileInfo::exists(dir.filePath("out.xls")));
    }
};

QTEST_GUILESS_MAIN(ViewerExportTest)
#include "tst_viewerexport.moc"
