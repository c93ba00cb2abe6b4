#include "stopsignals.h"

#include <QApplication>
#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace tamlo {

namespace {

#ifndef Q_OS_WIN
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int wakePipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}
#endif

}  // namespace

void StopSignals::ignoreFileSizeSignal() {
#ifndef Q_OS_WIN
    ::signal(SIGXFSZ, SIG_IGN);
#endif
}

void StopSignals::ignoreBrokenPipeSignal() {
#ifndef Q_OS_WIN
    ::signal(SIGPIPE, SIG_IGN);
#endif
}

StopSignals::StopSignals(std::function<void()> stop, QObject* parent)
    : QObject(parent), stop_(std::move(stop)) {
    ignoreFileSizeSignal();
#ifndef Q_OS_WIN
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // no pipe: the signals keep their default action
    }
    notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignal(); });
    for (const int s : kStopSignals) {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(s, &action, nullptr);
    }
#endif
}

StopSignals::~StopSignals() {
#ifndef Q_OS_WIN
    for (const int s : kStopSignals) {
        ::signal(s, SIG_DFL);
    }
#endif
}

void StopSignals::readSignal() {
#ifndef Q_OS_WIN
    char bytes[16];
    bool any = false;
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
        any = true;
    }
    if (any && stop_) {
        stopRequested_ = true;
        stop_();
    }
#endif
}

void StopSignals::closeAllAndQuit() {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

}  // namespace tamlo
