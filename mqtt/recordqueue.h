#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tamlo::mqtt {

// The records waiting for the broker, on disk, so that neither a lost broker nor a kill of the
// station loses one.
//
// Layout: the directory "mqtt-queue" in the station's working directory holds
//   <first sequence, 20 digits>.seg   segments of entries, appended to in order
//   state                              the head (first sequence not yet acknowledged) and the
//                                      next sequence number, 24 bytes: "TQS1", head u64,
//                                      next u64, CRC-32 u32 of the 20 bytes before it
// An entry is "TQE1", payload length u32, sequence u64, CRC-32 u32 (of length, sequence and
// payload), then the payload; integers little-endian. Sequences run on by one through a
// segment, and a segment is named after its first, so an empty segment still carries the next
// sequence number across restarts.
//
// Why segments: acknowledged records leave by deleting whole segments, and the bound on the
// queue drops the oldest segment; no file is ever rewritten, so there is nothing to compact and
// nothing a kill in the middle could leave half done.
//
// Durability: append() returns once write(2) has put the entry in the file, which a kill -9
// cannot undo. The disk flush (fdatasync) is left to the publishing thread, which calls sync()
// before it reads: the window thread never waits for the disk, and a record is never sent
// before it is on disk, so a power cut cannot make the station reuse a sequence number the
// broker has already seen. The head is saved at most once a second (saveState): after a crash
// a few acknowledged records are sent again, which the consumers' sequence check absorbs.
//
// At open, a torn entry at the end of the last segment (a kill in the middle of a write) is
// cut off; a damaged entry elsewhere ends its segment and counts as dropped.
//
// Threads: one thread appends; another syncs, reads and acknowledges. All members may be
// called from either; they share one mutex, which no disk flush holds.
class RecordQueue {
public:
    RecordQueue(QString directory, qint64 maxBytes);
    ~RecordQueue();
    RecordQueue(const RecordQueue&) = delete;
    RecordQueue& operator=(const RecordQueue&) = delete;

    static QString directoryName() { return QStringLiteral("mqtt-queue"); }
    // The alarm events' queue, a folder inside the records' one: the records' segments and
    // state stay where and as they were, and the alarms' sequence lives in their own
    // segment names and state as the records' does.
    static QString alarmDirectoryName() { return QStringLiteral("mqtt-queue/alarm"); }

    // Creates or recovers the queue. False (with the reason) when the directory or a segment
    // cannot be opened. `note` receives what recovery did, if anything (a cut torn entry);
    // `mismatch` says when the state file disagreed with the segments, which then win: every
    // record still in a segment is sent again.
    bool open(QString* error, QString* note = nullptr, QString* mismatch = nullptr);

    // The sequence number the next append() takes.
    quint64 nextSequence() const;

    struct Appended {
        bool ok = false;
        quint64 sequence = 0;
        qint64 dropped = 0;  // oldest records dropped to keep the queue within its bound
        QString error;       // when !ok: why the record could not be written
    };
    // Appends a payload made for nextSequence(). A record that cannot be written still uses up
    // its sequence number, so that consumers see the gap.
    Appended append(const QByteArray& payload);

    // Flushes the appended entries to the disk; they become readable.
    void sync();

    struct Entry {
        quint64 sequence = 0;
        QByteArray payload;
    };
    // Synced entries from `from` on (or the first still there after it), at most `maxCount`
    // or about `maxBytes`. `problem` receives a text when a damaged entry was skipped.
    std::vector<Entry> read(quint64 from, int maxCount, qint64 maxBytes, QString* problem);

    // Everything before `head` reached the broker.
    void acknowledge(quint64 head);
    // Writes the state file now (otherwise at most once a second from acknowledge()).
    bool saveState();

    quint64 head() const;
    qint64 waiting() const;    // records not yet acknowledged
    qint64 dropped() const;    // records dropped since open: bound, damage, write failures
    qint64 sizeBytes() const;  // all segments

private:
    struct File;
    struct Segment {
        quint64 first = 0;
        quint64 count = 0;
        qint64 bytes = 0;
        std::shared_ptr<File> file;
    };
    struct Cursor {
        quint64 segmentFirst = 0;
        qint64 offset = 0;
        quint64 sequence = 0;
    };

    QString segmentPath(quint64 first) const;
    bool createSegment(quint64 first, QString* error);
    bool recoverLastSegment(Segment& segment, QString* note);
    void dropOldest(Appended& appended);
    void deleteAcknowledged();
    qint64 waitingLocked() const;
    qint64 locate(const Segment& segment, quint64 sequence) const;

    QString directory_;
    qint64 maxBytes_;
    qint64 segmentBytes_;
    mutable std::mutex mutex_;
    std::deque<Segment> segments_;
    quint64 next_ = 1;
    quint64 head_ = 1;
    quint64 synced_ = 1;  // entries before it are on disk
    qint64 totalBytes_ = 0;
    qint64 dropped_ = 0;
    bool rollNext_ = false;  // the last write failed: the next record starts a new segment
    bool directoryDirty_ = false;
    std::vector<std::shared_ptr<File>> unsynced_;
    Cursor cursor_;
    quint64 savedHead_ = 0;
    quint64 savedNext_ = 0;
    std::chrono::steady_clock::time_point savedAt_{};
};

// zlib's CRC-32 (IEEE 802.3); `crc` carries on from the sum of the bytes before.
quint32 crc32(const char* data, qsizetype size, quint32 crc = 0);

}  // namespace tamlo::mqtt
