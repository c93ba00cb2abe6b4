// The programs stop in order on SIGTERM, SIGINT and SIGHUP: tamlo_pro closes its port (the
// port's lock file goes) so that a start right after opens the port and polls again.
#include <QDir>
#include <QFile>
#include <QTest>
#include <csignal>

#include "simulatorprocess.h"
#include "stationfixture.h"
#include "stationprocess.h"

using namespace tamlo::test;

namespace {

// Where QSerialPort keeps the lock of a port: the first usable one of its lock folders.
QStringList lockFileCandidates(const QString& portPath) {
    QString name = QStringLiteral("LCK..") + portPath;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList out;
    for (const QString& dir : {QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
                               QStringLiteral("/var/spool/locks"),
                               QStringLiteral("/var/spool/uucp"), QDir::tempPath()}) {
        out << QDir(dir).filePath(name);
    }
    return out;
}

bool anyExists(const QStringList& paths) {
    for (const QString& p : paths) {
        if (QFile::exists(p)) {
            return true;
        }
    }
    return false;
}

}  // namespace

class TestStopSignals : public QObject {
    Q_OBJECT

private slots:
    void stationStopsInOrderAndRestarts() {
        StationFixture f;
        const QList<MeterLine> meters{
            {1, 1, 0, QStringLiteral("const:1234"), 1, QStringLiteral("TI101")}};
        f.writeConfig(meters, 1);
        QVERIFY(f.startSimulator(meters));
        const QStringList locks = lockFileCandidates(f.path(QStringLiteral("COM1")));

        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            StationProcess station;
            QVERIFY(station.start(f.dir.path()));
            // Polling shows the port open; only then has the program set up its handlers.
            const qsizetype before = f.requests().size();
            QTRY_VERIFY_WITH_TIMEOUT(f.requests().size() > before + 3, 20000);
            QVERIFY2(anyExists(locks), "the open port holds a lock file");

            station.sendSignal(sig);
            QVERIFY2(station.waitForExit(10000), qPrintable(QString::number(sig)));
            QVERIFY2(
                station.endedInOrder(),
                qPrintable(QStringLiteral("signal %1: %2").arg(sig).arg(station.standardError())));
            QVERIFY2(!anyExists(locks), "the lock file is released");
            // Nothing asks the meter any more.
            const qsizetype after = f.requests().size();
            QTest::qWait(300);
            QCOMPARE(f.requests().size(), after);
        }
    }

    // A stop while a box of the start-up is open (here the one that refuses mqtt.ini, shown
    // with the port open and polling) is as orderly.
    void stationStopsInOrderDuringAStartupBox() {
        StationFixture f;
        const QList<MeterLine> meters{
            {1, 1, 0, QStringLiteral("const:1234"), 1, QStringLiteral("TI101")}};
        f.writeConfig(meters, 1);
        QFile ini(f.path(QStringLiteral("mqtt.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[mqtt]\nenabled = true\nhost = 127.0.0.1\nqos = 3\n");
        ini.close();
        QVERIFY(f.startSimulator(meters));
        StationProcess station;
        QVERIFY(station.start(f.dir.path()));
        QTRY_VERIFY_WITH_TIMEOUT(f.requests().size() > 3, 20000);
        const QStringList locks = lockFileCandidates(f.path(QStringLiteral("COM1")));
        QVERIFY(anyExists(locks));
        station.sendSignal(SIGTERM);
        QVERIFY(station.waitForExit(10000));
        QVERIFY2(station.endedInOrder(), qPrintable(station.standardError()));
        QVERIFY(!anyExists(locks));
    }

    // Nor does a command line it does not understand start the station.
    void stationRefusesUnknownOptions() {
        for (const QStringList& arguments : {QStringList{"--bogus"}, {"-v", "--version"}, {"x"}}) {
            const auto run = SimulatorProcess::runToEnd("tamlo_pro", arguments, 20000);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.standardError.contains("Usage: tamlo_pro"), qPrintable(run.standardError));
        }
        QCOMPARE(SimulatorProcess::runToEnd("tamlo_pro", {"-v"}).standardOutput,
                 "tamlo_pro " TAMLO_VERSION "\n");
    }

    void historyProgramsStopInOrder_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("tamlo_view") << QStringLiteral("tamlo_view");
        QTest::newRow("tamlo_ana") << QStringLiteral("tamlo_ana");
    }
    void historyProgramsStopInOrder() {
        QFETCH(QString, program);
        QTemporaryDir dir;
        StationProcess p(program);
        QVERIFY(p.start(dir.path()));
        // No output tells when the window is up; give it time to come up under the sanitizers.
        QTest::qWait(2500);
        QVERIFY2(p.isRunning(), qPrintable(p.standardError()));
        p.sendSignal(SIGTERM);
        QVERIFY(p.waitForExit(10000));
        QVERIFY2(p.endedInOrder(), qPrintable(p.standardError()));
    }
};

QTEST_MAIN(TestStopSignals)
#include "tst_stopsignals.moc"
