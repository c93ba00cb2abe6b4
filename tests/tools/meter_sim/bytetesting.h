#pragma once

#include "shared/crc16.h"
#include "simtext.h"

#include <string>

namespace tamlo::test {

// "01 43 01 00" as bytes.
inline sim::Bytes hexBytes(const char* text) {
    sim::Bytes bytes;
    for (const std::string& word : sim::splitWords(text)) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(word, nullptr, 16)));
    }
    return bytes;
}

// `body` followed by its two CRC bytes.
inline sim::Bytes withCrc(sim::Bytes body) {
    body.resize(body.size() + 2);
    appendCrc16(body.data(), body.size() - 2);
    return body;
}

}  // namespace tamlo::test
