#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tamlo {

// The orderly stop of the three programs: SIGTERM, SIGINT and SIGHUP (a shutdown, Ctrl+C, a
// closed terminal) run `stop` from the event loop, which closes the windows through their usual
// close path (history file, port and its lock file released) instead of dying where they stand.
// The handler only writes a byte to a pipe; everything else happens in the loop, also the loop
// of a modal box (which closes). The programs install it before they open a port or show a box.
//
// SIGXFSZ is ignored as well: a write past the file size limit then fails like any other write
// (and is reported) instead of killing the program.
class StopSignals : public QObject {
public:
    // What the constructor does for SIGXFSZ, for runs without an event loop (the exports of
    // the command line).
    static void ignoreFileSizeSignal();
    // A pipe whose reader went away: the write fails and is reported instead of killing the
    // program without a word (exports into a pipeline).
    static void ignoreBrokenPipeSignal();

public:
    explicit StopSignals(std::function<void()> stop, QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // True once a stop signal has been taken. One taken before the main loop runs (during a
    // box of the start-up) cannot quit a loop that is not running yet: the start-up asks this.
    bool stopRequested() const { return stopRequested_; }

    // The usual stop of a program: close every window (each runs its close path), then leave
    // the event loop (also when a dialog's loop is running).
    static void closeAllAndQuit();

private:
    void readSignal();

    std::function<void()> stop_;
    QSocketNotifier* notifier_ = nullptr;
    bool stopRequested_ = false;
};

}  // namespace tamlo
