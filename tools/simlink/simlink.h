#pragma once

// tamlo_simlink: what every Tamlo instrument simulator shares. A simulator stands in for the
// instruments on one serial line: it opens a pseudo-terminal, links it where the program under
// test looks for its port, answers requests, injects faults on request and logs every request.
//
// Conventions every simulator follows (tests/support/simulatorprocess.h relies on them):
//
// Command line
//   <simulator> --link <path> [--log <file>] [--reply-delay-ms N] [--noise P[,seed]]
//               <its own options>
//   --noise: each reply is, with probability P, cut short, given a flipped byte, delayed past
//   the client's time-out, or followed by stray bytes (one of the four at random, seeded: the
//   same seed damages the same replies of the same run of requests); the log names it
//   "noise cut", "noise flip", "noise delay" or "noise stray".
//   -h/--help prints the usage on stdout and exits 0; -v/--version prints "<simulator>
//   <version>" and exits 0. Options take their value as the next argument or after '='
//   (--link=demo/COM1); an unknown option or one given twice is a bad argument.
//
// Standard output: only these lines, each flushed at once:
//   "ready <device path>"       once, when the link exists and requests are answered;
//   "ok" or "error <text>"      exactly one per control command, in the order of the commands.
//   Diagnostics go to standard error.
//
// Standard input: control commands, one a line; blank lines and lines starting with '#' are
// ignored without an answer. Shared by all simulators:
//   fault <address> <silent|badcrc|short|otheraddr> [count]
//                               every instrument at <address> misbehaves on its next [count]
//                               requests (no count: until cleared); replaces an earlier fault
//   clear [<address>]           removes the faults (of one address)
//   quit                        answers "ok", removes the link, exits 0
//   End of input only stops the reading of commands (a script may give /dev/null).
//
// Exit: "quit", SIGTERM, SIGINT or SIGHUP remove the link and exit 0. Bad arguments or input
// files: a message (with the usage lines) on standard error and exit 2, before "ready". A system failure (no
// pseudo-terminal): exit 1.
//
// Request log (--log, appended, a line per request, flushed per line): see requestlog.h.
//
// Requests are framed as address, function, L, L data bytes, CRC (requestframer.h); a partial
// request is dropped after 20 ms of silence and a bad CRC resynchronises byte by byte.
//
// A simulator's main() takes its arguments with takeArguments(), builds its
// Responder (simulatorloop.h) and FaultTable, and calls serveLine().

#include "faulttable.h"
#include "pseudoterminal.h"
#include "requestframer.h"
#include "requestlog.h"
#include "simtext.h"
#include "simulatorloop.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamlo::sim {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct SimulatorArguments {
    bool help = false;
    bool version = false;
    std::string linkPath;
    std::string logPath;
    int replyDelayMs = 0;
    double noise = 0.0;  // --noise P[,seed]: the chance that a reply is damaged
    std::uint32_t noiseSeed = 1;
    // The simulator's own options that were given, by name with its dashes ("--meters").
    std::map<std::string, std::string> options;
};

// Parses the shared options and the simulator's own `ownOptions` (each takes a value).
// `requiredOptions` must be given unless --help or --version is. On failure `error` says what is
// wrong.
std::optional<SimulatorArguments> parseSimulatorArguments(
    int argc, const char* const* argv, const std::vector<std::string>& ownOptions,
    const std::vector<std::string>& requiredOptions, std::string& error);

// The start of a simulator's main(): parses the arguments as parseSimulatorArguments() does.
// Gives nothing when the program is to end at once, with `exitCode` set: after printing `usage`
// for --help (0), after printing the version for --version (0), or after reporting a bad argument
// on standard error (2).
std::optional<SimulatorArguments> takeArguments(int argc, const char* const* argv,
                                                const char* programName, const char* usage,
                                                const std::vector<std::string>& ownOptions,
                                                const std::vector<std::string>& requiredOptions,
                                                int& exitCode);

// The rest of a simulator's main(): opens the log and the pseudo-terminal, runs the loop, and
// returns the exit code. Reports failures on standard error prefixed with `programName`.
int serveLine(const char* programName, const SimulatorArguments& arguments, Responder& responder,
              FaultTable& faults, LoopOptions options = {});

}  // namespace tamlo::sim
