// Store and forward at scale: 100,000 records of 63 devices are handed to the publisher while
// no broker runs (the time the window thread spends on them), then a local Mosquitto started
// here takes them: the drain rate, from the connection to the last acknowledgement, and what a
// subscriber counted.
//   bench_mqtt [records]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <cstdio>

#include "bench/benchtiming.h"
#include "mosquittobroker.h"
#include "mqtt/publisher.h"
#include "mqtt/recordqueue.h"

using namespace tamlo::mqtt;
using tamlo::test::MosquittoBroker;
using tamlo::test::MqttSubscriber;

namespace {

Record sampleRecord(int i) {
    Record r;
    r.time = QDateTime(QDate(2026, 12, 7), QTime(0, 0), QTimeZone(3600)).addSecs(i);
    r.interval = 1;
    for (int d = 0; d < 63; ++d) {
        std::optional<float> value = static_cast<float>((i + d) % 20000) / 10;
        if (d == 5)
            value.reset();
        r.devices.push_back({d, QStringLiteral("TI%1").arg(100 + d), QStringLiteral("℃"), value});
    }
    return r;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (MosquittoBroker::executable().isEmpty()) {
        std::printf("bench_mqtt: the mosquitto broker is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    MosquittoBroker broker(dir.path());
    const int port = MosquittoBroker::freePort();

    Settings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.station = QStringLiteral("bench");
    settings.clientId = QStringLiteral("tamlo-bench");
    settings.queueMb = 1000;
    Publisher publisher(dir.path(), settings);
    publisher.setRetryDelays(50, 50);
    QString error;
    if (!publisher.start(&error)) {
        std::printf("bench_mqtt: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<Record> samples;
    for (int i = 0; i < 100; ++i) samples.push_back(sampleRecord(i));

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < records; ++i)
        publisher.publishRecord(samples[static_cast<std::size_t>(i % 100)]);
    const double appendMs = timer.nsecsElapsed() / 1e6;
    const qint64 payloadBytes = recordPayload(settings.station, samples[0], 100000).size();
    std::printf("appending %d records of 63 devices (%lld bytes each): %.0f ms, %.1f us a record\n",
                records, static_cast<long long>(payloadBytes), appendMs, appendMs * 1000 / records);
    // An alarm event takes the same way through a queue of its own; what it costs the window
    // thread beside a record.
    const AlarmMessage alarm{samples[0].time,
                             {3, 4, 0, QStringLiteral("TI103")},
                             QStringLiteral("℃"),
                             "raise",
                             "high",
                             85.2f,
                             80};
    const int alarms = std::max(1, records / 10);
    timer.restart();
    for (int i = 0; i < alarms; ++i) publisher.publishAlarm(alarm);
    const double alarmMs = timer.nsecsElapsed() / 1e6;
    std::printf("appending %d alarm events: %.0f ms, %.1f us an event\n", alarms, alarmMs,
                alarmMs * 1000 / alarms);
    // Every entry is checksummed once on its way in and once on its way out.
    const QByteArray block(64 * 1024 * 1024, 'x');
    quint32 sum = 0;
    const double crcMs =
        tamlo::bench::medianMs(5, [&] { sum ^= crc32(block.constData(), block.size()); });
    std::printf("queue checksums: %.0f MB/s (%08x)\n", block.size() / 1e6 / (crcMs / 1000), sum);
    if (!waitFor([&] { return publisher.status().waiting == records; }, 10000) ||
        publisher.status().alarmsWaiting != alarms) {
        std::printf("bench_mqtt: %lld records waiting, expected %d\n",
                    static_cast<long long>(publisher.status().waiting), records);
        return 1;
    }

    if (!broker.start(port)) {
        std::printf("bench_mqtt: %s\n", qPrintable(broker.errorString()));
        return 1;
    }
    MqttSubscriber subscriber;
    MqttSubscriber::Options options;
    options.qos = 0;
    options.keep = false;
    if (!subscriber.subscribe(port, QStringLiteral("tamlo/bench/record"), &error, options)) {
        std::printf("bench_mqtt: %s\n", qPrintable(error));
        return 1;
    }
    if (!waitFor([&] { return publisher.status().connected; }, 10000)) {
        std::printf("bench_mqtt: no connection: %s\n", qPrintable(publisher.statusText()));
        return 1;
    }
    timer.restart();
    const bool drained = waitFor(
        [&] { return publisher.status().waiting == 0 && publisher.status().alarmsWaiting == 0; },
        300000);
    const double drainMs = timer.nsecsElapsed() / 1e6;
    waitFor([&] { return subscriber.count() >= records; }, 5000);
    std::printf(
        "draining %d waiting records and %d alarm events to a local broker: %.0f ms, %.0f "
        "records/s%s\n",
        records, alarms, drainMs, records / (drainMs / 1000), drained ? "" : " (not finished)");
    std::printf("a subscriber received %d of them\n", subscriber.count());
    return drained ? 0 : 1;
}
