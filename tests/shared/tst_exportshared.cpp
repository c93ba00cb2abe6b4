// The shared pieces of the history views and exports: number and time texts, the output file
// that appears only when complete, the command line, and the cross-hair / range / track-bar
// arithmetic.

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

#include <sys/stat.h>

#include "shared/chartinteraction.h"
#include "shared/exportcommand.h"
#include "shared/exportfile.h"
#include "shared/exporttext.h"
#include "shared/exportwriter.h"
#include "shared/exportxlsx.h"
#include "shared/numbertext.h"

using namespace tamlo;

namespace {

QString general(double v, int exponentDigits = 3) {
    char buffer[kNumberTextMax];
    return QString::fromLatin1(buffer, writeGeneral(buffer, v, 5, exponentDigits) - buffer);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A writer of `format` opened on `out` in `dir`, beside the history file it reads.
std::unique_ptr<ExportWriter> openWriter(const QTemporaryDir& dir, ExportFormat format,
                                         const QString& out) {
    const QString input = dir.filePath("in.dat");
    auto writer = makeExportWriter(format);
    if (!writeBytes(input, "history") || writer->open(out, input)) {
        return nullptr;
    }
    return writer;
}

}  // namespace

class TestExportShared : public QObject {
    Q_OBJECT

private slots:
    void generalTextsAsWritten_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("12.34") << double(1234.0f / 100.0f) << "12.34";
        QTest::newRow("0.5") << double(5.0f / 10.0f) << "0.5";
        QTest::newRow("large") << 123456.0 << "1.2346E+005";
        QTest::newRow("tiny") << 0.000001 << "1E-006";
        QTest::newRow("carry") << 99999.6 << "1E+005";
        QTest::newRow("-0.05") << -0.05 << "-0.05";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("huge") << 1.5e300 << "1.5E+300";
    }
    void generalTextsAsWritten() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(general(value), text);
        QCOMPARE(formatGeneral(value, 5, 3), text);
    }

    // The fast writer gives the same text as the general formatter, for floats of every size.
    void generalWriterMatchesTheFormatter() {
        QRandomGenerator random(20261207);
        for (int i = 0; i < 30000; ++i) {
            const float f = std::bit_cast<float>(random.generate());
            if (!std::isfinite(f)) {
                continue;
            }
            QCOMPARE(general(f), formatGeneral(f, 5, 3));
            QCOMPARE(general(f, 1), formatGeneral(f, 5));
        }
    }

    // Integer-scaled values: every raw value at every divisor, against the single-precision
    // quotient through the general formatter.
    void scaledWriterMatchesTheQuotientEverywhere() {
        const int divisors[] = {1, 10, 100, 1000, 10000};
        for (int d = 0; d < 5; ++d) {
            QCOMPARE(decimalsOfDivisor(divisors[d]), d);
            // Every value near zero (where places and signs change), a sample elsewhere.
            for (int raw = -32768; raw <= 32767; raw += (raw > -2000 && raw < 2000) ? 1 : 7) {
                char buffer[kNumberTextMax];
                const QString text =
                    QString::fromLatin1(buffer, writeScaled(buffer, raw, d) - buffer);
                const float quotient = static_cast<float>(raw) / static_cast<float>(divisors[d]);
                if (text != formatGeneral(quotient, 5, 3)) {
                    QFAIL(qPrintable(
                        QStringLiteral("%1 / %2: %3").arg(raw).arg(divisors[d]).arg(text)));
                }
            }
        }
        QCOMPARE(decimalsOfDivisor(7), -1);
    }

    void recordTimes() {
        char buffer[kNumberTextMax];
        const auto text = [&](std::int64_t s) {
            return QString::fromLatin1(buffer, writeRecordTime(buffer, s) - buffer);
        };
        QCOMPARE(text(oleDateToSeconds(oleDateFromParts(2007, 4, 11, 10, 13, 52))),
                 QString("07-04-11 10:13:52"));
        QCOMPARE(text(0), QString("1899-12-30 00:00:00"));
        QCOMPARE(text(oleDateToSeconds(oleDateFromParts(2100, 1, 1, 0, 0, 1))),
                 QString("2100-01-01 00:00:01"));
        // Every day of 2000 to 2099 at a varying time of day, against the date formatter.
        const std::int64_t first = oleDateToSeconds(oleDateFromParts(2000, 1, 1));
        for (std::int64_t day = 0; day < 36525; ++day) {
            const std::int64_t s = first + day * 86400 + (day * 7919) % 86400;
            const QString expected =
                formatOleDate(QStringLiteral("YY-MM-DD HH:NN:SS"), secondsToOleDate(s));
            if (text(s) != expected) {
                QFAIL(qPrintable(text(s) + " != " + expected));
            }
        }
    }

    // The output appears under its name only when complete; until then an earlier file of that
    // name is untouched and nothing else is left in the folder.
    void outputAppearsOnlyWhenComplete() {
        QTemporaryDir dir;
        const QString out = dir.filePath("out.xls");
        const QString input = dir.filePath("in.dat");
        QVERIFY(writeBytes(input, "history"));
        QVERIFY(writeBytes(out, "earlier"));
        {
            ExportFile file;
            QVERIFY(!file.open(out, input));
            file.buffer() = "half";
            QVERIFY(file.flushIfFull());
            QCOMPARE(readAll(out), QByteArray("earlier"));
        }  // abandoned
        QCOMPARE(readAll(out), QByteArray("earlier"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
        {
            ExportFile file;
            QVERIFY(!file.open(out, input));
            file.buffer() = std::string(3 << 20, 'x');
            QVERIFY(file.flushIfFull());
            file.buffer() = "end";
            QCOMPARE(readAll(out), QByteArray("earlier"));
            QVERIFY(!file.finish());
        }
        QCOMPARE(readAll(out).size(), (3 << 20) + 3);
        QVERIFY(readAll(out).endsWith("xend"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    void outputRefusals() {
        QTemporaryDir dir;
        const QString input = dir.filePath("in.dat");
        QVERIFY(writeBytes(input, "history"));
        const QString link = dir.filePath("link.xls");
        const QString hard = dir.filePath("hard.xls");
        std::filesystem::create_symlink(input.toStdString(), link.toStdString());
        std::filesystem::create_hard_link(input.toStdString(), hard.toStdString());
        for (const QString& same : {input, link, hard, dir.path() + "/./in.dat"}) {
            ExportFile file;
            QCOMPARE(file.open(same, input), std::optional<QString>(kExportSameFileText));
        }
        QCOMPARE(readAll(input), QByteArray("history"));

        const QString missing = dir.filePath("no/such/folder/out.xls");
        ExportFile file;
        const std::optional<QString> refused = file.open(missing, input);
        QVERIFY(refused);
        QVERIFY2(refused->contains(QDir::toNativeSeparators(missing)), qPrintable(*refused));
        QVERIFY(!QFile::exists(missing));
    }

    void commandLines() {
        const auto parse = [](const QStringList& args, bool step = true) {
            return parseCommandLine(args, step);
        };
        using Kind = CommandLine::Kind;
        QCOMPARE(parse({}).kind, Kind::Window);
        QCOMPARE(parse({"a.dat"}).openFile, QString("a.dat"));
        QCOMPARE(parse({"a.dat", "b.dat"}).kind, Kind::UsageError);
        QCOMPARE(parse({"--help"}).kind, Kind::Help);
        QCOMPARE(parse({"-h"}).kind, Kind::Help);
        QCOMPARE(parse({"--version"}).kind, Kind::Version);
        QCOMPARE(parse({"-v"}).kind, Kind::Version);
        QCOMPARE(parse({"--info", "a.dat"}).input, QString("a.dat"));
        QCOMPARE(parse({"--info", "a.dat"}).kind, Kind::Info);
        for (const QStringList& bad :
             {QStringList{"--bogus"},
              {"-x", "a.dat"},
              {"--info", "a.dat", "--info", "b.dat"},
              {"--from", "2007-04-11 10:00:00", "a.dat"},
              {"--info", "a.dat", "b.dat"},
              {"--info", "a.dat", "--export", "a.dat", "--output", "o.xls"}}) {
            QCOMPARE(parse(bad).kind, Kind::UsageError);
        }
        QCOMPARE(parse({"a.dat", "--version"}, false).kind, Kind::Version);
        const QStringList full{"--export", "a.dat",
                               "--from",   "2007-04-11 10:00:00",
                               "--to",     "2007-04-11 11:00:00",
                               "--step",   "3",
                               "--output", "o.xls"};
        const CommandLine c = parse(full);
        QCOMPARE(c.kind, Kind::Export);
        QCOMPARE(c.input, QString("a.dat"));
        QCOMPARE(c.output, QString("o.xls"));
        QCOMPARE(c.choice.step, 3);
        QCOMPARE(oleDateToSeconds(c.choice.from),
                 oleDateToSeconds(oleDateFromParts(2007, 4, 11, 10, 0, 0)));
        QCOMPARE(oleDateToSeconds(c.choice.to) - oleDateToSeconds(c.choice.from), 3600);
        QCOMPARE(parse(full, false).kind, Kind::UsageError);  // no --step in the viewer
        QCOMPARE(parse(full.mid(0, 6) + QStringList{"--output", "o"}).choice.step, 1);
        // A step below 1 is the export's refusal, not a usage error.
        QStringList zero = full;
        zero[7] = "0";
        QCOMPARE(parse(zero).kind, Kind::Export);
        for (const QString& bad : {"x", ""}) {
            QStringList args = full;
            args[7] = bad;
            QCOMPARE(parse(args).kind, Kind::UsageError);
        }
        for (const QString& time :
             {"2007-02-30 10:00:00", "2007-04-11 24:00:00", "2007-04-11", "07-04-11 10:00:00"}) {
            QStringList args = full;
            args[3] = time;
            QCOMPARE(parse(args).kind, Kind::UsageError);
        }
        // Before the year 100 there is no date-time value: the option and the years are named.
        QStringList early = full;
        early[3] = "0001-01-01 00:00:00";
        QVERIFY(parse(early).error.contains("--from"));
        QVERIFY(parse(early).error.contains("100 to 9999"));
        QCOMPARE(parse(full.mid(0, 8)).kind, Kind::UsageError);              // no output
        QCOMPARE(parse(full + QStringList{"--to"}).kind, Kind::UsageError);  // no value
        // Given twice: which one was meant?
        QCOMPARE(parse(full + QStringList{"--output", "b.xls"}).kind, Kind::UsageError);
        // The range defaults to the whole file; "-" is an output.
        const CommandLine all = parse({"--export", "a.dat", "--output", "-"});
        QCOMPARE(all.kind, Kind::Export);
        QVERIFY(!all.fromGiven && !all.toGiven && c.fromGiven && c.toGiven);
        QCOMPARE(all.output, QString("-"));
    }

    // Whatever goes wrong in a mode without a window ends in a message and status 1.
    void commandModesCatchEverything() {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const ExportJobOpener throwing =
            [](const QString&) -> std::variant<std::unique_ptr<ExportJob>, QString> {
            throw DateRangeError();
        };
        const CommandLine info = parseCommandLine({"--info", "a.dat"}, true);
        QCOMPARE(handleCommandLine(info, "tamlo_ana", "FILE.dat", true, throwing, out, err), 1);
        char text[200] = {};
        std::rewind(err);
        QVERIFY(std::fread(text, 1, sizeof text - 1, err) > 0);
        QCOMPARE(QString::fromUtf8(text),
                 "tamlo_ana: " + QString::fromUtf8(DateRangeError().what()) + '\n');
        std::fclose(out);
        std::fclose(err);
    }

    // A pipe or a device is written into and stays what it is; a failed write names the reason.
    void streamOutputs() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("pipe");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QByteArray received;
        std::thread reader([&] { received = readAll(fifo); });
        ExportFile piped;
        QVERIFY(!piped.open(fifo, dir.filePath("in.dat")));
        piped.buffer() = std::string(3 << 20, 'x') + "end";
        QVERIFY(piped.flushIfFull());
        QVERIFY(!piped.finish());
        reader.join();
        QCOMPARE(received.size(), (3 << 20) + 3);
        QVERIFY(received.endsWith("xend"));
        QVERIFY(std::filesystem::is_fifo(fifo.toStdString()));

        ExportFile full;
        QVERIFY(!full.open("/dev/full", dir.filePath("in.dat")));
        full.buffer() = "line\r\n";
        QCOMPARE(full.finish(), cannotWriteExportText("/dev/full", "No space left on device"));
        QVERIFY(std::filesystem::is_character_file("/dev/full"));
        QVERIFY(ExportFile().open(dir.path(), dir.filePath("in.dat")));  // a folder: refused
    }

    // CSV: byte-order mark, quoted names, four-digit years, exponents without padding, no
    // sample as an empty field, CR LF.
    void csvRowsAsWritten() {
        QTemporaryDir dir;
        const QString out = dir.filePath("out.csv");
        const auto writer = openWriter(dir, ExportFormat::Csv, out);
        QVERIFY(writer);
        const QByteArray gbkName("\xce\xc2,\"x ");  // 温,"x and a blank, GBK
        writer->header("time", {"A       ", gbkName});
        const std::int64_t s = oleDateToSeconds(oleDateFromParts(2007, 4, 11, 10, 13, 52));
        const auto cell = [&](const char* text, bool sample = true) {
            const std::size_t n = std::strlen(text);
            std::memcpy(writer->cellText(), text, n);
            writer->endCell(writer->cellText() + n, sample);
        };
        writer->beginRow(s);
        cell("1.2346E+005");
        cell("-30000", false);
        QVERIFY(writer->writeRow());
        writer->beginNoDataRow(s + 60);
        QVERIFY(writer->writeRow());
        writer->beginRow(s + 120);
        cell("-1E-006");
        cell("0.5");
        QVERIFY(writer->writeRow());
        QVERIFY(!writer->finish());
        QCOMPARE(readAll(out), QByteArray("\xEF\xBB\xBF\xE6\x97\xB6\xE9\x97\xB4,A,"
                                          "\"\xE6\xB8\xA9,\"\"x\"\r\n"
                                          "2007-04-11 10:13:52,1.2346E+5,\r\n"
                                          "2007-04-11 10:14:52,,\r\n"
                                          "2007-04-11 10:15:52,-1E-6,0.5\r\n"));
    }

    // A worksheet holds 1,048,576 rows with its header: the next record refuses the export,
    // and nothing is left behind.
    void workbookRowLimit() {
        QTemporaryDir dir;
        const QString out = dir.filePath("out.xlsx");
        const auto writer = openWriter(dir, ExportFormat::Xlsx, out);
        QVERIFY(writer);
        writer->header("time", {});
        for (std::int64_t row = 1; row < kXlsxMaxRows; ++row) {
            writer->beginRow(row);
            if (!writer->writeRow()) {
                QFAIL(qPrintable(QString("row %1 refused").arg(row)));
            }
        }
        writer->beginRow(0);
        QVERIFY(!writer->writeRow());
        const std::optional<ExportWriteFailure> failure = writer->finish();
        QVERIFY(failure && failure->refused);
        QVERIFY2(failure->message.contains("1048576"), qPrintable(failure->message));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"in.dat"});
    }

    // A workbook gets the permissions of a new file, not those of its temporary file.
    void workbookPermissions() {
        QTemporaryDir dir;
        const QString out = dir.filePath("out.xlsx");
        const mode_t mask = ::umask(022);
        const auto writer = openWriter(dir, ExportFormat::Xlsx, out);
        QVERIFY(writer);
        writer->header("time", {"A"});
        QVERIFY(!writer->finish());
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0644));
        QVERIFY(readAll(out).startsWith("PK"));
    }

    // The workbook's parts are deflated at zlib's fastest level, which each entry of the zip
    // records in bits 1 and 2 of its flags: at the library's own level a large export takes
    // twice as long.
    void workbookDeflatedFast() {
        QTemporaryDir dir;
        const QString out = dir.filePath("out.xlsx");
        const auto writer = openWriter(dir, ExportFormat::Xlsx, out);
        QVERIFY(writer);
        writer->header("time", {"A"});
        QVERIFY(!writer->finish());
        const QByteArray zip = readAll(out);
        const auto number = [&](qsizetype at, int size) {
            quint32 n = 0;
            for (int i = size - 1; i >= 0; --i) {
                n = n << 8 | static_cast<uchar>(zip[at + i]);
            }
            return n;
        };
        QStringList deflated;
        qsizetype at = 0;
        while (at + 30 <= zip.size() && zip.mid(at, 4) == "PK\x03\x04") {
            const quint32 nameSize = number(at + 26, 2);
            const QString name = QString::fromUtf8(zip.mid(at + 30, nameSize));
            QCOMPARE(number(at + 8, 2), 8u);  // deflated
            QVERIFY2((number(at + 6, 2) & 6) == 6, qPrintable(name));
            deflated << name;
            at += 30 + nameSize + number(at + 28, 2) + number(at + 18, 4);
        }
        QVERIFY2(deflated.contains("xl/worksheets/sheet1.xml"), qPrintable(deflated.join(' ')));
    }

    void sheetNames() {
        QCOMPARE(xlsxSheetName("/d/Plant [A]: 1*2?.xlsx"), QString("Plant _A__ 1_2_"));
        QCOMPARE(xlsxSheetName("/d/'q'.xlsx"), QString("q"));
        QCOMPARE(xlsxSheetName("/d/''.xlsx"), QString("Sheet1"));
        QCOMPARE(xlsxSheetName("/d/history.xlsx"), QString("history_"));
        QCOMPARE(xlsxSheetName(QString(40, QChar(0x6E29)) + ".xlsx"), QString(31, QChar(0x6E29)));
    }

    // --format names the format; without it the output's extension does; in the save dialog
    // a known extension wins over the file type picked.
    void formatChoices() {
        const QStringList args{
            "--export", "a.nv", "--from", "2007-04-11 10:00:00", "--to", "2007-04-11 11:00:00",
            "--output", "o.xls"};
        QCOMPARE(parseCommandLine(args, false).format, std::nullopt);
        QCOMPARE(parseCommandLine(args + QStringList{"--format", "XLSX"}, false).format,
                 std::optional(ExportFormat::Xlsx));
        QCOMPARE(parseCommandLine(args + QStringList{"--format", "txt"}, false).kind,
                 CommandLine::Kind::UsageError);
        QCOMPARE(exportFormatOfFileName("/d/a.b.CSV"), std::optional(ExportFormat::Csv));
        QCOMPARE(exportFormatOfFileName("/d/a.txt"), std::nullopt);
        QCOMPARE(exportFormatForSaveDialog("a.xls", 2), ExportFormat::Text);
        QCOMPARE(exportFormatForSaveDialog("a.xlsx", 0), ExportFormat::Xlsx);
        QCOMPARE(exportFormatForSaveDialog("a", 1), ExportFormat::Csv);
        QCOMPARE(exportFormatForSaveDialog("a.txt", 2), ExportFormat::Xlsx);
    }

    void crossHairPoint() {
        // A window of 100 points, x = 0 to 99.
        QCOMPARE(crossHairPointIndex(49.6, 0, 99, 100), std::optional<int>(50));
        QCOMPARE(crossHairPointIndex(98.9, 0, 99, 100), std::optional<int>(99));
        QCOMPARE(crossHairPointIndex(99, 0, 99, 100), std::optional<int>(99));
        QCOMPARE(crossHairPointIndex(0, 0, 99, 100), std::optional<int>(0));
        QCOMPARE(crossHairPointIndex(-0.1, 0, 99, 100), std::nullopt);
        QCOMPARE(crossHairPointIndex(99.1, 0, 99, 100), std::nullopt);
        QCOMPARE(crossHairPointIndex(0, 0, 0, 1), std::nullopt);  // one record: no width
    }

    void rangeOrders() {
        QCOMPARE(rangeOrder(0, 0, 0), RangeOrder::Refused);
        QCOMPARE(rangeOrder(100, 100, 0), RangeOrder::Refused);
        QCOMPARE(rangeOrder(200, 100, 500), RangeOrder::MinimumFirst);
        QCOMPARE(rangeOrder(1500, 1200, 0), RangeOrder::MaximumFirst);
        QCOMPARE(rangeOrder(50, -50, 0), RangeOrder::MaximumFirst);
        QCOMPARE(rangeOrder(-10, -20, 0), RangeOrder::MinimumFirst);
    }

    void trackBar() {
        // Zoomed to the second half of 0..99: position 50; back to 0 keeps the width.
        QCOMPARE(trackBarPosition(49.5, 0, 99), std::optional<int>(50));
        QCOMPARE(trackBarPosition(0, 0, 0), std::nullopt);
        const TrackBarScroll s = trackBarScroll(0, 0, 99, 49.5, 99);
        QCOMPARE(s.minimum, 0.0);
        QCOMPARE(s.maximum, 49.5);
        QVERIFY(!s.maximumFirst);
        const TrackBarScroll forward = trackBarScroll(60, 0, 99, 0, 49.5);
        QVERIFY(forward.maximumFirst);
        QCOMPARE(forward.maximum - forward.minimum, 49.5);
    }
};

QTEST_GUILESS_MAIN(TestExportShared)
#include "tst_exportshared.moc"
