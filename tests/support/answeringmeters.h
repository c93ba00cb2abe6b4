#pragma once

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <map>

#include "scriptedline.h"
#include "shared/seriallink.h"

namespace tamlo::test {

// A station line of in-process meters: each answers every value request for its address at
// once with its raw value and decimals; a silent one, or an address without a meter, never
// answers.
class AnsweringMeters final : public PortLine, public ByteLink {
public:
    struct Meter {
        std::int16_t raw = 0;
        std::uint8_t decimals = 0;
        bool silent = false;
    };
    std::map<int, Meter> meters;

    PortOpenResult openResult = PortOpenResult::Opened;  // what every open gives
    int opens = 0;
    int requests = 0;

    PortOpenResult open(int, std::int32_t) override {
        ++opens;
        return openResult;
    }
    void close() override {}
    ByteLink& link() override { return *this; }

    bool isOpen() const override { return openResult == PortOpenResult::Opened; }
    bool purgeInput() override {
        pending_.clear();
        return true;
    }
    int write(const std::uint8_t* data, int count) override {
        ++requests;
        pending_.clear();
        const auto it = meters.find(data[0]);
        if (it != meters.end() && !it->second.silent) {
            const auto raw = static_cast<std::uint16_t>(it->second.raw);
            pending_ = valueReply(data[0], static_cast<std::uint8_t>(raw >> 8),
                                  static_cast<std::uint8_t>(raw & 0xFF), it->second.decimals);
        }
        return count;
    }
    int read(std::uint8_t* data, int count) override {
        const int n = std::min<int>(count, static_cast<int>(pending_.size()));
        std::memcpy(data, pending_.constData(), static_cast<std::size_t>(n));
        pending_.remove(0, n);
        return n;
    }

private:
    QByteArray pending_;
};

}  // namespace tamlo::test
