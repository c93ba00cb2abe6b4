#include "simulatorloop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

namespace tamlo::sim {

namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signalNumber) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

// Turns the stop signals into a readable byte for as long as it lives.
class StopSignals {
public:
    StopSignals() {
        if (::pipe(gSignalPipe) != 0)
            return;
        for (int fd : gSignalPipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &action, &previous_[i]);
        }
        // serveLine() holds them back while it makes the link; from here on they are heard.
        sigset_t stopSet;
        sigemptyset(&stopSet);
        for (int signalNumber : kSignals) sigaddset(&stopSet, signalNumber);
        ::sigprocmask(SIG_UNBLOCK, &stopSet, nullptr);
        // A client or a test that goes away must not kill the simulator with SIGPIPE.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &previousPipe_);
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
        ::sigaction(SIGPIPE, &previousPipe_, nullptr);
        for (int& fd : gSignalPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    int readFd() const { return gSignalPipe[0]; }

private:
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction previous_[std::size(kSignals)]{};
    struct sigaction previousPipe_ {};
};

void writeLine(int fd, std::string line) {
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t written = ::write(fd, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // nobody listens any more; keep serving the line
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

SimulatorLoop::SimulatorLoop(PseudoTerminal& terminal, Responder& responder, FaultTable& faults,
                             RequestLog& log, LoopOptions options)
    : terminal_(terminal),
      responder_(responder),
      faults_(faults),
      log_(log),
      options_(options),
      framer_(options.maxDataLength),
      noiseRandom_(options.noiseSeed) {}

std::string_view SimulatorLoop::addNoise(Bytes& reply) {
    if (options_.noise <= 0.0 || reply.empty()) {
        return {};
    }
    // Always the same two draws per reply, so a seed gives the same damage whatever happens.
    const double chance = std::uniform_real_distribution<double>(0.0, 1.0)(noiseRandom_);
    const std::uint32_t pick = static_cast<std::uint32_t>(noiseRandom_());
    if (chance >= options_.noise) {
        return {};
    }
    const std::uint32_t detail = pick >> 2;
    switch (pick & 3) {
        case 0:
            reply.resize(reply.size() > 1 ? detail % (reply.size() - 1) + 1 : 0);
            return "noise cut";
        case 1:
            reply[detail % reply.size()] ^= static_cast<std::uint8_t>(1 + (detail >> 8) % 255);
            return "noise flip";
        case 2:
            noiseDelayMs_ = options_.noiseDelayMs;
            return "noise delay";
        default:
            for (std::uint32_t i = 0; i <= detail % 4; ++i) {
                reply.push_back(static_cast<std::uint8_t>(noiseRandom_()));
            }
            return "noise stray";
    }
}

std::optional<Bytes> SimulatorLoop::handleRequest(const Bytes& request, std::int64_t epochMs) {
    Answer answer = responder_.answer(request, epochMs);
    if (!answer.reply) {
        log_.write(epochMs, request, std::nullopt, answer.reason);
        return std::nullopt;
    }
    std::optional<FaultKind> fault = faults_.take(request[0]);
    std::optional<Bytes> sent = fault ? applyFault(*answer.reply, *fault) : answer.reply;
    noiseDelayMs_ = 0;
    std::string_view noise;
    if (!fault && sent) {
        noise = addNoise(*sent);
    }
    log_.write(epochMs, request, sent, fault ? faultName(*fault) : noise);
    if (sent)
        responder_.answered(request, epochMs);
    return sent;
}

std::string SimulatorLoop::handleCommand(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::vector<std::string> words = splitWords(line);
    if (words.empty() || words[0].front() == '#')
        return {};
    const std::string& name = words[0];
    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (name == "quit") {
        if (!rest.empty())
            return "error quit takes no arguments";
        quitRequested_ = true;
        return "ok";
    }
    if (name == "fault") {
        std::string error;
        auto setting = parseFaultSetting(rest, error);
        if (!setting)
            return "error " + error;
        faults_.set(*setting);
        return "ok";
    }
    if (name == "clear") {
        if (rest.empty()) {
            faults_.clearAll();
            return "ok";
        }
        auto address = rest.size() == 1 ? parseInteger(rest[0], 0, 255) : std::nullopt;
        if (!address)
            return "error expected: clear [<address 0 to 255>]";
        faults_.clear(static_cast<std::uint8_t>(*address));
        return "ok";
    }
    std::string error = responder_.command(words);
    return error.empty() ? std::string("ok") : "error " + error;
}

void SimulatorLoop::sendReply(const Bytes& bytes) {
    ssize_t written = ::write(terminal_.masterFd(), bytes.data(), bytes.size());
    if (written != static_cast<ssize_t>(bytes.size())) {
        // Only when the client has left a full input queue unread: the reply is lost, as on a
        // real line whose receiver is not listening.
        std::cerr << "reply not sent whole (" << (written < 0 ? std::strerror(errno) : "partial")
                  << "): " << toHex(bytes) << std::endl;
    }
}

void SimulatorLoop::sendDueReplies(std::int64_t nowMs) {
    while (!pending_.empty() && pending_.front().dueMs <= nowMs) {
        sendReply(pending_.front().bytes);
        pending_.pop_front();
    }
}

bool SimulatorLoop::readTerminal() {
    std::uint8_t buffer[4096];
    for (;;) {
        ssize_t count = ::read(terminal_.masterFd(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (count < 0 && errno == EIO)
            return true;  // no client side open at this instant
        if (count <= 0)
            return false;
        std::int64_t arrivedMs = epochMs();
        for (auto& event : framer_.feed(buffer, static_cast<std::size_t>(count), arrivedMs)) {
            if (event.kind == RequestFramer::Event::Kind::Discarded) {
                log_.write(event.epochMs, event.bytes, std::nullopt, event.reason);
                continue;
            }
            std::optional<Bytes> reply = handleRequest(event.bytes, event.epochMs);
            if (!reply)
                continue;
            if (replyDelayMs() <= 0 && pending_.empty()) {
                sendReply(*reply);
            } else {
                // In order of their times: a reply the noise delays holds back no other.
                const std::int64_t due = monotonicMs() + replyDelayMs();
                auto at = std::find_if(pending_.begin(), pending_.end(),
                                       [due](const PendingReply& p) { return p.dueMs > due; });
                pending_.insert(at, {due, std::move(*reply)});
            }
        }
        gapDeadlineMs_ = framer_.pending() ? monotonicMs() + options_.gapMs : -1;
    }
}

void SimulatorLoop::readCommands(int commandFd, int replyFd, bool& commandsOpen) {
    char buffer[1024];
    ssize_t count = ::read(commandFd, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        // End of input: keep serving the line; only "quit" or a signal ends the simulator.
        commandsOpen = false;
        return;
    }
    commandBuffer_.append(buffer, static_cast<std::size_t>(count));
    std::size_t end;
    while (!quitRequested_ && (end = commandBuffer_.find('\n')) != std::string::npos) {
        std::string line = commandBuffer_.substr(0, end);
        commandBuffer_.erase(0, end + 1);
        std::string acknowledgement = handleCommand(line);
        if (!acknowledgement.empty())
            writeLine(replyFd, acknowledgement);
    }
}

int SimulatorLoop::pollTimeout(std::int64_t nowMs) const {
    std::int64_t next = -1;
    if (gapDeadlineMs_ >= 0)
        next = gapDeadlineMs_;
    if (!pending_.empty())
        next = next < 0 ? pending_.front().dueMs : std::min(next, pending_.front().dueMs);
    if (next < 0)
        return -1;
    return static_cast<int>(std::max<std::int64_t>(0, next - nowMs));
}

int SimulatorLoop::run(int commandFd, int replyFd) {
    StopSignals signals;
    writeLine(replyFd, "ready " + terminal_.devicePath());
    bool commandsOpen = commandFd >= 0;
    while (!quitRequested_) {
        pollfd fds[3] = {{terminal_.masterFd(), POLLIN, 0},
                         {signals.readFd(), POLLIN, 0},
                         {commandsOpen ? commandFd : -1, POLLIN, 0}};
        int ready = ::poll(fds, 3, pollTimeout(monotonicMs()));
        if (ready < 0 && errno != EINTR) {
            std::cerr << "poll: " << std::strerror(errno) << std::endl;
            return 1;
        }
        if (ready > 0 && fds[1].revents != 0)
            break;
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0) {
            if ((fds[0].revents & POLLNVAL) != 0 || !readTerminal()) {
                std::cerr << "the pseudo-terminal failed" << std::endl;
                return 1;
            }
        }
        if (ready > 0 && fds[2].revents != 0)
            readCommands(commandFd, replyFd, commandsOpen);

        std::int64_t now = monotonicMs();
        if (gapDeadlineMs_ >= 0 && now >= gapDeadlineMs_) {
            if (auto dropped = framer_.flush()) {
                log_.write(dropped->epochMs, dropped->bytes, std::nullopt, dropped->reason);
            }
            gapDeadlineMs_ = -1;
        }
        sendDueReplies(now);
    }
    return 0;
}

}  // namespace tamlo::sim
