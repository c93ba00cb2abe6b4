#include "stationhistory.h"

#include <cerrno>

#include <limits>

#include <QtEndian>
#include <cstring>

#include "gbk.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tamlo {

QString StationHistoryHeader::tag(int channel) const {
    return gbkToString(tagBytes(channel));
}

QByteArray StationHistoryHeader::tagBytes(int channel) const {
    if (channel < 0 || channel >= kHistoryTagSlots) {
        return {};
    }
    const TagBytes& slot = tags[static_cast<std::size_t>(channel)];
    return bytesToZero(QByteArrayView(slot.data(), kHistoryTagBytes));
}

QByteArray encodeHistoryHeader(const StationHistoryHeader& header) {
    QByteArray bytes(kHistoryHeaderSize, '\0');
    char* p = bytes.data();
    qToLittleEndian(header.startTime, p);
    qToLittleEndian(header.intervalSeconds, p + 8);
    qToLittleEndian(header.channelCount, p + 12);
    for (int i = 0; i < kHistoryTagSlots; ++i) {
        std::memcpy(p + kHistoryTagsOffset + kHistoryTagSlotSize * i,
                    header.tags[static_cast<std::size_t>(i)].data(), kHistoryTagBytes);
    }
    return bytes;
}

StationHistoryHeader decodeHistoryHeader(const QByteArray& bytes) {
    StationHistoryHeader header;
    if (bytes.size() < kHistoryHeaderSize) {
        return header;
    }
    const char* p = bytes.constData();
    header.startTime = qFromLittleEndian<double>(p);
    header.intervalSeconds = qFromLittleEndian<std::uint32_t>(p + 8);
    header.channelCount = qFromLittleEndian<std::uint32_t>(p + 12);
    for (int i = 0; i < kHistoryTagSlots; ++i) {
        std::memcpy(header.tags[static_cast<std::size_t>(i)].data(),
                    p + kHistoryTagsOffset + kHistoryTagSlotSize * i, kHistoryTagBytes);
    }
    return header;
}

namespace {

bool syncToDisk(QFile& file) {
    if (!file.flush()) {
        return false;
    }
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

}  // namespace

namespace {

// The system's reason for the last failure of `file`, or of the last call when the file has none.
QString failureReason(const QFileDevice& file, int savedErrno) {
    if (file.error() != QFileDevice::NoError && !file.errorString().isEmpty()) {
        return file.errorString();
    }
    return qt_error_string(savedErrno);
}

void setError(QString* error, const QString& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

bool createHistoryFile(const QString& path, const StationHistoryHeader& header, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        setError(error, failureReason(file, errno));
        return false;
    }
    const QByteArray bytes = encodeHistoryHeader(header);
    errno = 0;
    const bool ok = file.write(bytes) == bytes.size() && syncToDisk(file);
    if (!ok) {
        const int saved = errno;
        setError(error, failureReason(file, saved));
        file.close();
        QFile::remove(path);  // a torn header is no history file
        return false;
    }
    file.close();
    return true;
}

bool appendHistoryRecord(const QString& path, const float* values, int count, QString* error) {
    if (count <= 0) {
        return true;
    }
    // Unbuffered: a write that fails must not be retried behind our back when the file closes,
    // after the torn part has been cut off.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        setError(error, failureReason(file, errno));
        return false;
    }
    const qint64 size = file.size();
    if (size < kHistoryHeaderSize) {
        // not a history file of ours any more; never write records without a header
        setError(error,
                 QStringLiteral("文件不足 %1 字节，不是历史数据文件").arg(kHistoryHeaderSize));
        return false;
    }
    const qint64 recordSize = 4LL * count;
    const qint64 aligned =
        kHistoryHeaderSize + (size - kHistoryHeaderSize) / recordSize * recordSize;
    if (aligned != size && !file.resize(aligned)) {
        setError(error, failureReason(file, errno));
        return false;
    }
    QByteArray record(static_cast<qsizetype>(recordSize), '\0');
    for (int i = 0; i < count; ++i) {
        qToLittleEndian(values[i], record.data() + 4 * i);
    }
    if (!file.seek(aligned)) {
        setError(error, failureReason(file, errno));
        return false;
    }
    errno = 0;
    if (file.write(record) != record.size() || !syncToDisk(file)) {
        const int saved = errno;
        setError(error, failureReason(file, saved));
        file.resize(aligned);  // best effort: the readers ignore a torn tail anyway
        return false;
    }
    file.close();
    return true;
}

std::uint64_t historyRecordCount(std::uint64_t fileSize, std::uint32_t channelCount) {
    if (channelCount == 0 || fileSize < static_cast<std::uint64_t>(kHistoryHeaderSize)) {
        return 0;
    }
    return (fileSize - kHistoryHeaderSize) / 4 / channelCount;
}

std::uint64_t historyRecordOffset(std::uint64_t k, std::uint32_t channelCount) {
    return kHistoryHeaderSize + k * 4ULL * channelCount;
}

OleDate historyRecordTime(OleDate startTime, std::uint32_t intervalSeconds, std::uint64_t k) {
    // No product that wraps round into the range: such a step is out of range, as it is.
    if (intervalSeconds != 0 &&
        k > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) /
                intervalSeconds) {
        throw DateRangeError();
    }
    return addSeconds(startTime, static_cast<std::int64_t>(k * intervalSeconds));
}

bool StationHistoryReader::open(const QString& path) {
    close();
    error_.clear();
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("无法打开文件“%1”。").arg(path);
        return false;
    }
    const qint64 size = file_.size();
    if (size < kHistoryHeaderSize) {
        error_ = QStringLiteral("文件“%1”不是历史数据文件：文件长度不足 %2 字节。")
                     .arg(path)
                     .arg(kHistoryHeaderSize);
        close();
        return false;
    }
    const QByteArray bytes = file_.read(kHistoryHeaderSize);
    if (bytes.size() != kHistoryHeaderSize) {
        error_ = QStringLiteral("无法读取文件“%1”的文件头。").arg(path);
        close();
        return false;
    }
    header_ = decodeHistoryHeader(bytes);
    if (header_.channelCount == 0 || header_.channelCount > kHistoryMaxChannels) {
        error_ = QStringLiteral("文件“%1”的通道数为 %2，不是有效的历史数据文件（应为 1 到 %3）。")
                     .arg(path)
                     .arg(header_.channelCount)
                     .arg(kHistoryMaxChannels);
        close();
        return false;
    }
    recordCount_ = historyRecordCount(static_cast<std::uint64_t>(size), header_.channelCount);
    // Every record's time must be a date the programs can show (a damaged header may hold NaN,
    // infinity or 1e300, or an interval that carries the records past the year 9999).
    bool timesInRange = isOleDateInRange(header_.startTime);
    if (timesInRange) {
        try {
            timesInRange = isOleDateInRange(endTime());
        } catch (const DateRangeError&) {
            timesInRange = false;
        }
    }
    if (!timesInRange) {
        error_ =
            QStringLiteral("文件“%1”的时间不是有效的日期（开始时间 %2），不是有效的历史数据文件。")
                .arg(path)
                .arg(header_.startTime);
        close();
        return false;
    }
    return true;
}

void StationHistoryReader::close() {
    if (file_.isOpen()) {
        file_.close();
    }
}

OleDate StationHistoryReader::recordTime(std::uint64_t k) const {
    return historyRecordTime(header_.startTime, header_.intervalSeconds, k);
}

bool StationHistoryReader::seekRecord(std::uint64_t k) {
    if (!file_.isOpen()) {
        return false;
    }
    return file_.seek(static_cast<qint64>(historyRecordOffset(k, header_.channelCount)));
}

bool StationHistoryReader::readRecord(float* values) {
    if (!file_.isOpen()) {
        return false;
    }
    const qint64 recordSize = 4LL * header_.channelCount;
    QByteArray bytes = file_.read(recordSize);
    if (bytes.size() != recordSize) {
        return false;
    }
    for (std::uint32_t i = 0; i < header_.channelCount; ++i) {
        values[i] = qFromLittleEndian<float>(bytes.constData() + 4 * i);
    }
    return true;
}

bool StationHistoryReader::readRecord(std::vector<float>& values) {
    values.resize(header_.channelCount);
    return readRecord(values.data());
}

std::uint64_t StationHistoryReader::readRecords(float* values, std::uint64_t maxRecords) {
    if (!file_.isOpen() || maxRecords == 0) {
        return 0;
    }
    const qint64 recordSize = 4LL * header_.channelCount;
    const qint64 start = file_.pos();
    const qint64 got = file_.read(reinterpret_cast<char*>(values),
                                  static_cast<qint64>(maxRecords) * recordSize);
    if (got <= 0) {
        return 0;
    }
    const qint64 whole = got / recordSize;
    if (whole * recordSize != got) {
        file_.seek(start + whole * recordSize);
    }
    qFromLittleEndian<float>(values, whole * header_.channelCount, values);
    return static_cast<std::uint64_t>(whole);
}

}  // namespace tamlo
