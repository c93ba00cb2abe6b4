// tamlo_meter_sim: stands in for the panel meters on a station's serial line.

#include "meterbus.h"
#include "meterconfig.h"
#include "simlink.h"

#include <iostream>

namespace {

constexpr char kProgram[] = "tamlo_meter_sim";

constexpr char kUsage[] =
    R"(Usage: tamlo_meter_sim --link <path> --meters <file> [--log <file>] [--reply-delay-ms N]
                       [--noise P[,seed]]

Simulates the panel meters on a station's serial line. Creates a pseudo-terminal, makes <path>
a symbolic link to it and answers the station's value requests (READ_VALUE, 0x43) and parameter
requests (READ_PARAM, 0x41) for the meters listed in the meters file, like meters on a real
bus (CRC-16/MODBUS frames, any baud rate). Prints "ready <device>" once it answers. The station
looks for its port COMn as an entry named COMn in its working directory, so run it with
--link <station directory>/COM1 for port COM1.

Options:
  --link <path>          where to put the link to the pseudo-terminal (an old link there is
                         replaced; a regular file is not)
  --meters <file>        the meters to simulate (format below)
  --log <file>           append a line for every request received:
                           <epoch ms> <request bytes> -> <reply bytes | none> [<fault or reason>]
  --reply-delay-ms N     wait N milliseconds before each reply (a slow meter; beyond the
                         station's read time-out of about 65 ms the station counts it as silent)
  --noise P[,seed]       line noise: each reply is, with probability P (0 to 1), cut short,
                         given a flipped byte, delayed by 2 s, or followed by stray bytes;
                         the seed (default 1) repeats the same damage
  -h, --help             show this text
  -v, --version          show the version

Meters file: one meter a line; '#' starts a comment; blank lines are ignored.
  <address> <model> <channel> <source> <decimals> [p<code>=<value> ...]
    address    bus address 0 to 255
    model      TM210 TM220 TM230 TM250 TM260 TP7 TM610, or its row 0 to 6; TM250 and TM260
               are multi-channel meters: their requests carry the channel, so several of them
               can share an address with different channels
    channel    0 to 255 (ignored by single-channel models)
    source     const:<raw>                          a fixed value
               ramp:<from>:<to>:<step>              moves by step on every answered value
                                                    request, back to <from> after <to>
               sine:<mean>:<amplitude>:<period s>   follows the clock
               raw values are what the meter sends: whole numbers -32768 to 32767
    decimals   0 to 3: the station shows raw / 10^decimals
    p<code>=<value>  answer parameter register <code> with <value>; unset registers read 0.
               A meter has the registers of its model's parameter list and stays silent
               when asked for another (log reason "no parameter <code> on <model>"):
                 TM210, TP7    0 to 18, set point 21
                 TM220, TM610  0 to 16
                 TM230         0 to 27, set point 31
                 TM250, TM260  1 to 12
  fault <address> <kind> [count]   start with a fault (see below)

Example:
  # address model channel source            decimals parameters
  1        TM210 0       const:1234         1        p0=8 p3=0 p4=4000
  2        TM250 2       ramp:0:1000:25     0        p6=-50 p7=1500
  3        TP7   0       sine:500:200:60    2
  fault 3 silent 2

Commands on standard input, one a line, each answered with "ok" or "error <text>":
  fault <address> <kind> [count]   the meters at <address> misbehave on their next [count]
                                   requests (no count: until cleared). Kinds:
                                     silent     no reply
                                     badcrc     reply with a corrupted CRC
                                     short      reply one byte short
                                     otheraddr  reply from address + 1 (correct CRC)
  clear [<address>]                remove the faults (of one address)
  set <address> <channel> <source> change a meter's value source
  param <address> <channel> <code> <value>   change a parameter value (a register of
                                             the meter's model)
  quit                             remove the link and exit

Exit: quit, Ctrl-C or SIGTERM remove the link and exit 0; end of input does not stop the
simulator. Bad arguments or meters file: exit 2.
)";

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    auto arguments = tamlo::sim::takeArguments(argc, argv, kProgram, kUsage, {"--meters"},
                                               {"--meters"}, exitCode);
    if (!arguments)
        return exitCode;
    std::string error;
    auto file = tamlo::metersim::loadMetersFile(arguments->options.at("--meters"), error);
    if (!file) {
        std::cerr << kProgram << ": " << error << std::endl;
        return tamlo::sim::kExitUsage;
    }
    tamlo::sim::FaultTable faults;
    for (const auto& fault : file->faults) faults.set(fault);
    tamlo::metersim::MeterBus bus(std::move(file->meters));
    tamlo::sim::LoopOptions options;
    options.maxDataLength = tamlo::metersim::kMaxRequestDataLength;
    return tamlo::sim::serveLine(kProgram, *arguments, bus, faults, options);
}
