#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tamlo::test {

// Runs one of the instrument simulators (tamlo_meter_sim, tamlo_recorder_sim) as a child
// process, the way a test needs it: started from the build's program folder, waited for until
// it prints "ready <device>", driven with control commands answered "ok" or "error <text>", and
// stopped with "quit" (see tools/simlink/simlink.h for these conventions).
//
//     SimulatorProcess sim("tamlo_meter_sim");
//     QVERIFY2(sim.start({"--link", link, "--meters", meters, "--log", log}),
//              qPrintable(sim.errorString()));
//     QCOMPARE(sim.command("fault 1 silent 2"), QString("ok"));
//     ...
//     QVERIFY(sim.stop());
//
// On Linux the simulator gets SIGTERM when the test process dies, so a crashed test leaves no
// simulator (and no link) behind.
class SimulatorProcess {
public:
    explicit SimulatorProcess(QString executableName);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts the simulator with `arguments` and waits for its "ready" line. False when it could
    // not start, exited, or printed nothing within the time-out; errorString() then says why,
    // with whatever the simulator wrote to standard error.
    bool start(const QStringList& arguments, int timeoutMs = 10000);

    // Sends one control command and waits for its answer: "ok", "error <text>", or the empty
    // string when none came within the time-out (errorString() says why).
    QString command(const QString& line, int timeoutMs = 5000);

    // Sends "quit" and waits for the exit; if it does not come, SIGTERM, then SIGKILL. True when
    // the simulator ended by itself with exit code 0.
    bool stop(int timeoutMs = 5000);
    // Sends SIGTERM and waits for the exit. True when it ended with exit code 0.
    bool terminate(int timeoutMs = 5000);

    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    // The device the simulator's link points to, from its "ready" line.
    QString devicePath() const { return devicePath_; }
    // The file given with --log, empty when none.
    QString logPath() const { return logPath_; }
    // The log's lines so far (empty when there is no log or no file yet).
    QStringList logLines() const;
    // Standard error so far.
    QString standardError();
    int exitCode() const { return process_.exitCode(); }
    QString errorString() const { return errorString_; }
    QProcess& process() { return process_; }

    // <TAMLO_BIN_DIR>/<executableName>
    static QString executablePath(const QString& executableName);
    // Writes `lines` (a meters file, for example), each ended with '\n'. False on failure.
    static bool writeTextFile(const QString& path, const QStringList& lines);
    static bool writeMetersFile(const QString& path, const QStringList& lines) {
        return writeTextFile(path, lines);
    }
    static QStringList readLines(const QString& path);

    // Runs a simulator to its end (--help, bad arguments) with standard input closed.
    struct Outcome {
        bool finished = false;  // false: did not start or end within the time-out (then killed)
        int exitCode = -1;
        QString standardOutput;
        QString standardError;
    };
    static Outcome runToEnd(const QString& executableName, const QStringList& arguments,
                            int timeoutMs = 10000);

private:
    // Waits for the next stdout line for which `accept` is true; lines before it are dropped.
    QString waitForLine(bool (*accept)(const QString&), int timeoutMs);
    void readOutput();
    bool waitForExit(int timeoutMs);

    QString executableName_;
    QProcess process_;
    QByteArray outputBuffer_;
    QStringList outputLines_;
    QString stderrText_;
    QString devicePath_;
    QString logPath_;
    QString errorString_;
};

}  // namespace tamlo::test
