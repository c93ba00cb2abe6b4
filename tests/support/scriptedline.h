#pragma once

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <deque>

#include "shared/crc16.h"
#include "shared/seriallink.h"

namespace tamlo::test {

// A line whose meter answers from a script: each exchange takes the next reply (empty = silence).
class ScriptedLine final : public ByteLink {
public:
    std::deque<QByteArray> replies;
    QList<QByteArray> requests;

    bool isOpen() const override { return true; }
    bool purgeInput() override {
        pending_.clear();
        return true;
    }
    int write(const std::uint8_t* data, int count) override {
        requests << QByteArray(reinterpret_cast<const char*>(data), count);
        pending_ = replies.empty() ? QByteArray() : replies.front();
        if (!replies.empty()) {
            replies.pop_front();
        }
        return count;
    }
    int read(std::uint8_t* data, int count) override {
        const int n = std::min<int>(count, static_cast<int>(pending_.size()));
        std::copy_n(pending_.constData(), n, reinterpret_cast<char*>(data));
        pending_.remove(0, n);
        return n;
    }

private:
    QByteArray pending_;
};

// A line the test keeps and lends to its owner (a session, an upload), to script and inspect it.
class LentLine final : public PortLine {
public:
    explicit LentLine(PortLine& line) : line_(line) {}
    PortOpenResult open(int portIndex, std::int32_t baudRate) override {
        return line_.open(portIndex, baudRate);
    }
    void close() override { line_.close(); }
    bool isOpen() const override { return line_.isOpen(); }
    bool maintain() override { return line_.maintain(); }
    QString failureReason() const override { return line_.failureReason(); }
    ByteLink& link() override { return line_.link(); }

private:
    PortLine& line_;
};

// A meter's READ_VALUE reply: raw value high and low byte, byte 5 (decimals in bits 0 and 1).
inline QByteArray valueReply(std::uint8_t address, std::uint8_t high, std::uint8_t low,
                             std::uint8_t byte5) {
    QByteArray r(9, '\0');
    r[0] = static_cast<char>(address);
    r[1] = 0x43;
    r[2] = 0x04;
    r[3] = static_cast<char>(high);
    r[4] = static_cast<char>(low);
    r[5] = static_cast<char>(byte5);
    appendCrc16(reinterpret_cast<std::uint8_t*>(r.data()), 7);
    return r;
}

}  // namespace tamlo::test
