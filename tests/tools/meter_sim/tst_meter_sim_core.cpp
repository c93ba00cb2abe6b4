// The meter simulator's logic without a process: the meters file and the answers on the bus.

#include <QTest>

#include "bytetesting.h"
#include "meterbus.h"
#include "meterconfig.h"
#include "shared/crc16.h"

using namespace tamlo::metersim;
using tamlo::sim::Bytes;
using tamlo::test::hexBytes;
using tamlo::test::withCrc;

namespace {

MetersFile parsed(const char* text) {
    std::string error;
    auto file = parseMeters(text, error);
    if (!file)
        qFatal("meters file refused: %s", error.c_str());
    return *file;
}

QString parseError(const char* text) {
    std::string error;
    auto file = parseMeters(text, error);
    return file ? QString() : QString::fromStdString(error);
}

// The reply bytes as text, or the reason there is none.
QString ask(MeterBus& bus, const Bytes& request, std::int64_t epochMs = 0) {
    tamlo::sim::Answer answer = bus.answer(request, epochMs);
    if (!answer.reply)
        return "none: " + QString::fromStdString(answer.reason);
    return QString::fromStdString(tamlo::sim::toHex(*answer.reply));
}

// Asks and, when there is a reply, counts it as sent (as the loop does).
QString askAndSend(MeterBus& bus, const Bytes& request) {
    QString reply = ask(bus, request);
    if (!reply.startsWith("none"))
        bus.answered(request, 0);
    return reply;
}

}  // namespace

class TestMeterSimCore : public QObject {
    Q_OBJECT

private slots:
    void metersFileLines();
    void metersFileErrorsNameTheLine();
    void valueRepliesByteForByte();
    void parameterRepliesByteForByte();
    void requestsWithoutAMeterOrShapeGetNoReply();
    void parametersOnlyForTheModelsRegisters();
    void rampMovesOnAnsweredRequestsOnly();
    void sineFollowsTheClock();
    void controlCommandsChangeMeters();
};

void TestMeterSimCore::metersFileLines() {
    MetersFile file = parsed(
        "# station 3, boiler house\r\n"
        "\r\n"
        "1 TM210 0 const:1234 1 p0=8 p3=-50   # inlet\r\n"
        "1 tm250 2 ramp:0:1000:25 0 p6=-1000\n"
        "\t2\t5  7 sine:500:200.5:60 3\n"
        "fault 2 silent 2\n"
        "fault 1 otheraddr\n");
    QCOMPARE(file.meters.size(), std::size_t(3));
    const Meter& first = file.meters[0];
    QCOMPARE(first.address, std::uint8_t(1));
    QCOMPARE(first.model, 0);
    QVERIFY(!first.multiChannel());
    QCOMPARE(first.source.kind, ValueSource::Kind::Constant);
    QCOMPARE(first.value(0), std::int16_t(1234));
    QCOMPARE(first.decimals, 1);
    QCOMPARE(first.parameter(0), std::int16_t(8));
    QCOMPARE(first.parameter(3), std::int16_t(-50));
    QCOMPARE(first.parameter(4), std::int16_t(0));

    const Meter& second = file.meters[1];
    QCOMPARE(second.model, 3);
    QVERIFY(second.multiChannel());
    QCOMPARE(second.channel, std::uint8_t(2));
    QCOMPARE(second.source.kind, ValueSource::Kind::Ramp);
    QCOMPARE(second.source.step, 25);
    QCOMPARE(second.parameter(6), std::int16_t(-1000));

    const Meter& third = file.meters[2];
    QCOMPARE(third.model, 5);  // TP7 by its row
    QCOMPARE(third.source.kind, ValueSource::Kind::Sine);
    QCOMPARE(third.source.amplitude, 200.5);
    QCOMPARE(third.decimals, 3);

    QCOMPARE(file.faults.size(), std::size_t(2));
    QCOMPARE(file.faults[0].address, std::uint8_t(2));
    QCOMPARE(file.faults[0].kind, tamlo::sim::FaultKind::Silent);
    QCOMPARE(file.faults[0].count, 2);
    QCOMPARE(file.faults[1].count, 0);

    // Multi-channel meters share an address by channel; a single-channel meter may sit beside them.
    QCOMPARE(parsed("4 TM260 0 const:1 0\n4 TM260 1 const:2 0\n4 TM250 2 const:3 0\n"
                    "4 TM610 9 const:4 0\n")
                 .meters.size(),
             std::size_t(4));
    for (int row = 0; row < kModelCount; ++row) {
        QCOMPARE(parseModel(modelName(row)), std::optional(row));
    }
}

void TestMeterSimCore::metersFileErrorsNameTheLine() {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", "no meters defined"},
        {"# only a comment\nfault 1 silent\n", "no meters defined"},
        {"1 TM210 0 const:1\n", "line 1: expected <address>"},
        {"\n256 TM210 0 const:1 0\n", "line 2: bad address \"256\""},
        {"1 TM999 0 const:1 0\n", "line 1: unknown model \"TM999\""},
        {"1 7 0 const:1 0\n", "line 1: unknown model \"7\""},
        {"1 TM210 -1 const:1 0\n", "line 1: bad channel"},
        {"1 TM210 0 const:40000 0\n", "line 1: bad source \"const:40000\""},
        {"1 TM210 0 const:1.5 0\n", "line 1: bad source"},
        {"1 TM210 0 ramp:0:10 0\n", "line 1: bad source"},
        {"1 TM210 0 ramp:0:10:-1 0\n", "line 1: the ramp \"ramp:0:10:-1\" never gets"},
        {"1 TM210 0 ramp:0:10:0 0\n", "line 1: the ramp"},
        {"1 TM210 0 sine:0:10:0 0\n", "line 1: bad source"},
        {"1 TM210 0 noise:3 0\n", "line 1: bad source"},
        {"1 TM210 0 const:1 4\n", "line 1: bad decimals \"4\""},
        {"1 TM210 0 const:1 0 p256=1\n", "line 1: bad parameter \"p256=1\""},
        {"1 TM210 0 const:1 0 p5=32768\n", "line 1: bad parameter"},
        {"1 TM210 0 const:1 0 q5=1\n", "line 1: bad parameter"},
        {"1 TM210 0 const:1 0 p5=1 p5=2\n", "line 1: parameter p5 is given twice"},
        {"1 TM220 0 const:1 0 p21=1\n", "line 1: parameter p21 is not a register of TM220"},
        {"1 TM250 2 const:1 0 p0=1\n", "line 1: parameter p0 is not a register of TM250"},
        {"1 TM210 0 const:1 0\n1 TP7 3 const:2 0\n",
         "line 2: a single-channel meter at address 1 is already on line 1"},
        {"1 TM250 3 const:1 0\n\n1 TM260 3 const:2 0\n",
         "line 3: a multi-channel meter at address 1 channel 3 is already on line 1"},
        {"1 TM210 0 const:1 0\nfault 1 often\n", "line 2: unknown fault \"often\""},
    };
    for (const auto& c : cases) {
        QString error = parseError(c.text);
        QVERIFY2(error.startsWith(c.expected), qPrintable(c.text + (" gave " + error)));
    }
}

void TestMeterSimCore::valueRepliesByteForByte() {
    MeterBus bus(parsed("1 TM210 0 const:1234 1\n"
                        "1 TM250 1 const:-200 3\n"
                        "1 TM260 0 const:32767 2\n"
                        "9 TM230 0 const:-32768 0\n")
                     .meters);
    QCOMPARE(ask(bus, hexBytes("01 43 01 00 F1 9C")), QString("01 43 04 04 D2 01 00 54 6A"));
    // Raw -200 goes out as FF 38, high byte first; byte 5 holds the decimals.
    QCOMPARE(ask(bus, hexBytes("01 43 02 00 01 6C 44")),
             QString::fromStdString(
                 tamlo::sim::toHex(withCrc({0x01, 0x43, 0x04, 0xFF, 0x38, 0x03, 0x00}))));
    // A multi-channel meter on channel 0 is asked with the channel form.
    QCOMPARE(ask(bus, withCrc({0x01, 0x43, 0x02, 0x00, 0x00})),
             QString::fromStdString(
                 tamlo::sim::toHex(withCrc({0x01, 0x43, 0x04, 0x7F, 0xFF, 0x02, 0x00}))));
    QCOMPARE(ask(bus, withCrc({0x09, 0x43, 0x01, 0x00})),
             QString::fromStdString(
                 tamlo::sim::toHex(withCrc({0x09, 0x43, 0x04, 0x80, 0x00, 0x00, 0x00}))));
    Bytes reply = *bus.answer(hexBytes("01 43 01 00 F1 9C"), 0).reply;
    QCOMPARE(int(reply.size()), kValueReplyLength);
    QVERIFY(tamlo::crc16Matches(reply.data(), reply.size()));
}

void TestMeterSimCore::parameterRepliesByteForByte() {
    MeterBus bus(parsed("1 TM210 5 const:0 0 p5=-1000 p21=300\n"
                        "1 TM250 2 const:0 0 p6=-50\n"
                        "2 TM250 0 const:0 0 p6=77\n")
                     .meters);
    // The channel of a single-channel model plays no part.
    QCOMPARE(ask(bus, hexBytes("01 41 01 05 90 5F")), QString("01 41 02 FC 18 ED 36"));
    QCOMPARE(ask(bus, withCrc({0x01, 0x41, 0x01, 0x15})),
             QString::fromStdString(tamlo::sim::toHex(withCrc({0x01, 0x41, 0x02, 0x01, 0x2C}))));
    // Unset parameters read 0.
    QCOMPARE(ask(bus, withCrc({0x01, 0x41, 0x01, 0x07})),
             QString::fromStdString(tamlo::sim::toHex(withCrc({0x01, 0x41, 0x02, 0x00, 0x00}))));
    // A TM250 on channel 2, "range low limit" (code 6).
    QCOMPARE(ask(bus, hexBytes("01 41 02 02 06 2D 5E")),
             QString::fromStdString(tamlo::sim::toHex(withCrc({0x01, 0x41, 0x02, 0xFF, 0xCE}))));
    // The station asks a multi-channel meter on channel 0 without the channel.
    QCOMPARE(ask(bus, withCrc({0x02, 0x41, 0x01, 0x06})),
             QString::fromStdString(tamlo::sim::toHex(withCrc({0x02, 0x41, 0x02, 0x00, 0x4D}))));
    QCOMPARE(ask(bus, withCrc({0x02, 0x41, 0x02, 0x00, 0x06})),
             QString::fromStdString(tamlo::sim::toHex(withCrc({0x02, 0x41, 0x02, 0x00, 0x4D}))));
    QCOMPARE(int(bus.answer(hexBytes("01 41 01 05 90 5F"), 0).reply->size()), kParamReplyLength);
}

void TestMeterSimCore::requestsWithoutAMeterOrShapeGetNoReply() {
    MeterBus bus(parsed("1 TM210 0 const:1 0\n3 TM250 1 const:1 0\n").meters);
    QCOMPARE(ask(bus, withCrc({0x02, 0x43, 0x01, 0x00})), QString("none: unknown meter"));
    // The single-channel form does not reach a multi-channel meter, and the channel form does
    // not reach a single-channel one.
    QCOMPARE(ask(bus, withCrc({0x03, 0x43, 0x01, 0x00})), QString("none: unknown meter"));
    QCOMPARE(ask(bus, withCrc({0x01, 0x43, 0x02, 0x00, 0x00})), QString("none: unknown meter"));
    QCOMPARE(ask(bus, withCrc({0x03, 0x43, 0x02, 0x00, 0x02})), QString("none: unknown meter"));
    QCOMPARE(ask(bus, withCrc({0x03, 0x41, 0x01, 0x06})), QString("none: unknown meter"));
    QCOMPARE(ask(bus, withCrc({0x01, 0x41, 0x02, 0x00, 0x06})), QString("none: unknown meter"));

    QCOMPARE(ask(bus, withCrc({0x01, 0x43, 0x01, 0x01})), QString("none: malformed"));
    QCOMPARE(ask(bus, withCrc({0x01, 0x43, 0x00})), QString("none: malformed"));
    QCOMPARE(ask(bus, withCrc({0x01, 0x41, 0x03, 0x00, 0x01, 0x02})), QString("none: malformed"));
    QCOMPARE(ask(bus, withCrc({0x01, 0x10, 0x01, 0x00})), QString("none: unknown function 10"));
}

void TestMeterSimCore::parametersOnlyForTheModelsRegisters() {
    // The registers of each model's parameter list, row by row.
    const QList<QList<int>> registers{
        {21, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18},  // TM210
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},              // TM220
        {31, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
         14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27},                // TM230
        {1, 3, 2, 6, 7, 5, 4, 8, 9, 10, 11, 12},                                 // TM250
        {1, 3, 2, 6, 7, 5, 4, 8, 9, 10, 11, 12},                                 // TM260
        {21, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18},  // TP7
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},              // TM610
    };
    for (int model = 0; model < kModelCount; ++model) {
        const bool multi = isMultiChannelModel(model);
        const std::string line = "7 " + std::to_string(model) + " 3 const:0 0\n";
        MeterBus bus(parsed(line.c_str()).meters);
        for (int code = 0; code <= 255; ++code) {
            const auto c = static_cast<std::uint8_t>(code);
            const Bytes request =
                multi ? withCrc({0x07, 0x41, 0x02, 0x03, c}) : withCrc({0x07, 0x41, 0x01, c});
            const QString reply = ask(bus, request);
            if (registers[model].contains(code)) {
                // Unset registers read 0.
                QCOMPARE(reply, QString::fromStdString(
                                    tamlo::sim::toHex(withCrc({0x07, 0x41, 0x02, 0x00, 0x00}))));
            } else {
                QCOMPARE(reply, QString("none: no parameter %1 on %2")
                                    .arg(code)
                                    .arg(QString::fromLatin1(modelName(model))));
            }
            QCOMPARE(modelHasRegister(model, c), registers[model].contains(code));
        }
    }
    // The control command refuses a register the meter does not have.
    MeterBus bus(parsed("1 TM230 0 const:0 0\n").meters);
    QCOMPARE(bus.command({"param", "1", "0", "31", "500"}), std::string());
    QCOMPARE(bus.command({"param", "1", "0", "28", "1"}),
             std::string("parameter 28 is not a register of TM230"));
}

void TestMeterSimCore::rampMovesOnAnsweredRequestsOnly() {
    MeterBus bus(parsed("1 TM250 1 ramp:0:10:5 0\n"
                        "2 TM210 0 ramp:10:0:-4 0 p1=3\n"
                        "3 TM210 0 ramp:5:5:1 0\n")
                     .meters);
    const Bytes first = hexBytes("01 43 02 00 01 6C 44");
    auto rawOf = [](const QString& reply) {
        Bytes bytes = hexBytes(reply.toLatin1().constData());
        return static_cast<std::int16_t>((bytes[3] << 8) | bytes[4]);
    };
    // Deciding a reply moves nothing: a fault may still withhold it.
    QCOMPARE(rawOf(ask(bus, first)), std::int16_t(0));
    QCOMPARE(rawOf(ask(bus, first)), std::int16_t(0));
    QList<int> seen;
    for (int i = 0; i < 5; ++i) seen << rawOf(askAndSend(bus, first));
    QCOMPARE(seen, QList<int>({0, 5, 10, 0, 5}));

    const Bytes second = withCrc({0x02, 0x43, 0x01, 0x00});
    seen.clear();
    for (int i = 0; i < 4; ++i) seen << rawOf(askAndSend(bus, second));
    QCOMPARE(seen, QList<int>({10, 6, 2, 10}));
    // Parameter requests do not move the ramp.
    askAndSend(bus, withCrc({0x02, 0x41, 0x01, 0x01}));
    QCOMPARE(rawOf(askAndSend(bus, second)), std::int16_t(6));

    const Bytes third = withCrc({0x03, 0x43, 0x01, 0x00});
    QCOMPARE(rawOf(askAndSend(bus, third)), std::int16_t(5));
    QCOMPARE(rawOf(askAndSend(bus, third)), std::int16_t(5));
}

void TestMeterSimCore::sineFollowsTheClock() {
    MetersFile file = parsed("1 TM210 0 sine:500:200:60 0\n2 TM210 0 sine:32000:1000:1 0\n");
    const Meter& meter = file.meters[0];
    const std::int64_t periodStart = 1'796'640'000'000 - 1'796'640'000'000 % 60'000;
    QCOMPARE(meter.value(periodStart), std::int16_t(500));
    QCOMPARE(meter.value(periodStart + 15'000), std::int16_t(700));
    QCOMPARE(meter.value(periodStart + 30'000), std::int16_t(500));
    QCOMPARE(meter.value(periodStart + 45'000), std::int16_t(300));
    QCOMPARE(meter.value(periodStart + 5'000), std::int16_t(600));  // 500 + 200 sin 30 degrees
    // Values beyond the 16-bit range stay at its end.
    QCOMPARE(file.meters[1].value(250), std::int16_t(32767));
}

void TestMeterSimCore::controlCommandsChangeMeters() {
    MeterBus bus(parsed("1 TM210 4 const:1 0\n1 TM250 2 const:2 0\n").meters);
    QCOMPARE(bus.command({"set", "1", "2", "const:-5"}), std::string());
    QCOMPARE(bus.meters()[1].value(0), std::int16_t(-5));
    QCOMPARE(bus.meters()[0].value(0), std::int16_t(1));
    // A single-channel meter is found whatever channel the command names.
    QCOMPARE(bus.command({"set", "1", "0", "ramp:0:100:10"}), std::string());
    QCOMPARE(bus.meters()[0].source.kind, ValueSource::Kind::Ramp);
    QCOMPARE(bus.command({"param", "1", "2", "6", "-999"}), std::string());
    QCOMPARE(bus.meters()[1].parameter(6), std::int16_t(-999));

    QVERIFY(!bus.command({"set", "2", "0", "const:1"}).empty());
    QVERIFY(!bus.command({"set", "1", "2", "const:99999"}).empty());
    QVERIFY(!bus.command({"set", "1", "2"}).empty());
    QVERIFY(!bus.command({"param", "1", "2", "256", "1"}).empty());
    QVERIFY(QString::fromStdString(bus.command({"reset"})).startsWith("unknown command"));
}

QTEST_GUILESS_MAIN(TestMeterSimCore)
#include "tst_meter_sim_core.moc"
