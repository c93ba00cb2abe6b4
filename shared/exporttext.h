#pragma once

#include <cstdint>
#include <string>

namespace tamlo {

// Texts of the spreadsheet exports, written straight into a byte buffer: an export writes
// millions of them, so nothing here allocates.

// Room every writer below needs at `out`.
inline constexpr int kNumberTextMax = 32;

// General number format, the same text as formatGeneral(value, precision, exponentDigits).
char* writeGeneral(char* out, double value, int precision = 5, int exponentDigits = 3);

// raw / 10^decimals (decimals 0..4, |raw| < 100000) in general format with 5 significant digits:
// the text formatGeneral gives for the single-precision quotient, found without a float printer.
char* writeScaled(char* out, std::int32_t raw, int decimals);
// Decimal places of a divisor 1, 10, 100, 1000 or 10000; -1 for any other divisor.
int decimalsOfDivisor(int divisor);

// Whole seconds since 1899-12-30 00:00 as "YY-MM-DD HH:NN:SS" (17 characters; a year outside
// 2000..2099 keeps its four digits).
char* writeRecordTime(char* out, std::int64_t secondsSinceEpoch);
// The same second as "YYYY-MM-DD HH:NN:SS", which every spreadsheet reads in every locale.
char* writeIsoTime(char* out, std::int64_t secondsSinceEpoch);

// Appends to `line`, through the writers above.
inline void appendGeneral(std::string& line, double value) {
    char buffer[kNumberTextMax];
    line.append(buffer, writeGeneral(buffer, value));
}

}  // namespace tamlo
