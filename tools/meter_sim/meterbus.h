#pragma once

#include "meterconfig.h"
#include "simlink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamlo::metersim {

inline constexpr std::uint8_t kReadValue = 0x43;
inline constexpr std::uint8_t kReadParam = 0x41;
inline constexpr int kValueReplyLength = 9;
inline constexpr int kParamReplyLength = 7;
// The longest request body of the meter protocol is 2; a little slack lets a well-framed
// request with another length be logged as malformed instead of being cut up.
inline constexpr std::size_t kMaxRequestDataLength = 8;

// The meters on one bus, answering READ_VALUE and READ_PARAM.
//
// Which meter a request is for: the form without a channel (L = 1) is for the single-channel
// meter at the address; the form with a channel (L = 2) for the multi-channel meter at that
// address and channel. A parameter request without a channel, which the station sends to a
// multi-channel meter set to channel 0, falls back to the multi-channel meter at that address
// on channel 0 when the address has no single-channel meter.
class MeterBus final : public sim::Responder {
public:
    explicit MeterBus(std::vector<Meter> meters) : meters_(std::move(meters)) {}

    sim::Answer answer(const sim::Bytes& request, std::int64_t epochMs) override;
    void answered(const sim::Bytes& request, std::int64_t epochMs) override;
    // set <address> <channel> <source>            changes a meter's value source
    // param <address> <channel> <code> <value>     changes a parameter value
    std::string command(const std::vector<std::string>& words) override;

    const std::vector<Meter>& meters() const { return meters_; }

private:
    Meter* singleChannelMeter(std::uint8_t address);
    Meter* multiChannelMeter(std::uint8_t address, std::uint8_t channel);
    // The meter a request is for; nullptr when none, with `malformed` set when the request
    // does not have a shape of the protocol.
    Meter* addressee(const sim::Bytes& request, bool& malformed);
    // The meter a control command names: the one at that address and channel, else the
    // single-channel meter at the address (whose channel the bus ignores).
    Meter* named(const std::string& address, const std::string& channel, std::string& error);

    std::vector<Meter> meters_;
};

}  // namespace tamlo::metersim
