#include "stationpublishing.h"

#include <cmath>
#include <cstdio>

#include "mqtt/mqttsettings.h"
#include "mqtt/publisher.h"
#include "mqtt/record.h"
#include "recordcycle.h"
#include "shared/gbk.h"

namespace tamlo::station {

namespace {

mqtt::DeviceValue deviceValue(const DeviceTable& active, int i, std::optional<float> value) {
    const DeviceEntry& entry = active.entries[static_cast<std::size_t>(i)];
    return mqtt::DeviceValue{i, gbkToString(entry.tagBytes()), entry.unitName(), value};
}

mqtt::MeterId meterId(const DeviceTable& active, int i) {
    const DeviceEntry& entry = active.entries[static_cast<std::size_t>(i)];
    return {i, entry.address, entry.channel, gbkToString(entry.tagBytes())};
}

constexpr int kStatsSeconds = 60;

void report(const QString& text) {
    std::fprintf(stderr, "tamlo_pro: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

}  // namespace

StationPublishing::StationPublishing(std::unique_ptr<mqtt::Publisher> publisher, bool live)
    : publisher_(std::move(publisher)), live_(live) {}

StationPublishing::~StationPublishing() = default;

StationPublishing::Started StationPublishing::start(const QString& workingDirectory) {
    Started started;
    const mqtt::LoadedSettings loaded = mqtt::loadSettings(workingDirectory);
    if (!loaded.error.isEmpty()) {
        started.message = loaded.error;
    } else if (loaded.settings.enabled) {
        auto publisher = std::make_unique<mqtt::Publisher>(workingDirectory, loaded.settings);
        QString error;
        if (publisher->start(&error)) {
            report(publisher->statusText());
            started.publishing.reset(
                new StationPublishing(std::move(publisher), loaded.settings.live));
        } else {
            started.message = error;
        }
    }
    if (!started.message.isEmpty()) {
        started.message = QStringLiteral("MQTT 发布未启动：") + started.message;
        report(started.message);
    }
    return started;
}

void StationPublishing::record(const QDateTime& time, std::uint16_t interval,
                               const DeviceTable& active, const float* values,
                               const QStringList& texts) {
    mqtt::Record record{time, interval, {}};
    record.devices.reserve(static_cast<std::size_t>(active.count));
    for (int i = 0; i < active.count; ++i) {
        const bool shown = i < texts.size() && texts[i] != QLatin1String(kErrText);
        record.devices.push_back(
            deviceValue(active, i, shown ? std::optional<float>(values[i]) : std::nullopt));
    }
    publisher_->publishRecord(record);
}

void StationPublishing::linkChanged(int device, const DeviceTable& active, bool answered,
                                    const QDateTime& time) {
    if (device < 0 || device >= active.count) {
        return;
    }
    publisher_->publishLinkState(
        device, gbkToString(active.entries[static_cast<std::size_t>(device)].tagBytes()), answered,
        time);
}

void StationPublishing::secondTicked(const QDateTime& time, const DeviceTable& active,
                                     const LiveValueTable& live) {
    if (!live_) {
        return;
    }
    std::vector<mqtt::DeviceValue> devices;
    devices.reserve(static_cast<std::size_t>(active.count));
    for (int i = 0; i < active.count; ++i) {
        const LiveValue& value = live[static_cast<std::size_t>(i)];
        devices.push_back(deviceValue(
            active, i, value.valid ? std::optional<float>(engineeringValue(value)) : std::nullopt));
    }
    publisher_->publishLive(time, devices);
}

void StationPublishing::alarmEvent(const AlarmEvent& event) {
    mqtt::AlarmMessage message;
    message.time = event.time;
    message.meter = {event.device, event.address, event.channel, gbkToString(event.tag)};
    message.unit = event.unit;
    message.event = alarmEventName(event.type);
    message.kind = alarmKindName(event.kind);
    message.value = event.value;
    message.limit = event.limit;
    publisher_->publishAlarm(message);
}

void StationPublishing::activeAlarms(const QDateTime& time, const DeviceTable& active,
                                     const QList<ActiveAlarm>& alarms) {
    std::vector<mqtt::ActiveAlarmMessage> list;
    list.reserve(static_cast<std::size_t>(alarms.size()));
    for (const ActiveAlarm& alarm : alarms) {
        if (alarm.device < 0 || alarm.device >= active.count) {
            continue;
        }
        list.push_back({meterId(active, alarm.device),
                        active.entries[static_cast<std::size_t>(alarm.device)].unitName(),
                        alarmKindName(alarm.kind), alarm.raised, alarm.value, alarm.limit,
                        alarm.acknowledged});
    }
    publisher_->publishActiveAlarms(time, list);
}

bool StationPublishing::countStatsSecond() {
    statsSeconds_ = (statsSeconds_ + 1) % kStatsSeconds;
    return statsSeconds_ == 0;
}

void StationPublishing::stats(const QDateTime& time, const DeviceTable& active,
                              const std::vector<CommStats>& lines) {
    std::vector<mqtt::MeterStats> meters;
    meters.reserve(lines.size());
    for (int i = 0; i < active.count && i < static_cast<int>(lines.size()); ++i) {
        const CommStats& s = lines[static_cast<std::size_t>(i)];
        meters.push_back({meterId(active, i), s.requests, s.answers, s.timeouts, s.refused,
                          s.retries, s.lastAnswer, s.answeredLastHour});
    }
    publisher_->publishStats(time, meters);
}

QString StationPublishing::statusText() const {
    const mqtt::Publisher::Status status = publisher_->status();
    const QString text = mqtt::Publisher::statusText(status);
    return status.notice.isEmpty() ? text : text + QStringLiteral("\n") + status.notice;
}

mqtt::Publisher::Status StationPublishing::status() const {
    return publisher_->status();
}

}  // namespace tamlo::station
