// The station killed (SIGKILL) while its meters raise and clear alarms several times a second,
// and started again each time: the alarm log reads cleanly after every start (a torn last line
// is cut) and keeps every line that was whole before each kill.
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

#include "stationfixture.h"
#include "stationprocess.h"

using namespace tamlo;
using namespace tamlo::test;

namespace {

const QByteArray kFileStart =
    "\xEF\xBB\xBF" +
    QStringLiteral("时间,序号,地址,通道,位号,单位,事件,类型,数值,限值\r\n").toUtf8();

// Every log file in month order, one after the other.
QByteArray readLogs(const QString& directory) {
    const QDir dir(QDir(directory).filePath(QStringLiteral("alarms")));
    QByteArray all;
    for (const QString& name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly)) {
            all += f.readAll();
        }
    }
    return all;
}

// The whole lines of a log (a torn tail left out); fails on any line that does not read.
QByteArray wholeLines(const QByteArray& log, int* lines) {
    static const QRegularExpression line(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d,\\d+,\\d+,0,TI\\d,℃,"
        "(raise|clear|ack),(high|low|link),-?[\\d.]*,-?[\\d.]*\\r$"));
    const QByteArray whole = log.left(log.lastIndexOf('\n') + 1);
    *lines = 0;
    for (const QByteArray& text : whole.split('\n')) {
        const QByteArray withEnd = text + '\n';
        if (text.isEmpty() || withEnd == kFileStart || withEnd == kFileStart.mid(3)) {
            continue;
        }
        if (!line.match(QString::fromUtf8(text)).hasMatch()) {
            qWarning("line does not read: %s", text.constData());
            return {};
        }
        ++*lines;
    }
    return whole;
}

}  // namespace

class AlarmKill : public QObject {
    Q_OBJECT
private slots:
    void killedDuringEvents() {
        const quint32 seed = QRandomGenerator::global()->generate() % 100000;
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        StationFixture f;
        QList<MeterLine> meters;
        QByteArray ini = "[alarms]\nsound = false\n";
        for (int a = 1; a <= 4; ++a) {
            meters << MeterLine{
                a, 1, 0, QStringLiteral("ramp:0:1000:250"), 0, QStringLiteral("TI%1").arg(a)};
            ini += QByteArray("[meter ") + QByteArray::number(a) + ".0]\nhigh = 600\nlow = 100\n";
        }
        f.writeConfig(meters, 1);
        QFile iniFile(f.path(QStringLiteral("alarms.ini")));
        QVERIFY(iniFile.open(QIODevice::WriteOnly));
        iniFile.write(ini);
        iniFile.close();
        QVERIFY(f.startSimulator(meters));

        QByteArray kept;  // the whole lines before the last kill
        int lines = 0;
        for (int k = 0; k < 6; ++k) {
            StationProcess station;
            QVERIFY(station.start(f.dir.path()));
            // The first event of a run cuts what the last kill tore; then it writes on.
            QTRY_VERIFY2_WITH_TIMEOUT(readLogs(f.dir.path()).size() > kept.size() + 200,
                                      "no alarm events: does the window start the alarms?", 20000);
            QTest::qWait(static_cast<int>(random.bounded(200, 1500)));
            station.sendSignal(SIGKILL);
            QVERIFY(station.waitForExit());
            const QByteArray log = readLogs(f.dir.path());
            QVERIFY(log.startsWith(kFileStart));
            QVERIFY2(log.startsWith(kept), "a line written before a kill was lost");
            kept = wholeLines(log, &lines);
            QVERIFY(!kept.isEmpty());
        }
        // A last run ended in order leaves no torn tail.
        StationProcess station;
        QVERIFY(station.start(f.dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(readLogs(f.dir.path()).size() > kept.size() + 200, 20000);
        station.sendSignal(SIGTERM);
        QVERIFY(station.waitForExit());
        const QByteArray log = readLogs(f.dir.path());
        QVERIFY(log.startsWith(kept));
        QCOMPARE(wholeLines(log, &lines), log);
        qInfo("%d lines after 6 kills", lines);
    }
};

QTEST_MAIN(AlarmKill)
#include "tst_alarmkill.moc"
