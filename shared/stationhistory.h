#pragma once

#include <QFile>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "datetime.h"

namespace tamlo {

// A station history file (.nv): a 1176-byte header, then records of one float32 per channel,
// little-endian, oldest first. Records carry no time stamps: record k stands for
// startTime + k x intervalSeconds.
inline constexpr int kHistoryHeaderSize = 1176;
inline constexpr int kHistoryTagSlots = 128;
inline constexpr int kHistoryTagSlotSize = 9;
inline constexpr int kHistoryTagBytes = 8;
inline constexpr int kHistoryTagsOffset = 20;
inline constexpr std::uint32_t kHistoryMaxChannels = 128;

using TagBytes = std::array<char, kHistoryTagBytes>;

struct StationHistoryHeader {
    OleDate startTime = 0.0;
    std::uint32_t intervalSeconds = 0;
    std::uint32_t channelCount = 0;
    // Slot i holds the 8 tag bytes of device i as stored in the device table.
    std::array<TagBytes, kHistoryTagSlots> tags{};

    QString tag(int channel) const;          // decoded GBK text up to the first zero byte
    QByteArray tagBytes(int channel) const;  // the stored bytes up to the first zero byte
};

QByteArray encodeHistoryHeader(const StationHistoryHeader& header);
StationHistoryHeader decodeHistoryHeader(const QByteArray& bytes);  // at least 1176 bytes

// Writer side, used by the station. On failure both put the system's reason into `error`.
// Creates (or truncates) the file and writes the header in one write. A file that could not be
// written whole is removed again (it would hold no record).
bool createHistoryFile(const QString& path, const StationHistoryHeader& header,
                       QString* error = nullptr);
// Appends one record of `count` values and flushes it to the storage device before returning.
// A torn record left at the end by a power cut is cut off first, so that every record stays at
// the position its index gives; so is the part of this record that a failed write (disk full,
// file size limit) left behind, as far as the system lets it.
bool appendHistoryRecord(const QString& path, const float* values, int count,
                         QString* error = nullptr);

// Reader side. Opens the file for one operation (a page, an export) and closes it when destroyed,
// so the station may go on appending to a file that is being shown.
class StationHistoryReader {
public:
    // False with a message in error() when the file cannot be opened, is shorter than a header,
    // or its header has 0 or more than 128 channels.
    bool open(const QString& path);
    void close();
    QString error() const { return error_; }

    const StationHistoryHeader& header() const { return header_; }
    // Whole records only; a torn tail does not count.
    std::uint64_t recordCount() const { return recordCount_; }
    // Nominal time of record k, and the end of the file's range (one interval after the last
    // record), computed in whole seconds from the start.
    OleDate recordTime(std::uint64_t k) const;
    OleDate endTime() const { return recordTime(recordCount_); }

    bool seekRecord(std::uint64_t k);
    // Reads the next record into `values` (channelCount entries); false at the end of the file.
    bool readRecord(float* values);
    bool readRecord(std::vector<float>& values);
    // Reads up to `maxRecords` whole records in one block into `values` (channelCount per
    // record) and returns how many were read. A torn record at the end of the file is left
    // unread, so the next read starts at it once it is whole.
    std::uint64_t readRecords(float* values, std::uint64_t maxRecords);

private:
    QFile file_;
    StationHistoryHeader header_;
    std::uint64_t recordCount_ = 0;
    QString error_;
};

std::uint64_t historyRecordCount(std::uint64_t fileSize, std::uint32_t channelCount);
std::uint64_t historyRecordOffset(std::uint64_t k, std::uint32_t channelCount);
OleDate historyRecordTime(OleDate startTime, std::uint32_t intervalSeconds, std::uint64_t k);

}  // namespace tamlo
