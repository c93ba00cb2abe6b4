// A child process for tests that kill the station's side with SIGKILL:
//   tamlo_mqtt_child append <queue directory> <max bytes> <payload bytes>
//       appends records without end and prints each sequence number once its append returned;
//   tamlo_mqtt_child publish <working directory> <port> <records>
//       publishes as station "child" to 127.0.0.1:<port>: hands <records> records and as many
//       alarm events over, prints
//       "queued", then "connected" once it is.
#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <cstdio>

#include "mqtt/publisher.h"
#include "mqtt/recordqueue.h"

using namespace tamlo::mqtt;

// The payload of record `sequence`, which the test rebuilds to check what it reads back.
static QByteArray childPayload(quint64 sequence, int size) {
    QByteArray text = QByteArray::number(sequence) + ' ';
    return text.repeated(size / text.size() + 1).left(size);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == "append") {
        RecordQueue queue(args[2], args[3].toLongLong());
        QString error;
        if (!queue.open(&error)) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(error));
            return 1;
        }
        for (;;) {
            const quint64 sequence = queue.nextSequence();
            if (!queue.append(childPayload(sequence, args[4].toInt())).ok)
                return 1;
            std::printf("%llu\n", static_cast<unsigned long long>(sequence));
            std::fflush(stdout);
        }
    }
    if (args.size() == 5 && args[1] == "publish") {
        Settings settings;
        settings.enabled = true;
        settings.host = "127.0.0.1";
        settings.port = args[3].toInt();
        settings.station = "child";
        settings.clientId = "tamlo-child";
        Publisher publisher(args[2], settings);
        QString error;
        if (!publisher.start(&error))
            return 1;
        Record record;
        record.time = QDateTime::currentDateTime();
        record.interval = 1;
        record.devices = {{0, "TI101", "℃", 1.5f}};
        AlarmMessage alarm{record.time, {0, 1, 0, "TI101"}, "℃",      "raise",
                           "link",      kNoNumber,          kNoNumber};
        for (int i = 0; i < args[4].toInt(); ++i) {
            publisher.publishRecord(record);
            publisher.publishAlarm(alarm);
        }
        std::printf("queued\n");
        std::fflush(stdout);
        while (!publisher.status().connected) QThread::msleep(10);
        std::printf("connected\n");
        std::fflush(stdout);
        for (;;) QThread::sleep(1);
    }
    std::fprintf(stderr,
                 "usage: tamlo_mqtt_child append <dir> <max bytes> <payload bytes> | "
                 "publish <dir> <port> <records>\n");
    return 2;
}
