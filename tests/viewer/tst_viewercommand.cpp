// The viewer's export through its dialog and through `tamlo_view --export`: the same bytes for
// the same choices, and refusals that write nothing.
#include <QDateTimeEdit>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "nvbytes.h"
#include "scriptedprompter.h"
#include "shared/datetime.h"
#include "simulatorprocess.h"
#include "viewer/tform2.h"
#include "viewer/viewerexport.h"

using namespace tamlo;
using namespace tamlo::viewer;

namespace {

const OleDate kStart = oleDateFromParts(2026, 12, 7, 23, 58, 0);

float valueAt(int k, int c) {
    return c == 0 ? 0.1f * float(k) : 1.0e6f + float(k);
}

QString tenRecords(const QTemporaryDir& dir, quint32 interval = 60) {
    const QString path = dir.filePath("ten.nv");
    nvbytes::write(path, nvbytes::header(kStart, interval, 2, {"TT101", "PT202"}) +
                             nvbytes::records(0, interval ? 10 : 0, 2, valueAt));
    return path;
}

using Run = test::SimulatorProcess::Outcome;

Run tamloView(const QStringList& arguments) {
    return test::SimulatorProcess::runToEnd("tamlo_view", arguments, 30000);
}

QStringList exportArguments(const QString& input, const char* from, const char* to,
                            const QString& output) {
    return {"--export", input, "--from", from, "--to", to, "--output", output};
}

// Runs the dialog's export of [from, to] into `output`; the boxes it showed.
QStringList dialogExport(const QString& input, const QDateTime& from, const QDateTime& to,
                         const QString& output, int fileType = 0) {
    StationHistoryReader reader;
    if (!reader.open(input)) {
        return {"unreadable"};
    }
    StationExportJob job(input, reader.header().startTime, reader.endTime(),
                         reader.header().intervalSeconds);
    reader.close();
    test::ScriptedPrompter prompter;
    prompter.queueSaveFile(output, fileType);
    TForm2 dialog(prompter, job);
    dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_startdate")->setDateTime(from);
    dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_starttime")->setDateTime(from);
    dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_enddate")->setDateTime(to);
    dialog.findChild<QDateTimeEdit*>("DateTimePicker_histr_endtime")->setDateTime(to);
    dialog.Button1Click();
    return prompter.texts();
}

QDateTime at(int h, int m, int s, int day = 7) {
    return QDateTime(QDate(2026, 12, day), QTime(h, m, s));
}

}  // namespace

class ViewerCommandTest : public QObject {
    Q_OBJECT
private slots:
    void dialogAndCommandLineWriteTheSameBytes() {
        QTemporaryDir dir;
        const QString input = tenRecords(dir);
        const QString viaDialog = dir.filePath("dialog.xls");
        const QString viaCommand = dir.filePath("command.xls");
        // From between records 1 and 2 to record 4: records 2, 3 and 4 at their own times.
        QCOMPARE(dialogExport(input, at(23, 59, 30), at(0, 2, 0, 8), viaDialog),
                 QStringList{"数据导出完成！"});
        const Run run = tamloView(
            exportArguments(input, "2026-12-07 23:59:30", "2026-12-08 00:02:00", viaCommand));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.standardOutput, QStringLiteral("3\n"));
        QVERIFY(run.standardError.isEmpty());
        const QByteArray expected = QByteArray("\xca\xb1\xbc\xe4\tTT101\tPT202\t\r\n") +
                                    "26-12-08 00:00:00\t0.2\t1E+006\t\r\n"
                                    "26-12-08 00:01:00\t0.3\t1E+006\t\r\n"
                                    "26-12-08 00:02:00\t0.4\t1E+006\t\r\n";
        QCOMPARE(nvbytes::read(viaDialog), expected);
        QCOMPARE(nvbytes::read(viaCommand), expected);
    }

    // The file type picked in the save dialog, the output's extension and --format choose CSV.
    void csvThroughTheDialogAndTheCommandLine() {
        QTemporaryDir dir;
        const QString input = tenRecords(dir);
        const QString viaDialog = dir.filePath("dialog");
        QCOMPARE(dialogExport(input, at(23, 59, 30), at(0, 0, 0, 8), viaDialog, 1),
                 QStringList{"数据导出完成！"});
        const QString byName = dir.filePath("command.csv");
        const QString byOption = dir.filePath("command.txt");
        for (const QStringList& extra : {QStringList{}, QStringList{"--format", "csv"}}) {
            const Run run =
                tamloView(exportArguments(input, "2026-12-07 23:59:30", "2026-12-08 00:00:00",
                                          extra.isEmpty() ? byName : byOption) +
                          extra);
            QCOMPARE(run.exitCode, 0);
        }
        const QByteArray expected(
            "\xEF\xBB\xBF\xE6\x97\xB6\xE9\x97\xB4,TT101,PT202\r\n"
            "2026-12-08 00:00:00,0.2,1E+6\r\n");
        QCOMPARE(nvbytes::read(viaDialog), expected);
        QCOMPARE(nvbytes::read(byName), expected);
        QCOMPARE(nvbytes::read(byOption), expected);
    }

    // A workbook on standard output: written whole, then copied into the stream.
    void workbookToStandardOutput() {
        QTemporaryDir dir;
        QProcess child;
        child.start(test::SimulatorProcess::executablePath("tamlo_view"),
                    {"--export", tenRecords(dir), "--format", "xlsx", "--output", "-"});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardError(), QByteArray("10\n"));
        const QByteArray workbook = child.readAllStandardOutput();
        QVERIFY2(workbook.startsWith("PK\x03\x04") && workbook.size() > 3000,
                 workbook.left(40).constData());
        QCOMPARE(QDir(QDir::tempPath()).entryList({"tamlo-*.xlsx"}), QStringList());
    }

    void intervalZeroExportsTheHeaderLine() {
        QTemporaryDir dir;
        const QString input = tenRecords(dir, 0);
        const QString output = dir.filePath("zero.xls");
        QCOMPARE(dialogExport(input, at(23, 58, 0), at(23, 58, 0), output),
                 QStringList{"数据导出完成！"});
        QCOMPARE(nvbytes::read(output), QByteArray("\xca\xb1\xbc\xe4\tTT101\tPT202\t\r\n"));
    }

    // An export that meets a full disk (here: a file size limit of 1024 bytes, SIGXFSZ at its
    // default) says so with the system's reason and leaves the earlier file of that name alone.
    void aFailedWriteKeepsTheEarlierFile() {
        QTemporaryDir dir;
        // 200 records of 8 channels from 10:00:00, 10 s apart: far more than 1024 bytes of text.
        const QString input = nvbytes::writeCountingFile(dir.filePath("ten.nv"), 200, 8);
        const QString output = dir.filePath("out.xls");
        const QByteArray earlier("an earlier export\r\n");
        QVERIFY(nvbytes::write(output, earlier));
        QProcess child;
        child.start(
            "sh", QStringList{"-c", "ulimit -f 2; exec \"$0\" \"$@\"",
                              test::SimulatorProcess::executablePath("tamlo_view")} +
                      exportArguments(input, "2026-12-07 10:00:00", "2026-12-07 10:33:10", output));
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(child.readAllStandardError()).trimmed(),
                 QString("写入文件失败：%1（File too large）").arg(output));
        QCOMPARE(nvbytes::read(output), earlier);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"out.xls", "ten.nv"}));
    }

    void refusalsWriteNothing() {
        QTemporaryDir dir;
        const QString input = tenRecords(dir);
        const QByteArray inputBytes = nvbytes::read(input);
        const QString output = dir.filePath("out.xls");
        const auto refused = [&](const QStringList& arguments, const QString& message) {
            const Run run = tamloView(arguments);
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.standardError.contains(message), qPrintable(run.standardError));
            QVERIFY(run.standardOutput.isEmpty());
            QVERIFY(!QFileInfo::exists(output));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(),
                     1);  // no temporary file left either
        };
        refused(exportArguments(input, "2026-12-08 00:01:00", "2026-12-08 00:00:00", output),
                "时间范围不正确！");
        refused(exportArguments(input, "2026-12-07 23:57:59", "2026-12-08 00:00:00", output),
                "时间范围不正确！");
        refused(exportArguments(input, "2026-12-07 23:58:00", "2026-12-08 00:08:01", output),
                "时间范围不正确！");
        refused(exportArguments(input, "2026-12-07 23:58:00", "2026-12-08 00:08:00", input),
                "导出文件不能是正在读取的历史数据文件！");
        QCOMPARE(nvbytes::read(input), inputBytes);
        // Standard output appended to the history file is the history file.
        QProcess appending;
        appending.setStandardOutputFile(input, QIODevice::Append);
        appending.start(test::SimulatorProcess::executablePath("tamlo_view"),
                        {"--export", input, "--output", "-"});
        QVERIFY(appending.waitForFinished(30000));
        QCOMPARE(appending.exitCode(), 1);
        QCOMPARE(nvbytes::read(input), inputBytes);
        const QString nowhere = dir.filePath("no/such/dir/out.xls");
        refused(exportArguments(input, "2026-12-07 23:58:00", "2026-12-08 00:08:00", nowhere),
                QDir::toNativeSeparators(nowhere));
        QTemporaryDir other;
        const QString shortFile = other.filePath("short.nv");
        nvbytes::write(shortFile, QByteArray(1000, '\0'));
        refused(exportArguments(shortFile, "2026-12-07 23:58:00", "2026-12-08 00:08:00", output),
                "1176");

        // Usage errors: status 2.
        for (const QStringList& arguments :
             {QStringList{"--export", input, "--from", "2026-12-07 23:58:00"},
              exportArguments(input, "2026-12-07", "2026-12-08 00:08:00", output),
              exportArguments(input, "2026-12-07 23:58:00", "2026-12-08 00:08:00", output)
                  << "--step"
                  << "2",
              exportArguments(input, "0001-01-01 00:00:00", "2026-12-08 00:08:00", output),
              exportArguments(input, "2026-12-07 23:58:00", "2026-12-08 00:08:00", output)
                  << "--output" << output}) {
            const Run run = tamloView(arguments);
            QCOMPARE(run.exitCode, 2);
            QVERIFY(!QFileInfo::exists(output));
        }
        const Run help = tamloView({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.standardOutput.contains("--export"));
    }

    void infoAndStartupFile() {
        QTemporaryDir dir;
        const QString input = tenRecords(dir);
        const Run info = tamloView({"--info", input});
        QCOMPARE(info.exitCode, 0);
        QCOMPARE(info.standardOutput,
                 "file: " + input +
                     "\nkind: station history\nchannels: 2\nchannel 1: TT101\nchannel 2: "
                     "PT202\ninterval: 60 s\nfirst record: 2026-12-07 23:58:00\nlast record: "
                     "2026-12-08 00:07:00\nrecords: 10\n");
        // A file that cannot be opened at start-up: the window opens as it is, and says why.
        QProcess window;
        window.setProcessEnvironment([] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            return env;
        }());
        const QString missing = dir.filePath("missing.nv");
        window.start(test::SimulatorProcess::executablePath("tamlo_view"), {missing});
        QByteArray err;
        // The reason is Qt's own text, in the interface's language once its translations load.
        const QByteArray said = "tamlo_view: cannot open " + missing.toUtf8() + ": ";
        QTRY_VERIFY_WITH_TIMEOUT((err += window.readAllStandardError()).contains(said), 20000);
        QCOMPARE(window.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(window.processId()), SIGTERM);
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(window.exitCode(), 0);
    }
};

QTEST_MAIN(ViewerCommandTest)
#include "tst_viewercommand.moc"
