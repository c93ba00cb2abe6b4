#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
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

// The messages' JSON, compact UTF-8 with the keys in a fixed order:
//   record: {"station":"s1","seq":42,"time":"2026-12-07T16:42:44+01:00","interval":5,
//            "devices":[{"index":0,"tag":"TI101","unit":"℃","value":25.5}, ...]}
//   live:   {"station":"s1","time":"...","devices":[...]}
//   link:   {"station":"s1","index":3,"tag":"TI101","linked":true,"time":"..."}
// A value is the shortest decimal that reads back as the same float; NaN and infinities are null.
QByteArray recordPayload(const QString& station, const Record& record, quint64 sequence);
QByteArray livePayload(const QString& station, const QDateTime& time,
                       const std::vector<DeviceValue>& devices);
QByteArray linkPayload(const QString& station, int index, const QString& tag, bool linked,
                       const QDateTime& time);

// "yyyy-MM-ddTHH:mm:ss±hh:mm": the time as its own clock showed it, with that clock's offset
// (never "Z").
QByteArray isoTime(const QDateTime& time);
// A JSON string literal, quotes included.
QByteArray jsonString(const QString& text);
// The shortest decimal form that reads back as the same float; "null" for NaN and infinities.
QByteArray jsonNumber(float value);

}  // namespace tamlo::mqtt
