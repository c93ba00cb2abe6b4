// The station without its window: polls over a scripted line, seconds and records by the fake
// clock, the history file they write, and setup mode as one state.
#include <QSignalSpy>
#include <QTest>

#include "scriptedline.h"
#include "station/stationsession.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

class ScriptedStationLine final : public PortLine {
public:
    ScriptedLine line;
    PortOpenResult openResult = PortOpenResult::Opened;
    QList<int> opens;  // port index of every open
    int closes = 0;

    PortOpenResult open(int portIndex, std::int32_t) override {
        opens << portIndex;
        return openResult;
    }
    void close() override { ++closes; }
    bool isOpen() const override { return true; }
    ByteLink& link() override { return line; }
};

QByteArray floatBytes(float v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

struct Session {
    StationFixture station;  // the directory, config.dat and the clock
    ScriptedStationLine line;
    std::unique_ptr<StationSession> session;

    StationSession& start() {
        session = std::make_unique<StationSession>(station.dir.path(), station.clock,
                                                   std::make_unique<LentLine>(line));
        session->load();
        session->resetCycles();
        session->openPort();
        session->startHistoryFile();
        return *session;
    }
};

}  // namespace

class StationSessionTest : public QObject {
    Q_OBJECT
private slots:
    void pollsAndRecordsWithoutAWindow() {
        Session s;
        s.station.writeConfig(
            {{1, TM210, 0, {}, 0, QStringLiteral("A")}, {2, TM250, 3, {}, 0, QStringLiteral("B")}},
            5);
        StationSession& session = s.start();
        QSignalSpy links(&session, &StationSession::linkStateChanged);
        QSignalSpy seconds(&session, &StationSession::secondTicked);
        QSignalSpy records(&session, &StationSession::recordTaken);

        // Device 0 answers 250 with one decimal; device 1 stays silent for its three tries.
        s.line.line.replies = {valueReply(1, 0x00, 0xFA, 0x01), {}, {}, {}};
        for (int i = 0; i < 4; ++i) {
            session.pollTick();
        }
        QCOMPARE(s.line.line.requests.first(), QByteArray::fromHex("01430100F19C"));
        QCOMPARE(s.line.line.requests.size(), 4);
        QCOMPARE(links.size(), 2);
        QCOMPARE(links[0], (QVariantList{0, true}));
        QCOMPARE(links[1], (QVariantList{1, false}));

        const QString file = session.history().path();
        for (int t = 1; t <= 5; ++t) {
            QCOMPARE(records.size(), 0);
            s.station.clock.advanceSeconds(1);
            session.secondTick();
        }
        QCOMPARE(seconds.size(), 5);
        const auto tick = seconds.last().at(0).value<RecordCycle::Tick>();
        QCOMPARE(tick.texts, (QStringList{QStringLiteral("25"), QStringLiteral("Err")}));
        QCOMPARE(tick.clockText, QStringLiteral("时间：26-07-12 10:45:23    "));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].at(0).toString(), QStringLiteral("26-07-12 10:45:23"));
        QCOMPARE(records[0].at(1).value<QList<float>>(), (QList<float>{25.0f, 0.0f}));
        const QByteArray bytes = s.station.readFile(file);
        QCOMPARE(bytes.size(), 1176 + 8);
        QCOMPARE(bytes.mid(1176), floatBytes(25.0f) + floatBytes(0.0f));

        session.close();
        QCOMPARE(s.line.closes, 1);
    }

    void aHistoryFileThatGoesAwayIsFollowedByANewOne() {
        Session s;
        s.station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("A")}}, 1);
        StationSession& session = s.start();
        QSignalSpy files(&session, &StationSession::historyFileStarted);
        QSignalSpy failures(&session, &StationSession::portOpenFailed);
        s.line.line.replies = {valueReply(1, 0x04, 0xD2, 0x01)};
        session.pollTick();
        const QString first = session.history().path();
        session.secondTick();
        QCOMPARE(QFileInfo(first).size(), 1176 + 4);

        // Deleted: the next record starts a new file, named in the status bar.
        s.station.clock.advanceSeconds(10);
        QVERIFY(QFile::remove(first));
        session.secondTick();
        const QString second = s.station.path(QStringLiteral("26年12月/07日10时45分28秒.nv"));
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0].at(0).toString(),
                 QStringLiteral("当前文件：") + QDir::toNativeSeparators(second));
        QCOMPARE(QFileInfo(second).size(), 1176 + 4);
        QCOMPARE(decodeHistoryHeader(s.station.readFile(second)).startTime,
                 oleDateFromParts(2026, 12, 7, 10, 45, 28));
        QCOMPARE(s.station.readFile(second).mid(1176), floatBytes(123.4f));

        // Moved away, month folder and all: the same.
        s.station.clock.advanceSeconds(10);
        QVERIFY(QDir().rename(s.station.path(QStringLiteral("26年12月")),
                              s.station.path(QStringLiteral("moved"))));
        session.secondTick();
        const QString third = s.station.path(QStringLiteral("26年12月/07日10时45分38秒.nv"));
        QCOMPARE(files.size(), 2);
        QCOMPARE(files[1].at(0).toString(),
                 QStringLiteral("当前文件：") + QDir::toNativeSeparators(third));
        QCOMPARE(QFileInfo(third).size(), 1176 + 4);
        QCOMPARE(QFileInfo(s.station.path(QStringLiteral("moved/07日10时45分28秒.nv"))).size(),
                 1176 + 4);
        QVERIFY(failures.isEmpty());
    }

    void setupModeIsOneState() {
        Session s;
        s.station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("A")}}, 1);
        s.line.openResult = PortOpenResult::OpenFailed;
        QList<QStringList> failures;
        s.session = std::make_unique<StationSession>(s.station.dir.path(), s.station.clock,
                                                     std::make_unique<LentLine>(s.line));
        StationSession& session = *s.session;
        QObject::connect(&session, &StationSession::portOpenFailed,
                         [&](const QString& text, const QString& caption) {
                             failures << QStringList{text, caption};
                         });
        session.load();
        session.openPort();
        QCOMPARE(failures,
                 (QList<QStringList>{{QStringLiteral("串口打开失败！"), QStringLiteral("oh")}}));
        session.startHistoryFile();
        session.startPolling();
        session.startRecording();
        const QString first = session.history().path();

        QSignalSpy modes(&session, &StationSession::setupModeChanged);
        QSignalSpy files(&session, &StationSession::historyFileStarted);
        QSignalSpy tables(&session, &StationSession::activeTableChanged);
        using Mode = StationSession::SetupMode;
        using Change = StationSession::PasswordChange;
        session.configure();  // not logged in: nothing
        QCOMPARE(session.setupMode(), Mode::Locked);
        QCOMPARE(session.changePassword(QStringLiteral("a"), QStringLiteral("a")), Change::Refused);
        QVERIFY(!session.logIn(QStringLiteral("583174 ")));
        QCOMPARE(session.setupMode(), Mode::Locked);
        QVERIFY(session.logIn(QStringLiteral("583174")));
        QCOMPARE(session.setupMode(), Mode::Unlocked);
        session.configure();
        QCOMPARE(session.setupMode(), Mode::Configuring);
        QCOMPARE(modes.size(), 2);
        // Polling and recording pause: the timers stop, and a tick already due does nothing.
        QVERIFY(!session.pollTimer().isActive() && !session.secondTimer().isActive());
        session.pollTimerTick();
        session.secondTick();
        QVERIFY(s.line.line.requests.isEmpty());     // nothing reaches the meters
        QCOMPARE(QFileInfo(first).size(), 1176);     // and nothing is recorded

        // A save while configuring: the active table follows, the port reopens, the new file
        // waits for the end of the pause.
        DeviceEntry added;
        added.address = 2;
        QVERIFY(session.addDevice(added));
        QVERIFY(session.save(StationConfig{3, 4, 7, {}}));
        QCOMPARE(tables.size(), 1);
        QCOMPARE(session.activeTable().count, 2);
        QCOMPARE(s.line.opens, (QList<int>{0, 3}));
        QCOMPARE(session.config().recordInterval, 7);
        QCOMPARE(session.recordCycle().recordTick(), 7);
        QCOMPARE(files.size(), 0);
        QCOMPARE(session.history().path(), first);

        s.station.clock.advanceSeconds(60);
        session.lock();
        QCOMPARE(session.setupMode(), Mode::Locked);
        QVERIFY(session.pollTimer().isActive() && session.secondTimer().isActive());
        QCOMPARE(files.size(), 1);
        QVERIFY(session.history().path() != first);
        QCOMPARE(session.history().header().channelCount, 2u);
        QCOMPARE(session.history().header().intervalSeconds, 7u);

        // The password: refused while locked, a mismatch changes nothing, a change reaches the
        // file.
        const QString config = s.station.path(QStringLiteral("config.dat"));
        QCOMPARE(session.changePassword(QStringLiteral("abc"), QStringLiteral("abc")),
                 Change::Refused);
        QVERIFY(session.logIn(QStringLiteral("583174")));
        QCOMPARE(session.changePassword(QStringLiteral("abc"), QStringLiteral("abd")),
                 Change::Mismatch);
        QCOMPARE(s.station.readFile(config).mid(5, 8), QByteArray("583174\0\0", 8));
        QCOMPARE(session.changePassword(QStringLiteral("abc"), QStringLiteral("abc")),
                 Change::Changed);
        QCOMPARE(s.station.readFile(config).mid(5, 8), QByteArray("abc\0\0\0\0\0", 8));
        session.lock();
        QVERIFY(!session.logIn(QStringLiteral("583174")));
        QVERIFY(session.logIn(QStringLiteral("abc")));
        // Locking from unlocked (no pause) keeps the file.
        session.lock();
        QCOMPARE(files.size(), 1);
    }
};

QTEST_MAIN(StationSessionTest)
#include "tst_stationsession.moc"
