#include "datetime.h"

#include <QTimeZone>
#include <cmath>

namespace tamlo {
namespace {

// A function, not a global object: other files' globals may convert dates before this file's
// globals are initialised.
QDate epoch() { return QDate(1899, 12, 30); }

constexpr std::int64_t kFirstMs = static_cast<std::int64_t>(kFirstOleDate) * kMsPerDay;
constexpr std::int64_t kEndMs = static_cast<std::int64_t>(kEndOleDate) * kMsPerDay;
// Larger steps leave the range from anywhere within it; smaller ones cannot overflow.
constexpr std::int64_t kLongestStepMs = kEndMs - kFirstMs;

std::int64_t checkedMs(std::int64_t ms) {
    if (ms < kFirstMs || ms >= kEndMs) {
        throw DateRangeError();
    }
    return ms;
}

std::int64_t checkedStep(std::int64_t step, std::int64_t unitMs) {
    if (step > kLongestStepMs / unitMs || step < -kLongestStepMs / unitMs) {
        throw DateRangeError();
    }
    return step * unitMs;
}

std::int64_t checkedDays(std::int64_t days) {
    return checkedStep(days, kMsPerDay);
}

}  // namespace

DateRangeError::DateRangeError()
    : std::range_error("日期时间超出可表示的范围（100 年至 9999 年）。") {}

bool isOleDateInRange(OleDate value) {
    return std::isfinite(value) && value >= kFirstOleDate && value < kEndOleDate;
}

OleDate toOleDate(const QDateTime& local) {
    const QDateTime l = local.toLocalTime();
    return msToOleDate(checkedDays(epoch().daysTo(l.date())) + l.time().msecsSinceStartOfDay());
}

OleDate oleDateFromParts(int year, int month, int day, int hour, int minute, int second,
                         int msec) {
    const QDate date(year, month, day);
    if (!date.isValid()) {
        throw DateRangeError();
    }
    const std::int64_t ms = ((hour * 60LL + minute) * 60LL + second) * 1000LL + msec;
    return msToOleDate(checkedDays(epoch().daysTo(date)) + ms);
}

std::int64_t oleDateToMs(OleDate value) {
    if (!isOleDateInRange(value)) {
        throw DateRangeError();
    }
    return static_cast<std::int64_t>(std::llround(value * static_cast<double>(kMsPerDay)));
}

OleDate msToOleDate(std::int64_t ms) {
    checkedMs(ms);
    // Whole days plus the fraction, so that the day part is exact in the double.
    const std::int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
    const std::int64_t rest = ms - days * kMsPerDay;
    return static_cast<double>(days) + static_cast<double>(rest) / static_cast<double>(kMsPerDay);
}

std::int64_t oleDateToSeconds(OleDate value) {
    if (!isOleDateInRange(value)) {
        throw DateRangeError();
    }
    return std::llround(value * static_cast<double>(kSecondsPerDay));
}

OleDate secondsToOleDate(std::int64_t seconds) {
    return msToOleDate(checkedStep(seconds, 1000));
}

OleDate addSeconds(OleDate base, std::int64_t seconds) {
    return msToOleDate(oleDateToMs(base) + checkedStep(seconds, 1000));
}

OleDate addMilliseconds(OleDate base, std::int64_t ms) {
    return msToOleDate(oleDateToMs(base) + checkedStep(ms, 1));
}

QDateTime fromOleDate(OleDate value) {
    const std::int64_t ms = oleDateToMs(value);
    const std::int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
    const int rest = static_cast<int>(ms - days * kMsPerDay);
    return QDateTime(epoch().addDays(days), QTime::fromMSecsSinceStartOfDay(rest));
}

QString formatOleDate(const QString& pattern, OleDate value) {
    return formatDateTime(pattern, fromOleDate(value));
}

QString formatDateTime(const QString& pattern, const QDateTime& value) {
    const QDate date = value.date();
    const QTime time = value.time();
    QString out;
    bool lastWasHour = false;
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = pattern.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? pattern.size() : end;
            out += pattern.mid(i + 1, stop - i - 1);
            i = stop + 1;
            continue;
        }
        const QChar lower = c.toLower();
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern[i + run].toLower() == lower) {
            ++run;
        }
        switch (lower.unicode()) {
            case 'y':
                // Two digits stand for 2000..2099 only; other years keep all four, so that
                // 1998 never reads as 98 beside 2098 (labels, texts, printed pages).
                out += run >= 3 || date.year() < 2000 || date.year() > 2099
                           ? QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'))
                           : two(date.year() % 100);
                break;
            case 'm':
                if (lastWasHour) {
                    out += run >= 2 ? two(time.minute()) : QString::number(time.minute());
                } else {
                    out += run >= 2 ? two(date.month()) : QString::number(date.month());
                }
                break;
            case 'd':
                out += run >= 2 ? two(date.day()) : QString::number(date.day());
                break;
            case 'h':
                out += run >= 2 ? two(time.hour()) : QString::number(time.hour());
                break;
            case 'n':
                out += run >= 2 ? two(time.minute()) : QString::number(time.minute());
                break;
            case 's':
                out += run >= 2 ? two(time.second()) : QString::number(time.second());
                break;
            case 'z':
                out += run >= 3 ? QStringLiteral("%1").arg(time.msec(), 3, 10, QLatin1Char('0'))
                                : QString::number(time.msec());
                break;
            default:
                out += pattern.mid(i, run);
                break;
        }
        if (lower == QLatin1Char('h')) {
            lastWasHour = true;
        } else if (lower.isLetter()) {
            lastWasHour = false;
        }
        i += run;
    }
    return out;
}

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

}  // namespace tamlo
