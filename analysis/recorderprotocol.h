#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "recorderhistory.h"

namespace tamlo::analysis {

// The paperless recorder's upload protocol: requests of address, 0x43, the number of bytes that
// follow before the CRC, a sub-command and its arguments, then CRC-16/MODBUS low byte first.
// Replies have fixed lengths; their first three bytes are not examined.

inline constexpr std::uint8_t kRecorderCommand = 0x43;
inline constexpr int kStatusReplyLength = 27;
inline constexpr int kBlockRecords = 7;

// A request with room for its CRC; `length` counts the bytes before the CRC.
struct RecorderRequest {
    std::array<std::uint8_t, 10> bytes{};
    int length = 0;
};

RecorderRequest statusRequest(std::uint8_t address, std::uint8_t samplingStep);
RecorderRequest channelListRequest(std::uint8_t address);
RecorderRequest seekRequest(std::uint8_t address, std::uint32_t ringOffset);
RecorderRequest nextBlockRequest(std::uint8_t address);

int channelListReplyLength(int channelCount);  // 10 C + 5
int seekReplyLength(int channelCount);         // 2 C + 5
int nextBlockReplyLength(int channelCount);    // 14 C + 5

struct RecorderStatus {
    std::uint32_t formatTag = 0;  // goes to the file unchanged
    int channelCount = 0;
    int recordInterval = 0;  // seconds
    RecorderTimeBytes newestTime{};
    std::uint32_t newestOffset = 0;
    std::uint8_t recorderByte = 0;
    std::uint32_t ringSize = 0;

    // Records the ring holds: (ring size / C) / 2.
    std::int64_t ringRecords() const;
};

// From a 27-byte status reply.
RecorderStatus decodeStatusReply(const std::uint8_t* reply);

// Whether the upload can work with what the recorder said: the little-endian format tag
// (300300), 1 to 16 channels, an interval of at least one second whose multiple by the sampling
// step fits the file's 16-bit field, a ring that holds a record, a newest offset inside it and
// a newest time that is a date. Everything the upload computes divides by or indexes with these,
// and the history view reads back only files of that tag.
bool statusIsUsable(const RecorderStatus& status, int samplingStep);

// Channel i of a channel-list reply as the file keeps it: the decimals code byte as a 16-bit
// code, the 8 name bytes as sent.
ChannelRecords decodeChannelList(const std::uint8_t* reply, int channelCount);

// `records` records of C values each, from reply byte 3 on.
std::vector<std::int16_t> decodeRecordValues(const std::uint8_t* reply, int channelCount,
                                             int records);

}  // namespace tamlo::analysis
