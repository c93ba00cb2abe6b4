#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tamlo {

// CRC-16/MODBUS of `length` bytes, as the two check bytes in transmission order
// (low-order byte first). Table-driven, as in the Modbus RTU reference code.
std::array<std::uint8_t, 2> crc16(const std::uint8_t* data, std::size_t length);

// Appends nothing: writes the two check bytes at data[length] and data[length + 1].
void appendCrc16(std::uint8_t* data, std::size_t length);

// True when the last two of `length` bytes are the check bytes of the bytes before them.
bool crc16Matches(const std::uint8_t* data, std::size_t length);

}  // namespace tamlo
