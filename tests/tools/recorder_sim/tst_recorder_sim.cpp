// The recorder simulator: its options, its answers to each request, its commands, and the
// program itself on a pseudo-terminal.

#include <QTemporaryDir>
#include <QTest>

#include "recorderdevice.h"
#include "shared/crc16.h"
#include "shared/seriallink.h"
#include "simulatorprocess.h"

using namespace tamlo;
using namespace tamlo::recordersim;
using tamlo::test::SimulatorProcess;

namespace {

sim::Bytes frame(std::initializer_list<std::uint8_t> body) {
    sim::Bytes bytes(body);
    bytes.resize(bytes.size() + 2);
    appendCrc16(bytes.data(), bytes.size() - 2);
    return bytes;
}

QString hexOf(const std::optional<sim::Bytes>& bytes) {
    return bytes ? QString::fromStdString(sim::toHex(*bytes)) : QStringLiteral("none");
}

std::optional<RecorderConfig> configOf(const std::map<std::string, std::string>& options) {
    std::string error;
    return configFromOptions(options, error);
}

RecorderConfig smallRecorder() {
    auto config = configOf({{"--address", "1"},
                            {"--channels", "2"},
                            {"--interval", "5"},
                            {"--records", "10"},
                            {"--newest", "2026-12-07 10:00:00"},
                            {"--newest-offset", "8"},
                            {"--names", "AB,X"},
                            {"--decimals", "2,9"},
                            {"--recorder-byte", "170"}});
    return *config;
}

}  // namespace

class TestRecorderSim : public QObject {
    Q_OBJECT

private slots:
    void options() {
        std::string error;
        const auto defaults = configFromOptions({}, error);
        QVERIFY(defaults.has_value());
        QCOMPARE(defaults->address, std::uint8_t(0));
        QCOMPARE(defaults->channels, 4);
        QCOMPARE(defaults->intervalSeconds, 10);
        QCOMPARE(defaults->records, 1000);
        QCOMPARE(defaults->newestSlot(), 999);
        QCOMPARE(defaults->name(2), std::string("CH3"));

        const RecorderConfig small = smallRecorder();
        QCOMPARE(small.newestSlot(), 2);
        QCOMPARE(small.ringSize(), 40);
        QCOMPARE(small.name(0), std::string("AB"));
        QCOMPARE(small.decimalsCode(1), 9);
        QCOMPARE(small.newest.text(), std::string("2026-12-07 10:00:00"));

        const std::vector<std::map<std::string, std::string>> bad = {
            {{"--channels", "17"}},
            {{"--channels", "0"}},
            {{"--interval", "0"}},
            {{"--newest", "1999-12-31 23:59:59"}},
            {{"--newest", "2026-02-29 10:00:00"}},
            {{"--newest", "2026-12-07"}},
            {{"--channels", "2"}, {"--records", "10"}, {"--newest-offset", "6"}},
            {{"--channels", "2"}, {"--records", "10"}, {"--newest-offset", "40"}},
            {{"--names", "NINECHARS"}},
            {{"--decimals", "1,x"}},
        };
        for (const auto& options : bad) {
            error.clear();
            QVERIFY(!configFromOptions(options, error).has_value());
            QVERIFY(!error.empty());
        }
    }

    void statusAndChannelList() {
        RecorderDevice recorder(smallRecorder());
        const sim::Answer status = recorder.answer(frame({1, 0x43, 3, 2, 1, 7}), 0);
        // Tag 300300, 2 channels, 5 s, 26-12-07 10:00:00, newest offset 8, byte 170, 40 bytes.
        QCOMPARE(
            hexOf(status.reply).left(74),
            QString("01 43 16 0C 95 04 00 02 05 00 1A 0C 07 0A 00 00 08 00 00 00 AA 28 00 00 00"));
        QVERIFY(crc16Matches(status.reply->data(), status.reply->size()));
        QCOMPARE(status.reply->size(), std::size_t(27));

        const sim::Answer list = recorder.answer(frame({1, 0x43, 1, 5}), 0);
        QCOMPARE(list.reply->size(), std::size_t(25));
        // "AB" padded with blanks, last character first, minus 32; then "X".
        QCOMPARE(hexOf(list.reply).left(68),
                 QString("01 43 14 02 00 00 00 00 00 00 22 21 00 09 00 00 00 00 00 00 00 38 00"));
    }

    void seekAndBlocks() {
        RecorderDevice recorder(smallRecorder());
        const auto status = frame({1, 0x43, 3, 2, 3, 7});  // sampling step 3
        recorder.answered(status, 0);
        QCOMPARE(recorder.samplingStep(), 3);

        const auto seek = frame({1, 0x43, 5, 3, 32, 0, 0, 0});  // slot 8
        const sim::Answer one = recorder.answer(seek, 0);
        QCOMPARE(one.reply->size(), std::size_t(9));
        QCOMPARE(static_cast<std::int16_t>((*one.reply)[3] | ((*one.reply)[4] << 8)),
                 slotWaveValue(8, 0));
        recorder.answered(seek, 0);
        QCOMPARE(recorder.cursorSlot(), 8);

        // Seven records, every third slot after the seek, round the ten-slot ring.
        const auto next = frame({1, 0x43, 1, 4});
        const sim::Answer block = recorder.answer(next, 0);
        QCOMPARE(block.reply->size(), std::size_t(33));
        const std::int64_t expectedSlots[] = {1, 4, 7, 0, 3, 6, 9};
        for (int r = 0; r < 7; ++r) {
            for (int c = 0; c < 2; ++c) {
                const std::size_t at = 3 + 4 * r + 2 * c;
                QCOMPARE(
                    static_cast<std::int16_t>((*block.reply)[at] | ((*block.reply)[at + 1] << 8)),
                    slotWaveValue(expectedSlots[r], c));
            }
        }
        recorder.answered(next, 0);
        QCOMPARE(recorder.cursorSlot(), 9);
        // Not answered (a silent fault): the block is not lost.
        QCOMPARE(hexOf(recorder.answer(next, 0).reply), hexOf(recorder.answer(next, 0).reply));

        QVERIFY(!recorder.answer(frame({1, 0x43, 5, 3, 6, 0, 0, 0}), 0).reply);   // not a record
        QVERIFY(!recorder.answer(frame({1, 0x43, 5, 3, 40, 0, 0, 0}), 0).reply);  // past the ring
        QVERIFY(!recorder.answer(frame({2, 0x43, 1, 4}), 0).reply);               // other address
        QCOMPARE(recorder.answer(frame({1, 0x43, 1, 9}), 0).reason, std::string("unknown request"));
    }

    void valuesAndNoData() {
        QCOMPARE(slotWaveValue(0, 0), std::int16_t(-5000));
        QCOMPARE(slotWaveValue(200, 0), std::int16_t(5000));
        QCOMPARE(slotWaveValue(300, 0), std::int16_t(0));
        QCOMPARE(slotWaveValue(0, 2), std::int16_t(50 * 120 - 5000 + 200));
        RecorderConfig config = smallRecorder();
        config.noDataEvery = 4;
        RecorderDevice recorder(config);
        QCOMPARE(recorder.value(3, 1), std::int16_t(-30000));
        QCOMPARE(recorder.value(7, 0), std::int16_t(-30000));
        QCOMPARE(recorder.value(4, 0), slotWaveValue(4, 0));
    }

    void commands() {
        RecorderDevice recorder(smallRecorder());
        const auto status = frame({1, 0x43, 3, 2, 1, 7});
        QCOMPARE(recorder.command({"status", "channels", "0"}), std::string());
        QCOMPARE(recorder.command({"status", "interval", "0"}), std::string());
        QCOMPARE(recorder.command({"status", "ring", "3"}), std::string());
        sim::Bytes reply = *recorder.answer(status, 0).reply;
        QCOMPARE(reply[7], std::uint8_t(0));
        QCOMPARE(reply[8] | (reply[9] << 8), 0);
        QCOMPARE(reply[21], std::uint8_t(3));
        QCOMPARE(recorder.command({"status", "reset"}), std::string());
        reply = *recorder.answer(status, 0).reply;
        QCOMPARE(reply[7], std::uint8_t(2));

        QCOMPARE(recorder.command({"newest", "2027-01-02", "03:04:05", "36"}), std::string());
        reply = *recorder.answer(status, 0).reply;
        QCOMPARE(QString::fromStdString(sim::toHex(reply.data() + 10, 7)),
                 QString("1B 01 02 03 04 05 24"));

        QVERIFY(!recorder.command({"newest", "2027-01-02", "03:04:05", "37"}).empty());
        QVERIFY(!recorder.command({"status", "colour", "1"}).empty());
        QVERIFY(!recorder.command({"status", "channels"}).empty());
        QVERIFY(!recorder.command({"dance"}).empty());
    }

    void programOnAPseudoTerminal() {
        const auto help = SimulatorProcess::runToEnd("tamlo_recorder_sim", {"--help"});
        QVERIFY(help.finished);
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.standardOutput.contains("--newest-offset"));
        const auto bad =
            SimulatorProcess::runToEnd("tamlo_recorder_sim", {"--link", "x", "--channels", "20"});
        QCOMPARE(bad.exitCode, 2);
        QVERIFY(bad.standardError.contains("--channels"));

        QTemporaryDir dir;
        SimulatorProcess sim("tamlo_recorder_sim");
        QVERIFY2(sim.start({"--link", dir.filePath("COM1"), "--address", "1", "--newest",
                            "2026-12-07 10:00:00", "--log", dir.filePath("log.txt")}),
                 qPrintable(sim.errorString()));
        SerialPort port;
        QCOMPARE(port.open(dir.filePath("COM1"), 57600), PortOpenResult::Opened);
        std::uint8_t request[10] = {1, 0x43, 3, 2, 1, 7};
        std::uint8_t reply[32] = {};
        QVERIFY(exchange(port, request, 6, reply, 27, WriteFailure::StopAtOnce));
        QCOMPARE(reply[7], std::uint8_t(4));

        QCOMPARE(sim.command("fault 1 badcrc 1"), QString("ok"));
        QVERIFY(!exchange(port, request, 6, reply, 27, WriteFailure::StopAtOnce));
        QVERIFY(exchange(port, request, 6, reply, 27, WriteFailure::StopAtOnce));
        QCOMPARE(sim.command("status channels 17"), QString("ok"));
        QVERIFY(exchange(port, request, 6, reply, 27, WriteFailure::StopAtOnce));
        QCOMPARE(reply[7], std::uint8_t(17));
        QVERIFY(sim.command("status nonsense 1").startsWith("error "));

        const QStringList log = sim.logLines();
        QCOMPARE(log.size(), 4);
        QVERIFY(log[0].contains(" 01 43 03 02 01 07 A5 D3 -> 01 43 16 0C 95 04 00 04 0A 00"));
        QVERIFY(log[1].contains("badcrc"));
        port.close();
        QVERIFY(sim.stop());
        QVERIFY(!QFileInfo::exists(dir.filePath("COM1")));
    }
};

QTEST_GUILESS_MAIN(TestRecorderSim)
#include "tst_recorder_sim.moc"
