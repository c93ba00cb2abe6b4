#include "commstats.h"

namespace tamlo::station {

void CommStatsTable::count(const PollCycle::TickResult& result, qint64 nowMs) {
    if (!result.polled || result.device < 0 || result.device >= kDeviceSlots) {
        return;
    }
    Line& line = lines_[static_cast<std::size_t>(result.device)];
    CommStats& c = line.counts;
    ++c.requests;
    c.retries += result.retry ? 1 : 0;
    const bool answered = result.outcome == ExchangeOutcome::Answered && !result.foreignReply;
    if (answered) {
        ++c.answers;
        line.lastAnswerMs = nowMs;
    } else if (result.outcome == ExchangeOutcome::NoReply ||
               result.outcome == ExchangeOutcome::LineFailed) {
        ++c.timeouts;
    } else {
        ++c.refused;  // short, bad CRC, or another meter's or another function's reply
    }
    const qint64 minute = nowMs / 60000;
    Minute& bucket = line.minutes[static_cast<std::size_t>(minute % kMinutes)];
    if (bucket.minute != minute) {
        bucket = Minute{minute, 0, 0};
    }
    ++bucket.requests;
    bucket.answers += answered ? 1 : 0;
}

CommStats CommStatsTable::stats(int device, qint64 nowMs) const {
    if (device < 0 || device >= kDeviceSlots) {
        return {};
    }
    const Line& line = lines_[static_cast<std::size_t>(device)];
    CommStats s = line.counts;
    if (line.lastAnswerMs >= 0) {
        s.lastAnswer = QDateTime::fromMSecsSinceEpoch(line.lastAnswerMs);
    }
    const qint64 minute = nowMs / 60000;
    std::uint64_t requests = 0;
    std::uint64_t answers = 0;
    for (const Minute& m : line.minutes) {
        if (m.minute > minute - kMinutes && m.minute <= minute) {
            requests += m.requests;
            answers += m.answers;
        }
    }
    s.answeredLastHour = requests == 0 ? 0 : static_cast<double>(answers) / requests;
    return s;
}

void CommStatsTable::reset() {
    lines_.fill(Line{});
}

void CommStatsTable::remap(const DeviceTable& before, const DeviceTable& after) {
    const std::array<Line, kDeviceSlots> old = lines_;
    const std::array<int, kDeviceSlots> from = sameMeters(before, after);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        lines_[i] = from[i] >= 0 ? old[static_cast<std::size_t>(from[i])] : Line{};
    }
}

}  // namespace tamlo::station
