#pragma once

#include <array>
#include <cstdint>

#include "devicetable.h"
#include "shared/seriallink.h"

namespace tamlo::station {

// The latest polled value of one active device.
struct LiveValue {
    std::int16_t raw = 0;
    std::uint8_t decimals = 0;  // 0 to 3
    std::uint8_t valid = 0;
};

using LiveValueTable = std::array<LiveValue, kDeviceSlots>;

inline constexpr std::uint8_t kReadValue = 0x43;
inline constexpr std::uint8_t kReadParam = 0x41;
inline constexpr int kValueReplySize = 9;
inline constexpr int kParamReplySize = 7;
// Largest request body plus its two check bytes.
inline constexpr int kRequestBufferSize = 8;

// Builds the READ_VALUE body for a device; returns its length (4, or 5 with the channel).
int buildReadValue(const DeviceEntry& device, std::uint8_t* request);
// Builds the READ_PARAM body; the channel is sent only when it is not 0.
int buildReadParam(std::uint8_t address, std::uint8_t channel, std::uint8_t code,
                   std::uint8_t* request);

// Asks the active devices for their values in turn, one exchange per tick, up to three
// exchanges per device and turn.
class PollCycle {
public:
    enum class LinkState { Unchanged, Answered, Failed };
    struct TickResult {
        bool polled = false;
        int device = -1;  // the device asked in this tick
        LinkState state = LinkState::Unchanged;
        // How the exchange went, for the line statistics: its outcome, whether a well-formed
        // reply came from another meter or for another function, and whether it was the
        // second or third try of this device's turn.
        ExchangeOutcome outcome = ExchangeOutcome::NoReply;
        bool foreignReply = false;
        bool retry = false;
    };

    TickResult tick(ByteLink& link, DeviceTable& active, LiveValueTable& live);

    std::uint8_t pollIndex() const { return pollIndex_; }
    void restart() { pollIndex_ = 0; }

private:
    void advance(DeviceTable& active);

    std::uint8_t pollIndex_ = 0;
};

}  // namespace tamlo::station
