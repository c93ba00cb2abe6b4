#include "recorderhistory.h"

#include <QDate>
#include <QFile>
#include <QTime>
#include <QtEndian>
#include <algorithm>
#include <cmath>

#include "shared/exportfile.h"
#include "shared/gbk.h"

namespace tamlo::analysis {
namespace {

std::uint16_t le16(const std::uint8_t* p) {
    return qFromLittleEndian<std::uint16_t>(p);
}
std::uint32_t le32(const std::uint8_t* p) {
    return qFromLittleEndian<std::uint32_t>(p);
}
std::uint16_t be16(const std::uint8_t* p) {
    return qFromBigEndian<std::uint16_t>(p);
}
std::uint32_t be32(const std::uint8_t* p) {
    return qFromBigEndian<std::uint32_t>(p);
}
void putLe16(std::uint8_t* p, std::uint16_t v) {
    qToLittleEndian(v, p);
}
void putLe32(std::uint8_t* p, std::uint32_t v) {
    qToLittleEndian(v, p);
}

const std::uint8_t* bytesOf(const QByteArray& data) {
    return reinterpret_cast<const std::uint8_t*>(data.constData());
}

RecorderFileHeader decodeHeader(const std::uint8_t* p, bool swapped) {
    RecorderFileHeader header;
    header.formatTag = le32(p);
    header.dataOffset = swapped ? be32(p + 4) : le32(p + 4);
    std::copy(p + 8, p + 14, header.newestTime.begin());
    header.newestOffset = swapped ? be32(p + 14) : le32(p + 14);
    header.recorderByte = p[18];
    header.dataSize = swapped ? be32(p + 27) : le32(p + 27);
    header.channelCount = swapped ? be16(p + 31) : le16(p + 31);
    return header;
}

RecorderLoadResult wrongType() {
    return {RecorderLoadStatus::WrongType, {}};
}

}  // namespace

std::uint16_t ChannelRecord::decimalsCode() const {
    return le16(&bytes[kChannelDecimalsOffset]);
}

void ChannelRecord::setDecimalsCode(std::uint16_t code) {
    putLe16(&bytes[kChannelDecimalsOffset], code);
}

QByteArray ChannelRecord::storedName() const {
    return QByteArray(reinterpret_cast<const char*>(&bytes[kChannelNameOffset]), kChannelNameSize);
}

void ChannelRecord::setStoredName(const std::uint8_t* eightBytes) {
    std::copy(eightBytes, eightBytes + kChannelNameSize, &bytes[kChannelNameOffset]);
}

std::int64_t RecorderHistory::recordCount() const {
    if (header.channelCount == 0) {
        return 0;
    }
    return static_cast<std::int64_t>(header.dataSize / header.channelCount) / 2;
}

std::int16_t divisorForDecimalsCode(std::uint16_t code) {
    static constexpr std::int16_t kDivisors[] = {1, 10, 100, 1000, 10000};
    return code < 5 ? kDivisors[code] : 1;
}

QByteArray channelNameBytes(const ChannelRecord& record) {
    QByteArray name(kChannelNameSize, '\0');
    for (int k = 0; k < kChannelNameSize; ++k) {
        name[k] = static_cast<char>(
            static_cast<std::uint8_t>(record.bytes[kChannelNameOffset + 7 - k] + 32));
    }
    return name;
}

QString channelName(const ChannelRecord& record) {
    return gbkToString(channelNameBytes(record));
}

ChannelRecord swappedChannelRecord(int channel, std::uint16_t decimalsCode) {
    const std::uint8_t name[kChannelNameSize] = {
        static_cast<std::uint8_t>(channel % 10 + 16), 16, 13, 40, 35, 0, 0, 0};
    ChannelRecord record;
    record.setDecimalsCode(decimalsCode);
    record.setStoredName(name);
    return record;
}

std::optional<std::int64_t> recorderTimeToSeconds(const RecorderTimeBytes& b) {
    if (b[0] > 99 || !QDate::isValid(2000 + b[0], b[1], b[2]) ||
        !QTime::isValid(b[3], b[4], b[5])) {
        return std::nullopt;
    }
    return oleDateToSeconds(oleDateFromParts(2000 + b[0], b[1], b[2], b[3], b[4], b[5]));
}

RecorderTimeBytes secondsToRecorderTime(std::int64_t seconds) {
    const QDateTime t = fromOleDate(secondsToOleDate(seconds));
    const QDate date = t.date();
    const QTime time = t.time();
    return {static_cast<std::uint8_t>(date.year() % 100), static_cast<std::uint8_t>(date.month()),
            static_cast<std::uint8_t>(date.day()),        static_cast<std::uint8_t>(time.hour()),
            static_cast<std::uint8_t>(time.minute()),     static_cast<std::uint8_t>(time.second())};
}

RecorderLoadResult loadRecorderHistory(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {RecorderLoadStatus::CannotOpen, {}};
    }
    const QByteArray headerBytes = file.read(kRecorderHeaderSize);
    if (headerBytes.size() < kRecorderHeaderSize) {
        return wrongType();
    }
    const std::uint32_t tag = le32(bytesOf(headerBytes));
    if (tag != kRecorderFormatTag && tag != kRecorderSwappedTag) {
        return wrongType();
    }
    RecorderHistory history;
    history.byteSwapped = tag == kRecorderSwappedTag;
    history.header = decodeHeader(bytesOf(headerBytes), history.byteSwapped);
    const int maxChannels = history.byteSwapped ? kSwappedMaxChannels : kRecorderMaxChannels;
    const int channelCount = history.header.channelCount;
    if (channelCount < 1 || channelCount > maxChannels) {
        return wrongType();
    }

    if (history.byteSwapped) {
        if (!file.seek(kSwappedTableOffset)) {
            return wrongType();
        }
        const QByteArray table = file.read(kSwappedTableSize);
        if (table.size() < kSwappedTableSize) {
            return wrongType();
        }
        const std::uint8_t* t = bytesOf(table);
        history.recordInterval = be16(t + kSwappedIntervalOffset);
        for (int i = 0; i < kRecorderMaxChannels; ++i) {
            const std::uint16_t code = i < kSwappedMaxChannels ? t[kSwappedEntrySize * i + 7] : 0;
            history.channels[i] = swappedChannelRecord(i, code);
        }
    } else {
        const QByteArray block = file.read(kChannelBlockSize);
        if (block.size() < kChannelBlockSize) {
            return wrongType();
        }
        const std::uint8_t* b = bytesOf(block);
        for (int i = 0; i < kRecorderMaxChannels; ++i) {
            std::copy(b + kChannelRecordSize * i, b + kChannelRecordSize * (i + 1),
                      history.channels[i].bytes.begin());
        }
        history.recordInterval = le16(b + kChannelBlockIntervalOffset);
    }
    if (history.recordInterval == 0) {
        return wrongType();
    }

    const std::uint32_t recordSize = static_cast<std::uint32_t>(history.recordSize());
    const RecorderFileHeader& header = history.header;
    if (header.dataSize == 0 || header.dataSize % recordSize != 0 ||
        header.newestOffset >= header.dataSize || header.newestOffset % recordSize != 0) {
        return wrongType();
    }
    // The data area lies behind the header and the channel block (or table) of its layout.
    const std::uint32_t firstDataOffset =
        history.byteSwapped ? kSwappedTableOffset + kSwappedTableSize : kRecorderDataOffset;
    if (header.dataOffset < firstDataOffset) {
        return wrongType();
    }
    // The whole ring must be there: a reader steps anywhere within it.
    if (file.size() < static_cast<qint64>(header.dataOffset) + header.dataSize) {
        return wrongType();
    }
    const std::optional<std::int64_t> endSeconds = recorderTimeToSeconds(header.newestTime);
    if (!endSeconds) {
        return wrongType();
    }

    // The oldest record's time must be a date the programs can show.
    const std::int64_t startSeconds =
        *endSeconds - (history.recordCount() - 1) * history.recordInterval;
    if (startSeconds < static_cast<std::int64_t>(kFirstOleDate) * kSecondsPerDay) {
        return wrongType();
    }

    history.fileName = path;
    history.endTime = secondsToOleDate(*endSeconds);
    history.startTime = secondsToOleDate(startSeconds);
    for (int i = 0; i < kRecorderMaxChannels; ++i) {
        history.divisors[i] = divisorForDecimalsCode(history.channels[i].decimalsCode());
    }
    return {RecorderLoadStatus::Loaded, std::move(history)};
}

std::int64_t recordsBackAt(const RecorderHistory& history, OleDate t) {
    const double seconds = history.endTime * 86400.0 - t * 86400.0;
    // Whole seconds, halves downwards.
    const double up = std::ceil(seconds);
    const double rounded = (up - 0.5 >= seconds) ? std::floor(seconds) : up;
    return static_cast<std::int64_t>(rounded) / history.recordInterval;
}

std::int64_t recordSecondsBack(const RecorderHistory& history, std::int64_t recordsBack) {
    return oleDateToSeconds(history.endTime) - recordsBack * history.recordInterval;
}

std::int64_t recordOffsetAt(const RecorderHistory& history, OleDate t) {
    const std::int64_t back = recordsBackAt(history, t);
    const std::int64_t size = history.header.dataSize;
    std::int64_t offset =
        static_cast<std::int64_t>(history.header.newestOffset) - back * history.recordSize();
    // Within the window one turn suffices; a time outside it still lands inside the ring.
    offset %= size;
    if (offset < 0) {
        offset += size;
    }
    return offset;
}

std::int64_t nextRecordOffset(const RecorderHistory& history, std::int64_t offset,
                              std::int64_t step) {
    const std::int64_t size = history.header.dataSize;
    std::int64_t next = (offset + step * history.recordSize()) % size;
    if (next < 0) {
        next += size;
    }
    return next;
}

std::optional<std::vector<std::int16_t>> readRawRecord(QIODevice& file,
                                                       const RecorderHistory& history,
                                                       std::int64_t offset) {
    const int size = history.recordSize();
    if (!file.seek(static_cast<qint64>(history.header.dataOffset) + offset)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.read(size);
    if (bytes.size() < size) {
        return std::nullopt;
    }
    const std::uint8_t* p = bytesOf(bytes);
    std::vector<std::int16_t> values(static_cast<std::size_t>(history.channelCount()));
    for (std::size_t c = 0; c < values.size(); ++c) {
        const std::uint16_t v = history.byteSwapped ? be16(p + 2 * c) : le16(p + 2 * c);
        values[c] = static_cast<std::int16_t>(v);
    }
    return values;
}

RecordBlockReader::RecordBlockReader(QIODevice& file, const RecorderHistory& history)
    : file_(file), history_(history) {}

const std::uint8_t* RecordBlockReader::record(std::int64_t offset) {
    constexpr std::int64_t kBlock = 1 << 20;
    const int size = history_.recordSize();
    if (blockStart_ < 0 || offset < blockStart_ || offset + size > blockStart_ + block_.size()) {
        const std::int64_t length = std::min<std::int64_t>(
            kBlock, static_cast<std::int64_t>(history_.header.dataSize) - offset);
        block_.clear();
        blockStart_ = offset;
        if (length < size ||
            !file_.seek(static_cast<qint64>(history_.header.dataOffset) + offset)) {
            return nullptr;
        }
        block_ = file_.read(length);
        if (block_.size() < size) {
            return nullptr;
        }
    }
    return bytesOf(block_) + (offset - blockStart_);
}

bool RecordBlockReader::rawValues(std::int64_t offset, std::int16_t* values) {
    const std::uint8_t* p = record(offset);
    if (!p) {
        return false;
    }
    const int count = history_.channelCount();
    for (int c = 0; c < count; ++c) {
        values[c] =
            static_cast<std::int16_t>(history_.byteSwapped ? be16(p + 2 * c) : le16(p + 2 * c));
    }
    return true;
}

float physicalValue(std::int16_t raw, std::int16_t divisor) {
    if (raw == kNoDataRaw) {
        return static_cast<float>(kNoDataRaw);
    }
    return static_cast<float>(raw) / static_cast<float>(divisor);
}

std::optional<std::vector<float>> readRecord(QIODevice& file, const RecorderHistory& history,
                                             std::int64_t offset) {
    const auto raw = readRawRecord(file, history, offset);
    if (!raw) {
        return std::nullopt;
    }
    std::vector<float> values(raw->size());
    for (std::size_t c = 0; c < raw->size(); ++c) {
        values[c] = physicalValue((*raw)[c], history.divisors[c]);
    }
    return values;
}

QByteArray encodeRecorderHeader(const RecorderFileHeader& header) {
    QByteArray bytes(kRecorderHeaderSize, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    putLe32(p, header.formatTag);
    putLe32(p + 4, header.dataOffset);
    std::copy(header.newestTime.begin(), header.newestTime.end(), p + 8);
    putLe32(p + 14, header.newestOffset);
    p[18] = header.recorderByte;
    putLe32(p + 27, header.dataSize);
    putLe16(p + 31, header.channelCount);
    return bytes;
}

QByteArray encodeChannelBlock(const ChannelRecords& channels, int channelCount,
                              std::uint16_t recordInterval) {
    QByteArray bytes(kChannelBlockSize, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    for (int i = 0; i < channelCount && i < kRecorderMaxChannels; ++i) {
        std::copy(channels[i].bytes.begin(), channels[i].bytes.end(), p + kChannelRecordSize * i);
    }
    putLe16(p + kChannelBlockIntervalOffset, recordInterval);
    return bytes;
}

QByteArray encodeRecordValues(const std::int16_t* values, std::size_t count) {
    QByteArray bytes(static_cast<qsizetype>(2 * count), '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    for (std::size_t i = 0; i < count; ++i) {
        putLe16(p + 2 * i, static_cast<std::uint16_t>(values[i]));
    }
    return bytes;
}

bool RecorderFileWriter::create(const QString& path, const RecorderFileHeader& header,
                                const ChannelRecords& channels, std::uint16_t recordInterval) {
    if (file_.isOpen()) {
        return false;  // one file per writer
    }
    file_.setFileName(path);
    // Unbuffered: each append reaches the system at once, and its failure keeps the reason.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return false;
    }
    const QByteArray start = encodeRecorderHeader(header) +
                             encodeChannelBlock(channels, header.channelCount, recordInterval);
    if (!writeAll(file_, start)) {
        discard();
        return false;
    }
    return true;
}

bool RecorderFileWriter::append(const std::int16_t* values, std::size_t count) {
    return file_.isOpen() && writeAll(file_, encodeRecordValues(values, count));
}

bool RecorderFileWriter::commit(const RecorderFileHeader& header) {
    const QByteArray bytes = encodeRecorderHeader(header);
    if (!file_.isOpen() || !file_.seek(0) || !writeAll(file_, bytes) || !file_.commit()) {
        discard();
        return false;
    }
    return true;
}

}  // namespace tamlo::analysis
