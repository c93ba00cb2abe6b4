#pragma once

#include "simtext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamlo::sim {

// Cuts the byte stream from a client into request frames of the shape both instrument
// protocols share: address, function, L, L data bytes, two CRC bytes (CRC-16/MODBUS, low byte
// first), so L + 5 bytes in all.
//
// Bytes that cannot start a frame are dropped one at a time until the stream is in step again:
// a length byte above the protocol's maximum, or a frame of the stated length whose CRC is
// wrong. A partial frame is kept until the line stays silent for the gap (the caller times it
// and calls flush()), because a client that gave up on a reply purges and asks again. Dropped
// bytes come back as one Discarded event per run so that the log shows them once.
class RequestFramer {
public:
    struct Event {
        enum class Kind { Frame, Discarded } kind = Kind::Frame;
        Bytes bytes;
        std::int64_t epochMs = 0;  // when the bytes that completed the frame (or the run) arrived
        std::string reason;        // for Discarded: "bad crc", "bad length" or "incomplete"
    };

    explicit RequestFramer(std::size_t maxDataLength) : maxDataLength_(maxDataLength) {}

    // Takes the bytes of one read that arrived at `epochMs`; gives the frames they complete and
    // the runs of bytes they made the framer drop, in stream order.
    std::vector<Event> feed(const std::uint8_t* data, std::size_t length, std::int64_t epochMs);

    // The gap expired: gives up on the partial frame. Returns what was dropped, if anything.
    std::optional<Event> flush();

    // Bytes are waiting (a partial frame, or dropped bytes not yet reported).
    bool pending() const { return !buffer_.empty() || !discarded_.empty(); }

private:
    void dropFirstByte(const char* reason, std::int64_t epochMs);
    void reportDiscarded(std::vector<Event>& events);

    std::size_t maxDataLength_;
    Bytes buffer_;
    Bytes discarded_;
    std::string discardReason_;
    std::int64_t discardMs_ = 0;
    std::int64_t lastArrivalMs_ = 0;
};

}  // namespace tamlo::sim
