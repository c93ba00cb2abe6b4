#include "recorderprotocol.h"

#include <QtEndian>

namespace tamlo::analysis {
namespace {

RecorderRequest makeRequest(std::uint8_t address, std::initializer_list<std::uint8_t> rest) {
    RecorderRequest request;
    request.bytes[0] = address;
    request.bytes[1] = kRecorderCommand;
    request.bytes[2] = static_cast<std::uint8_t>(rest.size());
    int i = 2;
    for (const std::uint8_t b : rest) {
        request.bytes[++i] = b;
    }
    request.length = i + 1;
    return request;
}


}  // namespace

RecorderRequest statusRequest(std::uint8_t address, std::uint8_t samplingStep) {
    return makeRequest(address, {0x02, samplingStep, 0x07});
}

RecorderRequest channelListRequest(std::uint8_t address) {
    return makeRequest(address, {0x05});
}

RecorderRequest seekRequest(std::uint8_t address, std::uint32_t ringOffset) {
    return makeRequest(
        address,
        {0x03, static_cast<std::uint8_t>(ringOffset), static_cast<std::uint8_t>(ringOffset >> 8),
         static_cast<std::uint8_t>(ringOffset >> 16), static_cast<std::uint8_t>(ringOffset >> 24)});
}

RecorderRequest nextBlockRequest(std::uint8_t address) {
    return makeRequest(address, {0x04});
}

int channelListReplyLength(int channelCount) {
    return 10 * channelCount + 5;
}
int seekReplyLength(int channelCount) {
    return 2 * channelCount + 5;
}
int nextBlockReplyLength(int channelCount) {
    return 2 * kBlockRecords * channelCount + 5;
}

std::int64_t RecorderStatus::ringRecords() const {
    if (channelCount <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(ringSize / static_cast<std::uint32_t>(channelCount)) / 2;
}

RecorderStatus decodeStatusReply(const std::uint8_t* reply) {
    RecorderStatus status;
    status.formatTag = qFromLittleEndian<std::uint32_t>(reply + 3);
    status.channelCount = reply[7];
    status.recordInterval = reply[8] | (reply[9] << 8);
    std::copy(reply + 10, reply + 16, status.newestTime.begin());
    status.newestOffset = qFromLittleEndian<std::uint32_t>(reply + 16);
    status.recorderByte = reply[20];
    status.ringSize = qFromLittleEndian<std::uint32_t>(reply + 21);
    return status;
}

bool statusIsUsable(const RecorderStatus& status, int samplingStep) {
    // The header is written little-endian with the tag as received: only the little-endian
    // tag makes a file that reads back (a byte-swapped tag would have its fields read swapped).
    return status.formatTag == kRecorderFormatTag && status.channelCount >= 1 &&
           status.channelCount <= kRecorderMaxChannels && status.recordInterval >= 1 &&
           static_cast<std::int64_t>(status.recordInterval) * samplingStep <= 0xFFFF &&
           status.ringRecords() >= 1 && status.newestOffset < status.ringSize &&
           recorderTimeToSeconds(status.newestTime).has_value();
}

ChannelRecords decodeChannelList(const std::uint8_t* reply, int channelCount) {
    ChannelRecords records{};
    for (int i = 0; i < channelCount && i < kRecorderMaxChannels; ++i) {
        const std::uint8_t* entry = reply + 3 + 10 * i;
        records[i].setDecimalsCode(entry[0]);
        records[i].setStoredName(entry + 1);
    }
    return records;
}

std::vector<std::int16_t> decodeRecordValues(const std::uint8_t* reply, int channelCount,
                                             int records) {
    std::vector<std::int16_t> values(static_cast<std::size_t>(channelCount * records));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint8_t* p = reply + 3 + 2 * i;
        values[i] = static_cast<std::int16_t>(p[0] | (p[1] << 8));
    }
    return values;
}

}  // namespace tamlo::analysis
