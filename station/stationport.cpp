#include "stationport.h"

namespace tamlo::station {

namespace {
constexpr qint64 kReopenPeriodMs = 1000;
}

PortOpenResult StationPort::openNow() {
    lastAttempt_.start();
    const QString path = resolveComPort(comPortName(portIndex_), workingDirectory_);
    return port_.open(path, baudRate_);
}

PortOpenResult StationPort::open(int portIndex, std::int32_t baudRate) {
    portIndex_ = portIndex;
    baudRate_ = baudRate;
    wanted_ = true;
    return openNow();
}

void StationPort::close() {
    wanted_ = false;
    port_.close();
}

bool StationPort::maintain() {
    if (!wanted_) {
        return false;
    }
    if (port_.isOpen() && !port_.deviceLost()) {
        return true;
    }
    if (port_.deviceLost()) {
        port_.close();  // release the dead handle at once, so the device can come back
    }
    if (lastAttempt_.isValid() && lastAttempt_.elapsed() < kReopenPeriodMs) {
        return false;
    }
    return openNow() == PortOpenResult::Opened;
}

}  // namespace tamlo::station
