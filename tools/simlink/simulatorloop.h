#pragma once

#include "faulttable.h"
#include "pseudoterminal.h"
#include "requestframer.h"
#include "requestlog.h"
#include "simtext.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tamlo::sim {

// What a simulator decides for one request.
struct Answer {
    std::optional<Bytes> reply;  // complete reply with its CRC; nothing = no reply
    std::string reason;          // why there is no reply, for the log ("unknown meter", ...)
};

// The instrument-specific part of a simulator.
class Responder {
public:
    virtual ~Responder() = default;

    // A request frame with a correct CRC arrived at `epochMs`. Decide the reply without changing
    // any state: a fault may still withhold it.
    virtual Answer answer(const Bytes& request, std::int64_t epochMs) = 0;

    // The reply to `request` went out (possibly damaged by a fault, never when withheld). Values
    // that move on every answer (a ramp, a cursor into stored records) move here.
    virtual void answered(const Bytes& request, std::int64_t epochMs) {}

    // A control command other than the shared "fault", "clear" and "quit", split into words.
    // Returns the empty text when done, else the error text for the "error <text>" line.
    virtual std::string command(const std::vector<std::string>& words) = 0;
};

struct LoopOptions {
    int replyDelayMs = 0;           // wait this long before sending each reply
    int gapMs = 20;                 // silence after which a partial request is dropped
    std::size_t maxDataLength = 8;  // largest L byte a request of the protocol can carry
    double noise = 0.0;             // chance that a reply is damaged (see simlink.h, --noise)
    std::uint32_t noiseSeed = 1;
    int noiseDelayMs = 2000;  // a delayed reply comes this late: past every time-out
};

// The single-threaded poll() loop of a simulator: reads requests from the pseudo-terminal,
// frames them, asks the Responder, applies faults, writes the replies and the request log, and
// reads control commands. See simlink.h for the conventions it implements.
class SimulatorLoop {
public:
    SimulatorLoop(PseudoTerminal& terminal, Responder& responder, FaultTable& faults,
                  RequestLog& log, LoopOptions options = {});

    // Writes "ready <device path>" to `replyFd`, then serves until "quit" arrives on `commandFd`
    // or SIGTERM, SIGINT or SIGHUP. End of input on `commandFd` only stops reading commands.
    // Returns the exit code: 0, or 1 when the pseudo-terminal failed.
    int run(int commandFd = 0, int replyFd = 1);

    // One complete request (correct CRC) that arrived at `epochMs`: answers it, applies the
    // address's fault, logs it and gives the bytes to send, if any.
    // Line noise may damage the reply; a reply the noise delays is due noiseDelayMs later
    // (replyDelayMs() tells, until the next request).
    std::optional<Bytes> handleRequest(const Bytes& request, std::int64_t epochMs);
    int replyDelayMs() const { return options_.replyDelayMs + noiseDelayMs_; }

    // One line of control input: gives "ok" or "error <text>", or the empty text for a blank or
    // '#' comment line (which gets no answer).
    std::string handleCommand(std::string_view line);

    bool quitRequested() const { return quitRequested_; }

private:
    struct PendingReply {
        std::int64_t dueMs;  // monotonic
        Bytes bytes;
    };

    bool readTerminal();
    void readCommands(int commandFd, int replyFd, bool& commandsOpen);
    void sendReply(const Bytes& bytes);
    void sendDueReplies(std::int64_t nowMs);
    int pollTimeout(std::int64_t nowMs) const;

    PseudoTerminal& terminal_;
    Responder& responder_;
    FaultTable& faults_;
    RequestLog& log_;
    LoopOptions options_;
    RequestFramer framer_;
    std::deque<PendingReply> pending_;
    std::int64_t gapDeadlineMs_ = -1;  // monotonic; -1 = nothing partial
    std::string commandBuffer_;
    bool quitRequested_ = false;
    std::mt19937 noiseRandom_;
    int noiseDelayMs_ = 0;

    // Damages `reply` as the line noise has it; gives the log's name for what it did.
    std::string_view addNoise(Bytes& reply);
};

}  // namespace tamlo::sim
