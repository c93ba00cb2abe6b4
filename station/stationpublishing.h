#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "alarms.h"
#include "devicetable.h"
#include "mqtt/publisher.h"
#include "pollcycle.h"

namespace tamlo::station {

// The station's records, link states and (if asked) live values on an MQTT broker, as mqtt.ini
// in the working directory sets it up. Without that file nothing is published and nothing of
// this runs. What goes out is handed to the publisher, which keeps it on disk until the broker
// has it and talks to the broker on its own thread: nothing here waits for the network.
class StationPublishing {
public:
    ~StationPublishing();
    StationPublishing(const StationPublishing&) = delete;
    StationPublishing& operator=(const StationPublishing&) = delete;

    struct Started {
        std::unique_ptr<StationPublishing> publishing;  // null: off, or refused
        QString message;                                // why it was refused; empty when off
    };
    static Started start(const QString& workingDirectory);

    // One history record: `time` as the history file dates it, the values as recorded, `texts`
    // as the data grid shows them ("Err" for a device without a value this second).
    void record(const QDateTime& time, std::uint16_t interval, const DeviceTable& active,
                const float* values, const QStringList& texts);
    void linkChanged(int device, const DeviceTable& active, bool answered, const QDateTime& time);
    // The live values, when mqtt.ini asks for them; once a second.
    void secondTicked(const QDateTime& time, const DeviceTable& active, const LiveValueTable& live);

    // One raise, clear or acknowledgement: queued on disk with the next alarm sequence number.
    void alarmEvent(const AlarmEvent& event);
    // The alarms raised and not cleared, after each change (retained on the broker).
    void activeAlarms(const QDateTime& time, const DeviceTable& active,
                      const QList<ActiveAlarm>& alarms);
    // Counts one second of the station's tick; true once every minute, when the line
    // statistics are due.
    bool countStatsSecond();
    // Each active meter's line statistics, `lines[i]` for device i.
    void stats(const QDateTime& time, const DeviceTable& active,
               const std::vector<CommStats>& lines);

    // The status bar's tool tip: connected or not, records waiting, last error; below it what
    // opening the queue mended, if anything.
    QString statusText() const;
    mqtt::Publisher::Status status() const;

private:
    StationPublishing(std::unique_ptr<mqtt::Publisher> publisher, bool live);

    std::unique_ptr<mqtt::Publisher> publisher_;
    bool live_ = false;
    int statsSeconds_ = 0;
};

}  // namespace tamlo::station
