#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class QSerialPort;

namespace tamlo {

// Time-outs of a conversation with an instrument: between two received bytes, and the total
// time of a read or a write as a constant plus a time per byte.
struct LinkTimeouts {
    int readIntervalMs = 10;
    int readPerByteMs = 5;
    int readConstantMs = 20;
    int writePerByteMs = 5;
    int writeConstantMs = 20;
};

// What exchange() needs from a line: the serial port, or anything that behaves like one.
class ByteLink {
public:
    virtual ~ByteLink() = default;
    virtual bool isOpen() const = 0;
    // Drops everything received and not yet read.
    virtual bool purgeInput() = 0;
    // Blocking write of all bytes, bounded by the write time-out. Returns the bytes written, or -1.
    virtual int write(const std::uint8_t* data, int count) = 0;
    // Blocking read of up to `count` bytes, bounded by the read time-outs. Returns the bytes read
    // (fewer when the time-outs expired), or -1 when the read itself failed.
    virtual int read(std::uint8_t* data, int count) = 0;
};

// Size of the receive and transmit buffers asked of the serial driver where it takes one.
inline constexpr int kDriverBufferBytes = 1024;

enum class PortOpenResult { Opened, OpenFailed, SettingsFailed };

// A serial line as its owner uses it: opened by its position in the port list, kept usable, and
// its ByteLink for the conversations. The real port in the programs, a scripted line in tests.
class PortLine {
public:
    virtual ~PortLine() = default;
    // Opens COM(portIndex + 1), closing any open port first; the caller reports a failure.
    virtual PortOpenResult open(int portIndex, std::int32_t baudRate) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Before each conversation: whether the line is usable now (a lost port may come back).
    virtual bool maintain() { return isOpen(); }
    // Why the last open failed, in words for whoever sets the machine up; empty when unknown.
    virtual QString failureReason() const { return {}; }
    virtual ByteLink& link() = 0;
};

// The message an operator sees for a failed open ("串口打开失败！" / "串口状态设置失败！", caption "oh").
QString portOpenFailureText(PortOpenResult result);
inline constexpr char kPortMessageCaption[] = "oh";

// "COM1" .. for a port index 0 ..
QString comPortName(int portIndex);

// Where COMn is on this machine. Windows: the COM port itself. Elsewhere: an entry named COMn in
// `workingDirectory` when there is one (a symlink to /dev/ttyUSB0 or to a simulator's
// pseudo-terminal), else ttyS(n-1) in `deviceDirectory`.
QString resolveComPort(const QString& comName, const QString& workingDirectory,
                       const QString& deviceDirectory = QStringLiteral("/dev"));

// A serial port in blocking use on the calling thread: 8 data bits, no parity, one stop bit,
// raw, no flow control, 1024-byte buffers and the time-outs above.
class SerialPort final : public ByteLink {
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Closes any open port first, then opens `systemPath` exclusively.
    PortOpenResult open(const QString& systemPath, std::int32_t baudRate);
    void close();

    bool isOpen() const override;
    bool purgeInput() override;
    int write(const std::uint8_t* data, int count) override;
    int read(std::uint8_t* data, int count) override;

    // True once the operating system reported the device gone (a USB adapter pulled out, a
    // simulator stopped). The port stays open until closed.
    bool deviceLost() const { return deviceLost_; }
    QString systemPath() const { return systemPath_; }
    std::int32_t baudRate() const { return baudRate_; }

    void setTimeouts(const LinkTimeouts& timeouts) { timeouts_ = timeouts; }
    const LinkTimeouts& timeouts() const { return timeouts_; }

private:
    void noteError();

    std::unique_ptr<QSerialPort> port_;
    LinkTimeouts timeouts_;
    QString systemPath_;
    std::int32_t baudRate_ = 0;
    bool deviceLost_ = false;
};

enum class WriteFailure {
    // Every step runs even after an earlier one failed: the reply is still read (meters).
    ReadAnyway,
    // A write that did not send every byte ends the exchange at once (recorder upload).
    StopAtOnce,
};

// One request/response conversation. Appends the CRC at request[n] and request[n + 1] (the
// buffer must have room for it), purges the receive side, writes n + 2 bytes, reads exactly m
// bytes. True when every step succeeded, m bytes came back and their CRC is right. No retry.
bool exchange(ByteLink& link, std::uint8_t* request, int n, std::uint8_t* reply, int m,
              WriteFailure onWriteFailure = WriteFailure::ReadAnyway);

// Why an exchange ended as it did, for the line statistics.
enum class ExchangeOutcome : std::uint8_t {
    Answered,    // m bytes with a right CRC (and every step succeeded)
    NoReply,     // not one byte came back
    ShortReply,  // some bytes came back, fewer than m
    BadCrc,      // m bytes whose CRC is wrong
    LineFailed,  // the purge, the write or the read itself failed
};
// The same exchange, telling why it failed; the result is exactly that of the one above.
bool exchange(ByteLink& link, std::uint8_t* request, int n, std::uint8_t* reply, int m,
              ExchangeOutcome& outcome, WriteFailure onWriteFailure = WriteFailure::ReadAnyway);

}  // namespace tamlo
