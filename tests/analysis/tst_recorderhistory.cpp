// Recorder history files: both layouts written byte by byte here, the arithmetic that maps
// times to ring offsets, refusals of unusable files, and the writer the upload uses.

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "analysis/recorderhistory.h"

using namespace tamlo;
using namespace tamlo::analysis;

namespace {

// A file assembled by hand, field by field, independent of the writer under test.
struct HandFile {
    bool swapped = false;
    std::uint32_t tag = 300300;
    std::uint32_t dataOffset = 1524;
    std::array<std::uint8_t, 6> newest = {26, 12, 7, 10, 0, 0};
    std::uint32_t newestOffset = 0;
    std::uint32_t dataSize = 0;
    std::uint16_t channels = 1;
    std::uint16_t interval = 60;
    std::vector<std::uint16_t> decimals;  // per channel
    std::vector<QByteArray> storedNames;  // 8 bytes per channel, as stored
    std::vector<std::int16_t> values;     // the data area, record after record
    int truncateDataBy = 0;

    QByteArray bytes() const {
        QByteArray out(1524, '\0');
        auto put = [&](int at, std::uint64_t v, int size, bool bigEndian) {
            for (int i = 0; i < size; ++i) {
                const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
                out[at + i] = static_cast<char>((v >> shift) & 0xFF);
            }
        };
        if (swapped) {
            out[0] = 0x00;
            out[1] = 0x03;
            out[2] = 0x0E;
            out[3] = 0x08;
        } else {
            put(0, tag, 4, false);
        }
        put(4, dataOffset, 4, swapped);
        for (int i = 0; i < 6; ++i) out[8 + i] = static_cast<char>(newest[i]);
        put(14, newestOffset, 4, swapped);
        out[18] = 0x5A;
        put(27, dataSize, 4, swapped);
        put(31, channels, 2, swapped);
        if (swapped) {
            for (std::size_t i = 0; i < decimals.size(); ++i) {
                put(528 + 42 * static_cast<int>(i) + 6, decimals[i], 2, true);
            }
            put(528 + 178, interval, 2, true);
        } else {
            for (std::size_t i = 0; i < decimals.size(); ++i) {
                put(512 + 62 * static_cast<int>(i) + 6, decimals[i], 2, false);
            }
            for (std::size_t i = 0; i < storedNames.size(); ++i) {
                for (int k = 0; k < 8; ++k) {
                    out[512 + 62 * static_cast<int>(i) + 54 + k] = storedNames[i][k];
                }
            }
            put(512 + 1004, interval, 2, false);
        }
        out.resize(static_cast<qsizetype>(dataOffset));
        for (const std::int16_t v : values) {
            const int at = static_cast<int>(out.size());
            out.resize(at + 2);
            put(at, static_cast<std::uint16_t>(v), 2, swapped);
        }
        out.chop(truncateDataBy);
        return out;
    }
};

// Three channels, 100 records, as the upload writes it: values 100 r + c.
HandFile threeChannelFile() {
    HandFile f;
    f.channels = 3;
    f.interval = 60;
    f.dataSize = 600;
    f.newestOffset = 594;
    f.decimals = {0, 1, 2};
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 3; ++c) f.values.push_back(static_cast<std::int16_t>(100 * r + c));
    }
    return f;
}

OleDate decemberSeventh(int hour, int minute = 0, int second = 0) {
    return oleDateFromParts(2026, 12, 7, hour, minute, second);
}

// A time whose difference to `end`, computed as the reader computes it, is exactly `seconds`
// (the nearest double to end - seconds may land a hair either side of the half).
OleDate timeExactlyBefore(OleDate end, double seconds) {
    OleDate t = end - seconds / 86400.0;
    for (int i = 0; i < 64; ++i) {
        const double d = end * 86400.0 - t * 86400.0;
        if (d == seconds)
            return t;
        t = d < seconds ? std::nextafter(t, -1e9) : std::nextafter(t, 1e9);
    }
    return t;
}

}  // namespace

class TestRecorderHistory : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int fileCounter_ = 0;

    QString write(const QByteArray& bytes) {
        const QString path = dir_.filePath(QStringLiteral("f%1.dat").arg(++fileCounter_));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    RecorderHistory load(const HandFile& f) {
        const RecorderLoadResult result = loadRecorderHistory(write(f.bytes()));
        if (result.status != RecorderLoadStatus::Loaded) {
            qWarning("file refused");
        }
        return result.history;
    }

private slots:
    void threeChannelHundredRecords() {
        const HandFile f = threeChannelFile();
        const QString path = write(f.bytes());
        const RecorderLoadResult result = loadRecorderHistory(path);
        QCOMPARE(result.status, RecorderLoadStatus::Loaded);
        const RecorderHistory& h = result.history;
        QCOMPARE(h.fileName, path);
        QVERIFY(!h.byteSwapped);
        QCOMPARE(h.channelCount(), 3);
        QCOMPARE(h.recordSize(), 6);
        QCOMPARE(h.recordCount(), 100);
        QCOMPARE(h.recordInterval, 60);
        QCOMPARE(h.header.recorderByte, std::uint8_t(0x5A));
        QCOMPARE(h.header.dataOffset, 1524u);
        QCOMPARE(h.endTime, decemberSeventh(10));
        QCOMPARE(h.startTime, decemberSeventh(8, 21));  // 99 minutes earlier
        QCOMPARE(h.divisors[0], std::int16_t(1));
        QCOMPARE(h.divisors[1], std::int16_t(10));
        QCOMPARE(h.divisors[2], std::int16_t(100));

        QCOMPARE(recordOffsetAt(h, h.endTime), 594);
        QCOMPARE(recordOffsetAt(h, h.startTime), 0);
        QCOMPARE(recordOffsetAt(h, decemberSeventh(9, 0)), 594 - 60 * 6);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto first = readRecord(file, h, 0);
        QVERIFY(first.has_value());
        QCOMPARE(*first, (std::vector<float>{0.0f, 0.1f, 0.02f}));
        const auto newest = readRawRecord(file, h, 594);
        QCOMPARE(*newest, (std::vector<std::int16_t>{9900, 9901, 9902}));
        // The reader steps on from the start, every second record.
        std::int64_t offset = recordOffsetAt(h, h.startTime);
        offset = nextRecordOffset(h, offset, 2);
        QCOMPARE((*readRawRecord(file, h, offset))[0], std::int16_t(200));
    }

    void roundingHalvesDownwards() {
        HandFile f;
        f.channels = 1;
        f.interval = 1;
        f.dataSize = 200;
        f.newestOffset = 198;
        f.values.assign(100, 0);
        const RecorderHistory h = load(f);
        QCOMPARE(recordOffsetAt(h, timeExactlyBefore(h.endTime, 2.5)), 198 - 2 * 2);
        QCOMPARE(recordOffsetAt(h, timeExactlyBefore(h.endTime, 2.6)), 198 - 3 * 2);
        QCOMPARE(recordOffsetAt(h, timeExactlyBefore(h.endTime, 2.4)), 198 - 2 * 2);
        QCOMPARE(recordOffsetAt(h, timeExactlyBefore(h.endTime, 3.5)), 198 - 3 * 2);

        // With a 10-second interval a time between two records takes the one at or after it.
        f.interval = 10;
        const RecorderHistory tens = load(f);
        QCOMPARE(recordOffsetAt(tens, addSeconds(tens.endTime, -25)), 198 - 2 * 2);
        QCOMPARE(recordOffsetAt(tens, addSeconds(tens.endTime, -29)), 198 - 2 * 2);
        QCOMPARE(recordOffsetAt(tens, addSeconds(tens.endTime, -30)), 198 - 3 * 2);
    }

    void wrappedRing() {
        HandFile f;
        f.channels = 2;
        f.interval = 10;
        f.dataSize = 40;     // ten records
        f.newestOffset = 8;  // slot 2 is the newest, slot 3 the oldest
        for (int slot = 0; slot < 10; ++slot) {
            f.values.push_back(static_cast<std::int16_t>(slot));
            f.values.push_back(static_cast<std::int16_t>(-slot));
        }
        const RecorderHistory h = load(f);
        QCOMPARE(h.recordCount(), 10);
        QCOMPARE(recordOffsetAt(h, addSeconds(h.endTime, -20)), 0);
        QCOMPARE(recordOffsetAt(h, addSeconds(h.endTime, -50)), 28);  // 8 - 20 + 40
        QCOMPARE(recordOffsetAt(h, h.startTime), 12);                 // the oldest, slot 3
        QCOMPARE(nextRecordOffset(h, 36, 1), 0);                      // past the top: offset 0
        QCOMPARE(nextRecordOffset(h, 32, 3), 4);

        // Walking the whole window from the start meets every record once, oldest first.
        QFile file(h.fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        std::int64_t offset = recordOffsetAt(h, h.startTime);
        QList<int> ringSlots;
        for (int i = 0; i < 10; ++i) {
            ringSlots << (*readRawRecord(file, h, offset))[0];
            offset = nextRecordOffset(h, offset, 1);
        }
        QCOMPARE(ringSlots, (QList<int>{3, 4, 5, 6, 7, 8, 9, 0, 1, 2}));
    }

    void namesAndDecimals() {
        HandFile f;
        f.channels = 4;
        f.dataSize = 8;
        f.newestOffset = 0;
        f.values = {1234, -30000, 7, -5};
        f.decimals = {2, 4, 5, 0xFFFF};
        const char digits[] = {16, 17, 18, 19, 20, 21, 22, 23};
        // "TEMP1" padded with blanks, stored last character first, minus 32.
        QByteArray temp1(8, '\0');
        const QByteArray text = "TEMP1   ";
        for (int k = 0; k < 8; ++k) temp1[7 - k] = static_cast<char>(text[k] - 32);
        f.storedNames = {QByteArray(digits, 8), temp1};
        const RecorderHistory h = load(f);
        QCOMPARE(channelNameBytes(h.channels[0]), QByteArray("76543210"));
        QCOMPARE(channelName(h.channels[0]), QString("76543210"));
        QCOMPARE(channelName(h.channels[1]), QString("TEMP1   "));
        QCOMPARE(h.divisors[0], std::int16_t(100));
        QCOMPARE(h.divisors[1], std::int16_t(10000));
        QCOMPARE(h.divisors[2], std::int16_t(1));
        QCOMPARE(h.divisors[3], std::int16_t(1));

        QFile file(h.fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto values = *readRecord(file, h, 0);
        QCOMPARE(values[0], 12.34f);
        QCOMPARE(values[1], -30000.0f);  // no sample: never divided
        QCOMPARE(values[2], 7.0f);
        QCOMPARE(values[3], -5.0f);

        QCOMPARE(divisorForDecimalsCode(3), std::int16_t(1000));
        QCOMPARE(physicalValue(kNoDataRaw, 1000), -30000.0f);
    }

    void byteSwappedLayout() {
        HandFile f;
        f.swapped = true;
        f.dataOffset = 714;
        f.channels = 3;
        f.interval = 30;
        f.dataSize = 60;  // ten records
        f.newestOffset = 54;
        f.decimals = {1, 3, 0};
        for (int r = 0; r < 10; ++r) {
            f.values.push_back(static_cast<std::int16_t>(r == 4 ? -30000 : 1000 + r));
            f.values.push_back(static_cast<std::int16_t>(-300 - r));
            f.values.push_back(static_cast<std::int16_t>(0x1234));
        }
        const RecorderLoadResult result = loadRecorderHistory(write(f.bytes()));
        QCOMPARE(result.status, RecorderLoadStatus::Loaded);
        const RecorderHistory& h = result.history;
        QVERIFY(h.byteSwapped);
        QCOMPARE(h.header.dataOffset, 714u);
        QCOMPARE(h.header.newestOffset, 54u);
        QCOMPARE(h.header.dataSize, 60u);
        QCOMPARE(h.channelCount(), 3);
        QCOMPARE(h.recordInterval, 30);
        QCOMPARE(h.recordCount(), 10);
        QCOMPARE(h.startTime, addSeconds(h.endTime, -9 * 30));
        QCOMPARE(h.divisors[0], std::int16_t(10));
        QCOMPARE(h.divisors[1], std::int16_t(1000));
        QCOMPARE(h.divisors[2], std::int16_t(1));
        QCOMPARE(channelName(h.channels[0]), QString("   CH-00"));
        QCOMPARE(channelName(h.channels[2]), QString("   CH-02"));
        QCOMPARE(channelName(h.channels[12]), QString("   CH-02"));
        QCOMPARE(h.channels[12].storedName(), QByteArray("\x12\x10\x0D\x28\x23\0\0\0", 8));

        QFile file(h.fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(*readRawRecord(file, h, 6), (std::vector<std::int16_t>{1001, -301, 0x1234}));
        const auto noData = *readRecord(file, h, 24);
        QCOMPARE(noData[0], -30000.0f);
        QCOMPARE(noData[1], -0.304f);
    }

    void refusals_data() {
        QTest::addColumn<QByteArray>("bytes");
        const HandFile good = threeChannelFile();
        auto with = [&](auto change) {
            HandFile f = good;
            change(f);
            return f.bytes();
        };
        QTest::newRow("tag") << with([](HandFile& f) { f.tag = 300301; });
        QTest::newRow("no channels") << with([](HandFile& f) { f.channels = 0; });
        QTest::newRow("17 channels") << with([](HandFile& f) { f.channels = 17; });
        QTest::newRow("interval 0") << with([](HandFile& f) { f.interval = 0; });
        QTest::newRow("size 0") << with([](HandFile& f) {
            f.dataSize = 0;
            f.newestOffset = 0;
        });
        QTest::newRow("size not whole records") << with([](HandFile& f) { f.dataSize = 599; });
        QTest::newRow("data area short") << with([](HandFile& f) { f.truncateDataBy = 1; });
        QTest::newRow("newest offset outside") << with([](HandFile& f) { f.newestOffset = 600; });
        QTest::newRow("month 13") << with([](HandFile& f) { f.newest[1] = 13; });
        QTest::newRow("year byte 100") << with([](HandFile& f) { f.newest[0] = 100; });
        // The newest record must start on a record: 595 would build every value from the
        // bytes of two neighbouring channels.
        QTest::newRow("newest offset between records")
            << with([](HandFile& f) { f.newestOffset = 595; });
        // A data area that starts inside the header or channel block of its layout.
        auto dataAt = [](QByteArray bytes, std::uint32_t offset, bool bigEndian) {
            for (int i = 0; i < 4; ++i) {
                const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
                bytes[4 + i] = static_cast<char>((offset >> shift) & 0xFF);
            }
            return bytes;
        };
        QTest::newRow("data offset in the channel block") << dataAt(good.bytes(), 1523, false);
        QTest::newRow("data offset in the header") << dataAt(good.bytes(), 0, false);
        QTest::newRow("swapped, data offset in the table") << [&] {
            HandFile f;
            f.swapped = true;
            f.dataOffset = 714;
            f.channels = 1;
            f.dataSize = 2;
            f.values = {1};
            return dataAt(f.bytes(), 713, true);
        }();
        // A ring so long that its oldest record would lie before the year 100.
        QTest::newRow("start before the year 100") << [] {
            HandFile f;
            f.interval = 65535;
            f.dataSize = 2'000'000;
            f.newestOffset = f.dataSize - 2;
            f.values.assign(1'000'000, 0);
            return f.bytes();
        }();
        QTest::newRow("header only") << good.bytes().left(512);
        QTest::newRow("short header") << good.bytes().left(100);
        QTest::newRow("swapped, 6 channels") << [] {
            HandFile f;
            f.swapped = true;
            f.dataOffset = 714;
            f.channels = 6;
            f.dataSize = 12;
            f.values.assign(6, 1);
            return f.bytes();
        }();
        QTest::newRow("swapped, table missing") << [] {
            HandFile f;
            f.swapped = true;
            f.channels = 1;
            f.dataSize = 2;
            return f.bytes().left(600);
        }();
    }

    void refusals() {
        QFETCH(QByteArray, bytes);
        const RecorderLoadResult result = loadRecorderHistory(write(bytes));
        QCOMPARE(result.status, RecorderLoadStatus::WrongType);
        QCOMPARE(QString::fromUtf8(kWrongFileTypeText), QString("文件类型出错！"));
    }

    void missingFileCannotBeOpened() {
        const RecorderLoadResult result = loadRecorderHistory(dir_.filePath("absent.dat"));
        QCOMPARE(result.status, RecorderLoadStatus::CannotOpen);
    }

    void writerRoundTrip() {
        const QString path = dir_.filePath("written.dat");
        RecorderFileHeader header;
        header.newestTime = secondsToRecorderTime(oleDateToSeconds(decemberSeventh(23, 59, 58)));
        header.newestOffset = 12345;  // as the recorder said: rewritten below
        header.recorderByte = 7;
        header.dataSize = 99999;
        header.channelCount = 2;
        ChannelRecords channels{};
        channels[0].setDecimalsCode(1);
        const std::uint8_t name[8] = {0, 0, 0, 0, 0, 17, 40, 35};  // "CH1"
        channels[0].setStoredName(name);
        channels[1].setDecimalsCode(3);
        RecorderFileWriter writer;
        QVERIFY(writer.create(path, header, channels, 20));
        const std::int16_t values[] = {1, -1, 2, -30000, 3, 32767};
        QVERIFY(writer.append(values, 2));
        QVERIFY(writer.append(values + 2, 4));
        QVERIFY(!QFile::exists(path));  // nothing under the name until the file is whole
        header.dataSize = 12;
        header.newestOffset = 8;
        QVERIFY(writer.commit(header));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), 1524 + 12);
        QCOMPARE(bytes.left(8), QByteArray("\x0C\x95\x04\x00\xF4\x05\x00\x00", 8));
        QCOMPARE(bytes.mid(8, 6), QByteArray("\x1A\x0C\x07\x17\x3B\x3A", 6));
        QCOMPARE(bytes.mid(27, 6), QByteArray("\x0C\0\0\0\x02\0", 6));
        QCOMPARE(bytes.mid(1516, 2), QByteArray("\x14\0", 2));
        QCOMPARE(bytes.mid(1524 + 6, 2), QByteArray("\xD0\x8A", 2));
        file.close();

        const RecorderLoadResult result = loadRecorderHistory(path);
        QCOMPARE(result.status, RecorderLoadStatus::Loaded);
        QCOMPARE(result.history.recordCount(), 3);
        QCOMPARE(result.history.endTime, decemberSeventh(23, 59, 58));
        QCOMPARE(result.history.startTime, decemberSeventh(23, 59, 18));
        QCOMPARE(channelName(result.history.channels[0]), QString("CH1     "));
        QCOMPARE(result.history.divisors[1], std::int16_t(1000));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(*readRecord(file, result.history, 8), (std::vector<float>{0.3f, 32.767f}));

        QCOMPARE(QDir(dir_.path()).entryList({"written.dat*"}, QDir::Files),
                 QStringList{"written.dat"});
    }

    void recorderTimes() {
        const RecorderTimeBytes leap = {28, 2, 29, 23, 59, 59};
        const auto seconds = recorderTimeToSeconds(leap);
        QVERIFY(seconds.has_value());
        QCOMPARE(secondsToOleDate(*seconds), oleDateFromParts(2028, 2, 29, 23, 59, 59));
        QCOMPARE(secondsToRecorderTime(*seconds + 1), (RecorderTimeBytes{28, 3, 1, 0, 0, 0}));
        QVERIFY(!recorderTimeToSeconds({27, 2, 29, 0, 0, 0}).has_value());
        QVERIFY(!recorderTimeToSeconds({26, 12, 7, 24, 0, 0}).has_value());
        QCOMPARE(oleDateToSeconds(decemberSeventh(10)),
                 *recorderTimeToSeconds({26, 12, 7, 10, 0, 0}));
    }
};

QTEST_GUILESS_MAIN(TestRecorderHistory)
#include "tst_recorderhistory.moc"
