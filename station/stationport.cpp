#include "stationport.h"

#include <QFile>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

QString StationPort::failureReason() const {
    return portFailureReason(systemPath_);
}

QString portFailureReason(const QString& systemPath, int errorNumber, const QString& deviceGroup) {
    QString reason = QStringLiteral("%1: %2").arg(
        systemPath, QString::fromLocal8Bit(std::strerror(errorNumber)));
    if (errorNumber == EACCES || errorNumber == EPERM) {
        const QString group = deviceGroup.isEmpty() ? QStringLiteral("dialout") : deviceGroup;
        reason += QStringLiteral(
                      ". Serial ports belong to the group %1: add the user to it "
                      "(sudo usermod -aG %1 $USER), log out and in again, and check "
                      "with the command id that %1 is listed.")
                      .arg(group);
    }
    return reason;
}

QString portFailureReason(const QString& systemPath) {
#ifdef Q_OS_UNIX
    // Only looks: a second open of the device could disturb an instrument on the line.
    const QByteArray path = QFile::encodeName(systemPath);
    if (::access(path.constData(), R_OK | W_OK) == 0) {
        return QStringLiteral(
                   "%1: cannot be opened (in use by another program, or not a serial port)")
            .arg(systemPath);
    }
    const int errorNumber = errno;
    QString groupName;
    struct stat status {};
    if (::stat(path.constData(), &status) == 0) {
        if (const struct group* entry = ::getgrgid(status.st_gid)) {
            groupName = QString::fromLocal8Bit(entry->gr_name);
        }
    }
    return portFailureReason(systemPath, errorNumber, groupName);
#else
    Q_UNUSED(systemPath);
    return {};
#endif
}

}  // namespace tamlo::station
