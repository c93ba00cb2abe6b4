// The poll and record cycles without a window: request forms, reply decoding, the retry rule,
// the data grid cursor and the record interval.
#include <QTest>
#include <bit>
#include <deque>

#include "scriptedline.h"
#include "shared/crc16.h"
#include "shared/seriallink.h"
#include "station/pollcycle.h"
#include "station/recordcycle.h"

using namespace tamlo;
using namespace tamlo::station;
using tamlo::test::ScriptedLine;
using tamlo::test::valueReply;

namespace {

DeviceTable table(std::initializer_list<DeviceEntry> entries) {
    DeviceTable t;
    for (const DeviceEntry& e : entries) {
        addDevice(t, e);
    }
    return t;
}

DeviceEntry meter(std::uint8_t address, std::uint8_t model = TM210, std::uint8_t channel = 0) {
    DeviceEntry e;
    e.address = address;
    e.model = model;
    e.channel = channel;
    return e;
}

std::uint32_t bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

LiveValue live(std::int16_t raw, std::uint8_t decimals, bool valid = true) {
    return LiveValue{raw, decimals, static_cast<std::uint8_t>(valid ? 1 : 0)};
}

}  // namespace

class Cycles : public QObject {
    Q_OBJECT
private slots:
    void requestForms() {
        std::uint8_t request[kRequestBufferSize] = {};
        QCOMPARE(buildReadValue(meter(1), request), 4);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(request), 4), QByteArray::fromHex("01430100"));
        // A multi-channel meter on channel 0 still sends the five-byte form.
        QCOMPARE(buildReadValue(meter(1, TM260, 0), request), 5);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(request), 5), QByteArray::fromHex("0143020000"));
        QCOMPARE(buildReadParam(1, 2, 6, request), 5);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(request), 5), QByteArray::fromHex("0141020206"));
        QCOMPARE(buildReadParam(1, 0, 6, request), 4);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(request), 4), QByteArray::fromHex("01410106"));
    }

    void replyDecoding() {
        ScriptedLine line;
        line.replies = {valueReply(1, 0xFF, 0x38, 0xFE)};
        DeviceTable active = table({meter(1)});
        LiveValueTable values{};
        PollCycle poll;
        const auto result = poll.tick(line, active, values);
        QCOMPARE(result.state, PollCycle::LinkState::Answered);
        QCOMPARE(values[0].raw, -200);
        QCOMPARE(values[0].decimals, 2);  // only bits 0 and 1 of 0xFE
        QCOMPARE(values[0].valid, 1);
        QCOMPARE(line.requests[0], QByteArray::fromHex("01430100F19C"));
    }

    void threeTriesPerTurn() {
        ScriptedLine line;
        // A fails twice then answers; B answers; A is silent three times; B answers.
        line.replies = {{}, {}, valueReply(1, 0, 5, 0), valueReply(2, 0, 6, 0), {}, {}, {},
                        valueReply(2, 0, 7, 0)};
        DeviceTable active = table({meter(1), meter(2)});
        LiveValueTable values{};
        PollCycle poll;
        QList<int> asked;
        QList<PollCycle::LinkState> states;
        for (int i = 0; i < 8; ++i) {
            const auto r = poll.tick(line, active, values);
            asked << r.device;
            states << r.state;
        }
        QCOMPARE(asked, (QList<int>{0, 0, 0, 1, 0, 0, 0, 1}));
        using S = PollCycle::LinkState;
        QCOMPARE(states, (QList<S>{S::Unchanged, S::Unchanged, S::Answered, S::Answered, S::Unchanged,
                                   S::Unchanged, S::Failed, S::Answered}));
        QCOMPARE(values[0].valid, 0);
        QCOMPARE(values[0].raw, 5);  // a failed device keeps its last reading
        QCOMPARE(values[1].raw, 7);
        QCOMPARE(active.entries[0].retries, 0);
    }

    void emptyTableAsksNobody() {
        ScriptedLine line;
        DeviceTable active;
        LiveValueTable values{};
        PollCycle poll;
        QVERIFY(!poll.tick(line, active, values).polled);
        QVERIFY(line.requests.isEmpty());
    }

    void engineeringValuesAndTexts() {
        // Raw / 10^decimals in single precision, bit for bit: 10001 / 100 is the float nearest
        // 100.01 (0x42C8051F); multiplying by 0.01f instead gives its neighbour 0x42C8051E.
        QCOMPARE(bits(engineeringValue(live(10001, 2))), 0x42C8051Fu);
        QCOMPARE(bits(engineeringValue(live(12345, 2))), 0x42F6E666u);
        QCOMPARE(bits(engineeringValue(live(250, 1))), 0x41C80000u);
        QCOMPARE(bits(engineeringValue(live(-5, 2))), 0xBD4CCCCDu);
        RecordCycle cycle;
        LiveValueTable values{};
        values[0] = live(12345, 1);
        values[1] = live(1000, 3);
        values[2] = live(-5, 2);
        values[3] = live(250, 1, false);
        const QDateTime t(QDate(2007, 4, 2), QTime(10, 45, 18));
        const RecordCycle::Tick tick = cycle.tick(t, values, 4, 0);
        QCOMPARE(tick.clockText, QStringLiteral("时间：07-02-04 10:45:18    "));
        QCOMPARE(tick.rowTime, QStringLiteral("10:45:18"));
        QCOMPARE(tick.texts, (QStringList{"1234.5", "1", "-0.05", "Err"}));
        QCOMPARE(bits(cycle.recordBuffer()[0]), 0x449A5000u);  // 1234.5
        QCOMPARE(bits(cycle.recordBuffer()[3]), 0u);           // never valid: +0.0
        QVERIFY(!tick.recorded);
        QCOMPARE(tick.row, 1);
    }

    void recordsAtTheIntervalAndTheGridWraps() {
        RecordCycle cycle;
        LiveValueTable values{};
        values[0] = live(1, 0);
        const QDateTime t(QDate(2026, 12, 7), QTime(0, 0, 0));
        int records = 0;
        for (int s = 1; s <= 15; ++s) {
            if (cycle.tick(t.addSecs(s), values, 1, 5).recorded) {
                ++records;
                QCOMPARE(s % 5, 0);
            }
        }
        QCOMPARE(records, 3);
        // No devices: no record and no count.
        QVERIFY(!cycle.tick(t, values, 0, 1).recorded);

        RecordCycle wrap;
        RecordCycle::Tick last;
        for (int k = 0; k < 638; ++k) {
            last = wrap.tick(t.addSecs(k), values, 1, 1);
        }
        QCOMPARE(last.row, 638);
        QCOMPARE(last.bandStart, 1);  // after 638 records the band covers rows 1 to 20
        QCOMPARE(wrap.tick(t, values, 1, 1).row, 1);
        QCOMPARE(last.pointLabel, QStringLiteral("26-07-12 00:10:37"));

        // A save sets the count to the interval: the next tick records at once.
        RecordCycle saved;
        saved.setRecordTick(60);
        QVERIFY(saved.tick(t, values, 1, 60).recorded);
    }
};

QTEST_GUILESS_MAIN(Cycles)
#include "tst_cycles.moc"
