#pragma once

#include <QProcess>
#include <QString>

namespace tamlo::test {

// One of the programs (tamlo_pro by default) run as a child process in a working directory, on the
// offscreen platform, for tests that stop it the way the system does: with a signal.
class StationProcess {
public:
    explicit StationProcess(QString executableName = QStringLiteral("tamlo_pro"));
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // The child starts with this file size limit (RLIMIT_FSIZE) and SIGXFSZ at its default
    // action: a program that does not ignore the signal dies on its first write past the limit.
    void setFileSizeLimit(quint64 bytes) { fileSizeLimit_ = bytes; }
    bool start(const QString& workingDirectory, int timeoutMs = 10000);
    void sendSignal(int signal);
    // Waits for the end; true when it came within the time-out.
    bool waitForExit(int timeoutMs = 10000);
    // After the end: true when the program returned from main with exit code 0.
    bool endedInOrder() const;
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    QString standardError();
    QProcess& process() { return process_; }

private:
    QString executableName_;
    QProcess process_;
    QString stderrText_;
    quint64 fileSizeLimit_ = 0;  // 0: none
};

}  // namespace tamlo::test
