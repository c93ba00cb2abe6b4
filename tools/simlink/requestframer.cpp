#include "requestframer.h"

#include "shared/crc16.h"

namespace tamlo::sim {

namespace {
constexpr std::size_t kHeaderLength = 3;  // address, function, L
constexpr std::size_t kCrcLength = 2;
}  // namespace

std::vector<RequestFramer::Event> RequestFramer::feed(const std::uint8_t* data, std::size_t length,
                                                      std::int64_t epochMs) {
    std::vector<Event> events;
    buffer_.insert(buffer_.end(), data, data + length);
    lastArrivalMs_ = epochMs;
    while (buffer_.size() >= kHeaderLength) {
        std::size_t dataLength = buffer_[2];
        if (dataLength > maxDataLength_) {
            dropFirstByte("bad length", epochMs);
            continue;
        }
        std::size_t frameLength = kHeaderLength + dataLength + kCrcLength;
        if (buffer_.size() < frameLength)
            break;
        if (!crc16Matches(buffer_.data(), frameLength)) {
            dropFirstByte("bad crc", epochMs);
            continue;
        }
        reportDiscarded(events);
        Event frame;
        frame.kind = Event::Kind::Frame;
        frame.bytes.assign(buffer_.begin(), buffer_.begin() + frameLength);
        frame.epochMs = epochMs;
        events.push_back(std::move(frame));
        buffer_.erase(buffer_.begin(), buffer_.begin() + frameLength);
    }
    // Dropped bytes followed by a partial frame are most likely one damaged request: keep them
    // together until the gap decides.
    if (buffer_.empty())
        reportDiscarded(events);
    return events;
}

std::optional<RequestFramer::Event> RequestFramer::flush() {
    if (!pending())
        return std::nullopt;
    Event event;
    event.kind = Event::Kind::Discarded;
    event.reason = discarded_.empty() ? "incomplete" : discardReason_;
    event.epochMs = discarded_.empty() ? lastArrivalMs_ : discardMs_;
    event.bytes = std::move(discarded_);
    event.bytes.insert(event.bytes.end(), buffer_.begin(), buffer_.end());
    discarded_.clear();
    buffer_.clear();
    return event;
}

void RequestFramer::dropFirstByte(const char* reason, std::int64_t epochMs) {
    if (discarded_.empty()) {
        discardReason_ = reason;
        discardMs_ = epochMs;
    }
    discarded_.push_back(buffer_.front());
    buffer_.erase(buffer_.begin());
}

void RequestFramer::reportDiscarded(std::vector<Event>& events) {
    if (discarded_.empty())
        return;
    Event event;
    event.kind = Event::Kind::Discarded;
    event.bytes = std::move(discarded_);
    event.epochMs = discardMs_;
    event.reason = discardReason_;
    events.push_back(std::move(event));
    discarded_.clear();
}

}  // namespace tamlo::sim
