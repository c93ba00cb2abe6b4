#pragma once

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

#include "mqttsettings.h"
#include "record.h"

namespace tamlo::mqtt {

// Publishes a station's records, link states and live values to an MQTT broker.
//
// The window thread only hands values over; a worker thread owns the client and does every
// network step (name look-up, connect, TLS handshake, retries with back-off 1 s doubling to
// 30 s). Records go through the disk queue (recordqueue.h) in the working directory and leave
// it, in order, once the broker has acknowledged them; each connection resends from the first
// unacknowledged record. Alarm events go the same way through a queue of their own, with their
// own sequence. Topics: <prefix>/<station>/record, /alarm, /alarms/active (retained),
// /link/<index> (retained), /status (retained "online", last will "offline"), /live and /stats
// (QoS 0).
class Publisher {
public:
    Publisher(QString workingDirectory, Settings settings);
    // Publishes "offline", disconnects and saves the queue's state; waiting records stay on
    // disk for the next run.
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Opens (or recovers) the queue and starts the worker. False, with the reason, when the
    // queue cannot be opened; nothing is published then.
    bool start(QString* error);

    // Window thread. The record takes the next sequence number and is in the queue file when
    // this returns; never waits for the network.
    void publishRecord(const Record& record);
    // Window thread. The event takes the next alarm sequence number and is in its queue file
    // when this returns.
    void publishAlarm(const AlarmMessage& alarm);
    // The list of active alarms after a change; the latest is sent (retained) at once when
    // connected, and again on every connection.
    void publishActiveAlarms(const QDateTime& time, const std::vector<ActiveAlarmMessage>& alarms);
    // A snapshot at QoS 0: dropped while not connected, and when a newer one comes before it
    // was sent.
    void publishStats(const QDateTime& time, const std::vector<MeterStats>& meters);
    // Sent when the state (or the device's tag) differs from the last one handed over; the
    // latest state per device is sent again on every connection (retained).
    void publishLinkState(int index, const QString& tag, bool linked, const QDateTime& time);
    // Only with `live` set; dropped while not connected, and when a newer one comes before it
    // was sent.
    void publishLive(const QDateTime& time, const std::vector<DeviceValue>& devices);

    struct Status {
        bool connected = false;
        qint64 waiting = 0;  // records not yet acknowledged by the broker
        quint64 nextSequence = 0;
        QString lastError;
        QString broker;  // "host:port"
        qint64 dropped = 0;
        QString notice;            // what opening the queue mended, said once on standard error
        qint64 alarmsWaiting = 0;  // alarm events not yet acknowledged by the broker
    };
    Status status() const;  // any thread
    // One line for the status bar's tool tip and standard error (without the notice).
    QString statusText() const;
    static QString statusText(const Status& status);

    // Retry delays (tests shorten them); call before start().
    void setRetryDelays(int firstMs, int maxMs);
    // How long a connection may take up to the broker's answer; call before start().
    void setConnectTimeout(int ms);
    // How long a connected broker may stay silent before the station asks, and as long again
    // for its answer (at least 5 s); call before start().
    void setKeepAlive(int seconds);

private:
    class Worker;  // the thread and the client
    std::unique_ptr<Worker> worker_;
};

// mosquitto_lib_init, once per process.
void initLibrary();

}  // namespace tamlo::mqtt
