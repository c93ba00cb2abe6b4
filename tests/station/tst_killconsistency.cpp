// The station killed (SIGKILL) at random moments while it records once a second, and started
// again each time: every history file it leaves reads, with the program's reader and with a
// reading written here from the file layout, and holds every record of its run but the one
// being written at the kill. TAMLO_KILLS and TAMLO_KILL_SEED change the run (scripts/soak.sh).
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <cstring>

#include "shared/stationhistory.h"
#include "stationfixture.h"
#include "stationprocess.h"

using namespace tamlo;
using namespace tamlo::test;

namespace {

// The layout: a 1176-byte header (start time as a little-endian double of days since
// 1899-12-30, interval and channel count as little-endian 32-bit numbers at 8 and 12), then
// records of one little-endian float per channel.
struct Layout {
    double start = 0;
    quint32 interval = 0;
    quint32 channels = 0;
    qint64 records = 0;
    qint64 tornBytes = 0;
};

Layout readLayout(const QByteArray& bytes) {
    Layout l;
    if (bytes.size() < 1176) {
        return l;
    }
    quint64 bits = qFromLittleEndian<quint64>(bytes.constData());
    std::memcpy(&l.start, &bits, 8);
    l.interval = qFromLittleEndian<quint32>(bytes.constData() + 8);
    l.channels = qFromLittleEndian<quint32>(bytes.constData() + 12);
    if (l.channels != 0) {
        l.records = (bytes.size() - 1176) / (4 * l.channels);
        l.tornBytes = (bytes.size() - 1176) % (4 * l.channels);
    }
    return l;
}

QDateTime fromDays(double days) {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addMSecs(qRound64(days * 86400000.0));
}

}  // namespace

class KillConsistency : public QObject {
    Q_OBJECT

private slots:
    void killedAtRandomMoments() {
        const int kills = qEnvironmentVariableIntValue("TAMLO_KILLS") > 0
                              ? qEnvironmentVariableIntValue("TAMLO_KILLS")
                              : 20;
        const quint32 seed =
            qEnvironmentVariableIsSet("TAMLO_KILL_SEED")
                ? static_cast<quint32>(qEnvironmentVariableIntValue("TAMLO_KILL_SEED"))
                : QRandomGenerator::global()->generate() % 100000;
        qInfo("%d kills, seed %u (TAMLO_KILL_SEED repeats the run)", kills, seed);
        QRandomGenerator random(seed);

        StationFixture f;
        const QList<MeterLine> meters{
            {1, 1, 0, QStringLiteral("const:1234"), 1, QStringLiteral("TI101")}};
        f.writeConfig(meters, 1);
        QVERIFY(f.startSimulator(meters));
        const QDir month(
            f.path(QDateTime::currentDateTime().toString(QStringLiteral("yy'年'MM'月'"))));
        // The file of each run (the newest) and when the run was killed. A run killed before its
        // first record leaves a header only, which the next start in the same second reuses.
        QMap<QString, QDateTime> killedAt;
        for (int k = 0; k < kills; ++k) {
            StationProcess station;
            const qsizetype before = f.requests().size();
            QVERIFY(station.start(f.dir.path()));
            QTRY_VERIFY_WITH_TIMEOUT(f.requests().size() > before, 20000);
            QTest::qWait(static_cast<int>(random.bounded(1000, 3500)));
            const QDateTime now = QDateTime::currentDateTime();
            station.sendSignal(SIGKILL);
            QVERIFY(station.waitForExit());
            QCOMPARE(station.process().exitStatus(), QProcess::CrashExit);
            const QStringList names =
                month.entryList({QStringLiteral("*.nv")}, QDir::Files, QDir::Name);
            QVERIFY(!names.isEmpty());
            killedAt[names.last()] = now;
        }

        const QStringList files =
            month.entryList({QStringLiteral("*.nv")}, QDir::Files, QDir::Name);
        QCOMPARE(files, killedAt.keys());
        const float value = 123.4f;
        qint64 total = 0;
        int torn = 0;
        for (int i = 0; i < files.size(); ++i) {
            const QString path = month.filePath(files[i]);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            const Layout l = readLayout(bytes);
            QCOMPARE(l.interval, 1u);
            QCOMPARE(l.channels, 1u);
            torn += l.tornBytes != 0 ? 1 : 0;
            StationHistoryReader reader;
            QVERIFY2(reader.open(path), qPrintable(reader.error()));
            QCOMPARE(reader.recordCount(), static_cast<std::uint64_t>(l.records));
            std::vector<float> values;
            for (qint64 r = 0; r < l.records; ++r) {
                QVERIFY(reader.readRecord(values));
                QVERIFY(std::memcmp(bytes.constData() + 1176 + 4 * r, &values[0], 4) == 0);
                QVERIFY2(std::memcmp(&values[0], &value, 4) == 0 || values[0] == 0.0f,
                         qPrintable(QString::number(values[0])));
            }
            // A record is taken every second after the file's
            // start: all of them are there but the one being written when the kill came.
            const qint64 ranMs = fromDays(l.start).msecsTo(killedAt[files[i]]);
            const qint64 due = ranMs / 1000;
            QVERIFY2(l.records >= due - 1 && l.records <= due + 1,
                     qPrintable(QStringLiteral("%1: %2 records after %3 ms")
                                    .arg(files[i])
                                    .arg(l.records)
                                    .arg(ranMs)));
            total += l.records;
        }
        qInfo("%d kills survived, %lld records in %lld files, %d torn tails", kills,
              static_cast<long long>(total), static_cast<long long>(files.size()), torn);
    }
};

QTEST_MAIN(KillConsistency)
#include "tst_killconsistency.moc"
