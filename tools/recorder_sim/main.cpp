// tamlo_recorder_sim: stands in for a paperless recorder on tamlo_ana's serial line.

#include "recorderdevice.h"
#include "simlink.h"

#include <iostream>

namespace {

constexpr char kProgram[] = "tamlo_recorder_sim";

constexpr char kUsage[] = R"(Usage: tamlo_recorder_sim --link <path> [options]

Simulates a paperless recorder for the history upload of tamlo_ana. Creates a pseudo-terminal,
makes <path> a symbolic link to it and answers the recorder's upload protocol (command 0x43:
status, channel list, seek, next block of seven records; CRC-16/MODBUS frames, any baud rate).
Prints "ready <device>" once it answers. tamlo_ana looks for its port COM1 or COM2 as an entry
of that name in its working directory, so run it with --link <tamlo_ana's directory>/COM1.

The recorder holds a ring of R records of C channels taken every I seconds. The newest record
lies at ring offset P (bytes; record slot P / 2C) and was taken at the newest time; slot j holds
the record taken (P / 2C - j) mod R intervals before it. Values are the same on every run:
  value of slot j, channel c (0-based):  p = (j + 60 c) mod 400
                                         tri = p < 200 ? p : 400 - p
                                         value = 50 tri - 5000 + 100 c
  and -30000 (no sample) on every channel of the slots j with j mod K = K - 1 when
  --no-data-every K is given.
A next-block request answers the seven records S, 2S, ..., 7S slots after the last record sent
(S = the sampling step of the last status request), wrapping round the ring.

Options:
  --link <path>          where to put the link to the pseudo-terminal (an old link there is
                         replaced; a regular file is not)
  --address A            the recorder's address, 0 to 255 (default 0, tamlo_ana's default)
  --channels C           channels, 1 to 16 (default 4)
  --interval I           seconds between records, 1 to 65535 (default 10)
  --records R            records the ring holds (default 1000); the ring has R x 2C bytes
  --newest "YYYY-MM-DD HH:MM:SS"
                         when the newest record was taken, 2000 to 2099 (default: the time
                         the simulator started, in whole seconds)
  --newest-offset P      byte offset of the newest record, a multiple of 2C below R x 2C
                         (default (R - 1) x 2C: the ring has not wrapped yet)
  --names a,b,c          channel names, up to 8 printable ASCII characters (default CH1, CH2..)
  --decimals 0,1,2       decimals codes per channel, 0 to 255 (default 0); tamlo_ana divides
                         by 10^code for codes 0 to 4 and by 1 otherwise
  --no-data-every K      put the no-data value -30000 into every K-th slot (default none)
  --recorder-byte B      the status reply's recorder byte (default 0)
  --tag N                the status reply's format tag (default 300300)
  --log <file>           append a line for every request received:
                           <epoch ms> <request bytes> -> <reply bytes | none> [<fault or reason>]
  --reply-delay-ms N     wait N milliseconds before each reply (tamlo_ana's read time-out is
                         about 5 ms per reply byte plus 20 ms)
  --noise P[,seed]       line noise: each reply is, with probability P (0 to 1), cut short,
                         given a flipped byte, delayed by 2 s, or followed by stray bytes;
                         the seed (default 1) repeats the same damage
  -h, --help             show this text
  -v, --version          show the version

Commands on standard input, one a line, each answered with "ok" or "error <text>":
  fault <address> <kind> [count]   the recorder misbehaves on its next [count] requests (no
                                   count: until cleared). Kinds:
                                     silent     no reply
                                     badcrc     reply with a corrupted CRC
                                     short      reply one byte short
                                     otheraddr  reply from address + 1 (correct CRC)
                                   A next block that went out damaged still counts as sent.
  clear [<address>]                remove the faults
  status channels|interval|ring <value>
                                   the status reply says this from now on (a recorder whose
                                   answer cannot be used)
  status reset                     the status reply tells the truth again
  newest <YYYY-MM-DD> <HH:MM:SS> [offset]
                                   move the newest record's time (and ring offset)
  quit                             remove the link and exit

Example (a one-hour upload from tamlo_ana started in the same directory):
  tamlo_recorder_sim --link COM1 --channels 4 --interval 10 --records 2000 \
      --newest "2026-12-07 10:00:00" --names TEMP1,TEMP2,PRESS,FLOW --decimals 1,1,2,0

Exit: quit, Ctrl-C or SIGTERM remove the link and exit 0; end of input does not stop the
simulator. Bad arguments: exit 2.
)";

}  // namespace

int main(int argc, char** argv) {
    int exitCode = tamlo::sim::kExitOk;
    auto arguments = tamlo::sim::takeArguments(
        argc, argv, kProgram, kUsage,
        {"--address", "--channels", "--interval", "--records", "--newest", "--newest-offset",
         "--names", "--decimals", "--no-data-every", "--recorder-byte", "--tag"},
        {}, exitCode);
    if (!arguments) {
        return exitCode;
    }
    std::string error;
    auto config = tamlo::recordersim::configFromOptions(arguments->options, error);
    if (!config) {
        std::cerr << kProgram << ": " << error << std::endl;
        return tamlo::sim::kExitUsage;
    }
    tamlo::sim::FaultTable faults;
    tamlo::recordersim::RecorderDevice recorder(std::move(*config));
    tamlo::sim::LoopOptions options;
    options.maxDataLength = tamlo::recordersim::kMaxRequestDataLength;
    return tamlo::sim::serveLine(kProgram, *arguments, recorder, faults, options);
}
