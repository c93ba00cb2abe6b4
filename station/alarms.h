#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <limits>
#include <map>
#include <utility>

namespace tamlo::station {

// What a meter's alarm is about. A meter may hold one limit alarm and a link alarm at most:
// a lost link replaces its limit alarm (stale values are not judged).
enum class AlarmKind : std::uint8_t { High, HighHigh, Low, LowLow, Link };
inline constexpr int kAlarmKinds = 5;
// "high", "high_high", "low", "low_low", "link": the words of the log, the broker and alarms.ini.
const char* alarmKindName(AlarmKind kind);

enum class AlarmEventType : std::uint8_t { Raise, Clear, Ack };
// "raise", "clear", "ack".
const char* alarmEventName(AlarmEventType type);

inline constexpr double kNoLimit = std::numeric_limits<double>::quiet_NaN();

// One meter's section of alarms.ini, "[meter <address>.<channel>]". Limits are in shown units
// (the raw reading with its decimals applied); NaN where a limit is not set.
struct AlarmLimits {
    double high = kNoLimit;
    double low = kNoLimit;
    double highHigh = kNoLimit;
    double lowLow = kNoLimit;
    double deadband = 0;    // a raised limit clears once the value is back inside by this much
    int delaySeconds = 0;   // how long a condition must hold before it is raised
    bool link = true;       // raise "link" when the meter stops answering
};

// alarms.ini as a whole.
struct AlarmSettings {
    bool sound = true;  // [alarms] sound: the bell while an alarm waits for its acknowledgement
    std::map<std::pair<std::uint8_t, std::uint8_t>, AlarmLimits> meters;  // by (address, channel)

    // The section of a meter, or null when alarms.ini has none for it.
    const AlarmLimits* find(std::uint8_t address, std::uint8_t channel) const;
};

struct AlarmSettingsLoad {
    enum class Outcome { Absent, Loaded, Refused };
    Outcome outcome = Outcome::Absent;
    AlarmSettings settings;
    // When refused: one line for the operator naming the file, the line number and the key,
    // e.g. "alarms.ini 第 7 行 high：不是数字（abc）".
    QString message;
};
// Reads alarms.ini. Absent: no file, the station runs without alarms, exactly as before.
AlarmSettingsLoad loadAlarmSettings(const QString& path);
// Writes the settings through a temporary file beside `path` and a rename, so a kill never
// leaves half a file. False with the reason in `error`.
bool saveAlarmSettings(const QString& path, const AlarmSettings& settings, QString* error);

// One line of the alarm log and one message to the broker.
struct AlarmEvent {
    QDateTime time;             // local time, written with its UTC offset
    int device = -1;            // index in the active table; 序号 is device + 1
    std::uint8_t address = 0;
    std::uint8_t channel = 0;
    QByteArray tag;             // GBK bytes, as stored in config.dat
    QString unit;
    AlarmEventType type = AlarmEventType::Raise;
    AlarmKind kind = AlarmKind::High;
    double value = kNoLimit;    // shown value; NaN for a link alarm
    double limit = kNoLimit;    // the limit crossed; NaN for a link alarm
};

// An alarm that is raised and not yet cleared (it stays listed, acknowledged or not, until it
// clears; a cleared alarm that was never acknowledged leaves the list too).
struct ActiveAlarm {
    int device = -1;
    AlarmKind kind = AlarmKind::High;
    QDateTime raised;
    double value = kNoLimit;  // the value when raised
    double limit = kNoLimit;
    bool acknowledged = false;
};

// How a device's row in the data grid and its tile show its unacknowledged alarm.
enum class AlarmShade : std::uint8_t {
    None,        // no alarm, or acknowledged
    Text,        // high or low: red text
    Background,  // high_high, low_low or link: red background
};

// One meter's line quality since the last reset.
struct CommStats {
    std::uint64_t requests = 0;  // exchanges asked
    std::uint64_t answers = 0;   // good replies taken
    std::uint64_t timeouts = 0;  // no byte came back
    std::uint64_t refused = 0;   // a reply came but was refused: CRC, length, address or function
    std::uint64_t retries = 0;   // second and third tries within a turn
    QDateTime lastAnswer;        // invalid until the first good reply
    double answeredLastHour = 0; // share of requests answered over the last hour, 0 to 1
};

}  // namespace tamlo::station
