// Alarms and line quality: alarms.ini and its refusals, judging with delay and deadband, the
// alarm log byte by byte, a torn or unwritable log, link alarms, and the line statistics.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <ctime>

#include "scriptedline.h"
#include "station/alarmevaluator.h"
#include "station/alarmlog.h"
#include "station/commstats.h"
#include "station/stationsession.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

const QByteArray kFileStart =
    "\xEF\xBB\xBF" +
    QStringLiteral("时间,序号,地址,通道,位号,单位,事件,类型,数值,限值\r\n").toUtf8();

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString events(const AlarmEvaluator::Events& list) {
    QStringList words;
    for (const AlarmEvent& e : list) {
        words << QStringLiteral("%1 %2").arg(QLatin1String(alarmEventName(e.type)),
                                             QLatin1String(alarmKindName(e.kind)));
    }
    return words.join(QLatin1String(", "));
}

class StationLine final : public PortLine {
public:
    ScriptedLine line;
    PortOpenResult open(int, std::int32_t) override { return PortOpenResult::Opened; }
    void close() override {}
    bool isOpen() const override { return true; }
    ByteLink& link() override { return line; }
};

// A session of one meter (address 1, tag "T,1", ℃) on a scripted line.
struct Session {
    StationFixture station;
    StationLine line;
    std::unique_ptr<StationSession> session;

    StationSession& start(const QByteArray& alarmsIni) {
        station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("T,1")}}, 1);
        if (!alarmsIni.isEmpty()) {
            writeFile(station.path(QStringLiteral("alarms.ini")), alarmsIni);
        }
        session = std::make_unique<StationSession>(station.dir.path(), station.clock,
                                                   std::make_unique<LentLine>(line));
        session->load();
        session->resetCycles();
        session->openPort();
        session->startHistoryFile();
        session->startAlarms();
        return *session;
    }
    void answer(std::int16_t raw) {
        line.line.replies = {valueReply(1, static_cast<std::uint8_t>(raw >> 8),
                                        static_cast<std::uint8_t>(raw & 0xFF), 0x01)};
        session->pollTick();
    }
};

}  // namespace

class AlarmsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The log writes local time with its offset: a fixed zone makes the bytes known.
        qputenv("TZ", "CST-8");
        tzset();
    }

    void settingsRefusedNamingLineAndKey_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown key") << QByteArray("[meter 1.0]\nhigh = 5\nhihg = 6\n")
                                     << QStringLiteral("alarms.ini 第 3 行 hihg：未知的键");
        QTest::newRow("key twice")
            << QByteArray("[meter 1.0]\r\nlow = 1\r\n\r\nlow = 2\r\n")
            << QStringLiteral("alarms.ini 第 4 行 low：重复给出（第 2 行已有）");
        QTest::newRow("low above high")
            << QByteArray("[meter 1.0]\nlow = 9\nhigh = 5\n[meter 2.0]\n")
            << QStringLiteral("alarms.ini 第 3 行 high：low（9）高于 high（5）");
        QTest::newRow("low_low above low")
            << QByteArray("[meter 1.0]\nlow_low = 3\nlow = 2.5\n")
            << QStringLiteral("alarms.ini 第 3 行 low：low_low（3）高于 low（2.5）");
        QTest::newRow("high above high_high")
            << QByteArray("[meter 1.0]\nhigh_high = 7\nhigh = 8\n")
            << QStringLiteral("alarms.ini 第 3 行 high：high（8）高于 high_high（7）");
        QTest::newRow("not a number")
            << QByteArray("[alarms]\nsound = false\n[meter 3.0]\n\nhigh = abc\n")
            << QStringLiteral("alarms.ini 第 5 行 high：不是数字（abc）");
        QTest::newRow("bad section")
            << QByteArray("[alarms]\n[meter 3]\n")
            << QStringLiteral(
                   "alarms.ini 第 2 行 [meter 3]：节名无效，应为 [alarms] 或 [meter 地址.通道]");
        QTest::newRow("bad boolean")
            << QByteArray("[meter 1.0]\nlink = yes\n")
            << QStringLiteral("alarms.ini 第 2 行 link：应为 true 或 false（yes）");
        QTest::newRow("section twice")
            << QByteArray("[meter 1.0]\n; again\n[meter 1.0]\n")
            << QStringLiteral("alarms.ini 第 3 行 [meter 1.0]：重复给出（第 1 行已有）");
    }
    void settingsRefusedNamingLineAndKey() {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("alarms.ini")), text);
        const AlarmSettingsLoad load =
            loadAlarmSettings(dir.filePath(QStringLiteral("alarms.ini")));
        QCOMPARE(load.outcome, AlarmSettingsLoad::Outcome::Refused);
        QCOMPARE(load.message, message);
    }

    void settingsSavedAndReadBack() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("alarms.ini"));
        QCOMPARE(loadAlarmSettings(path).outcome, AlarmSettingsLoad::Outcome::Absent);
        AlarmSettings s;
        s.sound = false;
        s.meters[{3, 1}] =
            AlarmLimits{.high = 0.1, .low = -40, .deadband = 0.5, .delaySeconds = 7, .link = false};
        QString error;
        QVERIFY(saveAlarmSettings(path, s, &error));
        const AlarmSettingsLoad load = loadAlarmSettings(path);
        QCOMPARE(load.outcome, AlarmSettingsLoad::Outcome::Loaded);
        QVERIFY(!load.settings.sound);
        const AlarmLimits* l = load.settings.find(3, 1);
        QVERIFY(l != nullptr && load.settings.find(3, 0) == nullptr);
        QVERIFY(l->high == 0.1 && l->low == -40 && std::isnan(l->highHigh) && l->deadband == 0.5);
        QVERIFY(l->delaySeconds == 7 && !l->link);
    }

    // A condition is raised once it has held its delay, at a poll or at a second between polls;
    // it clears only once the value is back inside by the deadband.
    void delayAndDeadband() {
        DeviceTable table;
        table.count = 1;
        table.entries[0].address = 1;
        AlarmSettings s;
        s.meters[{1, 0}] =
            AlarmLimits{.high = 100, .highHigh = 120, .deadband = 2, .delaySeconds = 5};
        AlarmEvaluator a;
        AlarmEvaluator::Events out;
        a.configure(s, table, 0, out);
        a.answered(0, 101, 1000, out);
        a.tick(5999, out);
        a.answered(0, 100, 6000, out);  // back inside before the delay ended: forgotten
        a.answered(0, 101, 6500, out);
        a.tick(11499, out);
        QCOMPARE(events(out), QString());
        a.tick(11500, out);
        QCOMPARE(events(out), QStringLiteral("raise high"));
        a.answered(0, 98.1, 12000, out);  // inside by less than the deadband
        a.answered(0, 125, 13000, out);   // high_high waits for its own delay
        QCOMPARE(out.size(), std::size_t(1));
        a.tick(18000, out);
        a.answered(0, 119, 19000, out);    // high_high holds within its deadband
        a.answered(0, 117.5, 20000, out);  // down to high at once: it held all along
        a.answered(0, 98, 21000, out);
        QCOMPARE(events(out), QStringLiteral("raise high, clear high, raise high_high, "
                                             "clear high_high, raise high, clear high"));
        QCOMPARE(out.back().value, 98.0);
        QCOMPARE(out.back().limit, 100.0);
    }

    // A save of the device table: alarms follow their meters by address and channel; those of a
    // meter that left the table clear.
    void alarmsFollowTheirMetersIntoANewTable() {
        DeviceTable before;
        before.count = 2;
        before.entries[0].address = 1;
        before.entries[1].address = 2;
        AlarmSettings s;
        s.meters[{1, 0}] = AlarmLimits{.high = 10};
        s.meters[{2, 0}] = AlarmLimits{.high = 10};
        AlarmEvaluator a;
        AlarmEvaluator::Events out;
        a.configure(s, before, 0, out);
        a.answered(0, 11, 0, out);
        a.answered(1, 12, 0, out);
        a.acknowledge(1, AlarmKind::High, 0, out);
        out.clear();
        DeviceTable after;
        after.count = 2;
        after.entries[0].address = 2;
        after.entries[1].address = 3;
        a.configure(s, after, 1000, out);
        QCOMPARE(events(out), QStringLiteral("clear high"));
        QCOMPARE(out[0].address, std::uint8_t(1));
        QCOMPARE(out[0].device, 0);
        const QList<ActiveAlarm> active = a.activeAlarms();
        QCOMPARE(active.size(), 1);
        QVERIFY(active[0].device == 0 && active[0].acknowledged && active[0].value == 12);
    }

    // The events of a crossing as the log keeps them: raised after the delay, acknowledged,
    // cleared past the deadband.
    void crossingWrittenToTheLog() {
        Session s;
        StationSession& session = s.start("[meter 1.0]\nhigh = 25\ndeadband = 1\ndelay = 3\n");
        QSignalSpy told(&session, &StationSession::alarmEvent);
        QVERIFY(session.alarmsEnabled());
        s.answer(251);  // 25.1 at 10:45:18
        for (int i = 0; i < 3; ++i) {
            s.station.clock.advanceSeconds(1);
            session.secondTick();
        }
        QCOMPARE(told.size(), 1);
        QCOMPARE(session.unacknowledgedAlarms(), 1);
        QCOMPARE(session.alarmShade(0), AlarmShade::Text);
        s.answer(245);
        session.acknowledgeAlarm(0, AlarmKind::High);
        QCOMPARE(session.alarmShade(0), AlarmShade::None);
        s.station.clock.advanceSeconds(1);
        s.answer(240);
        QCOMPARE(told.size(), 3);
        QVERIFY(session.activeAlarms().isEmpty());
        QCOMPARE(session.recentAlarmEvents().size(), 3);
        const QByteArray log = readFile(s.station.path(QStringLiteral("alarms/2026-12.csv")));
        QCOMPARE(log,
                 kFileStart +
                     "2026-12-07T10:45:21+08:00,1,1,0,\"T,1\",\xE2\x84\x83,raise,high,25.1,25\r\n"
                     "2026-12-07T10:45:21+08:00,1,1,0,\"T,1\",\xE2\x84\x83,ack,high,24.5,25\r\n"
                     "2026-12-07T10:45:22+08:00,1,1,0,\"T,1\",\xE2\x84\x83,clear,high,24,25\r\n");
    }

    // A meter silent for its three tries raises "link" and drops its limit alarm; its answer
    // clears the link.
    void linkRaisedAndCleared() {
        Session s;
        StationSession& session = s.start("[meter 1.0]\nhigh = 25\n");
        QSignalSpy told(&session, &StationSession::alarmEvent);
        s.answer(300);
        s.line.line.replies = {{}, {}};
        session.pollTick();
        session.pollTick();
        QCOMPARE(told.size(), 1);
        session.pollTick();
        QCOMPARE(told.size(), 3);
        QCOMPARE(told[1][0].value<AlarmEvent>().type, AlarmEventType::Clear);
        const AlarmEvent raised = told[2][0].value<AlarmEvent>();
        QVERIFY(raised.type == AlarmEventType::Raise && raised.kind == AlarmKind::Link);
        QCOMPARE(session.alarmShade(0), AlarmShade::Background);
        s.answer(200);
        QCOMPARE(told.size(), 4);
        QVERIFY(told[3][0].value<AlarmEvent>().type == AlarmEventType::Clear);
        QVERIFY(session.activeAlarms().isEmpty());
    }

    void unusableSettingsLeaveTheStationAsItWas() {
        Session s;
        StationSession& session = s.start("[meter 1.0]\nhigh = 2O\n");
        QSignalSpy refused(&session, &StationSession::alarmsRefused);
        QSignalSpy records(&session, &StationSession::recordTaken);
        session.startAlarms();
        QCOMPARE(refused.size(), 1);
        QVERIFY(!session.alarmsEnabled());
        s.answer(300);
        session.secondTick();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0][1].value<QList<float>>(), QList<float>{30.0f});
        QVERIFY(!QFileInfo::exists(s.station.path(QStringLiteral("alarms"))));
    }

    void tornLastLineCutAtOpen() {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("alarms"));
        const QString path = dir.filePath(QStringLiteral("alarms/2026-12.csv"));
        const QByteArray whole =
            kFileStart + "2026-12-07T10:00:00+08:00,1,1,0,A,V,raise,link,,\r\n";
        writeFile(path, whole + "2026-12-07T10:00:0");
        AlarmLog log(dir.path());
        AlarmEvent e;
        e.time = QDateTime(QDate(2026, 12, 7), QTime(11, 0));
        e.device = 0;
        e.address = 1;
        e.type = AlarmEventType::Clear;
        e.kind = AlarmKind::Link;
        QVERIFY(log.append(e));
        QCOMPARE(readFile(path), whole + "2026-12-07T11:00:00+08:00,1,1,0,,,clear,link,,\r\n");
        writeFile(path, kFileStart.left(7));  // not even the header whole
        AlarmLog again(dir.path());
        QVERIFY(again.append(e));
        QCOMPARE(readFile(path), kFileStart + "2026-12-07T11:00:00+08:00,1,1,0,,,clear,link,,\r\n");
    }

    void unwritableLogKeptAndWrittenLater() {
        Session s;
        writeFile(s.station.path(QStringLiteral("alarms")), "not a directory");
        StationSession& session = s.start("[meter 1.0]\nlow = 10\n");
        QSignalSpy problems(&session, &StationSession::alarmLogProblemChanged);
        s.answer(50);
        s.answer(150);
        QCOMPARE(problems.size(), 2);
        QVERIFY(session.alarmLogProblem().contains(QStringLiteral("2 条报警事件")));
        QFile::remove(s.station.path(QStringLiteral("alarms")));
        session.secondTick();
        QCOMPARE(problems.size(), 3);
        QCOMPARE(session.alarmLogProblem(), QString());
        const QList<QByteArray> lines =
            readFile(s.station.path(QStringLiteral("alarms/2026-12.csv"))).split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[1].contains(",raise,low,5,10\r") && lines[2].contains(",clear,low,15,10\r"));
    }

    // Each exchange counted by why it ended: silence, a bad CRC, a short or a stranger's reply.
    void statisticsTellTimeoutsFromRefusals() {
        DeviceTable table;
        table.count = 1;
        table.entries[0].address = 1;
        LiveValueTable live{};
        PollCycle poll;
        ScriptedLine line;
        QByteArray badCrc = valueReply(1, 0, 5, 0);
        badCrc[8] = static_cast<char>(badCrc[8] ^ 1);
        line.replies = {{},
                        badCrc,
                        valueReply(1, 0, 5, 0).left(8),
                        valueReply(2, 0, 5, 0),
                        valueReply(1, 0, 5, 0)};
        CommStatsTable stats;
        const qint64 t0 = QDateTime(QDate(2026, 12, 7), QTime(10, 0)).toMSecsSinceEpoch();
        for (int i = 0; i < 5; ++i) {
            stats.count(poll.tick(line, table, live), t0 + i * 1000);
        }
        const CommStats c = stats.stats(0, t0 + 5000);
        QCOMPARE(c.requests, 5u);
        QCOMPARE(c.answers, 1u);
        QCOMPARE(c.timeouts, 1u);
        QCOMPARE(c.refused, 3u);
        QCOMPARE(c.retries, 3u);  // two in the failed turn, one in the next
        QCOMPARE(c.lastAnswer.toMSecsSinceEpoch(), t0 + 4000);
        QCOMPARE(c.answeredLastHour, 0.2);
        QCOMPARE(stats.stats(0, t0 + 3600 * 1000).answeredLastHour, 0.0);
    }
};

QTEST_MAIN(AlarmsTest)
#include "tst_alarms.moc"
