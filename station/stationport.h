#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>

#include "shared/seriallink.h"

namespace tamlo::station {

// Where a port name lies on this machine: resolveComPort, or a test's stand-in.
using PortResolver =
    std::function<QString(const QString& comName, const QString& workingDirectory)>;

// The station's one serial port. An open asked for by start-up or a save resolves COMn and
// reports its failure once; afterwards a port that failed to open, or that the operating system
// lost (a USB adapter pulled out, a simulator stopped), is closed and opened again silently, at
// most once a second, at the system path resolved by that open: a COMn link that is missing for
// a while must not send the station to another device for good.
class StationPort final : public PortLine {
public:
    explicit StationPort(QString workingDirectory);

    void setResolver(PortResolver resolver) { resolver_ = std::move(resolver); }

    // Opens COM(portIndex + 1) at the baud rate; the caller shows a failure to the operator.
    PortOpenResult open(int portIndex, std::int32_t baudRate) override;
    void close() override;

    // Before each conversation: reopens a missing or lost port when a second has passed since
    // the last attempt. Returns whether the port is usable now.
    bool maintain() override;

    SerialPort& link() override { return port_; }
    bool isOpen() const override { return port_.isOpen() && !port_.deviceLost(); }
    // The system path of the last requested open; the silent reopens use it.
    QString systemPath() const { return systemPath_; }
    QString failureReason() const override;

private:
    PortOpenResult openNow();

    QString workingDirectory_;
    PortResolver resolver_;
    SerialPort port_;
    QString systemPath_;
    std::int32_t baudRate_ = 9600;
    bool wanted_ = false;
    QElapsedTimer lastAttempt_;
};

// Why a port at `systemPath` could not be opened, in words for the operator's standard error and
// the status bar's tool tip: the path and the system's error text, and when the system refuses
// access, which group the user must join (the dialout group on Debian). Where the path itself is
// usable, says the port is busy or no port. Empty on systems without such paths.
QString portFailureReason(const QString& systemPath);
// The same from a system error number and the device's group, as the system gave them.
QString portFailureReason(const QString& systemPath, int errorNumber, const QString& deviceGroup);

}  // namespace tamlo::station
