#pragma once

#include <QList>
#include <array>
#include <cstdint>
#include <vector>

#include "alarms.h"
#include "devicetable.h"

namespace tamlo::station {

// Judges the active meters against their limits: at each answered poll, each lost link and each
// second (so a delay ends on time between polls). Everything a judgement needs is sized when
// the table or the settings are configured; a judgement allocates only for the events it gives.
// Times are milliseconds since the epoch, from the session's clock.
class AlarmEvaluator {
public:
    using Events = std::vector<AlarmEvent>;

    // Takes the settings for this table. A meter found again by its address and channel keeps its
    // state and alarms (an alarm whose limit is gone clears); an alarm of a meter that left the
    // table clears under its old index.
    void configure(const AlarmSettings& settings, const DeviceTable& active, qint64 nowMs,
                   Events& events);

    // Device answered with this shown value: a lost link clears, the limits are judged.
    void answered(int device, double value, qint64 nowMs, Events& events);
    // Device failed its turn: its limit alarm clears and "link" is raised.
    void linkLost(int device, qint64 nowMs, Events& events);
    // Raises the conditions whose delay ended since the last judgement.
    void tick(qint64 nowMs, Events& events);

    // False when there was no such unacknowledged alarm.
    bool acknowledge(int device, AlarmKind kind, qint64 nowMs, Events& events);
    void acknowledgeAll(qint64 nowMs, Events& events);

    QList<ActiveAlarm> activeAlarms() const;
    int unacknowledged() const;
    AlarmShade shade(int device) const;

private:
    // One raised alarm.
    struct Raised {
        bool on = false;
        bool acknowledged = false;
        AlarmKind kind = AlarmKind::High;
        qint64 raisedMs = 0;
        std::uint64_t order = 0;  // raise order, for the oldest-first list
        double value = kNoLimit;
        double limit = kNoLimit;
    };
    struct Meter {
        bool judged = false;  // alarms.ini has a section for it
        AlarmLimits limits;
        std::uint8_t address = 0;
        std::uint8_t channel = 0;
        QByteArray tag;
        QString unit;
        double value = kNoLimit;  // the last shown value
        bool linkLost = false;
        // Since when each limit condition holds (-1: it does not), by AlarmKind up to LowLow.
        std::array<qint64, 4> since{-1, -1, -1, -1};
        Raised limitAlarm;
        Raised linkAlarm;
    };

    void judge(int device, qint64 nowMs, Events& events);
    void raise(int device, Raised& alarm, AlarmKind kind, double value, double limit, qint64 nowMs,
               Events& events);
    void end(int device, const Meter& meter, Raised& alarm, AlarmEventType type, qint64 nowMs,
             Events& events);
    static double limitOf(const AlarmLimits& limits, AlarmKind kind);

    std::array<Meter, kDeviceSlots> meters_{};
    DeviceTable table_;  // the table configured, to find its meters again in the next one
    int count_ = 0;
    std::uint64_t nextOrder_ = 0;
};

}  // namespace tamlo::station
