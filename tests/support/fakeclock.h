#pragma once

#include <QDateTime>

#include "shared/datetime.h"

namespace tamlo::test {

// A clock that shows a set time, and optionally follows the real clock from there.
class FakeClock final : public Clock {
public:
    explicit FakeClock(const QDateTime& start = QDateTime(QDate(2026, 12, 7), QTime(10, 45, 18)))
        : now_(start) {}
    QDateTime now() const override { return now_; }
    void set(const QDateTime& t) { now_ = t; }
    void advanceSeconds(qint64 s) { now_ = now_.addSecs(s); }
    void advanceMs(qint64 ms) { now_ = now_.addMSecs(ms); }

private:
    QDateTime now_;
};

}  // namespace tamlo::test
