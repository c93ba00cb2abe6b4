#include "recordqueue.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace tamlo::mqtt {

namespace {

constexpr char kEntryMagic[4] = {'T', 'Q', 'E', '1'};
constexpr char kStateMagic[4] = {'T', 'Q', 'S', '1'};
constexpr qint64 kHeaderBytes = 20;
constexpr quint32 kMaxPayload = 16 * 1024 * 1024;
constexpr qsizetype kStateBytes = 24;
constexpr auto kSaveInterval = std::chrono::seconds(1);
// Segments named past this are not the queue's: no station makes 2^53 records, and sequence
// numbers stay far from wrapping.
constexpr quint64 kSequenceLimit = quint64(1) << 53;
// How far a state's next may run ahead of the stored records: the numbers of records that could
// not be written. More than a station makes in a century comes from damage.
constexpr quint64 kMaxUnwritten = quint64(1) << 32;

QString systemError(const QString& what, const QString& path) {
    return QStringLiteral("%1 %2：%3")
        .arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
}

// Repeats `step` (a read or a write) until all `size` bytes went through. False on an error or
// an early end of file.
template <typename Step>
bool whole(char* data, qint64 size, Step step) {
    char* const begin = data;
    while (size > 0) {
        const ssize_t n = step(data, size, data - begin);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool writeAll(int fd, const char* data, qint64 size) {
    return whole(const_cast<char*>(data), size, [fd](char* p, qint64 n, qint64) {
        return ::write(fd, p, static_cast<size_t>(n));
    });
}

bool readAt(int fd, char* data, qint64 size, qint64 offset) {
    return whole(data, size, [fd, offset](char* p, qint64 n, qint64 done) {
        return ::pread(fd, p, static_cast<size_t>(n), offset + done);
    });
}

struct Header {
    quint32 length = 0;
    quint64 sequence = 0;
    quint32 crc = 0;
};

bool readHeader(int fd, qint64 offset, Header& header) {
    char bytes[kHeaderBytes];
    if (!readAt(fd, bytes, kHeaderBytes, offset) || std::memcmp(bytes, kEntryMagic, 4) != 0)
        return false;
    header.length = qFromLittleEndian<quint32>(bytes + 4);
    header.sequence = qFromLittleEndian<quint64>(bytes + 8);
    header.crc = qFromLittleEndian<quint32>(bytes + 16);
    return header.length <= kMaxPayload;
}

quint32 entryCrc(const Header& header, const char* payload) {
    char fields[12];
    qToLittleEndian(header.length, fields);
    qToLittleEndian(header.sequence, fields + 4);
    return crc32(payload, header.length, crc32(fields, sizeof fields));
}

// The payload of the entry at `offset` when it is whole and its CRC matches.
bool readEntry(int fd, qint64 offset, const Header& header, QByteArray& payload) {
    payload.resize(header.length);
    return readAt(fd, payload.data(), header.length, offset + kHeaderBytes) &&
           entryCrc(header, payload.constData()) == header.crc;
}

}  // namespace

quint32 crc32(const char* data, qsizetype size, quint32 crc) {
    return static_cast<quint32>(
        ::crc32_z(crc, reinterpret_cast<const Bytef*>(data), static_cast<z_size_t>(size)));
}

struct RecordQueue::File {
    int fd = -1;
    explicit File(int f) : fd(f) {}
    ~File() {
        if (fd >= 0)
            ::close(fd);
    }
};

RecordQueue::RecordQueue(QString directory, qint64 maxBytes)
    : directory_(std::move(directory)),
      maxBytes_(std::max<qint64>(maxBytes, 4096)),
      segmentBytes_(std::clamp<qint64>(maxBytes_ / 16, 16 * 1024, 8 * 1024 * 1024)) {}

RecordQueue::~RecordQueue() {
    if (!segments_.empty()) {
        sync();
        saveState();
    }
}

QString RecordQueue::segmentPath(quint64 first) const {
    return directory_ + QStringLiteral("/%1.seg").arg(first, 20, 10, QLatin1Char('0'));
}

bool RecordQueue::createSegment(quint64 first, QString* error) {
    const QString path = segmentPath(first);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = systemError(QStringLiteral("无法创建队列文件"), path);
        return false;
    }
    Segment segment;
    segment.first = first;
    segment.file = std::make_shared<File>(fd);
    segments_.push_back(segment);
    directoryDirty_ = true;
    return true;
}

bool RecordQueue::recoverLastSegment(Segment& segment, QString* note) {
    const int fd = segment.file->fd;
    qint64 offset = 0;
    quint64 count = 0;
    Header header;
    QByteArray payload;
    while (readHeader(fd, offset, header) && header.sequence == segment.first + count &&
           readEntry(fd, offset, header, payload)) {
        offset += kHeaderBytes + header.length;
        ++count;
    }
    if (offset < segment.bytes) {
        if (note)
            *note = QStringLiteral("队列文件 %1 末尾不完整的 %2 字节已截去")
                        .arg(QDir::toNativeSeparators(segmentPath(segment.first)))
                        .arg(segment.bytes - offset);
        if (::ftruncate(fd, offset) != 0)
            return false;
    }
    segment.bytes = offset;
    segment.count = count;
    return true;
}

bool RecordQueue::open(QString* error, QString* note, QString* mismatch) {
    std::unique_lock lock(mutex_);
    QDir dir(directory_);
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error)
            *error =
                QStringLiteral("无法创建队列目录 %1").arg(QDir::toNativeSeparators(directory_));
        return false;
    }
    QFile::remove(dir.filePath(QStringLiteral("state.new")));
    quint64 stateHead = 0;
    quint64 stateNext = 0;
    QFile state(dir.filePath(QStringLiteral("state")));
    if (state.open(QIODevice::ReadOnly)) {
        const QByteArray s = state.read(kStateBytes);
        if (s.size() == kStateBytes && s.startsWith(QByteArray(kStateMagic, 4)) &&
            crc32(s.constData(), 20) == qFromLittleEndian<quint32>(s.constData() + 20)) {
            stateHead = qFromLittleEndian<quint64>(s.constData() + 4);
            stateNext = qFromLittleEndian<quint64>(s.constData() + 12);
        }
    }
    std::vector<quint64> firsts;
    for (const QString& name : dir.entryList({QStringLiteral("*.seg")}, QDir::Files)) {
        bool ok = false;
        const quint64 first = name.chopped(4).toULongLong(&ok);
        if (ok && name.size() == 24 && first < kSequenceLimit)
            firsts.push_back(first);
    }
    std::sort(firsts.begin(), firsts.end());
    segments_.clear();
    totalBytes_ = 0;
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        const QString path = segmentPath(firsts[i]);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (error)
                *error = systemError(QStringLiteral("无法打开队列文件"), path);
            if (fd >= 0)
                ::close(fd);
            segments_.clear();
            return false;
        }
        Segment segment;
        segment.first = firsts[i];
        segment.file = std::make_shared<File>(fd);
        segment.bytes = st.st_size;
        segment.count = i + 1 < firsts.size() ? firsts[i + 1] - firsts[i] : 0;
        // What a kill left in the page cache reaches the disk before anything is sent.
        ::fdatasync(fd);
        if (i + 1 == firsts.size() && !recoverLastSegment(segment, note)) {
            if (error)
                *error = systemError(QStringLiteral("无法修复队列文件"), path);
            segments_.clear();
            return false;
        }
        totalBytes_ += segment.bytes;
        segments_.push_back(segment);
    }
    const bool anyStored = !segments_.empty();
    const quint64 stored = anyStored ? segments_.back().first + segments_.back().count : 1;
    // The state is saved after the segments it describes, and a state that runs ahead of them
    // came from damage: its head would hide every record from then on. The segments are what
    // is really there.
    const bool nextFits = stateNext <= stored + kMaxUnwritten;
    const bool sane = stateHead <= stateNext && nextFits && (!anyStored || stateHead <= stored);
    if (!sane && mismatch) {
        const quint64 first = anyStored ? segments_.front().first : stored;
        *mismatch =
            QStringLiteral(
                "队列状态文件 %1 与队列文件不符（状态：从第 %2 条起未确认，"
                "下一条为第 %3 条；%4），已按队列文件恢复")
                .arg(QDir::toNativeSeparators(state.fileName()))
                .arg(stateHead)
                .arg(stateNext)
                .arg(stored > first
                         ? QStringLiteral("队列文件存有第 %1 至 %2 条").arg(first).arg(stored - 1)
                         : QStringLiteral("队列文件中没有记录"));
    }
    if (!sane) {
        stateHead = 0;
        stateNext = nextFits ? stateNext : 0;
    }
    next_ = std::max({stored, stateNext, quint64{1}});
    if (segments_.empty() || next_ != stored) {
        if (!createSegment(next_, error)) {
            segments_.clear();
            return false;
        }
    }
    head_ = std::max(stateHead, segments_.front().first);
    synced_ = next_;
    savedHead_ = stateHead;
    savedNext_ = stateNext;
    rollNext_ = false;
    cursor_ = {};
    deleteAcknowledged();
    if (!sane) {
        lock.unlock();
        saveState();  // the next start does not meet the damage again
    }
    return true;
}

quint64 RecordQueue::nextSequence() const {
    std::lock_guard lock(mutex_);
    return next_;
}

RecordQueue::Appended RecordQueue::append(const QByteArray& payload) {
    std::lock_guard lock(mutex_);
    Appended appended;
    appended.sequence = next_;
    QByteArray frame(kHeaderBytes, Qt::Uninitialized);
    Header header{static_cast<quint32>(payload.size()), next_, 0};
    header.crc = entryCrc(header, payload.constData());
    std::memcpy(frame.data(), kEntryMagic, 4);
    qToLittleEndian(header.length, frame.data() + 4);
    qToLittleEndian(header.sequence, frame.data() + 8);
    qToLittleEndian(header.crc, frame.data() + 16);
    frame += payload;

    Segment* last = &segments_.back();
    if (rollNext_ && last->count == 0 && last->first == next_)
        rollNext_ = false;
    if (rollNext_ || (last->count > 0 && last->bytes + frame.size() > segmentBytes_)) {
        if (!createSegment(next_, &appended.error)) {
            rollNext_ = true;
            ++next_;
            ++dropped_;
            return appended;
        }
        rollNext_ = false;
        const auto previous = segments_.end() - 2;
        if (previous->count == 0) {
            // Nothing in it (its writes failed): it would only leave a gap behind.
            ::unlink(QFile::encodeName(segmentPath(previous->first)).constData());
            segments_.erase(previous);
        } else {
            unsynced_.push_back(previous->file);
        }
        last = &segments_.back();
    }
    const bool tooLarge = payload.size() > static_cast<qsizetype>(kMaxPayload);
    if (tooLarge || !writeAll(last->file->fd, frame.constData(), frame.size())) {
        appended.error =
            tooLarge ? QStringLiteral("记录过大（%1 字节）").arg(payload.size())
                     : systemError(QStringLiteral("无法写入队列文件"), segmentPath(last->first));
        // Whatever part reached the file goes; the next record starts a new segment, so that
        // the sequence numbers in a segment stay without gaps.
        if (::ftruncate(last->file->fd, last->bytes) != 0) {
            // The torn entry stays until the next open cuts it.
        }
        rollNext_ = true;
        ++next_;
        ++dropped_;
        return appended;
    }
    last->bytes += frame.size();
    ++last->count;
    totalBytes_ += frame.size();
    ++next_;
    appended.ok = true;
    if (totalBytes_ > maxBytes_)
        dropOldest(appended);
    return appended;
}

void RecordQueue::dropOldest(Appended& appended) {
    while (totalBytes_ > maxBytes_ && segments_.size() > 1) {
        const Segment& s = segments_.front();
        const quint64 end = s.first + s.count;
        const quint64 from = std::max(s.first, head_);
        if (end > from)
            appended.dropped += static_cast<qint64>(end - from);
        totalBytes_ -= s.bytes;
        ::unlink(QFile::encodeName(segmentPath(s.first)).constData());
        segments_.pop_front();
        head_ = std::max(head_, segments_.front().first);
    }
    dropped_ += appended.dropped;
}

void RecordQueue::deleteAcknowledged() {
    while (segments_.size() > 1 && segments_.front().first + segments_.front().count <= head_) {
        totalBytes_ -= segments_.front().bytes;
        ::unlink(QFile::encodeName(segmentPath(segments_.front().first)).constData());
        segments_.pop_front();
    }
}

void RecordQueue::sync() {
    std::vector<std::shared_ptr<File>> files;
    quint64 target = 0;
    bool directory = false;
    {
        std::lock_guard lock(mutex_);
        if (synced_ == next_ && unsynced_.empty() && !directoryDirty_)
            return;
        files.swap(unsynced_);
        files.push_back(segments_.back().file);
        target = next_;
        directory = directoryDirty_;
        directoryDirty_ = false;
    }
    for (const auto& file : files) ::fdatasync(file->fd);
    if (directory) {
        const int fd = ::open(QFile::encodeName(directory_).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    std::lock_guard lock(mutex_);
    synced_ = std::max(synced_, target);
}

qint64 RecordQueue::locate(const Segment& segment, quint64 sequence) const {
    if (cursor_.segmentFirst == segment.first && cursor_.sequence == sequence)
        return cursor_.offset;
    qint64 offset = 0;
    Header header;
    for (quint64 s = segment.first; s < sequence; ++s) {
        if (!readHeader(segment.file->fd, offset, header) || header.sequence != s)
            return -1;
        offset += kHeaderBytes + header.length;
    }
    return offset;
}

std::vector<RecordQueue::Entry> RecordQueue::read(quint64 from, int maxCount, qint64 maxBytes,
                                                  QString* problem) {
    std::lock_guard lock(mutex_);
    std::vector<Entry> entries;
    qint64 bytes = 0;
    quint64 sequence = std::max(from, segments_.front().first);
    std::size_t index = 0;
    while (static_cast<int>(entries.size()) < maxCount && bytes < maxBytes && sequence < synced_) {
        while (index + 1 < segments_.size() && segments_[index + 1].first <= sequence) ++index;
        const Segment& segment = segments_[index];
        const quint64 end = segment.first + segment.count;
        if (sequence >= end) {
            if (index + 1 == segments_.size())
                break;
            sequence = segments_[index + 1].first;
            continue;
        }
        const qint64 offset = locate(segment, sequence);
        Header header;
        Entry entry;
        if (offset < 0 || !readHeader(segment.file->fd, offset, header) ||
            header.sequence != sequence ||
            !readEntry(segment.file->fd, offset, header, entry.payload)) {
            // Damaged: the rest of this segment cannot be trusted.
            if (problem)
                *problem = QStringLiteral("队列文件 %1 从第 %2 条记录起已损坏，跳过 %3 条")
                               .arg(QDir::toNativeSeparators(segmentPath(segment.first)))
                               .arg(sequence)
                               .arg(end - sequence);
            dropped_ += static_cast<qint64>(end - sequence);
            sequence = end;
            continue;
        }
        entry.sequence = sequence;
        bytes += entry.payload.size();
        entries.push_back(std::move(entry));
        cursor_ = {segment.first, offset + kHeaderBytes + header.length, sequence + 1};
        ++sequence;
    }
    return entries;
}

void RecordQueue::acknowledge(quint64 head) {
    bool save = false;
    {
        std::lock_guard lock(mutex_);
        if (head <= head_)
            return;
        head_ = head;
        deleteAcknowledged();
        save = std::chrono::steady_clock::now() - savedAt_ >= kSaveInterval;
    }
    if (save)
        saveState();
}

bool RecordQueue::saveState() {
    QByteArray bytes(kStateBytes, Qt::Uninitialized);
    quint64 head = 0;
    quint64 next = 0;
    {
        std::lock_guard lock(mutex_);
        if (head_ == savedHead_ && next_ == savedNext_)
            return true;
        head = savedHead_ = head_;
        next = savedNext_ = next_;
        savedAt_ = std::chrono::steady_clock::now();
    }
    std::memcpy(bytes.data(), kStateMagic, 4);
    qToLittleEndian(head, bytes.data() + 4);
    qToLittleEndian(next, bytes.data() + 12);
    qToLittleEndian(crc32(bytes.constData(), 20), bytes.data() + 20);
    const QString fresh = directory_ + QStringLiteral("/state.new");
    const QByteArray freshName = QFile::encodeName(fresh);
    const int fd = ::open(freshName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes.constData(), bytes.size()) && ::fdatasync(fd) == 0;
    ::close(fd);
    return written && ::rename(freshName.constData(),
                               QFile::encodeName(directory_ + QStringLiteral("/state"))) == 0;
}

quint64 RecordQueue::head() const {
    std::lock_guard lock(mutex_);
    return head_;
}

qint64 RecordQueue::waitingLocked() const {
    qint64 waiting = 0;
    for (const Segment& s : segments_) {
        const quint64 end = s.first + s.count;
        const quint64 from = std::max(s.first, head_);
        if (end > from)
            waiting += static_cast<qint64>(end - from);
    }
    return waiting;
}

qint64 RecordQueue::waiting() const {
    std::lock_guard lock(mutex_);
    return waitingLocked();
}

qint64 RecordQueue::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

qint64 RecordQueue::sizeBytes() const {
    std::lock_guard lock(mutex_);
    return totalBytes_;
}

}  // namespace tamlo::mqtt
