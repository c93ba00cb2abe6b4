#pragma once

#include "simlink.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamlo::recordersim {

inline constexpr std::uint8_t kCommand = 0x43;
inline constexpr std::uint8_t kStatus = 0x02;
inline constexpr std::uint8_t kSeek = 0x03;
inline constexpr std::uint8_t kNextBlock = 0x04;
inline constexpr std::uint8_t kChannelList = 0x05;
inline constexpr int kMaxChannels = 16;
inline constexpr int kBlockRecords = 7;
inline constexpr std::int16_t kNoData = -30000;
// The longest request body is the seek's 5 bytes; slack lets a longer one be logged as unknown.
inline constexpr std::size_t kMaxRequestDataLength = 8;

// The recorder's clock reading: 2000..2099 only (the status reply carries the year's last two
// digits).
struct RecorderTime {
    int year = 2026, month = 12, day = 7, hour = 10, minute = 0, second = 0;

    // "YYYY-MM-DD HH:MM:SS" (a 'T' may stand for the blank).
    static std::optional<RecorderTime> parse(std::string_view text);
    static RecorderTime now();  // local wall clock, whole seconds
    std::array<std::uint8_t, 6> bytes() const;
    std::string text() const;
};

struct RecorderConfig {
    std::uint8_t address = 0;
    int channels = 4;
    int intervalSeconds = 10;
    std::int64_t records = 1000;  // R: records in the ring
    RecorderTime newest;
    std::int64_t newestOffset = -1;  // bytes; -1 = the top record, (R - 1) x 2C: no wrap yet
    std::vector<std::string> names;  // up to 8 characters each; default CH1, CH2, ...
    std::vector<int> decimals;       // codes 0..255 per channel; default 0
    std::uint32_t formatTag = 300300;
    std::uint8_t recorderByte = 0;
    int noDataEvery = 0;  // > 0: every slot j with j % K == K - 1 holds -30000

    std::int64_t recordSize() const { return 2 * channels; }
    std::int64_t ringSize() const { return records * recordSize(); }
    std::int64_t newestSlot() const;
    std::string name(int channel) const;
    int decimalsCode(int channel) const;
};

// The raw value of ring slot `slot`, channel `channel` (before the no-data rule): a triangle
// wave over 400 slots, shifted by 60 slots and raised by 100 per channel:
//   p = (slot + 60 c) mod 400; tri = p < 200 ? p : 400 - p; value = 50 tri - 5000 + 100 c
std::int16_t slotWaveValue(std::int64_t slot, int channel);

// Parses the command-line options of the simulator (names with their dashes). On failure
// `error` says what is wrong.
std::optional<RecorderConfig> configFromOptions(const std::map<std::string, std::string>& options,
                                                std::string& error);

// A paperless recorder holding a ring of records and answering the upload protocol: status,
// channel list, seek to a ring offset and next block of seven records (every S-th record, S
// from the last status request).
class RecorderDevice final : public sim::Responder {
public:
    explicit RecorderDevice(RecorderConfig config);

    sim::Answer answer(const sim::Bytes& request, std::int64_t epochMs) override;
    void answered(const sim::Bytes& request, std::int64_t epochMs) override;
    // status channels|interval|ring <value>   what the status reply says from now on
    // status reset                             the status reply tells the truth again
    // newest <YYYY-MM-DD> <HH:MM:SS> [offset]  moves the newest record (and its ring offset)
    std::string command(const std::vector<std::string>& words) override;

    const RecorderConfig& config() const { return config_; }
    // The value slot `slot`, channel `channel` holds (-30000 where there is no sample).
    std::int16_t value(std::int64_t slot, int channel) const;
    // The slot the next block continues after, and the step it moves by.
    std::int64_t cursorSlot() const { return cursor_; }
    int samplingStep() const { return step_; }

    sim::Bytes statusReply() const;
    sim::Bytes channelListReply() const;
    sim::Bytes recordsReply(std::int64_t firstSlot, int count, std::int64_t slotStep) const;

private:
    sim::Bytes finish(sim::Bytes reply) const;

    RecorderConfig config_;
    std::int64_t cursor_ = 0;
    int step_ = 1;
    std::optional<int> reportedChannels_;
    std::optional<int> reportedInterval_;
    std::optional<std::uint32_t> reportedRing_;
};

}  // namespace tamlo::recordersim
