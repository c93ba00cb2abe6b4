#pragma once

#include <array>
#include <cstdint>

#include "alarms.h"
#include "devicetable.h"
#include "pollcycle.h"

namespace tamlo::station {

// The line quality of each active device, counted at each poll exchange (parameter reads are
// not counted). The last hour is kept in one-minute buckets, so counting never allocates.
class CommStatsTable {
public:
    void count(const PollCycle::TickResult& result, qint64 nowMs);
    CommStats stats(int device, qint64 nowMs) const;
    void reset();
    // After a save of the device table: a device found again by its address and channel keeps
    // its counts, a new one starts from zero.
    void remap(const DeviceTable& before, const DeviceTable& after);

private:
    static constexpr int kMinutes = 60;
    struct Minute {
        qint64 minute = -1;  // minutes since the epoch this bucket counts
        std::uint32_t requests = 0;
        std::uint32_t answers = 0;
    };
    struct Line {
        CommStats counts;  // all but lastAnswer and the hour's share
        qint64 lastAnswerMs = -1;
        std::array<Minute, kMinutes> minutes{};
    };
    std::array<Line, kDeviceSlots> lines_{};
};

}  // namespace tamlo::station
