#include "stationprocess.h"

#include <QProcessEnvironment>

#include "simulatorprocess.h"

#ifdef Q_OS_UNIX
#include <csignal>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

namespace tamlo::test {

StationProcess::StationProcess(QString executableName)
    : executableName_(std::move(executableName)) {}

StationProcess::~StationProcess() {
    if (isRunning()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool StationProcess::start(const QString& workingDirectory, int timeoutMs) {
    stderrText_.clear();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(workingDirectory);
#ifdef Q_OS_LINUX
    const quint64 limit = fileSizeLimit_;
    process_.setChildProcessModifier([limit] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (limit != 0) {
            ::signal(SIGXFSZ, SIG_DFL);
            struct rlimit r {};
            ::getrlimit(RLIMIT_FSIZE, &r);
            r.rlim_cur = limit;
            ::setrlimit(RLIMIT_FSIZE, &r);
        }
    });
#endif
    process_.start(SimulatorProcess::executablePath(executableName_), {});
    return process_.waitForStarted(timeoutMs);
}

void StationProcess::sendSignal(int signal) {
#ifdef Q_OS_UNIX
    ::kill(static_cast<pid_t>(process_.processId()), signal);
#else
    Q_UNUSED(signal);
    process_.kill();
#endif
}

bool StationProcess::waitForExit(int timeoutMs) {
    return !isRunning() || process_.waitForFinished(timeoutMs);
}

bool StationProcess::endedInOrder() const {
    return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

QString StationProcess::standardError() {
    stderrText_ += QString::fromLocal8Bit(process_.readAllStandardError());
    return stderrText_;
}

}  // namespace tamlo::test
