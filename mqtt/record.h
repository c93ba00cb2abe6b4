#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <limits>
#include <optional>
#include <vector>

namespace tamlo::mqtt {

// What the window thread hands over: plain values, no widgets, no tables.
struct DeviceValue {
    int index = 0;
    QString tag;
    QString unit;
    std::optional<float> value;  // nullopt where the grid shows "Err"
};

struct Record {
    QDateTime time;    // the record's own time, local with its UTC offset
    int interval = 0;  // seconds between records
    std::vector<DeviceValue> devices;
};

// Which meter a message is about: its place in the device table (from 0), its bus address and
// channel, its tag.
struct MeterId {
    int index = 0;
    int address = 0;
    int channel = 0;
    QString tag;
};

inline constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();

// One raise, clear or acknowledgement of an alarm.
struct AlarmMessage {
    QDateTime time;
    MeterId meter;
    QString unit;
    QByteArray event;          // "raise", "clear", "ack"
    QByteArray kind;           // "high", "high_high", "low", "low_low", "link"
    double value = kNoNumber;  // shown units; NaN (null) for a link alarm
    double limit = kNoNumber;
};

// An alarm raised and not yet cleared.
struct ActiveAlarmMessage {
    MeterId meter;
    QString unit;
    QByteArray kind;
    QDateTime raised;
    double value = kNoNumber;
    double limit = kNoNumber;
    bool acknowledged = false;
};

// One meter's line quality since the station started or the operator reset the counts.
struct MeterStats {
    MeterId meter;
    quint64 requests = 0;
    quint64 answers = 0;
    quint64 timeouts = 0;
    quint64 refused = 0;
    quint64 retries = 0;
    QDateTime lastAnswer;         // invalid (null) before the first good reply
    double answeredLastHour = 0;  // share, 0 to 1
};

// The messages' JSON, compact UTF-8 with the keys in a fixed order:
//   record: {"station":"s1","seq":42,"time":"2026-12-07T16:42:44+01:00","interval":5,
//            "devices":[{"index":0,"tag":"TI101","unit":"℃","value":25.5}, ...]}
//   live:   {"station":"s1","time":"...","devices":[...]}
//   link:   {"station":"s1","index":3,"tag":"TI101","linked":true,"time":"..."}
//   alarm:  {"station":"s1","seq":7,"time":"...","index":2,"address":3,"channel":0,
//            "tag":"TI101","unit":"℃","event":"raise","kind":"high","value":85.2,"limit":80}
//   active: {"station":"s1","time":"...","alarms":[{"index":2,"address":3,"channel":0,
//            "tag":"TI101","unit":"℃","kind":"high","raised":"...","value":85.2,"limit":80,
//            "acknowledged":false}, ...]}
//   stats:  {"station":"s1","time":"...","meters":[{"index":0,"address":1,"channel":0,
//            "tag":"TI101","requests":120,"answers":118,"timeouts":1,"refused":1,"retries":2,
//            "last_answer":"..."|null,"answered_last_hour":0.9833}, ...]}
// A value is the shortest decimal that reads back as the same float; NaN and infinities are null.
QByteArray recordPayload(const QString& station, const Record& record, quint64 sequence);
QByteArray livePayload(const QString& station, const QDateTime& time,
                       const std::vector<DeviceValue>& devices);
QByteArray linkPayload(const QString& station, int index, const QString& tag, bool linked,
                       const QDateTime& time);
QByteArray alarmPayload(const QString& station, const AlarmMessage& alarm, quint64 sequence);
QByteArray activeAlarmsPayload(const QString& station, const QDateTime& time,
                               const std::vector<ActiveAlarmMessage>& alarms);
QByteArray statsPayload(const QString& station, const QDateTime& time,
                        const std::vector<MeterStats>& meters);

// "yyyy-MM-ddTHH:mm:ss±hh:mm": the time as its own clock showed it, with that clock's offset
// (never "Z").
QByteArray isoTime(const QDateTime& time);
// A JSON string literal, quotes included.
QByteArray jsonString(const QString& text);
// The shortest decimal form that reads back as the same float; "null" for NaN and infinities.
QByteArray jsonNumber(float value);
// A shown value or limit: a number that is a float (what the meter gave, scaled in single
// precision) in the float's shortest form, so 85.2f is "85.2" and not its double's 17 digits;
// any other in the double's shortest form; "null" for NaN and infinities.
QByteArray jsonNumber(double value);

}  // namespace tamlo::mqtt
