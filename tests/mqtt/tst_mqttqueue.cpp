// The disk queue between the window thread and the broker: what goes in comes out in order
// after a reopen, a torn end is cut, the sequence number outlives an empty queue, the bound
// drops the oldest, and a kill -9 loses no record whose append had returned.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "mqtt/recordqueue.h"

using namespace tamlo::mqtt;

namespace {

QByteArray payload(quint64 sequence, int size = 100) {
    QByteArray text = QByteArray::number(sequence) + ' ';
    return text.repeated(size / text.size() + 1).left(size);
}

QStringList segments(const QString& dir) {
    return QDir(dir).entryList({"*.seg"}, QDir::Files, QDir::Name);
}

// Appends records `first`..`last` (their payloads made for their own numbers).
bool appendRange(RecordQueue& queue, quint64 first, quint64 last, int size = 100) {
    for (quint64 s = first; s <= last; ++s) {
        if (queue.nextSequence() != s || !queue.append(payload(s, size)).ok)
            return false;
    }
    return true;
}

// Reads everything from `from` and checks it is `first`..`last` with their payloads.
bool readsExactly(RecordQueue& queue, quint64 from, quint64 first, quint64 last, int size = 100) {
    queue.sync();
    const auto entries = queue.read(from, 1000000, qint64(1) << 40, nullptr);
    if (entries.size() != last - first + 1)
        return false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].sequence != first + i || entries[i].payload != payload(first + i, size))
            return false;
    }
    return true;
}

}  // namespace

class MqttQueue : public QObject {
    Q_OBJECT
private slots:
    void appendAcknowledgeReopen() {
        QTemporaryDir dir;
        {
            RecordQueue queue(dir.path(), 1 << 20);
            QVERIFY(queue.open(nullptr));
            QCOMPARE(queue.nextSequence(), quint64(1));
            QVERIFY(appendRange(queue, 1, 3));
            // Not readable before the flush: nothing leaves before it is on disk.
            QVERIFY(queue.read(1, 10, 1 << 20, nullptr).empty());
            QVERIFY(readsExactly(queue, 1, 1, 3));
            queue.acknowledge(3);
            QCOMPARE(queue.waiting(), qint64(1));
        }
        RecordQueue queue(dir.path(), 1 << 20);
        QVERIFY(queue.open(nullptr));
        QCOMPARE(queue.head(), quint64(3));
        QCOMPARE(queue.waiting(), qint64(1));
        QVERIFY(readsExactly(queue, queue.head(), 3, 3));
        QVERIFY(appendRange(queue, 4, 5));
        QVERIFY(readsExactly(queue, 3, 3, 5));
    }

    void frameOnDisk() {
        // One entry and the state, byte for byte: CRC-32 over the fields before it.
        QTemporaryDir dir;
        {
            RecordQueue queue(dir.path(), 1 << 20);
            QVERIFY(queue.open(nullptr));
            QVERIFY(queue.append("{\"seq\":1}").ok);
        }
        QFile file(dir.filePath("00000000000000000001.seg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.toHex(),
                 QByteArray("54514531"          // "TQE1"
                            "09000000"          // 9 bytes
                            "0100000000000000"  // sequence 1
                            "e32c0a3f") +       // CRC-32 0x3f0a2ce3
                     QByteArray("{\"seq\":1}").toHex());
        QCOMPARE(crc32("123456789", 9), quint32(0xCBF43926));  // the check value of CRC-32
        QFile state(dir.filePath("state"));
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(state.readAll().toHex(), QByteArray("54515331"          // "TQS1"
                                                     "0100000000000000"  // head 1
                                                     "0200000000000000"  // next 2
                                                     "af2b1f31"));       // CRC-32 0x311f2baf
    }

    // A state with a good CRC that says more than the segments hold: the segments win, and
    // records appended afterwards are read again.
    void stateAheadOfSegments_data() {
        QTest::addColumn<QByteArray>("state");
        QTest::newRow("head past next")  // head 3, next 2
            << QByteArray("5451533103000000000000000200000000000000cc0ebfb6");
        QTest::newRow("head past the entries")  // head 5, next 7
            << QByteArray("54515331050000000000000007000000000000004c69cead");
    }

    void stateAheadOfSegments() {
        QFETCH(QByteArray, state);
        QTemporaryDir dir;
        {
            RecordQueue queue(dir.path(), 1 << 20);
            QVERIFY(queue.open(nullptr));
            QVERIFY(appendRange(queue, 1, 1));
        }
        QFile file(dir.filePath("state"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray::fromHex(state)) == 24);
        file.close();
        RecordQueue queue(dir.path(), 1 << 20);
        QString mismatch;
        QVERIFY(queue.open(nullptr, nullptr, &mismatch));
        QVERIFY2(mismatch.contains("与队列文件不符"), qPrintable(mismatch));
        QCOMPARE(queue.head(), quint64(1));
        const quint64 next = queue.nextSequence();
        QVERIFY(queue.append(payload(next)).ok);
        QCOMPARE(queue.waiting(), qint64(2));
        queue.sync();
        const auto entries = queue.read(queue.head(), 10, 1 << 20, nullptr);
        QCOMPARE(entries.size(), std::size_t(2));
        QCOMPARE(entries[1].sequence, next);
    }

    void tornTailIsCut_data() {
        QTest::addColumn<int>("keep");      // bytes of the fourth entry that reached the file
        QTest::addColumn<bool>("flipped");  // or all of it, with one payload byte changed
        QTest::newRow("half a header") << 9 << false;
        QTest::newRow("header, part of payload") << 60 << false;
        QTest::newRow("damaged payload") << 120 << true;
    }

    void tornTailIsCut() {
        QFETCH(int, keep);
        QFETCH(bool, flipped);
        QTemporaryDir dir;
        const QString path = dir.filePath("00000000000000000001.seg");
        {
            RecordQueue queue(dir.path(), 1 << 20);
            QVERIFY(queue.open(nullptr));
            QVERIFY(appendRange(queue, 1, 4));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), 4 * 120);
        bytes.truncate(3 * 120 + keep);
        if (flipped)
            bytes[bytes.size() - 1] = 'x';
        QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
        file.close();
        QVERIFY(QFile::remove(dir.filePath("state")));  // killed: the state was not saved

        RecordQueue queue(dir.path(), 1 << 20);
        QString note;
        QVERIFY(queue.open(nullptr, &note));
        QVERIFY2(note.contains(QString::number(keep)), qPrintable(note));
        QCOMPARE(QFileInfo(path).size(), qint64(3 * 120));
        QCOMPARE(queue.nextSequence(), quint64(4));
        QVERIFY(appendRange(queue, 4, 5));
        QVERIFY(readsExactly(queue, 1, 1, 5));
    }

    void sequenceOutlivesEmptyQueue() {
        QTemporaryDir dir;
        {
            // Small segments: the acknowledged ones are deleted as the head passes them.
            RecordQueue queue(dir.path(), 64 * 1024);
            QVERIFY(queue.open(nullptr));
            QVERIFY(appendRange(queue, 1, 400));
            queue.sync();
            QVERIFY(segments(dir.path()).size() > 2);
            queue.acknowledge(401);
            QCOMPARE(queue.waiting(), qint64(0));
            QCOMPARE(segments(dir.path()).size(), 1);
        }
        QFile::remove(dir.filePath("state"));  // even without the state
        RecordQueue queue(dir.path(), 64 * 1024);
        QVERIFY(queue.open(nullptr));
        QCOMPARE(queue.nextSequence(), quint64(401));
        QCOMPARE(queue.append(payload(401)).sequence, quint64(401));
    }

    void boundDropsOldest() {
        QTemporaryDir dir;
        RecordQueue queue(dir.path(), 64 * 1024);  // segments of 16 KiB
        QVERIFY(queue.open(nullptr));
        queue.acknowledge(3);  // the first two went out already
        qint64 dropped = 0;
        for (quint64 s = 1; s <= 300; ++s) {
            const RecordQueue::Appended appended = queue.append(payload(s, 1000));
            QVERIFY(appended.ok);
            dropped += appended.dropped;
        }
        QVERIFY(queue.sizeBytes() <= 64 * 1024 + 1020);
        QVERIFY(dropped > 200);
        QCOMPARE(queue.dropped(), dropped);
        // Only unacknowledged records count as dropped; the newest are all there, in order.
        QCOMPARE(queue.waiting() + dropped, qint64(298));
        const quint64 first = 301 - queue.waiting();
        QVERIFY(readsExactly(queue, 1, first, 300, 1000));
    }

    void acknowledgedSegmentsGoUnacknowledgedStay() {
        QTemporaryDir dir;
        {
            RecordQueue queue(dir.path(), 1 << 20);  // segments of 64 KiB
            QVERIFY(queue.open(nullptr));
            QVERIFY(appendRange(queue, 1, 300, 1000));
            const qsizetype before = segments(dir.path()).size();
            queue.acknowledge(151);
            QVERIFY(segments(dir.path()).size() < before);
            QVERIFY(queue.saveState());
        }
        RecordQueue queue(dir.path(), 1 << 20);
        QVERIFY(queue.open(nullptr));
        QCOMPARE(queue.head(), quint64(151));
        QCOMPARE(queue.waiting(), qint64(150));
        QVERIFY(readsExactly(queue, 151, 151, 300, 1000));
    }

    void killedWhileAppending() {
        QTemporaryDir dir;
        QProcess child;
        child.start(QStringLiteral(TAMLO_BIN_DIR) + "/tamlo_mqtt_child",
                    {"append", dir.path(), QString::number(1 << 20), "1000"});
        QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
        QByteArray printed;
        while (printed.count('\n') < 300 && child.waitForReadyRead(10000))
            printed += child.readAllStandardOutput();
        child.kill();
        child.waitForFinished();
        printed += child.readAllStandardOutput();
        const QList<QByteArray> lines = printed.split('\n');
        QVERIFY(lines.size() > 300);
        const quint64 lastReturned = lines[lines.size() - 2].toULongLong();

        RecordQueue queue(dir.path(), 1 << 20);
        QVERIFY(queue.open(nullptr));
        QVERIFY(queue.nextSequence() > lastReturned);
        QVERIFY(readsExactly(queue, 1, 1, queue.nextSequence() - 1, 1000));
    }
};

QTEST_GUILESS_MAIN(MqttQueue)
#include "tst_mqttqueue.moc"
