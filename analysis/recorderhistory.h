#pragma once

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "shared/datetime.h"

class QIODevice;

namespace tamlo::analysis {

// A recorder history file (.dat): a 512-byte header, a 1012-byte channel block and the data
// area, a ring of records of one signed 16-bit value per channel, exactly as the recorder keeps
// them. Files of the little-endian layout are written and read; files of the byte-swapped layout
// (values most significant byte first, a short decimals table instead of the channel block) are
// only read.

inline constexpr std::uint32_t kRecorderFormatTag = 300300;
// The tag of a byte-swapped file, read least significant byte first.
inline constexpr std::uint32_t kRecorderSwappedTag = 0x080E0300;
inline constexpr int kRecorderHeaderSize = 512;
inline constexpr int kChannelBlockSize = 1012;
inline constexpr int kChannelRecordSize = 62;
inline constexpr int kRecorderMaxChannels = 16;
inline constexpr int kRecorderDataOffset = kRecorderHeaderSize + kChannelBlockSize;  // 1524
inline constexpr int kChannelBlockIntervalOffset = 1004;
inline constexpr int kChannelNameOffset = 54;
inline constexpr int kChannelNameSize = 8;
inline constexpr int kChannelDecimalsOffset = 6;
// The byte-swapped layout's decimals table: five 42-byte entries and the interval.
inline constexpr int kSwappedTableOffset = 528;
inline constexpr int kSwappedTableSize = 186;
inline constexpr int kSwappedEntrySize = 42;
inline constexpr int kSwappedIntervalOffset = 178;
inline constexpr int kSwappedMaxChannels = 5;
// A raw sample that stands for "no sample"; it is never divided.
inline constexpr std::int16_t kNoDataRaw = -30000;

inline constexpr char kWrongFileTypeText[] = "文件类型出错！";

// The recorder's own time stamp: year within the century, month, day, hour, minute, second.
using RecorderTimeBytes = std::array<std::uint8_t, 6>;

struct RecorderFileHeader {
    std::uint32_t formatTag = kRecorderFormatTag;
    std::uint32_t dataOffset = kRecorderDataOffset;
    RecorderTimeBytes newestTime{};
    std::uint32_t newestOffset = 0;
    std::uint8_t recorderByte = 0;
    std::uint32_t dataSize = 0;
    std::uint16_t channelCount = 0;
};

// One channel's 62 bytes in the channel block, kept whole so that what the recorder sent is
// written back unchanged.
struct ChannelRecord {
    std::array<std::uint8_t, kChannelRecordSize> bytes{};

    std::uint16_t decimalsCode() const;
    void setDecimalsCode(std::uint16_t code);
    // The name as stored: last character first, each character minus 32.
    QByteArray storedName() const;
    void setStoredName(const std::uint8_t* eightBytes);
};

using ChannelRecords = std::array<ChannelRecord, kRecorderMaxChannels>;

// A loaded file. Times are days since 1899-12-30 (local time).
struct RecorderHistory {
    RecorderFileHeader header;  // swapped fields already in host order
    ChannelRecords channels{};
    std::int32_t recordInterval = 0;  // seconds, 1..65535
    bool byteSwapped = false;
    QString fileName;
    std::array<std::int16_t, kRecorderMaxChannels> divisors{};
    OleDate startTime = 0.0;
    OleDate endTime = 0.0;

    int channelCount() const { return header.channelCount; }
    int recordSize() const { return 2 * header.channelCount; }
    // (data size / channel count) / 2, both divisions truncating.
    std::int64_t recordCount() const;
};

enum class RecorderLoadStatus {
    Loaded,
    CannotOpen,  // the caller does nothing further
    WrongType,   // the caller shows kWrongFileTypeText
};

struct RecorderLoadResult {
    RecorderLoadStatus status = RecorderLoadStatus::CannotOpen;
    RecorderHistory history;  // meaningful only when Loaded
};

// Reads a file's header and channel description. Refused as WrongType: an unknown tag, a channel
// count of 0 or above 16 (above 5 in the byte-swapped layout, whose table has no room for more),
// an interval of 0, a data size that is not a positive multiple of the record size, a newest
// offset outside the data area, a newest time that is no date, and a data area shorter than the
// header says. Nothing outside the result is touched, so a refused file leaves whatever the
// caller had loaded as it was.
RecorderLoadResult loadRecorderHistory(const QString& path);

// Divisor of a decimals code: 0..4 give 1, 10, 100, 1000, 10000; anything else gives 1.
std::int16_t divisorForDecimalsCode(std::uint16_t code);

// The 8-character name of a channel: record bytes 61 down to 54, each plus 32.
QByteArray channelNameBytes(const ChannelRecord& record);
QString channelName(const ChannelRecord& record);
// The name a byte-swapped file's channel i gets, as stored bytes: "   CH-0" and i mod 10.
ChannelRecord swappedChannelRecord(int channel, std::uint16_t decimalsCode);

// Newest-time bytes <-> seconds since 1899-12-30 00:00 (no time zone: the recorder's wall
// clock). Empty when the bytes are no valid date and time.
std::optional<std::int64_t> recorderTimeToSeconds(const RecorderTimeBytes& bytes);
// Year within the century, fractions of a second are not representable anyway.
RecorderTimeBytes secondsToRecorderTime(std::int64_t secondsSinceEpoch);

// Offset in the data area of the record for time t (start <= t <= end): the difference to the
// end time is rounded to whole seconds (halves downwards), divided by the interval (truncating)
// to give the records to go back from the newest, and wrapped into the ring.
std::int64_t recordOffsetAt(const RecorderHistory& history, OleDate t);
// The records to go back from the newest for time t (the k of recordOffsetAt).
std::int64_t recordsBackAt(const RecorderHistory& history, OleDate t);
// The own time, in whole seconds since 1899-12-30, of the record k records before the newest.
std::int64_t recordSecondsBack(const RecorderHistory& history, std::int64_t recordsBack);

// Reads the records of the data area in large blocks, for a reader that walks through them in
// order (a window, an export). Records lie whole inside the ring, so none straddles its top.
class RecordBlockReader {
public:
    RecordBlockReader(QIODevice& file, const RecorderHistory& history);
    // The record's bytes as stored, or null when the file ends before the whole record.
    const std::uint8_t* record(std::int64_t offset);
    // Raw values of the record in host order into `values` (channel count of them).
    bool rawValues(std::int64_t offset, std::int16_t* values);

private:
    QIODevice& file_;
    const RecorderHistory& history_;
    QByteArray block_;
    std::int64_t blockStart_ = -1;  // data-area offset of block_[0]
};
// (offset + step x record size) mod data size.
std::int64_t nextRecordOffset(const RecorderHistory& history, std::int64_t offset,
                              std::int64_t step);

// One record's values in host order, channel 0 first. Empty when the file ends before it.
std::optional<std::vector<std::int16_t>> readRawRecord(QIODevice& file,
                                                       const RecorderHistory& history,
                                                       std::int64_t offset);
// Physical values: raw / divisor in single precision; the no-data value stays -30000.
std::optional<std::vector<float>> readRecord(QIODevice& file, const RecorderHistory& history,
                                             std::int64_t offset);
float physicalValue(std::int16_t raw, std::int16_t divisor);

// The writer's side: the little-endian layout.
QByteArray encodeRecorderHeader(const RecorderFileHeader& header);
QByteArray encodeChannelBlock(const ChannelRecords& channels, int channelCount,
                              std::uint16_t recordInterval);
QByteArray encodeRecordValues(const std::int16_t* values, std::size_t count);

// Writes a file of the little-endian layout: header and channel block first, records appended,
// the header rewritten once the records are known. The bytes go to a temporary file beside the
// chosen name, which takes its place only in commit(): a transfer that fails (a full disk, the
// file size limit) leaves any earlier file of that name as it was, and no half file.
class RecorderFileWriter {
public:
    // Opens the temporary file and writes the header and the channel block.
    bool create(const QString& path, const RecorderFileHeader& header,
                const ChannelRecords& channels, std::uint16_t recordInterval);
    // Appends values (whole records).
    bool append(const std::int16_t* values, std::size_t count);
    // Writes `header` over the first 512 bytes and puts the file in place under its name.
    // False when that fails; the temporary file is gone either way.
    bool commit(const RecorderFileHeader& header);
    // Removes the temporary file; nothing changes under the chosen name.
    void discard() { file_.cancelWriting(); }
    bool isOpen() const { return file_.isOpen(); }
    // The system's reason of the last failure.
    QString errorString() const { return file_.errorString(); }

private:
    QSaveFile file_;
};

}  // namespace tamlo::analysis
