// Reading meter parameters from the station's device page against the meter simulator: the
// frames, the values and texts of the list, the choice box, failed reads, rows without a
// parameter, and reads between the poll ticks of three meters.
#include <QTest>

#include "shared/crc16.h"
#include "shared/seriallink.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

QString hex(const std::vector<std::uint8_t>& bytes) {
    QStringList parts;
    for (std::uint8_t b : bytes) {
        parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    return parts.join(QLatin1Char(' '));
}

// A request body with its two check bytes.
QString framed(std::vector<std::uint8_t> body) {
    const auto check = crc16(body.data(), body.size());
    body.insert(body.end(), check.begin(), check.end());
    return hex(body);
}

bool isParamRequest(const StationFixture::Request& r) {
    return r.bytes.mid(3, 2) == "41";
}

QList<StationFixture::Request> paramRequests(const StationFixture& station) {
    QList<StationFixture::Request> out;
    for (const auto& r : station.requests()) {
        if (isParamRequest(r)) {
            out << r;
        }
    }
    return out;
}

// The operator clicks device row `row` of the device grid.
void showDevice(TForm1& form, int row) {
    form.StringGrid1->selectCell(0, row);
    form.StringGrid1Click();
}

void selectParameter(TForm1& form, int row) {
    form.StringGrid3->selectCell(0, row);
    form.paramListPanel()->StringGrid3Click();
}

void readParameter(TForm1& form, int row) {
    form.StringGrid3->selectCell(0, row);
    form.read_para->click();
}

QString cacheText(const TForm1& form, int device, int row) {
    const ParameterCacheEntry& e = form.paramListPanel()->reader().entry(device, row - 1);
    return QStringLiteral("%1/%2").arg(e.value).arg(e.valid);
}

}  // namespace

class ParamReading : public QObject {
    Q_OBJECT
private slots:
    void framesValuesAndTexts() {
        StationFixture station;
        const QList<MeterLine> meters{
            {1, TM250, 2, QStringLiteral("const:1"), 0, QStringLiteral("A")},
            {1, TM250, 0, QStringLiteral("const:2"), 0, QStringLiteral("B")},
            {3, TM210, 5, QStringLiteral("const:3"), 0, QStringLiteral("C")},
        };
        station.writeConfig(meters, 0);
        QVERIFY(station.startSimulator(meters));
        for (const char* command : {"param 1 2 6 -1000", "param 1 0 6 77", "param 3 0 0 8",
                                    "param 3 0 8 5", "param 3 0 21 1300"}) {
            QCOMPARE(station.sim->command(QString::fromLatin1(command)), QStringLiteral("ok"));
        }
        TForm1& form = station.start();

        // Start-up: the list of device 0 with its headers and names, and no values.
        QCOMPARE(form.StringGrid3->columnCount(), 2);
        QCOMPARE(form.StringGrid3->rowCount(), 41);
        QCOMPARE(form.StringGrid3->cell(0, 0), QStringLiteral("参数名称"));
        QCOMPARE(form.StringGrid3->cell(1, 0), QStringLiteral("参数值"));
        QCOMPARE(form.StringGrid3->cell(0, 4), QStringLiteral("量程下限"));
        QCOMPARE(form.StringGrid3->cell(0, 12), QStringLiteral("上限报警输出"));
        QVERIFY(form.StringGrid3->cell(0, 13).isEmpty());
        for (int r = 1; r <= 40; ++r) {
            QVERIFY(form.StringGrid3->cell(1, r).isEmpty());
        }
        QVERIFY(!form.Label15->isVisibleTo(&form));
        QVERIFY(!form.meter_para_box->isVisibleTo(&form));
        QVERIFY(!form.meter_para_editer->isVisibleTo(&form));
        QCOMPARE(form.meter_para_editer->geometry(), form.meter_para_box->geometry());
        QCOMPARE(form.read_para->text(), QStringLiteral("刷  新"));
        QCOMPARE(form.mod_para->text(), QStringLiteral("修  改"));
        QVERIFY(!form.mod_para->isEnabled());

        // A TM250 on channel 2 asks for the range low limit (register 6) with the channel.
        readParameter(form, 4);
        QCOMPARE(form.StringGrid3->cell(1, 4), QStringLiteral("-1000"));
        QCOMPARE(cacheText(form, 0, 4), QStringLiteral("-1000/1"));
        QTRY_COMPARE(paramRequests(station).size(), 1);
        QCOMPARE(paramRequests(station)[0].bytes, QStringLiteral("01 41 02 02 06 2D 5E"));
        QCOMPARE(paramRequests(station)[0].reply, QStringLiteral("01 41 02 FC 18 ED 36"));
        // The edit box shows the value as the list does, sign and all.
        selectParameter(form, 4);
        QVERIFY(form.meter_para_editer->isVisibleTo(&form));
        QCOMPARE(form.meter_para_editer->text(), QStringLiteral("-1000"));
        // Typed entries stay within four characters.
        for (const auto& [typed, kept] :
             {std::pair{"12345", "1234"}, std::pair{"-12a34", "-123"}}) {
            form.meter_para_editer->clear();
            QTest::keyClicks(form.meter_para_editer, QString::fromLatin1(typed));
            QCOMPARE(form.meter_para_editer->text(), QString::fromLatin1(kept));
        }
        // Below its bounds: the next fill leaves the cell empty.
        showDevice(form, 1);
        QVERIFY(form.StringGrid3->cell(1, 4).isEmpty());
        QCOMPARE(form.StringGrid3->cell(0, 4), QStringLiteral("量程下限"));

        // The same model on channel 0 sends no channel.
        showDevice(form, 2);
        readParameter(form, 4);
        QCOMPARE(form.StringGrid3->cell(1, 4), QStringLiteral("77"));
        QTRY_COMPARE(paramRequests(station).size(), 2);
        QCOMPARE(paramRequests(station)[1].bytes, QStringLiteral("01 41 01 06 D0 5E"));

        // A TM210 ignores its channel 5; its set point is register 21. Double-clicking a row
        // reads it like the button.
        showDevice(form, 3);
        QCOMPARE(form.StringGrid3->cell(0, 1), QStringLiteral("给定值"));
        QCOMPARE(form.StringGrid3->cell(0, 20), QStringLiteral("回差"));
        QVERIFY(form.StringGrid3->cell(0, 21).isEmpty());
        form.StringGrid3->selectCell(0, 1);
        emit form.StringGrid3->cellDoubleClicked();
        QCOMPARE(form.StringGrid3->cell(1, 1), QStringLiteral("1300"));
        QTRY_COMPARE(paramRequests(station).size(), 3);
        QCOMPARE(paramRequests(station)[2].bytes, framed({0x03, 0x41, 0x01, 0x15}));
        selectParameter(form, 1);
        QVERIFY(form.Label15->isVisibleTo(&form));
        QCOMPARE(form.Label15->text(), QStringLiteral("给定值："));
        QVERIFY(form.meter_para_editer->isVisibleTo(&form));
        QVERIFY(!form.meter_para_box->isVisibleTo(&form));
        QCOMPARE(form.meter_para_editer->text(), QStringLiteral("1300"));

        // Input type 8 reads as "Pt100"; the choice box offers the 17 input types with it chosen.
        readParameter(form, 2);
        QCOMPARE(form.StringGrid3->cell(1, 2), QStringLiteral("Pt100"));
        selectParameter(form, 2);
        QCOMPARE(form.Label15->text(), QStringLiteral("输入类型："));
        QVERIFY(form.meter_para_box->isVisibleTo(&form));
        QVERIFY(!form.meter_para_editer->isVisibleTo(&form));
        QCOMPARE(form.meter_para_box->count(), 17);
        QCOMPARE(form.meter_para_box->itemText(16), QStringLiteral("_3_"));
        QCOMPARE(form.meter_para_box->currentText(), QStringLiteral("Pt100"));
        // A parameter never read shows the first entry.
        selectParameter(form, 4);
        QVERIFY(form.meter_para_box->isVisibleTo(&form));
        QCOMPARE(form.meter_para_box->count(), 3);
        QCOMPARE(form.meter_para_box->currentText(), QStringLiteral("无"));
        // Auxiliary output 5: within bounds, beyond the named entries, shown as its number.
        readParameter(form, 10);
        QCOMPARE(form.StringGrid3->cell(1, 10), QStringLiteral("5"));
        selectParameter(form, 10);
        QCOMPARE(form.meter_para_box->currentText(), QStringLiteral("5"));
        QCOMPARE(form.meter_para_box->itemText(3), QStringLiteral("HHA"));

        // Rows beyond the model's count change nothing and ask nothing.
        QTRY_COMPARE(paramRequests(station).size(), 5);
        for (int row : {21, 40, 0}) {
            selectParameter(form, row);
            readParameter(form, row);
        }
        QCOMPARE(form.Label15->text(), QStringLiteral("1号辅助输出："));
        QCOMPARE(form.meter_para_box->currentText(), QStringLiteral("5"));
        QVERIFY(form.StringGrid3->cell(1, 21).isEmpty());

        // Failed reads show nothing, keep the cell and mark the entry not valid.
        QCOMPARE(station.sim->command(QStringLiteral("fault 3 silent")), QStringLiteral("ok"));
        readParameter(form, 2);
        QCOMPARE(form.StringGrid3->cell(1, 2), QStringLiteral("Pt100"));
        QCOMPARE(cacheText(form, 2, 2), QStringLiteral("8/0"));
        QCOMPARE(station.sim->command(QStringLiteral("fault 3 badcrc")), QStringLiteral("ok"));
        readParameter(form, 1);
        QCOMPARE(form.StringGrid3->cell(1, 1), QStringLiteral("1300"));
        QCOMPARE(cacheText(form, 2, 1), QStringLiteral("1300/0"));
        QCOMPARE(station.sim->command(QStringLiteral("clear")), QStringLiteral("ok"));
        QTRY_COMPARE(paramRequests(station).size(), 7);
        QCOMPARE(paramRequests(station)[6].reply.left(4), QStringLiteral("03 4"));
        // The next fill leaves those cells empty and keeps the values read well.
        showDevice(form, 1);
        showDevice(form, 3);
        QVERIFY(form.StringGrid3->cell(1, 1).isEmpty());
        QVERIFY(form.StringGrid3->cell(1, 2).isEmpty());
        QCOMPARE(form.StringGrid3->cell(1, 10), QStringLiteral("5"));
        // The choice box still goes by the value last read.
        selectParameter(form, 2);
        QCOMPARE(form.meter_para_box->currentText(), QStringLiteral("Pt100"));

        QVERIFY(!form.mod_para->isEnabled());
        QVERIFY2(station.prompter.boxes().isEmpty(),
                 qPrintable(station.prompter.texts().join('|')));
        QTest::qWait(150);
        QCOMPARE(paramRequests(station).size(), 7);
    }

    // Every row of every model reads its own register: the station's catalogue and the
    // simulated meters agree on each model's registers.
    void everyRowOfEveryModelIsAnswered() {
        QTemporaryDir dir;
        QStringList lines;
        DeviceTable active;
        active.count = 7;
        for (int m = 0; m < 7; ++m) {
            lines << QStringLiteral("%1 %2 1 const:0 0").arg(m + 1).arg(m);
            DeviceEntry& e = active.entries[static_cast<std::size_t>(m)];
            e.model = static_cast<std::uint8_t>(m);
            e.address = static_cast<std::uint8_t>(m + 1);
            e.channel = 1;
        }
        QVERIFY(
            SimulatorProcess::writeMetersFile(dir.filePath(QStringLiteral("meters.txt")), lines));
        SimulatorProcess sim(QStringLiteral("tamlo_meter_sim"));
        QVERIFY2(
            sim.start({QStringLiteral("--link"), dir.filePath(QStringLiteral("COM1")),
                       QStringLiteral("--meters"), dir.filePath(QStringLiteral("meters.txt"))}),
            qPrintable(sim.errorString()));
        for (int m = 0; m < 7; ++m) {
            for (int j = 0; j < parameterRowCount(m); ++j) {
                QCOMPARE(sim.command(QStringLiteral("param %1 1 %2 %3")
                                         .arg(m + 1)
                                         .arg(parameterAt(m, j)->registerNumber)
                                         .arg(100 * m + j)),
                         QStringLiteral("ok"));
            }
        }
        SerialPort port;
        QCOMPARE(port.open(sim.devicePath(), 9600), PortOpenResult::Opened);
        ParameterReader reader;
        reader.clear(7);
        for (int m = 0; m < 7; ++m) {
            QCOMPARE(reader.fill(active, m).size(), parameterRowCount(m));
            for (int r = 1; r <= parameterRowCount(m); ++r) {
                QVERIFY2(reader.read(port, active, r).valid,
                         qPrintable(QStringLiteral("%1 row %2").arg(modelNames()[m]).arg(r)));
                QCOMPARE(reader.entry(m, r - 1).value, 100 * m + r - 1);
            }
        }
        port.close();
        QVERIFY(sim.stop());
    }

    void noReadWithoutAnActiveDevice() {
        StationFixture station;
        const QList<MeterLine> meters{
            {1, TM210, 0, QStringLiteral("const:1"), 0, QStringLiteral("A")}};
        station.writeConfig({}, 0);
        QVERIFY(station.startSimulator(meters));
        TForm1& form = station.start();
        // The list of slot 0 is shown, but no meter is on the running line.
        readParameter(form, 2);
        QCOMPARE(cacheText(form, 0, 2), QStringLiteral("0/0"));

        // A device added and not yet saved has no meter to ask either.
        form.N4->trigger();
        form.Edit1->setText(QStringLiteral("583174"));
        form.Button7->click();
        form.N3->trigger();
        form.ComboBox1->setCurrentIndex(TM210);
        form.MaskEdit1->setText(QStringLiteral("1"));
        form.MaskEdit3->setText(QStringLiteral("0"));
        form.Button1->click();
        readParameter(form, 2);
        QTest::qWait(200);
        QVERIFY(paramRequests(station).isEmpty());
        // Once saved, it is.
        form.Button4->click();
        readParameter(form, 2);
        QCOMPARE(form.StringGrid3->cell(1, 2), QStringLiteral("K"));
        QTRY_COMPARE(paramRequests(station).size(), 1);
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void readsKeepThePollOrderAndGaps() {
        StationFixture station;
        const QList<MeterLine> meters{
            {1, TM210, 0, QStringLiteral("const:1234"), 1, QStringLiteral("A")},
            {2, TM250, 2, QStringLiteral("const:-200"), 2, QStringLiteral("B")},
            {3, TM220, 0, QStringLiteral("const:5"), 0, QStringLiteral("C")},
        };
        station.writeConfig(meters, 0);
        QVERIFY(station.startSimulator(meters));
        TForm1& form = station.start();
        showDevice(form, 2);
        QTRY_VERIFY(station.requests().size() >= 3);

        // Reads of meter B at moments that fall anywhere between two ticks.
        int reads = 0;
        QTimer operatorClicks;
        operatorClicks.setInterval(83);
        connect(&operatorClicks, &QTimer::timeout, &form, [&] {
            readParameter(form, 1 + reads % 12);
            if (++reads == 24) {
                operatorClicks.stop();
            }
        });
        operatorClicks.start();
        QTRY_COMPARE_WITH_TIMEOUT(reads, 24, 10000);
        QTRY_COMPARE(paramRequests(station).size(), 24);
        QTest::qWait(300);

        const QList<StationFixture::Request> log = station.requests();
        const QStringList cycle{framed({0x01, 0x43, 0x01, 0x00}),
                                framed({0x02, 0x43, 0x02, 0x00, 0x02}),
                                framed({0x03, 0x43, 0x01, 0x00})};
        int polls = 0;
        int readsSeen = 0;
        for (int i = 0; i < log.size(); ++i) {
            const auto& r = log[i];
            QVERIFY2(!r.reply.startsWith(QStringLiteral("none")),
                     qPrintable(r.bytes + " " + r.reply));
            if (isParamRequest(r)) {
                QVERIFY2(r.bytes.startsWith(QStringLiteral("02 41 02 02 ")), qPrintable(r.bytes));
                ++readsSeen;
                continue;
            }
            QCOMPARE(r.bytes, cycle[polls % 3]);
            ++polls;
            // Every poll comes at least 50 ms after the exchange before it, poll or read.
            if (i > 0) {
                QVERIFY2(r.ms - log[i - 1].ms >= 50,
                         qPrintable(QStringLiteral("%1 ms between request %2 (%3) and the poll %4")
                                        .arg(r.ms - log[i - 1].ms)
                                        .arg(i - 1)
                                        .arg(log[i - 1].bytes)
                                        .arg(i)));
            }
        }
        QCOMPARE(readsSeen, 24);
        QVERIFY(polls >= 20);
        QCOMPARE(form.StringGrid1->cell(5, 2), QStringLiteral("......"));
        QVERIFY(station.prompter.boxes().isEmpty());
    }
};

QTEST_MAIN(ParamReading)
#include "tst_paramreading.moc"
