// What the station sends and how it is configured: the JSON of records, live values and link
// states byte for byte, and mqtt.ini with each setting it refuses.
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <bit>
#include <cstdlib>

#include "mqtt/mqttsettings.h"
#include "mqtt/record.h"

using namespace tamlo::mqtt;

namespace {

QDateTime at(int offsetSeconds) {
    return QDateTime(QDate(2026, 12, 7), QTime(16, 42, 44), QTimeZone(offsetSeconds));
}

bool writeFile(const QString& path, const QByteArray& bytes,
               QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) >= 0 &&
           file.setPermissions(permissions);
}

}  // namespace

class MqttFormat : public QObject {
    Q_OBJECT
private slots:
    void recordPayloadBytes() {
        Record record;
        record.time = at(3600);
        record.interval = 5;
        record.devices = {{0, "TI101", "℃", 25.5f},
                          {1, "PT2", "MPa", std::nullopt},
                          {7, "温度\"A\\", "m³/h", 0.1f}};
        const QByteArray expected =
            "{\"station\":\"s1\",\"seq\":42,\"time\":\"2026-12-07T16:42:44+01:00\",\"interval\":5,"
            "\"devices\":[{\"index\":0,\"tag\":\"TI101\",\"unit\":\"\xe2\x84\x83\",\"value\":25.5},"
            "{\"index\":1,\"tag\":\"PT2\",\"unit\":\"MPa\",\"value\":null},"
            "{\"index\":7,\"tag\":\"\xe6\xb8\xa9\xe5\xba\xa6\\\"A\\\\\",\"unit\":\"m\xc2\xb3/h\","
            "\"value\":0.1}]}";
        QCOMPARE(recordPayload("s1", record, 42), expected);
    }

    void liveAndLinkPayloads() {
        QCOMPARE(
            livePayload("s1", at(0), {{2, "T", "K", -0.0f}}),
            QByteArray("{\"station\":\"s1\",\"time\":\"2026-12-07T16:42:44+00:00\","
                       "\"devices\":[{\"index\":2,\"tag\":\"T\",\"unit\":\"K\",\"value\":-0}]}"));
        QCOMPARE(linkPayload("s1", 3, "TI101", true, at(-19800)),
                 QByteArray("{\"station\":\"s1\",\"index\":3,\"tag\":\"TI101\",\"linked\":true,"
                            "\"time\":\"2026-12-07T16:42:44-05:30\"}"));
        QCOMPARE(linkPayload("s1", 0, "", false, at(20700)),
                 QByteArray("{\"station\":\"s1\",\"index\":0,\"tag\":\"\",\"linked\":false,"
                            "\"time\":\"2026-12-07T16:42:44+05:45\"}"));
    }

    void alarmAndStatsPayloads() {
        AlarmMessage alarm{at(28800), {2, 3, 1, "温度"}, "℃", "raise", "high", 85.2f, 80.1};
        QCOMPARE(alarmPayload("s1", alarm, 7),
                 QByteArray("{\"station\":\"s1\",\"seq\":7,\"time\":\"2026-12-07T16:42:44+08:00\","
                            "\"index\":2,\"address\":3,\"channel\":1,"
                            "\"tag\":\"\xe6\xb8\xa9\xe5\xba\xa6\",\"unit\":\"\xe2\x84\x83\","
                            "\"event\":\"raise\",\"kind\":\"high\",\"value\":85.2,"
                            "\"limit\":80.1}"));
        QCOMPARE(jsonNumber(kNoNumber), QByteArray("null"));
        const MeterStats never{{5, 9, 2, "T"}, 3, 0, 3, 0, 6, QDateTime(), 2.0 / 3};
        QCOMPARE(
            statsPayload("s1", at(0), {never}),
            QByteArray("{\"station\":\"s1\",\"time\":\"2026-12-07T16:42:44+00:00\","
                       "\"meters\":[{\"index\":5,\"address\":9,\"channel\":2,\"tag\":\"T\","
                       "\"requests\":3,\"answers\":0,\"timeouts\":3,\"refused\":0,\"retries\":6,"
                       "\"last_answer\":null,\"answered_last_hour\":0.6666666666666666}]}"));
    }

    void timeKeepsItsOwnOffset() {
        // A local time in summer carries the summer offset, never "Z".
        const QTimeZone berlin("Europe/Berlin");
        if (!berlin.isValid())
            QSKIP("no time zone data for Europe/Berlin");
        QCOMPARE(isoTime(QDateTime(QDate(2026, 7, 1), QTime(8, 0, 5), berlin)),
                 QByteArray("2026-07-01T08:00:05+02:00"));
        QCOMPARE(isoTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0), berlin)),
                 QByteArray("2026-01-01T00:00:00+01:00"));
        QCOMPARE(isoTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc())),
                 QByteArray("2026-01-01T00:00:00+00:00"));
    }

    void stringEscapes() {
        QCOMPARE(jsonString(QString::fromUtf8("a\"b\\c/\n\r\t\x01\x1f\x7f")),
                 QByteArray("\"a\\\"b\\\\c/\\n\\r\\t\\u0001\\u001f\x7f\""));
    }

    void shortestNumbers() {
        QCOMPARE(jsonNumber(0.1f), QByteArray("0.1"));
        QCOMPARE(jsonNumber(0.3f), QByteArray("0.3"));
        QCOMPARE(jsonNumber(16777216.0f), QByteArray("16777216"));
        QCOMPARE(jsonNumber(16777218.0f), QByteArray("16777218"));
        QCOMPARE(jsonNumber(1e-7f), QByteArray("1e-07"));
        QCOMPARE(jsonNumber(-3276.8f), QByteArray("-3276.8"));
        QCOMPARE(jsonNumber(3.4028235e38f), QByteArray("3.4028235e+38"));
        QCOMPARE(jsonNumber(std::numeric_limits<float>::quiet_NaN()), QByteArray("null"));
        QCOMPARE(jsonNumber(-std::numeric_limits<float>::infinity()), QByteArray("null"));
        // Read back as a double and narrowed, every text gives the same float, bit for bit.
        QRandomGenerator random(16);
        for (int i = 0; i < 20000; ++i) {
            const float value = std::bit_cast<float>(random.generate());
            if (!std::isfinite(value))
                continue;
            const QByteArray text = jsonNumber(value);
            const float back = static_cast<float>(std::strtod(text.constData(), nullptr));
            QVERIFY2(std::bit_cast<quint32>(back) == std::bit_cast<quint32>(value),
                     text.constData());
        }
    }

    void settingsMissingOrOff() {
        QTemporaryDir dir;
        LoadedSettings loaded = loadSettings(dir.path());
        QVERIFY(!loaded.settings.enabled);
        QVERIFY(loaded.error.isEmpty());
        QVERIFY(writeFile(dir.filePath("mqtt.ini"),
                          "[mqtt]\nport = 0\nhots = typo\nenabled = false\n"));
        loaded = loadSettings(dir.path());
        QVERIFY(!loaded.settings.enabled);
        QVERIFY(loaded.error.isEmpty());
    }

    void settingsRead() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("tls files"));
        QVERIFY(writeFile(dir.filePath("tls files/plant ca.pem"), "ca"));
        QVERIFY(writeFile(dir.filePath("secret"), "pa ss=word\r\nsecond line\n"));
        QVERIFY(writeFile(dir.filePath("mqtt.ini"),
                          "\xef\xbb\xbf; the plant's broker\n[other]\nhost = elsewhere\n"
                          "[mqtt]\r\nenabled = TRUE\r\nhost = broker.plant.local\n"
                          "tls_ca = tls files/plant ca.pem\nuser = station 1\n"
                          "password_file = secret\nprefix = plant/tamlo\nqos = 2\n"
                          "queue_mb = 5\nlive = true\n"));
        const LoadedSettings loaded = loadSettings(dir.path());
        QCOMPARE(loaded.error, QString());
        const Settings& s = loaded.settings;
        QVERIFY(s.enabled);
        QCOMPARE(s.host, QString("broker.plant.local"));
        QCOMPARE(s.port, 8883);  // TLS without a port
        QCOMPARE(s.tlsCa, dir.filePath("tls files/plant ca.pem"));
        QCOMPARE(s.user, QString("station 1"));
        QCOMPARE(s.password, QString("pa ss=word"));
        QCOMPARE(s.station, QSysInfo::machineHostName());
        QCOMPARE(s.clientId, "tamlo-" + QSysInfo::machineHostName());
        QCOMPARE(s.topic("record"), "plant/tamlo/" + QSysInfo::machineHostName() + "/record");
        QCOMPARE(s.qos, 2);
        QCOMPARE(s.queueMb, 5);
        QVERIFY(s.live);
    }

    void settingsRefused_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QStringList>("words");
        const QByteArray on = "enabled = true\nhost = h\n";
        QTest::newRow("port") << on + "port = 70000" << QStringList{"port", "70000"};
        QTest::newRow("port text") << on + "port = 18x3" << QStringList{"port", "18x3"};
        QTest::newRow("qos") << on + "qos = 3" << QStringList{"qos", "3"};
        QTest::newRow("queue") << on + "queue_mb = 0" << QStringList{"queue_mb"};
        QTest::newRow("enabled") << QByteArray("enabled = yes") << QStringList{"enabled", "yes"};
        QTest::newRow("live") << on + "live = 1" << QStringList{"live"};
        QTest::newRow("no host") << QByteArray("enabled = true") << QStringList{"host"};
        QTest::newRow("typo") << on + "pasword_file = secret"
                              << QStringList{"pasword_file", "第 4 行"};
        QTest::newRow("twice") << on + "host = g" << QStringList{"host", "重复"};
        QTest::newRow("no equals") << on + "qos 1" << QStringList{"qos 1"};
        QTest::newRow("ca missing")
            << on + "tls_ca = nowhere.pem" << QStringList{"tls_ca", "nowhere.pem", "不存在"};
        QTest::newRow("cert alone") << on + "tls_ca = ca\ntls_cert = ca" << QStringList{"tls_key"};
        QTest::newRow("world-readable password")
            << on + "user = u\npassword_file = open"
            << QStringList{"password_file", "0644", "chmod 600"};
        QTest::newRow("group-readable password")
            << on + "user = u\npassword_file = group" << QStringList{"password_file", "0640"};
        QTest::newRow("readable key") << on + "tls_ca = ca\ntls_cert = ca\ntls_key = open"
                                      << QStringList{"tls_key", "chmod 600"};
        QTest::newRow("password without user")
            << on + "password_file = secret" << QStringList{"user"};
        QTest::newRow("station level") << on + "station = a/b" << QStringList{"station", "a/b"};
        QTest::newRow("wildcard prefix") << on + "prefix = plant/#" << QStringList{"prefix"};
        QTest::newRow("no section") << QByteArray("enabled = true") << QStringList{"[mqtt]"};
    }

    void settingsRefused() {
        QFETCH(QByteArray, lines);
        QFETCH(QStringList, words);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("ca"), "ca"));
        QVERIFY(writeFile(dir.filePath("secret"), "pw"));
        QVERIFY(
            writeFile(dir.filePath("open"), "pw",
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(writeFile(dir.filePath("group"), "pw",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QByteArray text =
            QByteArray(QTest::currentDataTag()) == "no section" ? lines : "[mqtt]\n" + lines + "\n";
        QVERIFY(writeFile(dir.filePath("mqtt.ini"), text));
        const LoadedSettings loaded = loadSettings(dir.path());
        QVERIFY(!loaded.settings.enabled);
        QVERIFY2(loaded.error.startsWith("mqtt.ini"), qPrintable(loaded.error));
        for (const QString& word : words)
            QVERIFY2(loaded.error.contains(word), qPrintable(loaded.error));
    }
};

QTEST_GUILESS_MAIN(MqttFormat)
#include "tst_mqttformat.moc"
