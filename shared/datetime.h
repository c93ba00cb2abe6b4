#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <stdexcept>

namespace tamlo {

// Date-time values at the edges of the system (files, labels, pickers) are days since
// 30 December 1899 00:00 local time, the fraction being the time of day.
using OleDate = double;

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kSecondsPerDay = 86'400;

// The date-times the programs can show: the years 100 to 9999, from 0100-01-01 00:00 up to but
// not including 10000-01-01 00:00.
constexpr OleDate kFirstOleDate = -657'434.0;
constexpr OleDate kEndOleDate = 2'958'466.0;
// Finite and within that range. Files are checked with this before their times are used.
bool isOleDateInRange(OleDate value);

// The conversions below throw DateRangeError for a date-time outside that range (NaN,
// infinite, 1e300, or a step that leaves it) rather than overflow their integers.
class DateRangeError : public std::range_error {
public:
    DateRangeError();
};

OleDate toOleDate(const QDateTime& local);
OleDate oleDateFromParts(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int msec = 0);
QDateTime fromOleDate(OleDate value);

// Whole milliseconds since the 1899 epoch, rounded to the nearest millisecond. Stepping through
// records is done on these integers (or on whole seconds) so that no fraction of a day accumulates.
std::int64_t oleDateToMs(OleDate value);
OleDate msToOleDate(std::int64_t ms);
// Whole seconds since the 1899 epoch (rounded to the nearest second), and back.
std::int64_t oleDateToSeconds(OleDate value);
OleDate secondsToOleDate(std::int64_t seconds);
OleDate addSeconds(OleDate base, std::int64_t seconds);
OleDate addMilliseconds(OleDate base, std::int64_t ms);

// Formats with the date-time patterns of the programs, case-insensitive:
//   yy / yyyy year (yy: two digits for 2000..2099, four otherwise), m / mm month (minutes
//   when it follows an hour), d / dd day, h / hh hour,
//   n / nn minute, s / ss second, z / zzz millisecond, text in 'single' or "double" quotes as is.
// Other characters are copied. Examples: "YY-MM-DD HH:NN:SS", "yy'年'mm'月'".
QString formatOleDate(const QString& pattern, OleDate value);
QString formatDateTime(const QString& pattern, const QDateTime& value);

// The clock of a program. Forms ask it instead of the system, so tests can set the time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    OleDate nowOle() const { return toOleDate(now()); }
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
};

}  // namespace tamlo
