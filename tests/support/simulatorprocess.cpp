#include "simulatorprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <csignal>
#endif

namespace tamlo::test {

namespace {

bool isReadyLine(const QString& line) {
    return line.startsWith(QLatin1String("ready "));
}
bool isAcknowledgement(const QString& line) {
    return line == QLatin1String("ok") || line.startsWith(QLatin1String("error"));
}

void setUpChild(QProcess& process) {
#ifdef Q_OS_LINUX
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#else
    Q_UNUSED(process);
#endif
}

}  // namespace

SimulatorProcess::SimulatorProcess(QString executableName)
    : executableName_(std::move(executableName)) {
    setUpChild(process_);
}

SimulatorProcess::~SimulatorProcess() {
    if (isRunning())
        stop(2000);
}

QString SimulatorProcess::executablePath(const QString& executableName) {
    QString name = executableName;
#ifdef Q_OS_WIN
    name += QLatin1String(".exe");
#endif
    return QDir(QStringLiteral(TAMLO_BIN_DIR)).filePath(name);
}

bool SimulatorProcess::start(const QStringList& arguments, int timeoutMs) {
    errorString_.clear();
    devicePath_.clear();
    outputBuffer_.clear();
    outputLines_.clear();
    stderrText_.clear();
    logPath_.clear();
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--log") && i + 1 < arguments.size()) {
            logPath_ = arguments[i + 1];
        } else if (arguments[i].startsWith(QLatin1String("--log="))) {
            logPath_ = arguments[i].mid(6);
        }
    }
    const QString program = executablePath(executableName_);
    process_.start(program, arguments);
    if (!process_.waitForStarted(timeoutMs)) {
        errorString_ = QStringLiteral("%1 did not start: %2").arg(program, process_.errorString());
        return false;
    }
    QString ready = waitForLine(isReadyLine, timeoutMs);
    if (ready.isEmpty()) {
        errorString_ = QStringLiteral("%1 did not print \"ready\" (%2); its standard error: %3")
                           .arg(executableName_, errorString_, standardError());
        if (isRunning()) {
            process_.kill();
            process_.waitForFinished(2000);
        }
        return false;
    }
    devicePath_ = ready.mid(6).trimmed();
    return true;
}

void SimulatorProcess::readOutput() {
    outputBuffer_ += process_.readAllStandardOutput();
    qsizetype end;
    while ((end = outputBuffer_.indexOf('\n')) >= 0) {
        outputLines_ << QString::fromUtf8(outputBuffer_.left(end)).trimmed();
        outputBuffer_.remove(0, end + 1);
    }
}

QString SimulatorProcess::waitForLine(bool (*accept)(const QString&), int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        readOutput();
        for (qsizetype i = 0; i < outputLines_.size(); ++i) {
            if (accept(outputLines_[i])) {
                QString line = outputLines_.takeAt(i);
                outputLines_.erase(outputLines_.begin(), outputLines_.begin() + i);
                return line;
            }
        }
        if (!isRunning()) {
            errorString_ = QStringLiteral("it exited with code %1").arg(process_.exitCode());
            return {};
        }
        if (deadline.hasExpired()) {
            errorString_ = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
            return {};
        }
        process_.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
}

QString SimulatorProcess::command(const QString& line, int timeoutMs) {
    errorString_.clear();
    if (!isRunning()) {
        errorString_ = QStringLiteral("%1 is not running").arg(executableName_);
        return {};
    }
    process_.write((line + QLatin1Char('\n')).toUtf8());
    process_.waitForBytesWritten(timeoutMs);
    QString answer = waitForLine(isAcknowledgement, timeoutMs);
    if (answer.isEmpty()) {
        errorString_ = QStringLiteral("\"%1\" got no answer: %2").arg(line, errorString_);
    }
    return answer;
}

bool SimulatorProcess::waitForExit(int timeoutMs) {
    if (isRunning())
        process_.waitForFinished(timeoutMs);
    readOutput();
    return !isRunning();
}

bool SimulatorProcess::stop(int timeoutMs) {
    if (!isRunning())
        return process_.exitStatus() == QProcess::NormalExit && exitCode() == 0;
    process_.write("quit\n");
    process_.closeWriteChannel();
    if (waitForExit(timeoutMs)) {
        return process_.exitStatus() == QProcess::NormalExit && exitCode() == 0;
    }
    errorString_ = QStringLiteral("%1 did not exit after quit").arg(executableName_);
    process_.terminate();
    if (!waitForExit(timeoutMs)) {
        process_.kill();
        process_.waitForFinished(timeoutMs);
    }
    return false;
}

bool SimulatorProcess::terminate(int timeoutMs) {
    if (!isRunning())
        return false;
    process_.terminate();
    if (waitForExit(timeoutMs)) {
        return process_.exitStatus() == QProcess::NormalExit && exitCode() == 0;
    }
    errorString_ = QStringLiteral("%1 did not exit on SIGTERM").arg(executableName_);
    process_.kill();
    process_.waitForFinished(timeoutMs);
    return false;
}

QStringList SimulatorProcess::logLines() const {
    return logPath_.isEmpty() ? QStringList() : readLines(logPath_);
}

QString SimulatorProcess::standardError() {
    stderrText_ += QString::fromUtf8(process_.readAllStandardError());
    return stderrText_;
}

bool SimulatorProcess::writeTextFile(const QString& path, const QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const QString& line : lines) {
        if (file.write((line + QLatin1Char('\n')).toUtf8()) < 0)
            return false;
    }
    return file.flush();
}

QStringList SimulatorProcess::readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    // Only whole lines: the simulator may be writing the next one.
    const QByteArray text = file.readAll();
    qsizetype start = 0;
    qsizetype end;
    while ((end = text.indexOf('\n', start)) >= 0) {
        lines << QString::fromUtf8(text.mid(start, end - start));
        start = end + 1;
    }
    return lines;
}

SimulatorProcess::Outcome SimulatorProcess::runToEnd(const QString& executableName,
                                                     const QStringList& arguments, int timeoutMs) {
    Outcome outcome;
    QProcess process;
    setUpChild(process);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(executablePath(executableName), arguments);
    outcome.finished = process.waitForStarted(timeoutMs) && process.waitForFinished(timeoutMs);
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished(timeoutMs);
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    outcome.standardError = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

}  // namespace tamlo::test
