// The CSV and XLSX exports of both history programs as LibreOffice Calc reads them under an
// English and a Chinese locale: the times and values of the history files, date cells for the
// times, empty cells where the recorder has no sample.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>

#include "../analysis/datfile.h"
#include "../viewer/nvbytes.h"
#include "analysis/recorderexport.h"
#include "shared/exportjob.h"
#include "viewer/viewerexport.h"

using namespace tamlo;

namespace {

using Table = QList<QStringList>;

// A cell as "d:" date-time, "f:" number, "s:" text, or empty.
Table readFlatOds(const QString& path, QString* sheetName) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QXmlStreamReader xml(&file);
    Table table;
    QString cell;
    int repeat = 1;
    while (!xml.atEnd()) {
        xml.readNext();
        const auto a = xml.attributes();
        if (xml.isStartElement() && xml.name() == u"table" && sheetName->isEmpty()) {
            *sheetName = a.value("table:name").toString();
        } else if (xml.isStartElement() && xml.name() == u"table-row") {
            table.append(QStringList());
        } else if (xml.isStartElement() && xml.name() == u"table-cell") {
            const auto type = a.value("office:value-type");
            // Midnight comes without its time of day.
            const QString date = a.value("office:date-value").toString();
            cell = type == u"date"    ? "d:" + (date.contains('T') ? date : date + "T00:00:00")
                   : type == u"float" ? "f:" + a.value("office:value").toString()
                   : type.isEmpty()   ? QString()
                                      : QStringLiteral("s:");
            repeat = std::min(a.value("table:number-columns-repeated").toInt(), 20);
        } else if (xml.isStartElement() && xml.name() == u"p" && cell == "s:") {
            cell += xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.isEndElement() && xml.name() == u"table-cell") {
            for (int i = 0; i < std::max(repeat, 1); ++i) {
                table.last().append(cell);
            }
        } else if (xml.isEndElement() && xml.name() == u"table") {
            break;
        }
    }
    for (QStringList& row : table) {
        while (!row.isEmpty() && row.last().isEmpty()) {
            row.removeLast();
        }
    }
    while (!table.isEmpty() && table.last().isEmpty()) {
        table.removeLast();
    }
    return table;
}

// The station file's values as stored (float32 of raw / 10^decimals).
const float kStation[4][3] = {{12.34f, -32768.0f, -0.005f},
                              {12.35f, -32767.0f, 0.002f},
                              {12.36f, -32766.0f, 0.009f},
                              {12.37f, -32765.0f, 0.016f}};

}  // namespace

class TestSpreadsheetImport : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString soffice_;

    // Converts `files` to flat ODS files in `outDir` as Calc reads them under `locale`; a CSV
    // file as the import dialog reads it with "detect special numbers" on.
    bool convert(const QString& locale, const QStringList& files, const QString& outDir, bool csv) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LANG", locale);
        env.insert("LC_ALL", locale);
        QProcess p;
        p.setProcessEnvironment(env);
        QStringList args{
            "-env:UserInstallation=" + QUrl::fromLocalFile(dir_.filePath("profile")).toString(),
            "--headless", "--norestore"};
        if (csv) {
            args << "--infilter=CSV:44,34,76,1,,,false,true";
        }
        p.start(soffice_, args + QStringList{"--convert-to", "fods", "--outdir", outDir} + files);
        return p.waitForFinished(240000) && p.exitCode() == 0;
    }

private slots:
    void initTestCase() {
        soffice_ = QStandardPaths::findExecutable("soffice");
        if (soffice_.isEmpty()) {
            const char* why =
                "LibreOffice Calc is not installed: scripts/deps.sh test installs "
                "libreoffice-calc-nogui";
            if (qEnvironmentVariableIsSet("CI")) {
                QFAIL(why);
            }
            QSKIP(why);
        }
    }

    void exportsReadBack_data() {
        QTest::addColumn<QString>("locale");
        QTest::newRow("en_US") << "en_US.UTF-8";
        QTest::newRow("zh_CN") << "zh_CN.UTF-8";
    }
    void exportsReadBack() {
        QFETCH(QString, locale);
        QTemporaryDir dir;
        // A station file of 4 records from 2026-04-07 23:58 (a day that reads as a month).
        const QString nv = dir.filePath("station.nv");
        const OleDate start = oleDateFromParts(2026, 4, 7, 23, 58, 0);
        nvbytes::write(nv,
                       nvbytes::header(start, 60, 3, {"TT101", "\xce\xc2\xb6\xc8", "PT-2"}) +
                           nvbytes::records(0, 4, 3, [](int k, int c) { return kStation[k][c]; }));
        const Table station{{"s:时间", "s:TT101", "s:温度", "s:PT-2"},
                            {"d:2026-04-07T23:58:00", "f:12.34", "f:-32768", "f:-0.005"},
                            {"d:2026-04-07T23:59:00", "f:12.35", "f:-32767", "f:0.002"},
                            {"d:2026-04-08T00:00:00", "f:12.36", "f:-32766", "f:0.009"},
                            {"d:2026-04-08T00:01:00", "f:12.37", "f:-32765", "f:0.016"}};
        // A recorder file of 5 records to 2007-04-11 10:13:52: a run without samples, a
        // channel without one.
        analysis::test::DatFile dat;
        dat.names = {"A", "B"};
        dat.decimals = {2, 1};
        dat.records = {{1234, 5}, {-30000, 0}, {-30000, 0}, {-1, -30000}, {32767, 100}};
        const QString datPath = dir.filePath("recorder.dat");
        QVERIFY(dat.write(datPath));
        const Table recorder{{"s:时间", "s:A", "s:B"},
                             {"d:2007-04-11T10:09:52", "f:12.34", "f:0.5"},
                             {"d:2007-04-11T10:10:52"},
                             {"d:2007-04-11T10:12:52", "f:-0.01"},
                             {"d:2007-04-11T10:13:52", "f:327.67", "f:10"}};

        auto stationJob = std::get<std::unique_ptr<ExportJob>>(viewer::StationExportJob::open(nv));
        auto recorderJob =
            std::get<std::unique_ptr<ExportJob>>(analysis::openRecorderExport(datPath));
        for (const ExportFormat format : {ExportFormat::Csv, ExportFormat::Xlsx}) {
            const QString suffix = exportFormatName(format);
            const QString out = dir.filePath(suffix);
            QVERIFY(QDir().mkpath(out));
            QStringList files;
            for (ExportJob* job : {stationJob.get(), recorderJob.get()}) {
                files << dir.filePath(QFileInfo(job->inputPath()).baseName() + "." + suffix);
                const ExportOutcome outcome = runExport(*job, {job->startTime(), job->endTime(), 1},
                                                        files.last(), nullptr, format);
                QCOMPARE(outcome.status, ExportOutcome::Status::Done);
            }
            QVERIFY(convert(locale, files, out, format == ExportFormat::Csv));
            for (const auto& [name, expected] :
                 {std::pair{"station", station}, {"recorder", recorder}}) {
                QString sheet;
                const Table got = readFlatOds(QDir(out).filePath(QString(name) + ".fods"), &sheet);
                QCOMPARE(got.size(), expected.size());
                for (qsizetype r = 0; r < got.size(); ++r) {
                    QCOMPARE(got[r].join(" | "), expected[r].join(" | "));
                }
                if (format == ExportFormat::Xlsx) {
                    QCOMPARE(sheet, QString(name));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestSpreadsheetImport)
#include "tst_spreadsheetimport.moc"
