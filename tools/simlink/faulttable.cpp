#include "faulttable.h"

#include "shared/crc16.h"

namespace tamlo::sim {

namespace {
constexpr struct {
    FaultKind kind;
    std::string_view name;
} kFaultNames[] = {
    {FaultKind::Silent, "silent"},
    {FaultKind::BadCrc, "badcrc"},
    {FaultKind::Short, "short"},
    {FaultKind::OtherAddress, "otheraddr"},
};
}  // namespace

std::string_view faultName(FaultKind kind) {
    for (const auto& entry : kFaultNames) {
        if (entry.kind == kind)
            return entry.name;
    }
    return "?";
}

std::optional<FaultKind> parseFaultKind(std::string_view name) {
    for (const auto& entry : kFaultNames) {
        if (entry.name == name)
            return entry.kind;
    }
    return std::nullopt;
}

std::optional<Bytes> applyFault(Bytes reply, FaultKind kind) {
    if (reply.size() < 3)
        return reply;
    switch (kind) {
        case FaultKind::Silent:
            return std::nullopt;
        case FaultKind::BadCrc:
            reply[reply.size() - 2] ^= 0xFF;
            break;
        case FaultKind::Short:
            reply.pop_back();
            break;
        case FaultKind::OtherAddress:
            reply[0] = static_cast<std::uint8_t>(reply[0] + 1);
            appendCrc16(reply.data(), reply.size() - 2);
            break;
    }
    return reply;
}

std::optional<FaultSetting> parseFaultSetting(const std::vector<std::string>& words,
                                              std::string& error) {
    if (words.size() < 2 || words.size() > 3) {
        error = "expected: fault <address> <silent|badcrc|short|otheraddr> [count]";
        return std::nullopt;
    }
    FaultSetting setting;
    auto address = parseInteger(words[0], 0, 255);
    if (!address) {
        error = "bad address \"" + words[0] + "\" (0 to 255)";
        return std::nullopt;
    }
    setting.address = static_cast<std::uint8_t>(*address);
    auto kind = parseFaultKind(words[1]);
    if (!kind) {
        error = "unknown fault \"" + words[1] + "\" (silent, badcrc, short or otheraddr)";
        return std::nullopt;
    }
    setting.kind = *kind;
    if (words.size() == 3) {
        auto count = parseInteger(words[2], 1, 1'000'000'000);
        if (!count) {
            error = "bad count \"" + words[2] + "\" (a number of requests, 1 or more)";
            return std::nullopt;
        }
        setting.count = static_cast<int>(*count);
    }
    return setting;
}

void FaultTable::set(const FaultSetting& setting) {
    faults_[setting.address] = Entry{setting.kind, setting.count};
}

std::optional<FaultKind> FaultTable::active(std::uint8_t address) const {
    auto it = faults_.find(address);
    if (it == faults_.end())
        return std::nullopt;
    return it->second.kind;
}

std::optional<FaultKind> FaultTable::take(std::uint8_t address) {
    auto it = faults_.find(address);
    if (it == faults_.end())
        return std::nullopt;
    FaultKind kind = it->second.kind;
    if (it->second.remaining > 0 && --it->second.remaining == 0)
        faults_.erase(it);
    return kind;
}

}  // namespace tamlo::sim
