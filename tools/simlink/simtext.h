#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamlo::sim {

using Bytes = std::vector<std::uint8_t>;

// "01 43 01 00 F1 9C": upper-case hex, one space between bytes, as the request log writes them.
std::string toHex(const std::uint8_t* data, std::size_t length);
std::string toHex(const Bytes& bytes);

// Splits at runs of spaces and tabs; no quoting.
std::vector<std::string> splitWords(std::string_view line);

// A whole decimal integer (optional sign) within [min, max]; nothing else in the text.
std::optional<long long> parseInteger(std::string_view text, long long min, long long max);

// A finite decimal number such as 12, -3.5 or 1e3; nothing else in the text.
std::optional<double> parseNumber(std::string_view text);

// Milliseconds since the Unix epoch (wall clock), and a monotonic millisecond count for
// measuring gaps and delays that a clock change must not disturb.
std::int64_t epochMs();
std::int64_t monotonicMs();

}  // namespace tamlo::sim
