// The station history file: header layout, appends, torn tails and refusals.
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <limits>

#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/stationhistory.h"

using namespace tamlo;

namespace {

StationHistoryHeader makeHeader(std::uint32_t channels, std::uint32_t interval) {
    StationHistoryHeader h;
    h.startTime = oleDateFromParts(2026, 12, 7, 10, 0, 0);
    h.intervalSeconds = interval;
    h.channelCount = channels;
    for (std::uint32_t i = 0; i < channels; ++i) {
        const QByteArray tag = QByteArray("TAG") + QByteArray::number(i);
        std::copy(tag.begin(), tag.end(), h.tags[i].begin());
    }
    return h;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void appendBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::Append));
    f.write(bytes);
}

}  // namespace

class StationHistory : public QObject {
    Q_OBJECT
private slots:
    void headerLayoutIsByteExact() {
        StationHistoryHeader h = makeHeader(2, 5);
        const QByteArray eight = stringToGbk(QStringLiteral("温度压力"));  // exactly 8 bytes
        std::copy(eight.begin(), eight.end(), h.tags[1].begin());
        const QByteArray bytes = encodeHistoryHeader(h);
        QCOMPARE(bytes.size(), 1176);
        QCOMPARE(qFromLittleEndian<double>(bytes.constData()), h.startTime);
        QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData() + 8), 5u);
        QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData() + 12), 2u);
        QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData() + 16), 0u);
        QCOMPARE(bytes.mid(20, 9), QByteArray("TAG0\0\0\0\0\0", 9));
        QCOMPARE(bytes.mid(29, 8), eight);
        QCOMPARE(bytes.at(37), '\0');  // byte 8 of a slot stays zero
        QCOMPARE(bytes.mid(1172, 4), QByteArray(4, '\0'));
        // An 8-byte tag reads back whole.
        QCOMPARE(decodeHistoryHeader(bytes).tag(1), QStringLiteral("温度压力"));
    }

    void recordsAndTimes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.nv"));
        QVERIFY(createHistoryFile(path, makeHeader(5, 10)));
        for (int k = 0; k < 3; ++k) {
            const float values[5] = {float(k), 1.5f, -2.25f, 123.45f, 0.0f};
            QVERIFY(appendHistoryRecord(path, values, 5));
        }
        QCOMPARE(QFileInfo(path).size(), 1236);
        StationHistoryReader reader;
        QVERIFY2(reader.open(path), qPrintable(reader.error()));
        QCOMPARE(reader.recordCount(), 3u);
        QCOMPARE(historyRecordOffset(2, 5), 1216u);
        QCOMPARE(reader.recordTime(2), addSeconds(reader.header().startTime, 20));
        QCOMPARE(reader.endTime(), addSeconds(reader.header().startTime, 30));
        QVERIFY(reader.seekRecord(2));
        std::vector<float> values;
        QVERIFY(reader.readRecord(values));
        QCOMPARE(values, (std::vector<float>{2.0f, 1.5f, -2.25f, 123.45f, 0.0f}));
        QVERIFY(!reader.readRecord(values));
        QCOMPARE(reader.header().tag(4), QStringLiteral("TAG4"));
    }

    void tornTailIsIgnoredByReadersAndCutByTheNextAppend() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("torn.nv"));
        QVERIFY(createHistoryFile(path, makeHeader(5, 10)));
        const float values[5] = {1, 2, 3, 4, 5};
        for (int k = 0; k < 3; ++k) {
            QVERIFY(appendHistoryRecord(path, values, 5));
        }
        appendBytes(path, QByteArray(7, '\x55'));  // a power cut in the middle of a record
        StationHistoryReader reader;
        QVERIFY(reader.open(path));
        QCOMPARE(reader.recordCount(), 3u);
        reader.close();

        const float next[5] = {6, 7, 8, 9, 10};
        QVERIFY(appendHistoryRecord(path, next, 5));
        QCOMPARE(QFileInfo(path).size(), 1176 + 4 * 20);
        QVERIFY(reader.open(path));
        QCOMPARE(reader.recordCount(), 4u);
        QVERIFY(reader.seekRecord(3));
        std::vector<float> back;
        QVERIFY(reader.readRecord(back));
        QCOMPARE(back, (std::vector<float>{6, 7, 8, 9, 10}));
    }

    void appendNeverWritesWithoutAHeader() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("short.nv"));
        appendBytes(path, QByteArray(100, '\0'));
        const float v = 1.0f;
        QVERIFY(!appendHistoryRecord(path, &v, 1));
        QCOMPARE(QFileInfo(path).size(), 100);
        QVERIFY(!appendHistoryRecord(dir.filePath(QStringLiteral("missing.nv")), &v, 1));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing.nv"))));
    }

    void readerRefusesWhatIsNotAHistoryFile() {
        QTemporaryDir dir;
        StationHistoryReader reader;
        QVERIFY(!reader.open(dir.filePath(QStringLiteral("none.nv"))));
        QVERIFY(!reader.error().isEmpty());

        const QString shortFile = dir.filePath(QStringLiteral("short.nv"));
        appendBytes(shortFile, QByteArray(1175, '\0'));
        QVERIFY(!reader.open(shortFile));
        QVERIFY(reader.error().contains(QStringLiteral("1176")));

        for (std::uint32_t channels : {0u, 129u, 0xFFFFFFFFu}) {
            const QString path = dir.filePath(QStringLiteral("c%1.nv").arg(channels));
            QVERIFY(createHistoryFile(path, makeHeader(0, 5)));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(12);
            char bytes[4];
            qToLittleEndian(channels, bytes);
            f.write(bytes, 4);
            f.close();
            QVERIFY(!reader.open(path));
            QVERIFY(reader.error().contains(QString::number(channels)));
        }
        // 128 channels is the most the tag slots describe, and is accepted.
        const QString widest = dir.filePath(QStringLiteral("wide.nv"));
        QVERIFY(createHistoryFile(widest, makeHeader(128, 1)));
        QVERIFY(reader.open(widest));
        QCOMPARE(reader.recordCount(), 0u);
    }

    void readerRefusesTimesNoProgramCanShow_data() {
        QTest::addColumn<double>("start");
        QTest::addColumn<std::uint32_t>("interval");
        QTest::addColumn<bool>("accepted");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("NaN") << nan << 1u << false;
        QTest::newRow("infinite") << inf << 1u << false;
        QTest::newRow("minus infinite") << -inf << 1u << false;
        QTest::newRow("1e300") << 1e300 << 1u << false;
        QTest::newRow("-1e300") << -1e300 << 1u << false;
        QTest::newRow("year 10000") << kEndOleDate << 1u << false;
        QTest::newRow("year 100") << kFirstOleDate << 1u << true;
        // Three records of 2^32 - 1 seconds from 9999 end past the year 9999.
        QTest::newRow("last record past 9999")
            << oleDateFromParts(9999, 1, 1) << 0xFFFFFFFFu << false;
        QTest::newRow("last record in 9999") << oleDateFromParts(9999, 1, 1) << 3600u << true;
    }
    void readerRefusesTimesNoProgramCanShow() {
        QFETCH(double, start);
        QFETCH(std::uint32_t, interval);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.nv"));
        StationHistoryHeader header = makeHeader(1, interval);
        header.startTime = start;
        QVERIFY(createHistoryFile(path, header));
        appendBytes(path, QByteArray(12, '\0'));
        StationHistoryReader reader;
        QCOMPARE(reader.open(path), accepted);
        if (accepted) {
            QCOMPARE(reader.recordCount(), 3u);
            QVERIFY(isOleDateInRange(reader.endTime()));
        } else {
            QVERIFY(reader.error().contains(QStringLiteral("时间")));
        }
    }

    void blockReadsStopBeforeATornRecordAndResumeAtIt() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("block.nv"));
        QVERIFY(createHistoryFile(path, makeHeader(2, 1)));
        const float values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        QByteArray records;
        for (float v : values) {
            char bytes[4];
            qToLittleEndian(v, bytes);
            records.append(bytes, 4);
        }
        appendBytes(path, records.left(14));  // one record and a half
        StationHistoryReader reader;
        QVERIFY(reader.open(path));
        float block[8] = {};
        QCOMPARE(reader.readRecords(block, 4), 1u);
        QCOMPARE(block[1], 2.0f);
        appendBytes(path, records.mid(14));  // the station finishes the record and adds two
        QCOMPARE(reader.readRecords(block, 4), 3u);
        QCOMPARE(std::vector<float>(block, block + 6), (std::vector<float>{3, 4, 5, 6, 7, 8}));
    }

    void intervalZeroGivesNoTimeStep() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zero.nv"));
        QVERIFY(createHistoryFile(path, makeHeader(2, 0)));
        StationHistoryReader reader;
        QVERIFY(reader.open(path));
        QCOMPARE(reader.endTime(), reader.header().startTime);
        QCOMPARE(readAll(path).size(), 1176);
    }
};

QTEST_GUILESS_MAIN(StationHistory)
#include "tst_stationhistory.moc"
