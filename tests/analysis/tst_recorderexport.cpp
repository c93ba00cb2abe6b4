// The spreadsheet export of recorder history files, byte for byte: through the dialog TForm2,
// through `tamlo_ana --export`, and of a file uploaded from the recorder simulator.

#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "analysis/recorderexport.h"
#include "analysis/recorderupload.h"
#include "analysis/tform1.h"
#include "analysis/tform2.h"
#include "chart/tchart.h"
#include "datfile.h"
#include "fakeclock.h"
#include "scriptedprompter.h"
#include "shared/exportfile.h"
#include "shared/historychartpanel.h"
#include "shared/tcgauge.h"
#include "simulatorprocess.h"
#include "uploadtesting.h"

using namespace tamlo;
using namespace tamlo::analysis;
using tamlo::analysis::test::DatFile;
using tamlo::analysis::test::newest;
using tamlo::analysis::test::secondsBefore;

namespace {

// Two channels named A and B: channel 0 = raw 1234 (2 decimals), channel 1 = raw 5 (1 decimal),
// except where a test changes them; records 60 s apart, the newest at 2007-04-11 10:13:52.
DatFile twelve34(int n) {
    DatFile f;
    f.names = {"A", "B"};
    f.decimals = {2, 1};
    f.records.assign(static_cast<std::size_t>(n), {1234, 5});
    return f;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QByteArray kHeader = "time\tA       \tB       \t\r\n";

// The data line of a record of twelve34() at hh:mm:ss on 2007-04-11.
QByteArray line(const char* time, const char* a = "12.34", const char* b = "0.5") {
    return QByteArray("07-04-11 ") + time + "\t" + a + "\t" + b + "\t\r\n";
}

struct CommandResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CommandResult runAna(const QStringList& arguments) {
    QProcess p;
    p.start(QDir(QStringLiteral(TAMLO_BIN_DIR)).filePath("tamlo_ana"), arguments);
    CommandResult r;
    if (!p.waitForFinished(60000)) {
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QStringList exportArguments(const QString& input, const QString& from, const QString& to,
                            const QString& output, const QString& step = {}) {
    QStringList args{"--export", input, "--from", from, "--to", to, "--output", output};
    if (!step.isEmpty())
        args << "--step" << step;
    return args;
}

}  // namespace

class TestRecorderExport : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int files_ = 0;
    tamlo::test::ScriptedPrompter prompter_;

    QString path(const QString& suffix) {
        return dir_.filePath(QStringLiteral("f%1.%2").arg(++files_).arg(suffix));
    }
    QString write(const DatFile& f) {
        const QString p = path("dat");
        f.write(p);
        return p;
    }
    RecorderHistory load(const QString& p) {
        RecorderLoadResult r = loadRecorderHistory(p);
        if (r.status != RecorderLoadStatus::Loaded)
            qFatal("not loaded");
        return r.history;
    }
    // Exports `choice` of the file through the job, returning the bytes written.
    QByteArray exported(const QString& input, const ExportChoice& choice,
                        std::int64_t* lines = nullptr, ExportFormat format = ExportFormat::Text) {
        RecorderExportJob job(load(input));
        const QString out = path("xls");
        const ExportOutcome outcome = runExport(job, choice, out, nullptr, format);
        if (outcome.status != ExportOutcome::Status::Done)
            return "<" + outcome.message.toUtf8() + ">";
        if (lines)
            *lines = outcome.lines;
        return readAll(out);
    }

private slots:
    void cleanup() {
        QVERIFY2(prompter_.boxes().isEmpty(), qPrintable(prompter_.texts().join(" | ")));
    }

    void wholeFileAndSteps() {
        DatFile f = twelve34(7);
        for (int k = 0; k < 7; ++k) f.records[k][1] = std::int16_t(k * 10 + 1);
        const QString input = write(f);
        std::int64_t lines = 0;
        // The whole file with every record: once each, the first at the file's start.
        QCOMPARE(exported(input, {secondsBefore(360), newest(), 1}, &lines),
                 kHeader + line("10:07:52", "12.34", "0.1") + line("10:08:52", "12.34", "1.1") +
                     line("10:09:52", "12.34", "2.1") + line("10:10:52", "12.34", "3.1") +
                     line("10:11:52", "12.34", "4.1") + line("10:12:52", "12.34", "5.1") +
                     line("10:13:52", "12.34", "6.1"));
        QCOMPARE(lines, 7);
        // Every third record, three intervals apart.
        QCOMPARE(exported(input, {secondsBefore(360), newest(), 3}),
                 kHeader + line("10:07:52", "12.34", "0.1") + line("10:10:52", "12.34", "3.1") +
                     line("10:13:52", "12.34", "6.1"));
        // Start = end: one line.
        QCOMPARE(exported(input, {secondsBefore(120), secondsBefore(120), 1}),
                 kHeader + line("10:11:52", "12.34", "4.1"));
        // A start between two records (10:09:42): lines at the records' own times from the
        // next record on, and nothing after the end (10:12:30 lies before the 10:12:52 record).
        QCOMPARE(exported(input, {secondsBefore(250), secondsBefore(82), 1}),
                 kHeader + line("10:09:52", "12.34", "2.1") + line("10:10:52", "12.34", "3.1") +
                     line("10:11:52", "12.34", "4.1"));
    }

    void noDataLinesAndValues() {
        DatFile f = twelve34(7);
        f.records[1][0] = f.records[2][0] = f.records[3][0] = -30000;
        f.records[5][1] = -30000;
        f.records[0] = {-1, 32767};
        f.records[6] = {-30000, 1};  // a second run
        f.decimals = {2, 0};
        const QString input = write(f);
        QCOMPARE(exported(input, {secondsBefore(360), newest(), 1}),
                 kHeader + line("10:07:52", "-0.01", "32767") +
                     "07-04-11 10:08:52\t  --  \t  --  \t\r\n" + line("10:11:52", "12.34", "5") +
                     line("10:12:52", "12.34", "-30000") +
                     "07-04-11 10:13:52\t  --  \t  --  \t\r\n");
        // The same lines as CSV: names without their padding, no sample as an empty field.
        QCOMPARE(exported(input, {secondsBefore(360), newest(), 1}, nullptr, ExportFormat::Csv),
                 QByteArray("\xEF\xBB\xBF\xE6\x97\xB6\xE9\x97\xB4,A,B\r\n"
                            "2007-04-11 10:07:52,-0.01,32767\r\n"
                            "2007-04-11 10:08:52,,\r\n"
                            "2007-04-11 10:11:52,12.34,5\r\n"
                            "2007-04-11 10:12:52,12.34,\r\n"
                            "2007-04-11 10:13:52,,\r\n"));
    }

    // The ring wrapped inside the file and the byte-swapped layout export the same lines.
    void wrappedAndSwappedFiles() {
        DatFile f = twelve34(5);
        for (int k = 0; k < 5; ++k) f.records[k][0] = std::int16_t(k);
        f.decimals = {0, 1};
        const QByteArray expected = kHeader + line("10:09:52", "0") + line("10:10:52", "1") +
                                    line("10:11:52", "2") + line("10:12:52", "3") +
                                    line("10:13:52", "4");
        f.wrapAt = 3;
        QCOMPARE(exported(write(f), {secondsBefore(240), newest(), 1}), expected);
        f.wrapAt = 0;
        f.swapped = true;
        QByteArray swapped = expected;
        swapped.replace("A       \tB       ", "   CH-00\t   CH-01");
        QCOMPARE(exported(write(f), {secondsBefore(240), newest(), 1}), swapped);
    }

    // A file that shrank after it was opened: the lines up to the last whole record.
    void shrunkFileEndsTheExport() {
        const QString input = write(twelve34(10));
        RecorderExportJob job(load(input));
        QVERIFY(QFile(input).resize(1524 + 4 * 4 + 1));
        const QString out = path("xls");
        const ExportOutcome outcome = runExport(job, {secondsBefore(540), newest(), 1}, out);
        QCOMPARE(outcome.status, ExportOutcome::Status::Done);
        QCOMPARE(outcome.lines, 4);
        QCOMPARE(readAll(out), kHeader + line("10:04:52") + line("10:05:52") + line("10:06:52") +
                                   line("10:07:52"));
    }

    // The dialog as it opens, 10.5 intervals with n = 1, and the same bytes from the command line.
    void dialogAndCommandLineWriteTheSameBytes() {
        DatFile f = twelve34(30);
        f.decimals = {2, 0};
        for (int k = 0; k < 30; ++k) f.records[k][1] = std::int16_t(k);
        const QString input = write(f);
        RecorderExportJob job(load(input));
        TForm2 dialog(prompter_, job);
        QCOMPARE(dialog.windowTitle(), QString("输入时间范围"));
        QVERIFY(dialog.width() >= 303);  // wider where the font needs it
        QCOMPARE(dialog.height(), 176);
        QCOMPARE(dialog.findChild<QLabel*>("Label_histr_timerange")->text(),
                 QString("有效时间范围：07-04-11 09:44:52 至 07-04-11 10:13:52         "));
        auto* startDate = dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_startdate");
        auto* startTime = dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_starttime");
        auto* endTime = dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_endtime");
        QCOMPARE(startTime->time(), QTime(9, 44, 52));
        QCOMPARE(endTime->time(), QTime(10, 13, 52));
        QCOMPARE(dialog.findChild<QLineEdit*>("Edit_sampling")->text(), QString("1"));

        const QString first = path("xls");
        prompter_.queueSaveFile(first);
        dialog.Button1Click();
        QCOMPARE(prompter_.texts(), QStringList{"数据导出完成！"});
        prompter_.clear();
        QCOMPARE(prompter_.fileRequests().last().filter,
                 QString("EXCEL 文本文件|*.xls|CSV UTF-8|*.csv|Excel 工作簿|*.xlsx"));
        QCOMPARE(prompter_.fileRequests().last().defaultSuffix, QString("xls"));
        QCOMPARE(readAll(first).count("\r\n"), 31);

        // 10.5 intervals from 09:50:22, every 2nd record: records from 09:50:52; the gauge
        // counts the 10 intervals.
        startTime->setTime(QTime(9, 50, 22));
        endTime->setTime(QTime(10, 0, 52));
        dialog.findChild<QLineEdit*>("Edit_sampling")->setText("2");
        const QString byDialog = path("xls");
        prompter_.queueSaveFile(byDialog);
        dialog.Button1Click();
        QCOMPARE(prompter_.texts(), QStringList{"数据导出完成！"});
        prompter_.clear();
        QCOMPARE(dialog.findChild<TCGauge*>("CGauge1")->maxValue(), 10);
        QCOMPARE(dialog.findChild<TCGauge*>("CGauge1")->progress(), 0);
        QCOMPARE(startDate->dateTime(), QDateTime(QDate(2007, 4, 11), QTime(9, 50, 22)));
        const QByteArray expected =
            kHeader + line("09:50:52", "12.34", "6") + line("09:52:52", "12.34", "8") +
            line("09:54:52", "12.34", "10") + line("09:56:52", "12.34", "12") +
            line("09:58:52", "12.34", "14") + line("10:00:52", "12.34", "16");
        QCOMPARE(readAll(byDialog), expected);

        const QString byCommand = path("xls");
        const CommandResult r = runAna(
            exportArguments(input, "2007-04-11 09:50:22", "2007-04-11 10:00:52", byCommand, "2"));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("6\n"));
        QCOMPARE(readAll(byCommand), expected);

        // With n = 1 the 10.5 intervals give 11 lines.
        const CommandResult eleven = runAna(
            exportArguments(input, "2007-04-11 09:50:22", "2007-04-11 10:00:52", path("xls")));
        QCOMPARE(eleven.out, QByteArray("11\n"));
    }

    void dialogRefusals() {
        const QString input = write(twelve34(30));
        RecorderExportJob job(load(input));
        TForm2 dialog(prompter_, job);
        auto* endTime = dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_endtime");
        auto* sampling = dialog.findChild<QLineEdit*>("Edit_sampling");
        const qsizetype fileDialogs = prompter_.fileRequests().size();
        for (const QString& step : {"0", "-2", "abc", ""}) {
            sampling->setText(step);
            dialog.Button1Click();
            QCOMPARE(prompter_.texts(), QStringList{kExportStepText});
            prompter_.clear();
        }
        sampling->setText("1");
        endTime->setTime(QTime(10, 13, 53));  // past the file's end
        dialog.Button1Click();
        QCOMPARE(prompter_.texts(), QStringList{kExportRangeText});
        prompter_.clear();
        endTime->setTime(QTime(9, 0, 0));  // before the start
        dialog.Button1Click();
        QCOMPARE(prompter_.texts(), QStringList{kExportRangeText});
        prompter_.clear();
        // No save dialog for a refused choice.
        QCOMPARE(prompter_.fileRequests().size(), fileDialogs);

        // The file being read as output: refused, the history file untouched.
        endTime->setTime(QTime(10, 13, 52));
        const QByteArray before = readAll(input);
        prompter_.queueSaveFile(input);
        dialog.Button1Click();
        QCOMPARE(prompter_.texts(), QStringList{kExportSameFileText});
        prompter_.clear();
        QCOMPARE(readAll(input), before);
        // An output that cannot be created is named.
        const QString nowhere = dir_.filePath("missing/out.xls");
        prompter_.queueSaveFile(nowhere);
        dialog.Button1Click();
        QCOMPARE(prompter_.texts(), QStringList{cannotCreateExportText(nowhere)});
        prompter_.clear();
        // Cancelled save dialog: nothing.
        dialog.Button1Click();
        QVERIFY(prompter_.boxes().isEmpty());
    }

    // Refusals of the command line exit with 1, print the dialog's text and write nothing; an
    // earlier file under the output name stays as it was.
    void commandLineRefusals() {
        const QString input = write(twelve34(30));
        const QString out = path("xls");
        QFile earlier(out);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
        earlier.close();
        const qsizetype outputs = QDir(dir_.path()).entryList({"*.xls"}).size();
        const QString from = "2007-04-11 09:44:52";
        const QString to = "2007-04-11 10:13:52";
        const struct {
            QStringList args;
            QByteArray message;
        } cases[] = {
            {exportArguments(input, from, "2007-04-11 10:13:53", out), kExportRangeText},
            {exportArguments(input, to, from, out), kExportRangeText},
            {exportArguments(input, from, to, out, "0"), kExportStepText},
            {exportArguments(input, from, to, input), kExportSameFileText},
            {exportArguments(dir_.filePath("none.dat"), from, to, out), "无法打开文件"},
            {exportArguments(out, from, to, path("xls")), "文件类型出错！"},
        };
        const QByteArray history = readAll(input);
        for (const auto& c : cases) {
            const CommandResult r = runAna(c.args);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(c.message), r.err.constData());
            QVERIFY(r.out.isEmpty());
            QCOMPARE(readAll(out), QByteArray("earlier"));
        }
        QCOMPARE(readAll(input), history);
        QCOMPARE(QDir(dir_.path()).entryList({"*.xls"}).size(), outputs);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter("xls").size(),
                 outputs);  // no temporary file left behind

        const CommandResult usage = runAna(exportArguments(input, "yesterday", to, out));
        QCOMPARE(usage.exitCode, 2);
        QVERIFY(usage.err.contains("Usage"));
        const CommandResult help = runAna({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--export"));
        QVERIFY(help.out.contains("--step"));
    }

    // What a file holds; the whole file by default, into standard output with the count on
    // standard error; a refused range names the span the file accepts.
    void commandLineInfoAndStandardOutput() {
        const QString input = write(twelve34(3));
        const CommandResult info = runAna({"--info", input});
        QCOMPARE(info.exitCode, 0);
        QCOMPARE(info.out, "file: " + input.toUtf8() +
                               "\nkind: recorder history\nchannels: 2\nchannel 1: A\n"
                               "channel 2: B\ninterval: 60 s\n"
                               "first record: 2007-04-11 10:11:52\n"
                               "last record: 2007-04-11 10:13:52\nrecords: 3\n");
        const CommandResult all = runAna({"--export", input, "--output", "-"});
        QCOMPARE(all.exitCode, 0);
        QCOMPARE(all.out, kHeader + line("10:11:52") + line("10:12:52") + line("10:13:52"));
        QCOMPARE(all.err, QByteArray("3\n"));
        const CommandResult late =
            runAna({"--export", input, "--to", "2007-04-11 10:13:53", "--output", "-"});
        QCOMPARE(late.exitCode, 1);
        QCOMPARE(late.err, QByteArray(kExportRangeText) +
                               "（有效时间范围：2007-04-11 10:11:52 至 2007-04-11 10:13:52）\n");
        QVERIFY(late.out.isEmpty());
    }

    // A file uploaded from the recorder simulator opens with the simulator's values at their
    // times, and its export writes them.
    void uploadedFromTheSimulator() {
        QTemporaryDir work;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        tamlo::test::SimulatorProcess sim("tamlo_recorder_sim");
        QVERIFY2(sim.start({"--link", work.filePath("COM2"), "--address", "1", "--channels", "3",
                            "--interval", "10", "--records", "500", "--newest",
                            "2026-12-07 10:00:00", "--decimals", "1,2,0"}),
                 qPrintable(sim.errorString()));
        UploadSession session(std::make_unique<SerialUploadPort>());
        tamlo::analysis::test::RecordingView view;
        RecorderUpload upload(session, view);
        const QString file = work.filePath("up.dat");
        view.saveAnswers << file;
        UploadInput input;
        input.portIndex = 1;
        input.baudRate = 19200;
        input.addressText = "1";
        input.samplingStepText = "1";
        input.startSeconds = tamlo::analysis::test::wallSeconds(2026, 12, 7, 9, 50);
        input.endSeconds = tamlo::analysis::test::wallSeconds(2026, 12, 7, 10);
        QCOMPARE(upload.run(input).outcome, UploadOutcome::Completed);
        session.port().close();
        QVERIFY(sim.stop());
        QVERIFY(QDir::setCurrent(previous));

        // Slot s of the ring holds the simulator's wave; the newest record (slot 499) was taken
        // at 10:00:00, slot 499 - j at j x 10 s before.
        tamlo::test::FakeClock clock;
        TForm1 form(prompter_, clock);
        form.openFile(file);
        const chart::TChart* chart = form.panel()->chart();
        const int count = chart->series(0)->count();
        QVERIFY(count >= 61);
        const std::int64_t newestSeconds = tamlo::analysis::test::wallSeconds(2026, 12, 7, 10);
        const std::int16_t divisors[] = {10, 100, 1};
        for (int j : {0, 1, count / 2, count - 1}) {
            const int back = count - 1 - j;
            const std::int64_t seconds = newestSeconds - back * 10;
            QCOMPARE(chart->series(0)->label(j),
                     formatOleDate("MM-DD HH:NN:SS", secondsToOleDate(seconds)));
            for (int c = 0; c < 3; ++c) {
                const std::int16_t raw = recordersim::slotWaveValue(499 - back, c);
                QCOMPARE(chart->series(c)->yValue(j),
                         double(static_cast<float>(raw) / static_cast<float>(divisors[c])));
            }
        }
        // The export's last line: the newest record at 10:00:00.
        RecorderExportJob job(*form.history());
        const QString out = path("xls");
        QCOMPARE(runExport(job, {form.history()->startTime, form.history()->endTime, 1}, out).lines,
                 count);
        const QList<QByteArray> lines = readAll(out).split('\n');
        QByteArray last = "26-12-07 10:00:00\t";
        for (int c = 0; c < 3; ++c) {
            const std::int16_t raw = recordersim::slotWaveValue(499, c);
            last += QByteArray::number(double(raw) / divisors[c], 'g', 6) + "\t";
        }
        QCOMPARE(lines.at(lines.size() - 2), last + "\r");
    }
};

QTEST_MAIN(TestRecorderExport)
#include "tst_recorderexport.moc"
