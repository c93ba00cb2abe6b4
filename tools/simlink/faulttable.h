#pragma once

#include "simtext.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamlo::sim {

// What an instrument does wrong when told to. Each kind tests one failure path of a client.
enum class FaultKind {
    Silent,        // "silent": no reply at all
    BadCrc,        // "badcrc": the reply with a corrupted CRC
    Short,         // "short": the reply without its last byte
    OtherAddress,  // "otheraddr": the reply with address byte + 1 and a correct CRC
};

std::string_view faultName(FaultKind kind);
std::optional<FaultKind> parseFaultKind(std::string_view name);

// The reply as the fault makes it go out; nothing for Silent.
std::optional<Bytes> applyFault(Bytes reply, FaultKind kind);

struct FaultSetting {
    std::uint8_t address = 0;
    FaultKind kind = FaultKind::Silent;
    int count = 0;  // requests it applies to before it clears itself; 0 = until cleared
};

// Parses the words after "fault": <address> <kind> [count]. On failure `error` says why.
std::optional<FaultSetting> parseFaultSetting(const std::vector<std::string>& words,
                                              std::string& error);

// Faults by bus address: a fault applies to every instrument at its address.
class FaultTable {
public:
    // Replaces any fault the address had.
    void set(const FaultSetting& setting);
    void clear(std::uint8_t address) { faults_.erase(address); }
    void clearAll() { faults_.clear(); }

    std::optional<FaultKind> active(std::uint8_t address) const;

    // One request to `address` is being answered: gives the fault to apply, if any, and counts
    // a limited fault down (it is gone after its last request).
    std::optional<FaultKind> take(std::uint8_t address);

private:
    struct Entry {
        FaultKind kind;
        int remaining;  // 0 = until cleared
    };
    std::map<std::uint8_t, Entry> faults_;
};

}  // namespace tamlo::sim
