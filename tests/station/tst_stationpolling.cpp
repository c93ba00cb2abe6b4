// The station against the meter simulator: the poll order and link states, the one-second
// tick and the data grid, the history records, new files after a save, and a line that comes
// back after it was lost. (A history file that goes away: the session's tests.)
#include <QTest>
#include <cstring>

#include "shared/stationhistory.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

const QString kA = QStringLiteral("01 43 01 00 F1 9C");
const QString kB = QStringLiteral("02 43 02 00 02 68 45");  // TM250 at address 2, channel 2
const QString kC = QStringLiteral("03 43 01 00 F0 24");

QList<MeterLine> threeMeters() {
    return {{1, TM210, 0, QStringLiteral("const:1234"), 1, QStringLiteral("A")},
            {2, TM250, 2, QStringLiteral("const:-200"), 2, QStringLiteral("B")},
            {3, TM210, 0, QStringLiteral("const:5"), 0, QStringLiteral("C")}};
}

void logIn(TForm1& form) {
    form.N4->trigger();
    form.Edit1->setText(QStringLiteral("583174"));
    form.Button7->click();
}

}  // namespace

class StationPolling : public QObject {
    Q_OBJECT
private slots:
    void pollOrderAndLinkStates() {
        StationFixture station;
        station.writeConfig(threeMeters(), 0);
        // A fails twice, then answers; C never answers.
        QVERIFY(station.startSimulator(threeMeters(),
                                       {QStringLiteral("fault 1 silent 2"), QStringLiteral("fault 3 silent")}));
        TForm1& form = station.start();
        QTRY_VERIFY_WITH_TIMEOUT(station.requests().size() >= 12, 5000);
        const auto requests = station.requests();
        QStringList order;
        for (int i = 0; i < 10; ++i) {
            order << requests[i].bytes;
        }
        QCOMPARE(order, (QStringList{kA, kA, kA, kB, kC, kC, kC, kA, kB, kC}));
        // Each tick starts at least 50 ms after the previous one ended.
        for (int i = 1; i < requests.size(); ++i) {
            QVERIFY2(requests[i].ms - requests[i - 1].ms >= 50,
                     qPrintable(QStringLiteral("%1 ms between requests %2 and %3")
                                    .arg(requests[i].ms - requests[i - 1].ms).arg(i - 1).arg(i)));
        }
        QCOMPARE(form.StringGrid1->cell(5, 1), QStringLiteral("......"));
        QCOMPARE(form.StringGrid1->cell(5, 2), QStringLiteral("......"));
        QCOMPARE(form.StringGrid1->cell(5, 3), QStringLiteral("失败！"));
        QCOMPARE(form.liveValues()[0].raw, 1234);
        QCOMPARE(form.liveValues()[0].decimals, 1);
        QCOMPARE(form.liveValues()[1].raw, -200);
        QCOMPARE(form.liveValues()[2].valid, 0);

        // The one-second tick: values, "Err", and no record with an interval of 0.
        QTRY_COMPARE_WITH_TIMEOUT(form.StringGrid2->cell(1, 1), QStringLiteral("123.4"), 2500);
        QCOMPARE(form.StringGrid2->cell(2, 1), QStringLiteral("-2"));
        QCOMPARE(form.StringGrid2->cell(3, 1), QStringLiteral("Err"));
        QCOMPARE(form.StringGrid2->cell(0, 1), QStringLiteral("10:45:18"));
        QCOMPARE(QFileInfo(form.history().path()).size(), 1176);

        // Editing the table refills the grid but leaves the link states to polling.
        logIn(form);
        form.N3->trigger();
        form.MaskEdit1->setText(QStringLiteral("4"));
        form.MaskEdit3->setText(QStringLiteral("0"));
        form.Button1->click();
        QCOMPARE(form.StringGrid1->rowCount(), 6);
        QCOMPARE(form.StringGrid1->cell(5, 1), QStringLiteral("......"));
        QCOMPARE(form.StringGrid1->cell(5, 3), QStringLiteral("失败！"));
        QVERIFY(form.StringGrid1->cell(5, 4).isEmpty());
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void recordsAtTheInterval() {
        StationFixture station;
        station.writeConfig(threeMeters(), 2);
        QVERIFY(station.startSimulator(threeMeters(), {QStringLiteral("fault 3 silent")}));
        TForm1& form = station.start();
        const QString file = form.history().path();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() >= 1176 + 2 * 12, 7000);
        StationHistoryReader reader;
        QVERIFY2(reader.open(file), qPrintable(reader.error()));
        QCOMPARE(reader.header().channelCount, 3u);
        QCOMPARE(reader.header().intervalSeconds, 2u);
        QCOMPARE(reader.header().tag(1), QStringLiteral("B"));
        QVERIFY(reader.recordCount() >= 2);
        std::vector<float> values;
        QVERIFY(reader.seekRecord(reader.recordCount() - 1));
        QVERIFY(reader.readRecord(values));
        QCOMPARE(values, (std::vector<float>{1234.0f / 10.0f, -200.0f / 100.0f, 0.0f}));
        // The record's row is followed by the band of asterisks.
        const int row = form.recordCycle().gridRow();
        QCOMPARE(form.StringGrid2->cell(0, row), QStringLiteral("*******"));
        QCOMPARE(form.StringGrid2->cell(3, row + 19), QStringLiteral("*******"));
        QVERIFY(form.StringGrid2->cell(4, row).isEmpty());
        QCOMPARE(form.StringGrid2->cell(3, row - 1), QStringLiteral("Err"));

        // A device that stops answering repeats its last value.
        QCOMPARE(station.sim->command(QStringLiteral("fault 1 silent")), QStringLiteral("ok"));
        const qint64 size = QFileInfo(file).size();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() >= size + 2 * 12, 7000);
        reader.close();
        QVERIFY(reader.open(file));
        QVERIFY(reader.seekRecord(reader.recordCount() - 1));
        QVERIFY(reader.readRecord(values));
        QCOMPARE(values[0], 123.4f);
        QTRY_COMPARE_WITH_TIMEOUT(form.StringGrid2->cell(1, form.recordCycle().gridRow()),
                                  QStringLiteral("Err"), 3000);
    }

    void aSaveThatAddsADeviceRecordsItInANewFile() {
        StationFixture station;
        const QList<MeterLine> meters = threeMeters();
        station.writeConfig(meters.mid(0, 2), 1);
        QVERIFY(station.startSimulator(meters));
        TForm1& form = station.start();
        const QString first = form.history().path();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(first).size() >= 1176 + 8, 3000);

        logIn(form);
        form.N3->trigger();
        const qint64 firstSize = QFileInfo(first).size();
        form.ComboBox1->setCurrentIndex(TM210);
        form.MaskEdit1->setText(QStringLiteral("3"));
        form.MaskEdit2->setText(QStringLiteral("C"));
        form.MaskEdit3->setText(QStringLiteral("0"));
        form.Button1->click();
        form.Button4->click();
        const QByteArray config = station.readFile(station.path(QStringLiteral("config.dat")));
        QCOMPARE(config.at(0), char(3));
        QCOMPARE(config.mid(512 + 26, 13), QByteArray("\x00\x03\x00"
                                                      "C\0\0\0\0\0\0\0\0\0",
                                                      13));
        station.clock.advanceSeconds(60);
        form.N5->trigger();
        const QString second = form.history().path();
        QCOMPARE(second, station.path(QStringLiteral("26年12月/07日10时46分18秒.nv")));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(second).size() >= 1176 + 2 * 12, 4000);

        // The first file got no record after the save; the second holds the new device's value.
        QCOMPARE(QFileInfo(first).size(), firstSize);
        QCOMPARE((firstSize - 1176) % 8, 0);
        const QByteArray bytes = station.readFile(second);
        QCOMPARE(bytes.mid(8, 8), QByteArray("\x01\0\0\0\x03\0\0\0", 8));  // interval, count
        QCOMPARE(bytes.mid(20 + 2 * 9, 9), QByteArray("C\0\0\0\0\0\0\0\0", 9));
        QCOMPARE((bytes.size() - 1176) % 12, 0);
        const float a = 123.4f, b = -2.0f, c = 5.0f;
        QByteArray record(12, '\0');
        std::memcpy(record.data(), &a, 4);
        std::memcpy(record.data() + 4, &b, 4);
        std::memcpy(record.data() + 8, &c, 4);
        QCOMPARE(bytes.right(12), record);
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void pollingResumesOnTheSameDeviceWhenTheLineComesBack() {
        StationFixture station;
        const QList<MeterLine> meters = threeMeters().mid(0, 1);
        station.writeConfig(meters, 0);
        QVERIFY(station.startSimulator(meters));
        // Another meter where COM1 falls back to while its link is missing (ttyS0 of a device
        // directory, as on most PCs): the station must never poll it.
        const QString devices = station.path(QStringLiteral("dev"));
        QVERIFY(QDir().mkpath(devices));
        QVERIFY(SimulatorProcess::writeMetersFile(station.path(QStringLiteral("other.txt")),
                                                  {QStringLiteral("1 0 0 const:999 0")}));
        SimulatorProcess fallback(QStringLiteral("tamlo_meter_sim"));
        QVERIFY2(fallback.start(
                     {QStringLiteral("--link"), QDir(devices).filePath(QStringLiteral("ttyS0")),
                      QStringLiteral("--meters"), station.path(QStringLiteral("other.txt")),
                      QStringLiteral("--log"), station.path(QStringLiteral("other.log"))}),
                 qPrintable(fallback.errorString()));
        TForm1& form = station.start();
        station.port->setResolver([devices](const QString& comName, const QString& directory) {
            return resolveComPort(comName, directory, devices);
        });
        QTRY_COMPARE_WITH_TIMEOUT(form.StringGrid1->cell(5, 1), QStringLiteral("......"), 2000);

        // The simulator stops and takes its link away.
        QVERIFY(station.sim->stop());
        QVERIFY(!QFileInfo::exists(station.path(QStringLiteral("COM1"))));
        QTRY_COMPARE_WITH_TIMEOUT(form.StringGrid1->cell(5, 1), QStringLiteral("失败！"), 3000);
        QTest::qWait(1500);  // long enough for a reopen attempt
        QVERIFY(fallback.logLines().isEmpty());

        QVERIFY(station.startSimulator(meters));
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QTRY_VERIFY_WITH_TIMEOUT(!station.requests().isEmpty(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(form.StringGrid1->cell(5, 1), QStringLiteral("......"), 2000);
        QVERIFY(QDateTime::currentMSecsSinceEpoch() - before < 2000);
        QCOMPARE(form.liveValues()[0].raw, 1234);
        QVERIFY(fallback.logLines().isEmpty());
        QCOMPARE(station.port->systemPath(), station.path(QStringLiteral("COM1")));
        QVERIFY2(station.prompter.boxes().isEmpty(), qPrintable(station.prompter.texts().join('|')));
        QVERIFY(fallback.stop());
    }
};

QTEST_MAIN(StationPolling)
#include "tst_stationpolling.moc"
