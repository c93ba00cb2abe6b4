// The publisher against a real Mosquitto broker that each test starts on a free local port:
// records arrive in order without gaps, also when the broker is down at start or killed
// mid-run; refused passwords, unknown hosts and untrusted certificates say so and lose nothing.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QtEndian>
#include <memory>

#include "mosquittobroker.h"
#include "mqtt/publisher.h"
#include "mqtt/recordqueue.h"

using namespace tamlo::mqtt;
using tamlo::test::MosquittoBroker;
using tamlo::test::MqttSubscriber;
using tamlo::test::TestCertificates;

namespace {

constexpr int kWaitMs = 10000;

Settings settingsFor(int port) {
    Settings s;
    s.enabled = true;
    s.host = "127.0.0.1";
    s.port = port;
    s.station = "s1";
    s.clientId = "tamlo-s1";
    return s;
}

Record record(int i) {
    Record r;
    r.time = QDateTime(QDate(2026, 12, 7), QTime(8, 0), QTimeZone(3600)).addSecs(5 * i);
    r.interval = 5;
    r.devices = {{0, "TI101", "℃", static_cast<float>(i) / 10}, {1, "PT2", "MPa", std::nullopt}};
    return r;
}

std::unique_ptr<Publisher> started(const QString& dir, const Settings& settings) {
    auto publisher = std::make_unique<Publisher>(dir, settings);
    publisher->setRetryDelays(100, 400);
    QString error;
    if (!publisher->start(&error))
        qWarning("%s", qPrintable(error));
    return publisher;
}

// Records `first`..`last` (numbered from 1, record(i - 1) is the i-th).
void publish(Publisher& publisher, int first, int last) {
    for (int i = first; i <= last; ++i) publisher.publishRecord(record(i - 1));
}

// Every message 1..count came, each first time in order (later copies are resends QoS 1
// allows).
bool arrivedInOrder(const MqttSubscriber& subscriber, int count,
                    const QByteArray& topic = "tamlo/s1/record") {
    QList<quint64> firstSeen;
    for (quint64 s : tamlo::test::sequences(subscriber.payloads(topic))) {
        if (!firstSeen.contains(s))
            firstSeen << s;
    }
    QList<quint64> expected;
    for (int i = 1; i <= count; ++i) expected << quint64(i);
    return firstSeen == expected;
}

AlarmMessage alarm(int i) {
    AlarmMessage a;
    a.time = record(i).time;
    a.meter = {i % 3, 3, 1, "TI101"};
    a.unit = "℃";
    a.event = i % 2 ? "clear" : "raise";
    a.kind = "high";
    a.value = 80.5f;
    a.limit = 80;
    return a;
}

// A broker that keeps its sessions over a restart or a kill, and a subscriber to the records
// with a persistent session: it misses nothing published while the broker was away.
bool startKeepingSessions(MosquittoBroker& broker, MqttSubscriber& subscriber,
                          const QString& filter = "tamlo/s1/record") {
    broker.setPersistent(true);
    QString error;
    if (!broker.start() ||
        !subscriber.subscribe(broker.port(), filter, &error, {1, {}, {}, "sub"})) {
        qWarning("%s %s", qPrintable(broker.errorString()), qPrintable(error));
        return false;
    }
    return true;
}

}  // namespace

class MqttPublisher : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString work_;

private slots:
    void init() {
        if (MosquittoBroker::executable().isEmpty())
            QSKIP("the mosquitto broker is not installed (scripts/deps.sh installs it)");
        work_ = dir_.filePath(QString(QTest::currentTestFunction()) + "-" +
                              QString(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(work_ + "/broker"));
    }

    void recordsLinksLiveAndStatus() {
        MosquittoBroker broker(work_ + "/broker");
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber subscriber;
        QString error;
        QVERIFY2(subscriber.subscribe(broker.port(), "tamlo/s1/#", &error), qPrintable(error));
        Settings settings = settingsFor(broker.port());
        settings.live = true;
        auto publisher = started(work_, settings);
        QTRY_VERIFY_WITH_TIMEOUT(publisher->status().connected, kWaitMs);
        publisher->publishLinkState(3, "TI101", true, record(0).time);
        publisher->publishLive(record(0).time, record(0).devices);
        publish(*publisher, 1, 20);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("tamlo/s1/record").size(), 20, kWaitMs);
        QList<quint64> expected;
        for (quint64 s = 1; s <= 20; ++s) expected << s;
        QCOMPARE(tamlo::test::sequences(subscriber.payloads("tamlo/s1/record")), expected);
        QCOMPARE(subscriber.payloads("tamlo/s1/record").at(6), recordPayload("s1", record(6), 7));
        QTRY_COMPARE_WITH_TIMEOUT(publisher->status().waiting, qint64(0), kWaitMs);
        QCOMPARE(publisher->statusText(),
                 QString("MQTT：已连接 127.0.0.1:%1，待发送 0 条记录").arg(broker.port()));
        for (const auto& m : subscriber.messages()) {
            if (m.topic == "tamlo/s1/live")
                QCOMPARE(m.qos, 0);
            if (m.topic == "tamlo/s1/record")
                QCOMPARE(m.qos, 1);
        }
        QCOMPARE(subscriber.payloads("tamlo/s1/live").size(), 1);

        // A subscriber that comes later gets the status and link states the broker retained.
        MqttSubscriber later;
        QVERIFY2(later.subscribe(broker.port(), "tamlo/s1/#", &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(later.count(), 2, kWaitMs);
        for (const auto& m : later.messages()) {
            QVERIFY(m.retained);
            if (m.topic == "tamlo/s1/status")
                QCOMPARE(m.payload, QByteArray("online"));
            else
                QCOMPARE(m.topic, QByteArray("tamlo/s1/link/3"));
        }
        publisher.reset();  // an orderly end says "offline"
        QTRY_COMPARE_WITH_TIMEOUT(later.payloads("tamlo/s1/status").last(), QByteArray("offline"),
                                  kWaitMs);
    }

    void brokerDownAtStart() {
        MosquittoBroker broker(work_ + "/broker");
        MqttSubscriber subscriber;
        QVERIFY(startKeepingSessions(broker, subscriber));
        broker.stop();
        auto publisher = started(work_, settingsFor(broker.port()));
        publish(*publisher, 1, 5);
        QTRY_VERIFY_WITH_TIMEOUT(publisher->status().lastError.contains("无法连接"), kWaitMs);
        QVERIFY2(publisher->statusText().contains("未连接") &&
                     publisher->statusText().endsWith("待发送 5 条记录"),
                 qPrintable(publisher->statusText()));
        QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
        publish(*publisher, 6, 10);
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 10), kWaitMs);
    }

    void brokerKilledMidRun() {
        MosquittoBroker broker(work_ + "/broker");
        MqttSubscriber subscriber;
        QVERIFY(startKeepingSessions(broker, subscriber));
        auto publisher = started(work_, settingsFor(broker.port()));
        publish(*publisher, 1, 10);
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 10), kWaitMs);
        // Records 11 to 15 go out but the broker never acknowledges them: they must be sent
        // again after the reconnection.
        broker.pause();
        publish(*publisher, 11, 15);
        QTest::qWait(300);
        broker.kill();
        publish(*publisher, 16, 20);
        QTRY_VERIFY_WITH_TIMEOUT(!publisher->status().connected, kWaitMs);
        QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
        publish(*publisher, 21, 30);
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 30), kWaitMs);
    }

    // Alarm events have a sequence of their own beside the records', kept across an outage in
    // which the broker is killed with events unacknowledged, and across a restart.
    void alarmsInOrderAcrossOutageAndRestart() {
        MosquittoBroker broker(work_ + "/broker");
        MqttSubscriber subscriber;
        QVERIFY(startKeepingSessions(broker, subscriber, "tamlo/s1/+"));
        auto publisher = started(work_, settingsFor(broker.port()));
        publisher->publishAlarm(alarm(1));
        publish(*publisher, 1, 2);
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 1, "tamlo/s1/alarm"), kWaitMs);
        QCOMPARE(subscriber.payloads("tamlo/s1/alarm").at(0), alarmPayload("s1", alarm(1), 1));
        broker.pause();
        publisher->publishAlarm(alarm(2));  // sent, never acknowledged
        QTest::qWait(300);
        broker.kill();
        publisher->publishAlarm(alarm(3));
        QTRY_VERIFY_WITH_TIMEOUT(!publisher->status().connected, kWaitMs);
        QVERIFY2(publisher->statusText().endsWith("待发送 0 条记录、2 条报警"),
                 qPrintable(publisher->statusText()));
        QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 3, "tamlo/s1/alarm"), kWaitMs);
        publisher.reset();
        publisher = started(work_, settingsFor(broker.port()));
        publisher->publishAlarm(alarm(4));
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 4, "tamlo/s1/alarm"), kWaitMs);
        QVERIFY(arrivedInOrder(subscriber, 2));
    }

    // Retained, and sent again after each connection: a broker restarted without its store
    // does not stay without the list.
    void activeListRetainedAndRenewed() {
        MosquittoBroker broker(work_ + "/broker");
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto publisher = started(work_, settingsFor(broker.port()));
        ActiveAlarmMessage raised{{2, 3, 1, "TI101"}, "℃", "high", record(0).time, 80.5, 80, false};
        publisher->publishActiveAlarms(record(1).time, {raised});
        const auto retained = [&] {
            MqttSubscriber later;
            QString error;
            later.subscribe(broker.port(), "tamlo/s1/alarms/active", &error);
            QTest::qWait(200);
            const auto m = later.messages();
            return m.size() == 1 && m[0].retained ? m[0].payload : QByteArray();
        };
        const QByteArray one = activeAlarmsPayload("s1", record(1).time, {raised});
        QTRY_COMPARE_WITH_TIMEOUT(retained(), one, kWaitMs);
        broker.kill();
        QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(retained(), one, kWaitMs);
    }

    // Records the previous version queued (its folder built here byte by byte) are sent after
    // the upgrade, and the alarms' own queue starts beside them.
    void queueOfThePreviousVersionDrains() {
        QVERIFY(QDir().mkpath(work_ + "/mqtt-queue"));
        const QByteArray payload = recordPayload("s1", record(6), 7);
        QByteArray entry("TQE1" + QByteArray(16, 0) + payload);
        qToLittleEndian(quint32(payload.size()), entry.data() + 4);
        qToLittleEndian(quint64(7), entry.data() + 8);
        qToLittleEndian(crc32(payload.constData(), payload.size(), crc32(entry.data() + 4, 12)),
                        entry.data() + 16);
        QByteArray state("TQS1" + QByteArray(20, 0));
        qToLittleEndian(quint64(7), state.data() + 4);
        qToLittleEndian(quint64(8), state.data() + 12);
        qToLittleEndian(crc32(state.constData(), 20), state.data() + 20);
        QVERIFY(writeFile(work_ + "/mqtt-queue/00000000000000000007.seg", entry));
        QVERIFY(writeFile(work_ + "/mqtt-queue/state", state));

        MosquittoBroker broker(work_ + "/broker");
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber subscriber;
        QString error;
        QVERIFY2(subscriber.subscribe(broker.port(), "tamlo/s1/#", &error), qPrintable(error));
        auto publisher = started(work_, settingsFor(broker.port()));
        publisher->publishRecord(record(7));
        publisher->publishAlarm(alarm(1));
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("tamlo/s1/record"),
                                  (QList<QByteArray>{payload, recordPayload("s1", record(7), 8)}),
                                  kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("tamlo/s1/alarm"),
                                  QList<QByteArray>{alarmPayload("s1", alarm(1), 1)}, kWaitMs);
    }

    void wrongPasswordThenCorrected() {
        MosquittoBroker broker(work_ + "/broker");
        QVERIFY(broker.addUser("station", "right"));
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber subscriber;
        QString error;
        QVERIFY2(subscriber.subscribe(broker.port(), "tamlo/s1/record", &error,
                                      {1, "station", "right", {}}),
                 qPrintable(error));
        Settings settings = settingsFor(broker.port());
        settings.user = "station";
        settings.password = "wrong";
        {
            auto publisher = started(work_, settings);
            publish(*publisher, 1, 3);
            QTRY_VERIFY_WITH_TIMEOUT(publisher->status().lastError.contains("用户名或密码错误"),
                                     kWaitMs);
            QCOMPARE(publisher->status().waiting, qint64(3));
        }
        settings.password = "right";
        auto publisher = started(work_, settings);
        publish(*publisher, 4, 4);
        QTRY_VERIFY_WITH_TIMEOUT(arrivedInOrder(subscriber, 4), kWaitMs);
    }

    void unknownHost() {
        Settings settings = settingsFor(1883);
        settings.host = "no-such-host.invalid";
        auto publisher = started(work_, settings);
        publish(*publisher, 1, 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            publisher->status().lastError.contains("找不到主机 no-such-host.invalid"), kWaitMs);
        QCOMPARE(publisher->status().waiting, qint64(2));
        QCOMPARE(publisher->status().nextSequence, quint64(3));
    }

    void boundDropsOldestAndSaysSo() {
        Settings settings = settingsFor(MosquittoBroker::freePort());
        settings.queueMb = 1;
        // The first failed attempt is in, and no retry overwrites the message about the drops.
        Publisher publisher(work_, settings);
        publisher.setRetryDelays(60000, 60000);
        QString error;
        QVERIFY(publisher.start(&error));
        QTRY_VERIFY_WITH_TIMEOUT(publisher.status().lastError.contains("无法连接"), kWaitMs);
        Record wide = record(0);
        wide.devices.assign(63, {0, "TI101", "℃", 1.5f});  // some 3 KB a record
        for (int i = 0; i < 400; ++i) publisher.publishRecord(wide);
        const Publisher::Status status = publisher.status();
        QVERIFY(status.dropped > 0);
        QCOMPARE(status.waiting + status.dropped, qint64(400));
        QVERIFY2(status.lastError.contains(QString("丢弃了最早的")) &&
                     status.lastError.contains(QString("共 %1 条").arg(status.dropped)),
                 qPrintable(status.lastError));
        QVERIFY(publisher.statusText().endsWith(QString("已丢弃 %1 条").arg(status.dropped)));
    }

    void tlsRefusedThenCorrected_data() {
        QTest::addColumn<bool>("otherCa");  // else: a certificate for another host name
        QTest::newRow("untrusted CA") << true;
        QTest::newRow("other host name, trusted CA") << false;
    }

    void tlsRefusedThenCorrected() {
        QFETCH(bool, otherCa);
        TestCertificates certificates;
        QString error;
        QVERIFY2(certificates.make(work_ + "/broker", &error), qPrintable(error));
        MosquittoBroker broker(work_ + "/broker");
        if (otherCa)
            broker.setTls(certificates.ca, certificates.serverCert, certificates.serverKey);
        else
            broker.setTls(certificates.ca, certificates.otherHostCert, certificates.otherHostKey);
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        Settings settings = settingsFor(broker.port());
        settings.tlsCa = otherCa ? certificates.otherCa : certificates.ca;
        {
            auto publisher = started(work_, settings);
            publish(*publisher, 1, 2);
            QTRY_VERIFY_WITH_TIMEOUT(publisher->status().lastError.contains("证书不被信任"),
                                     kWaitMs);
            QVERIFY(!publisher->status().connected);
            QCOMPARE(publisher->status().waiting, qint64(2));
        }
        // Corrected: the broker's own certificate, and the CA that signed it.
        broker.setTls(certificates.ca, certificates.serverCert, certificates.serverKey);
        QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
        settings.tlsCa = certificates.ca;
        auto publisher = started(work_, settings);
        publish(*publisher, 3, 3);
        QTRY_VERIFY_WITH_TIMEOUT(publisher->status().connected, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(publisher->status().waiting, qint64(0), kWaitMs);
        QCOMPARE(publisher->status().nextSequence, quint64(4));
    }

    // Failures whose library text would mislead get their real cause.
    void causeNamed_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause");
        QTest::newRow("broker stalls") << "stall"
                                       << "保活时间（5 秒）内没有应答";
        QTest::newRow("TLS station, plain broker") << "station"
                                                   << "只有本站使用 TLS";
        QTest::newRow("plain station, TLS broker") << "broker"
                                                   << "broker 要求 TLS";
    }

    void causeNamed() {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        TestCertificates certificates;
        QString error;
        QVERIFY2(certificates.make(work_ + "/broker", &error), qPrintable(error));
        MosquittoBroker broker(work_ + "/broker");
        if (kind == "broker")
            broker.setTls(certificates.ca, certificates.serverCert, certificates.serverKey);
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        Settings settings = settingsFor(broker.port());
        if (kind == "station")
            settings.tlsCa = certificates.ca;
        auto publisher = std::make_unique<Publisher>(work_, settings);
        publisher->setKeepAlive(5);  // the least libmosquitto takes
        QVERIFY(publisher->start(&error));
        if (kind == "stall") {
            QTRY_VERIFY_WITH_TIMEOUT(publisher->status().connected, kWaitMs);
            broker.pause();
        }
        QTRY_VERIFY2_WITH_TIMEOUT(publisher->status().lastError.contains(cause),
                                  qPrintable(publisher->status().lastError), 15000);
        broker.kill();
    }

    void offlineWhenKilled() {
        MosquittoBroker broker(work_ + "/broker");
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        MqttSubscriber subscriber;
        QString error;
        QVERIFY2(subscriber.subscribe(broker.port(), "tamlo/child/status", &error),
                 qPrintable(error));
        QProcess child;
        QVERIFY(startChild(child, broker.port(), 0));
        QVERIFY(waitForLine(child, "connected"));
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("tamlo/child/status"),
                                  QList<QByteArray>{"online"}, kWaitMs);
        child.kill();
        child.waitForFinished();
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.payloads("tamlo/child/status"),
                                  (QList<QByteArray>{"online", "offline"}), kWaitMs);
    }

    void killedWhileRecordsWait() {
        // Records and alarm events handed over while no broker runs, then the station is
        // killed: the next run sends them.
        const int port = MosquittoBroker::freePort();
        QProcess child;
        QVERIFY(startChild(child, port, 5));
        QVERIFY(waitForLine(child, "queued"));
        child.kill();
        child.waitForFinished();
        MosquittoBroker broker(work_ + "/broker");
        QVERIFY2(broker.start(port), qPrintable(broker.errorString()));
        MqttSubscriber subscriber;
        QString error;
        QVERIFY2(subscriber.subscribe(port, "tamlo/child/+", &error), qPrintable(error));
        Settings settings = settingsFor(port);
        settings.station = "child";
        settings.clientId = "tamlo-child";
        auto publisher = started(work_, settings);
        QTRY_COMPARE_WITH_TIMEOUT(tamlo::test::sequences(subscriber.payloads("tamlo/child/record")),
                                  (QList<quint64>{1, 2, 3, 4, 5}), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(tamlo::test::sequences(subscriber.payloads("tamlo/child/alarm")),
                                  (QList<quint64>{1, 2, 3, 4, 5}), kWaitMs);
    }

private:
    static bool writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    bool startChild(QProcess& child, int port, int records) {
        child.start(QStringLiteral(TAMLO_BIN_DIR) + "/tamlo_mqtt_child",
                    {"publish", work_, QString::number(port), QString::number(records)});
        return child.waitForStarted();
    }

    static bool waitForLine(QProcess& child, const QByteArray& line) {
        QByteArray output;
        while (!output.split('\n').contains(line)) {
            if (!child.waitForReadyRead(kWaitMs))
                return false;
            output += child.readAllStandardOutput();
        }
        return true;
    }
};

QTEST_GUILESS_MAIN(MqttPublisher)
#include "tst_mqttpublisher.moc"
