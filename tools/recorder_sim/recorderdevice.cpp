#include "recorderdevice.h"

#include "shared/crc16.h"

#include <cstdio>
#include <ctime>
#include <sstream>

namespace tamlo::recordersim {
namespace {

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ',')) {
        items.push_back(item);
    }
    return items;
}

void putLe16(sim::Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putLe32(sim::Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

bool isRequest(const sim::Bytes& request, std::uint8_t sub, std::size_t bodyLength) {
    return request.size() == bodyLength + 5 && request[1] == kCommand && request[2] == bodyLength &&
           request[3] == sub;
}

// The ring offset a seek request asks for, least significant byte first.
std::int64_t seekOffset(const sim::Bytes& request) {
    std::int64_t offset = 0;
    for (int i = 3; i >= 0; --i) {
        offset = (offset << 8) | request[4 + static_cast<std::size_t>(i)];
    }
    return offset;
}

}  // namespace

std::optional<RecorderTime> RecorderTime::parse(std::string_view text) {
    RecorderTime t;
    char separator = 0;
    char rest = 0;
    const std::string s(text);
    const int got = std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &t.year, &t.month, &t.day,
                                &separator, &t.hour, &t.minute, &t.second, &rest);
    if (got != 7 || (separator != ' ' && separator != 'T')) {
        return std::nullopt;
    }
    if (t.year < 2000 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > daysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

RecorderTime RecorderTime::now() {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    RecorderTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = std::min(local.tm_sec, 59);
    return t;
}

std::array<std::uint8_t, 6> RecorderTime::bytes() const {
    return {static_cast<std::uint8_t>(year - 2000), static_cast<std::uint8_t>(month),
            static_cast<std::uint8_t>(day),         static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(minute),      static_cast<std::uint8_t>(second)};
}

std::string RecorderTime::text() const {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return buffer;
}

std::int64_t RecorderConfig::newestSlot() const {
    return newestOffset < 0 ? records - 1 : newestOffset / recordSize();
}

std::string RecorderConfig::name(int channel) const {
    if (channel < static_cast<int>(names.size())) {
        return names[static_cast<std::size_t>(channel)];
    }
    return "CH" + std::to_string(channel + 1);
}

int RecorderConfig::decimalsCode(int channel) const {
    if (channel < static_cast<int>(decimals.size())) {
        return decimals[static_cast<std::size_t>(channel)];
    }
    return 0;
}

std::int16_t slotWaveValue(std::int64_t slot, int channel) {
    const std::int64_t p = (slot + 60 * channel) % 400;
    const std::int64_t tri = p < 200 ? p : 400 - p;
    return static_cast<std::int16_t>(50 * tri - 5000 + 100 * channel);
}

std::optional<RecorderConfig> configFromOptions(const std::map<std::string, std::string>& options,
                                                std::string& error) {
    RecorderConfig config;
    const auto integer = [&](const char* name, long long min, long long max,
                             long long fallback) -> std::optional<long long> {
        const auto it = options.find(name);
        if (it == options.end()) {
            return fallback;
        }
        const auto value = sim::parseInteger(it->second, min, max);
        if (!value) {
            error = std::string(name) + " wants a whole number from " + std::to_string(min) +
                    " to " + std::to_string(max) + ", not \"" + it->second + "\"";
        }
        return value;
    };
    const auto address = integer("--address", 0, 255, 0);
    const auto channels = integer("--channels", 1, kMaxChannels, 4);
    const auto interval = integer("--interval", 1, 65535, 10);
    const auto records = integer("--records", 1, 10'000'000, 1000);
    const auto tag = integer("--tag", 0, 0xFFFFFFFFLL, 300300);
    const auto recorderByte = integer("--recorder-byte", 0, 255, 0);
    const auto noDataEvery = integer("--no-data-every", 0, 1'000'000, 0);
    if (!address || !channels || !interval || !records || !tag || !recorderByte || !noDataEvery) {
        return std::nullopt;
    }
    config.address = static_cast<std::uint8_t>(*address);
    config.channels = static_cast<int>(*channels);
    config.intervalSeconds = static_cast<int>(*interval);
    config.records = *records;
    config.formatTag = static_cast<std::uint32_t>(*tag);
    config.recorderByte = static_cast<std::uint8_t>(*recorderByte);
    config.noDataEvery = static_cast<int>(*noDataEvery);
    if (config.ringSize() > 0xFFFFFFFFLL) {
        error = "the ring of --records x 2 x --channels bytes must fit in 32 bits";
        return std::nullopt;
    }

    if (const auto it = options.find("--newest"); it != options.end()) {
        const auto newest = RecorderTime::parse(it->second);
        if (!newest) {
            error = "--newest wants \"YYYY-MM-DD HH:MM:SS\" in 2000 to 2099, not \"" + it->second +
                    "\"";
            return std::nullopt;
        }
        config.newest = *newest;
    } else {
        config.newest = RecorderTime::now();
    }
    if (const auto it = options.find("--newest-offset"); it != options.end()) {
        const auto offset = sim::parseInteger(it->second, 0, config.ringSize() - 1);
        if (!offset || *offset % config.recordSize() != 0) {
            error = "--newest-offset wants a byte offset of a record in the ring (a multiple of " +
                    std::to_string(config.recordSize()) + " below " +
                    std::to_string(config.ringSize()) + "), not \"" + it->second + "\"";
            return std::nullopt;
        }
        config.newestOffset = *offset;
    }
    if (const auto it = options.find("--names"); it != options.end()) {
        config.names = splitList(it->second);
        for (const std::string& name : config.names) {
            if (name.size() > 8) {
                error = "--names: \"" + name + "\" is longer than 8 characters";
                return std::nullopt;
            }
            for (const char c : name) {
                if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) {
                    error = "--names: use printable ASCII characters";
                    return std::nullopt;
                }
            }
        }
    }
    if (const auto it = options.find("--decimals"); it != options.end()) {
        for (const std::string& item : splitList(it->second)) {
            const auto code = sim::parseInteger(item, 0, 255);
            if (!code) {
                error = "--decimals wants codes 0 to 255 separated by commas, not \"" + it->second +
                        "\"";
                return std::nullopt;
            }
            config.decimals.push_back(static_cast<int>(*code));
        }
    }
    return config;
}

RecorderDevice::RecorderDevice(RecorderConfig config) : config_(std::move(config)) {
    cursor_ = config_.newestSlot();
}

std::int16_t RecorderDevice::value(std::int64_t slot, int channel) const {
    if (config_.noDataEvery > 0 && slot % config_.noDataEvery == config_.noDataEvery - 1) {
        return kNoData;
    }
    return slotWaveValue(slot, channel);
}

sim::Bytes RecorderDevice::finish(sim::Bytes reply) const {
    const auto crc = crc16(reply.data(), reply.size());
    reply.push_back(crc[0]);
    reply.push_back(crc[1]);
    return reply;
}

sim::Bytes RecorderDevice::statusReply() const {
    sim::Bytes reply = {config_.address, kCommand, 22};
    putLe32(reply, config_.formatTag);
    reply.push_back(static_cast<std::uint8_t>(reportedChannels_.value_or(config_.channels)));
    putLe16(reply, static_cast<std::uint16_t>(reportedInterval_.value_or(config_.intervalSeconds)));
    for (const std::uint8_t b : config_.newest.bytes()) {
        reply.push_back(b);
    }
    putLe32(reply, static_cast<std::uint32_t>(config_.newestSlot() * config_.recordSize()));
    reply.push_back(config_.recorderByte);
    putLe32(reply, reportedRing_.value_or(static_cast<std::uint32_t>(config_.ringSize())));
    return finish(std::move(reply));
}

sim::Bytes RecorderDevice::channelListReply() const {
    sim::Bytes reply = {config_.address, kCommand,
                        static_cast<std::uint8_t>(10 * config_.channels)};
    for (int c = 0; c < config_.channels; ++c) {
        reply.push_back(static_cast<std::uint8_t>(config_.decimalsCode(c)));
        // Stored last character first, each character minus 32; blanks pad to 8.
        std::string name = config_.name(c);
        name.resize(8, ' ');
        for (int k = 7; k >= 0; --k) {
            reply.push_back(static_cast<std::uint8_t>(static_cast<unsigned char>(name[k]) - 32));
        }
        reply.push_back(0);
    }
    return finish(std::move(reply));
}

sim::Bytes RecorderDevice::recordsReply(std::int64_t firstSlot, int count,
                                        std::int64_t slotStep) const {
    sim::Bytes reply = {config_.address, kCommand,
                        static_cast<std::uint8_t>(2 * count * config_.channels)};
    for (int r = 0; r < count; ++r) {
        const std::int64_t slot = (firstSlot + r * slotStep) % config_.records;
        for (int c = 0; c < config_.channels; ++c) {
            putLe16(reply, static_cast<std::uint16_t>(value(slot, c)));
        }
    }
    return finish(std::move(reply));
}

sim::Answer RecorderDevice::answer(const sim::Bytes& request, std::int64_t) {
    if (request.size() < 5 || request[0] != config_.address) {
        return {std::nullopt, "not this recorder"};
    }
    if (isRequest(request, kStatus, 3)) {
        return {statusReply(), {}};
    }
    if (isRequest(request, kChannelList, 1)) {
        return {channelListReply(), {}};
    }
    if (isRequest(request, kSeek, 5)) {
        const std::int64_t offset = seekOffset(request);
        if (offset >= config_.ringSize() || offset % config_.recordSize() != 0) {
            return {std::nullopt, "offset " + std::to_string(offset) + " is no record"};
        }
        return {recordsReply(offset / config_.recordSize(), 1, 1), {}};
    }
    if (isRequest(request, kNextBlock, 1)) {
        return {recordsReply(cursor_ + step_, kBlockRecords, step_), {}};
    }
    return {std::nullopt, "unknown request"};
}

void RecorderDevice::answered(const sim::Bytes& request, std::int64_t) {
    if (isRequest(request, kStatus, 3)) {
        step_ = request[4] == 0 ? 1 : request[4];
    } else if (isRequest(request, kSeek, 5)) {
        const std::int64_t offset = seekOffset(request);
        cursor_ = offset / config_.recordSize();
    } else if (isRequest(request, kNextBlock, 1)) {
        cursor_ = (cursor_ + static_cast<std::int64_t>(kBlockRecords) * step_) % config_.records;
    }
}

std::string RecorderDevice::command(const std::vector<std::string>& words) {
    if (words.empty()) {
        return "empty command";
    }
    if (words[0] == "status") {
        if (words.size() == 2 && words[1] == "reset") {
            reportedChannels_.reset();
            reportedInterval_.reset();
            reportedRing_.reset();
            return {};
        }
        if (words.size() != 3) {
            return "usage: status channels|interval|ring <value>, or status reset";
        }
        if (words[1] == "channels") {
            const auto v = sim::parseInteger(words[2], 0, 255);
            if (!v)
                return "status channels wants 0 to 255";
            reportedChannels_ = static_cast<int>(*v);
        } else if (words[1] == "interval") {
            const auto v = sim::parseInteger(words[2], 0, 65535);
            if (!v)
                return "status interval wants 0 to 65535";
            reportedInterval_ = static_cast<int>(*v);
        } else if (words[1] == "ring") {
            const auto v = sim::parseInteger(words[2], 0, 0xFFFFFFFFLL);
            if (!v)
                return "status ring wants 0 to 4294967295";
            reportedRing_ = static_cast<std::uint32_t>(*v);
        } else {
            return "status: unknown field \"" + words[1] + "\"";
        }
        return {};
    }
    if (words[0] == "newest") {
        if (words.size() != 3 && words.size() != 4) {
            return "usage: newest <YYYY-MM-DD> <HH:MM:SS> [offset]";
        }
        const auto t = RecorderTime::parse(words[1] + " " + words[2]);
        if (!t)
            return "newest wants a time in 2000 to 2099";
        if (words.size() == 4) {
            const auto offset = sim::parseInteger(words[3], 0, config_.ringSize() - 1);
            if (!offset || *offset % config_.recordSize() != 0) {
                return "the offset must be a record's offset in the ring";
            }
            config_.newestOffset = *offset;
        }
        config_.newest = *t;
        return {};
    }
    return "unknown command \"" + words[0] + "\"";
}

}  // namespace tamlo::recordersim
