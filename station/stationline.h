#pragma once

#include <cstdint>

#include "shared/seriallink.h"

namespace tamlo::station {

// The station's serial line as the session uses it: the real port in the program, a scripted
// line in tests.
class StationLine {
public:
    virtual ~StationLine() = default;
    // Opens COM(portIndex + 1); the caller reports a failure.
    virtual PortOpenResult open(int portIndex, std::int32_t baudRate) = 0;
    virtual void close() = 0;
    // Before each conversation: whether the line is usable now (a lost port may come back).
    virtual bool maintain() = 0;
    virtual ByteLink& link() = 0;
};

}  // namespace tamlo::station
