#include "seriallink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <algorithm>

#include "crc16.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tamlo {

QString portOpenFailureText(PortOpenResult result) {
    switch (result) {
        case PortOpenResult::OpenFailed:
            return QStringLiteral("串口打开失败！");
        case PortOpenResult::SettingsFailed:
            return QStringLiteral("串口状态设置失败！");
        case PortOpenResult::Opened:
            break;
    }
    return {};
}

QString comPortName(int portIndex) { return QStringLiteral("COM%1").arg(portIndex + 1); }

QString resolveComPort(const QString& comName, const QString& workingDirectory,
                       const QString& deviceDirectory) {
#ifdef Q_OS_WIN
    Q_UNUSED(workingDirectory);
    Q_UNUSED(deviceDirectory);
    return comName;
#else
    const QFileInfo local(QDir(workingDirectory).filePath(comName));
    // A dangling symlink (a simulator that is not running) still names the port: opening it
    // fails like a missing adapter would, rather than falling through to another device.
    if (local.exists() || local.isSymLink()) {
        return local.absoluteFilePath();
    }
    bool ok = false;
    const int number = comName.mid(3).toInt(&ok);
    if (comName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) && ok && number >= 1) {
        return QDir(deviceDirectory).filePath(QStringLiteral("ttyS%1").arg(number - 1));
    }
    return comName;
#endif
}

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() { close(); }

PortOpenResult SerialPort::open(const QString& systemPath, std::int32_t baudRate) {
    close();
    systemPath_ = systemPath;
    baudRate_ = baudRate;
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(systemPath);
    // Buffer what the driver delivers up to the size the instruments' frames need.
    port->setReadBufferSize(kDriverBufferBytes);
    // QSerialPort opens exclusively (lock file and TIOCEXCL) and in raw mode.
    if (!port->open(QIODevice::ReadWrite)) {
        return PortOpenResult::OpenFailed;
    }
    const bool settingsApplied = port->setBaudRate(baudRate) &&
                                 port->setDataBits(QSerialPort::Data8) &&
                                 port->setParity(QSerialPort::NoParity) &&
                                 port->setStopBits(QSerialPort::OneStop) &&
                                 port->setFlowControl(QSerialPort::NoFlowControl);
    if (!settingsApplied) {
        port->close();
        return PortOpenResult::SettingsFailed;
    }
#ifdef Q_OS_WIN
    // The driver's own queues, 1024 bytes each way. Other systems have no such setting: the
    // kernel's tty buffer is fixed (4 KB on Linux) and holds many of the instruments' frames.
    SetupComm(reinterpret_cast<HANDLE>(port->handle()), kDriverBufferBytes, kDriverBufferBytes);
#endif
    port_ = std::move(port);
    deviceLost_ = false;
    return PortOpenResult::Opened;
}

void SerialPort::close() {
    if (port_) {
        port_->close();
        port_.reset();
    }
    deviceLost_ = false;
}

bool SerialPort::isOpen() const { return port_ && port_->isOpen(); }

void SerialPort::noteError() {
    if (port_ && port_->error() == QSerialPort::ResourceError) {
        deviceLost_ = true;
    }
}

bool SerialPort::purgeInput() {
    if (!isOpen()) {
        return false;
    }
    const bool ok = port_->clear(QSerialPort::Input);
    noteError();
    return ok && !deviceLost_;
}

int SerialPort::write(const std::uint8_t* data, int count) {
    if (!isOpen()) {
        return -1;
    }
    const qint64 queued = port_->write(reinterpret_cast<const char*>(data), count);
    if (queued < 0) {
        noteError();
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    const int limit = timeouts_.writeConstantMs + timeouts_.writePerByteMs * count;
    while (port_->bytesToWrite() > 0) {
        const int left = limit - static_cast<int>(timer.elapsed());
        if (left <= 0 || !port_->waitForBytesWritten(left)) {
            break;
        }
    }
    noteError();
    if (deviceLost_) {
        return -1;
    }
    return static_cast<int>(queued - port_->bytesToWrite());
}

int SerialPort::read(std::uint8_t* data, int count) {
    if (!isOpen()) {
        return -1;
    }
    QElapsedTimer total;
    total.start();
    const int totalLimit = timeouts_.readConstantMs + timeouts_.readPerByteMs * count;
    int got = 0;
    while (got < count) {
        const qint64 n = port_->read(reinterpret_cast<char*>(data) + got, count - got);
        if (n < 0) {
            noteError();
            return -1;
        }
        got += static_cast<int>(n);
        if (got >= count) {
            break;
        }
        int wait = totalLimit - static_cast<int>(total.elapsed());
        // Once bytes flow, a pause longer than the interval time-out ends the read.
        if (got > 0) {
            wait = std::min(wait, timeouts_.readIntervalMs);
        }
        if (wait <= 0) {
            break;
        }
        if (!port_->waitForReadyRead(wait)) {
            noteError();
            if (deviceLost_) {
                return -1;
            }
            if (port_->bytesAvailable() == 0) {
                break;
            }
        }
    }
    return got;
}

bool exchange(ByteLink& link, std::uint8_t* request, int n, std::uint8_t* reply, int m,
              WriteFailure onWriteFailure) {
    ExchangeOutcome outcome{};
    return exchange(link, request, n, reply, m, outcome, onWriteFailure);
}

bool exchange(ByteLink& link, std::uint8_t* request, int n, std::uint8_t* reply, int m,
              ExchangeOutcome& outcome, WriteFailure onWriteFailure) {
    appendCrc16(request, static_cast<std::size_t>(n));
    bool ok = link.purgeInput();
    const int written = link.write(request, n + 2);
    const bool writeOk = written == n + 2;
    ok = ok && writeOk;
    if (!writeOk && onWriteFailure == WriteFailure::StopAtOnce) {
        outcome = ExchangeOutcome::LineFailed;
        return false;
    }
    const int got = link.read(reply, m);
    ok = ok && got >= 0;
    if (got < m) {
        outcome = got < 0 ? ExchangeOutcome::LineFailed
                  : got == 0 ? ExchangeOutcome::NoReply
                             : ExchangeOutcome::ShortReply;
        return false;
    }
    if (!crc16Matches(reply, static_cast<std::size_t>(m))) {
        outcome = ExchangeOutcome::BadCrc;
        return false;
    }
    outcome = ok ? ExchangeOutcome::Answered : ExchangeOutcome::LineFailed;
    return ok;
}

}  // namespace tamlo
