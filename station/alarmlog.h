#pragma once

#include <QByteArray>
#include <QString>
#include <deque>
#include <utility>

#include "alarms.h"

namespace tamlo::station {

// The alarm log: alarms/<YYYY>-<MM>.csv under the working directory, one file per month of the
// events' local time, UTF-8 with a byte-order mark, RFC 4180 with CR LF and a header row.
// Each line goes to the file by one write(2) before its event is told to anyone; the file is
// opened for it and closed again, as the history file is. The first write to a file in a run
// cuts a torn last line that a kill may have left. A file that cannot be written keeps the
// lines in memory, in order, until retry() can write them.
class AlarmLog {
public:
    // Lines kept while the file cannot be written; past it the oldest are dropped (and counted).
    static constexpr int kMaxWaiting = 10000;

    explicit AlarmLog(QString workingDirectory);

    // Writes the event's line after any that wait; false when it waits too.
    bool append(const AlarmEvent& event);
    // Writes the lines that wait; true when none waits any more.
    bool retry();

    // Empty while lines are written; else what the operator reads in the status bar.
    QString problem() const { return problem_; }
    int waiting() const { return static_cast<int>(waiting_.size()); }

    // "alarms/2026-12.csv" under the working directory, for a time's local month.
    QString pathFor(const QDateTime& time) const;
    // The bytes of one line and of the start of a new file.
    static QByteArray line(const AlarmEvent& event);
    static QByteArray fileStart();

private:
    bool write(const QString& path, const QByteArray& line);
    void noteProblem(const QString& path);

    QString workingDirectory_;
    std::deque<std::pair<QString, QByteArray>> waiting_;  // (file, line)
    QString checkedPath_;                                 // the file whose end this run has checked
    QString problem_;
    QString lastError_;  // why the last write failed
    quint64 dropped_ = 0;
};

}  // namespace tamlo::station
