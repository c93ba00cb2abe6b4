#include "record.h"

#include <charconv>
#include <cmath>

namespace tamlo::mqtt {

QByteArray isoTime(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    QByteArray text = time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
    text += offset < 0 ? '-' : '+';
    text += QByteArray::number(minutes / 60).rightJustified(2, '0');
    text += ':';
    text += QByteArray::number(minutes % 60).rightJustified(2, '0');
    return text;
}

QByteArray jsonString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            switch (c) {
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                default:
                    out += "\\u00";
                    out += hex[u >> 4];
                    out += hex[u & 15];
            }
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

QByteArray jsonNumber(float value) {
    if (!std::isfinite(value))
        return QByteArrayLiteral("null");
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

QByteArray jsonNumber(double value) {
    if (!std::isfinite(value))
        return QByteArrayLiteral("null");
    const auto narrow = static_cast<float>(value);
    if (static_cast<double>(narrow) == value)
        return jsonNumber(narrow);
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QByteArray(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

namespace {

void appendMeter(QByteArray& out, const MeterId& meter) {
    out += "\"index\":";
    out += QByteArray::number(meter.index);
    out += ",\"address\":";
    out += QByteArray::number(meter.address);
    out += ",\"channel\":";
    out += QByteArray::number(meter.channel);
    out += ",\"tag\":";
    out += jsonString(meter.tag);
}

void appendTime(QByteArray& out, const char* key, const QDateTime& time) {
    out += ",\"";
    out += key;
    out += "\":";
    if (time.isValid()) {
        out += '"';
        out += isoTime(time);
        out += '"';
    } else {
        out += "null";
    }
}

void appendWord(QByteArray& out, const char* key, const QByteArray& word) {
    out += ",\"";
    out += key;
    out += "\":\"";
    out += word;
    out += '"';
}

void appendValueAndLimit(QByteArray& out, double value, double limit) {
    out += ",\"value\":";
    out += jsonNumber(value);
    out += ",\"limit\":";
    out += jsonNumber(limit);
}

void appendDevices(QByteArray& out, const std::vector<DeviceValue>& devices) {
    out += "\"devices\":[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceValue& d = devices[i];
        if (i > 0)
            out += ',';
        out += "{\"index\":";
        out += QByteArray::number(d.index);
        out += ",\"tag\":";
        out += jsonString(d.tag);
        out += ",\"unit\":";
        out += jsonString(d.unit);
        out += ",\"value\":";
        out += d.value ? jsonNumber(*d.value) : QByteArrayLiteral("null");
        out += '}';
    }
    out += ']';
}

QByteArray begin(const QString& station) {
    QByteArray out;
    out.reserve(256);
    out += "{\"station\":";
    out += jsonString(station);
    return out;
}

}  // namespace

QByteArray recordPayload(const QString& station, const Record& record, quint64 sequence) {
    QByteArray out = begin(station);
    out.reserve(96 + 64 * static_cast<qsizetype>(record.devices.size()));
    out += ",\"seq\":";
    out += QByteArray::number(sequence);
    out += ",\"time\":\"";
    out += isoTime(record.time);
    out += "\",\"interval\":";
    out += QByteArray::number(record.interval);
    out += ',';
    appendDevices(out, record.devices);
    out += '}';
    return out;
}

QByteArray livePayload(const QString& station, const QDateTime& time,
                       const std::vector<DeviceValue>& devices) {
    QByteArray out = begin(station);
    out += ",\"time\":\"";
    out += isoTime(time);
    out += "\",";
    appendDevices(out, devices);
    out += '}';
    return out;
}

QByteArray linkPayload(const QString& station, int index, const QString& tag, bool linked,
                       const QDateTime& time) {
    QByteArray out = begin(station);
    out += ",\"index\":";
    out += QByteArray::number(index);
    out += ",\"tag\":";
    out += jsonString(tag);
    out += ",\"linked\":";
    out += linked ? "true" : "false";
    out += ",\"time\":\"";
    out += isoTime(time);
    out += "\"}";
    return out;
}

QByteArray alarmPayload(const QString& station, const AlarmMessage& alarm, quint64 sequence) {
    QByteArray out = begin(station);
    out += ",\"seq\":";
    out += QByteArray::number(sequence);
    appendTime(out, "time", alarm.time);
    out += ',';
    appendMeter(out, alarm.meter);
    out += ",\"unit\":";
    out += jsonString(alarm.unit);
    appendWord(out, "event", alarm.event);
    appendWord(out, "kind", alarm.kind);
    appendValueAndLimit(out, alarm.value, alarm.limit);
    out += '}';
    return out;
}

namespace {

// {"station":..,"time":..,"<key>":[{<meter>...}, ...]}: `item` writes each element's fields
// after its meter's.
template <typename T, typename Item>
QByteArray meterList(const QString& station, const QDateTime& time, const char* key,
                     const std::vector<T>& list, Item item) {
    QByteArray out = begin(station);
    appendTime(out, "time", time);
    out += ",\"";
    out += key;
    out += "\":[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        out += i > 0 ? ",{" : "{";
        appendMeter(out, list[i].meter);
        item(out, list[i]);
        out += '}';
    }
    out += "]}";
    return out;
}

}  // namespace

QByteArray activeAlarmsPayload(const QString& station, const QDateTime& time,
                               const std::vector<ActiveAlarmMessage>& alarms) {
    return meterList(station, time, "alarms", alarms,
                     [](QByteArray& out, const ActiveAlarmMessage& a) {
                         out += ",\"unit\":";
                         out += jsonString(a.unit);
                         appendWord(out, "kind", a.kind);
                         appendTime(out, "raised", a.raised);
                         appendValueAndLimit(out, a.value, a.limit);
                         out += ",\"acknowledged\":";
                         out += a.acknowledged ? "true" : "false";
                     });
}

QByteArray statsPayload(const QString& station, const QDateTime& time,
                        const std::vector<MeterStats>& meters) {
    return meterList(station, time, "meters", meters, [](QByteArray& out, const MeterStats& m) {
        for (const auto& [key, count] :
             {std::pair{"requests", m.requests}, std::pair{"answers", m.answers},
              std::pair{"timeouts", m.timeouts}, std::pair{"refused", m.refused},
              std::pair{"retries", m.retries}}) {
            out += ",\"";
            out += key;
            out += "\":";
            out += QByteArray::number(count);
        }
        appendTime(out, "last_answer", m.lastAnswer);
        out += ",\"answered_last_hour\":";
        out += jsonNumber(m.answeredLastHour);
    });
}

}  // namespace tamlo::mqtt
