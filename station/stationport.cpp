#include "stationport.h"

namespace tamlo::station {

namespace {
constexpr qint64 kReopenPeriodMs = 1000;
}

StationPort::StationPort(QString workingDirectory)
    : workingDirectory_(std::move(workingDirectory)),
      resolver_([](const QString& comName, const QString& directory) {
          return resolveComPort(comName, directory);
      }) {}

PortOpenResult StationPort::openNow() {
    lastAttempt_.start();
    return port_.open(systemPath_, baudRate_);
}

PortOpenResult StationPort::open(int portIndex, std::int32_t baudRate) {
    systemPath_ = resolver_(comPortName(portIndex), workingDirectory_);
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
