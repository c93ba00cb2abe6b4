#include "pollcycle.h"

#include "shared/seriallink.h"

namespace tamlo::station {

int buildReadValue(const DeviceEntry& device, std::uint8_t* request) {
    request[0] = device.address;
    request[1] = kReadValue;
    request[2] = 0x01;
    request[3] = 0x00;
    if (device.isMultiChannel()) {
        request[2] = 0x02;
        request[4] = device.channel;
        return 5;
    }
    return 4;
}

int buildReadParam(std::uint8_t address, std::uint8_t channel, std::uint8_t code,
                   std::uint8_t* request) {
    request[0] = address;
    request[1] = kReadParam;
    if (channel == 0) {
        request[2] = 0x01;
        request[3] = code;
        return 4;
    }
    request[2] = 0x02;
    request[3] = channel;
    request[4] = code;
    return 5;
}

void PollCycle::advance(DeviceTable& active) {
    pollIndex_ = static_cast<std::uint8_t>((pollIndex_ + 1) % active.count);
    active.entries[pollIndex_].retries = 0;
}

PollCycle::TickResult PollCycle::tick(ByteLink& link, DeviceTable& active, LiveValueTable& live) {
    TickResult result;
    if (active.count <= 0) {
        return result;
    }
    if (pollIndex_ >= active.count) {
        pollIndex_ = 0;  // the table shrank since the index was set
    }
    const int i = pollIndex_;
    DeviceEntry& device = active.entries[static_cast<std::size_t>(i)];
    std::uint8_t request[kRequestBufferSize] = {};
    std::uint8_t reply[kValueReplySize] = {};
    const int n = buildReadValue(device, request);
    result.polled = true;
    result.device = i;

    // A reply of another meter (a late one on a noisy line) has a good CRC too: only this
    // meter's answer to this request may give its value.
    result.retry = device.retries > 0;
    const bool exchanged = exchange(link, request, n, reply, kValueReplySize, result.outcome);
    result.foreignReply = exchanged && (reply[0] != device.address || reply[1] != kReadValue);
    if (exchanged && !result.foreignReply) {
        LiveValue& value = live[static_cast<std::size_t>(i)];
        value.valid = 1;
        value.raw = static_cast<std::int16_t>((reply[3] << 8) | reply[4]);
        value.decimals = reply[5] & 3;
        result.state = LinkState::Answered;
        device.retries = 0;
        advance(active);
        return result;
    }
    if (device.retries < 3) {
        ++device.retries;
    }
    if (device.retries < 3) {
        return result;  // the same device is asked again next tick
    }
    live[static_cast<std::size_t>(i)].valid = 0;
    result.state = LinkState::Failed;
    device.retries = 0;
    advance(active);
    return result;
}

}  // namespace tamlo::station
