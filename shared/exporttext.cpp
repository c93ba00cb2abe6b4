#include "exporttext.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tamlo {
namespace {

char* writeUnsigned(char* out, std::uint32_t value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        *out++ = digits[--n];
    }
    return out;
}

char* writeTwoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

char* writeText(char* out, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

// `count` significant digits with the decimal exponent of the first, without an exponent:
// "0.00123", "12.5", "1200".
char* writePlain(char* out, const char* digits, int count, int exponent) {
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -exponent - 1; ++i) {
            *out++ = '0';
        }
        for (int i = 0; i < count; ++i) {
            *out++ = digits[i];
        }
        return out;
    }
    const int integerDigits = exponent + 1;
    for (int i = 0; i < integerDigits; ++i) {
        *out++ = i < count ? digits[i] : '0';
    }
    if (count > integerDigits) {
        *out++ = '.';
        for (int i = integerDigits; i < count; ++i) {
            *out++ = digits[i];
        }
    }
    return out;
}

// Exact doubles 10^0 .. 10^22.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The general format of a value whose rounded form needs no exponent, found by scaling it to
// an integer of `precision` digits instead of through a float printer: an export writes
// millions of these. The scaling is one correctly rounded operation, so the rounding direction
// is certain unless the scaled value lies within a few units in the last place of a tie; then,
// and for values that need the scientific form, nullptr leaves the work to the printer.
template <int precision>
char* writeGeneralByScaling(char* out, double value) {
    static_assert(precision >= 1 && precision <= 9);
    const double a = std::fabs(value);
    if (!(a >= 1e-5 && a < 1e9)) {
        return nullptr;
    }
    // floor(log10(a)) from the binary exponent: exact or one too small, corrected below.
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int binaryExponent = static_cast<int>(bits >> 52) - 1023;
    int exponent = (binaryExponent * 78913) >> 18;  // 78913 / 2^18 = log10(2) to 6 digits
    const double low = kPowersOfTen[precision - 1];
    const double high = kPowersOfTen[precision];
    double scaled = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int shift = precision - 1 - exponent;
        scaled = shift >= 0 ? a * kPowersOfTen[shift] : a / kPowersOfTen[-shift];
        if (scaled < low) {
            --exponent;
        } else if (scaled >= high) {
            ++exponent;
        } else {
            break;
        }
    }
    if (scaled < low || scaled >= high) {
        return nullptr;
    }
    // scaled < 1e9: the conversion truncates, which is the floor of a positive value.
    auto mantissa = static_cast<std::uint32_t>(scaled);
    const double fraction = scaled - mantissa;
    if (std::fabs(fraction - 0.5) <= scaled * 1e-15) {
        return nullptr;  // too close to a tie to round by the scaled value
    }
    mantissa += fraction > 0.5 ? 1 : 0;
    if (mantissa >= static_cast<std::uint32_t>(high)) {
        mantissa /= 10;  // 99999.7 became 100000: one digit more before the point
        ++exponent;
    }
    if (exponent >= precision || exponent < -5) {
        return nullptr;
    }
    char digits[9];
    for (int i = precision - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + mantissa % 10);
        mantissa /= 10;
    }
    int count = precision;
    while (count > 1 && digits[count - 1] == '0') {
        --count;
    }
    if (value < 0) {
        *out++ = '-';
    }
    return writePlain(out, digits, count, exponent);
}

}  // namespace

char* writeGeneral(char* out, double value, int precision, int exponentDigits) {
    if (std::isnan(value)) {
        return writeText(out, "NAN");
    }
    if (std::isinf(value)) {
        return writeText(out, value > 0 ? "INF" : "-INF");
    }
    if (value == 0.0) {
        *out++ = '0';
        return out;
    }
    precision = precision < 1 ? 1 : (precision > 17 ? 17 : precision);
    exponentDigits = exponentDigits < 1 ? 1 : (exponentDigits > 4 ? 4 : exponentDigits);
    // The exports' precision, with the digit arithmetic known when compiling.
    if (precision == 5) {
        if (char* end = writeGeneralByScaling<5>(out, value)) {
            return end;
        }
    }
    // Rounded to the precision first; the exponent is that of the rounded value.
    char sci[40];
    const auto result =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, precision - 1);
    const char* p = sci;
    if (*p == '-') {
        *out++ = '-';
        ++p;
    }
    char digits[20];
    int count = 0;
    for (; p < result.ptr && *p != 'e'; ++p) {
        if (*p != '.') {
            digits[count++] = *p;
        }
    }
    ++p;  // 'e'
    const bool negativeExponent = *p == '-';
    ++p;  // sign
    int exponent = 0;
    for (; p < result.ptr; ++p) {
        exponent = exponent * 10 + (*p - '0');
    }
    if (negativeExponent) {
        exponent = -exponent;
    }
    while (count > 1 && digits[count - 1] == '0') {
        --count;
    }
    if (exponent >= precision || exponent < -5) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, static_cast<std::size_t>(count - 1));
            out += count - 1;
        }
        *out++ = 'E';
        *out++ = negativeExponent ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        int width = magnitude >= 1000 ? 4 : magnitude >= 100 ? 3 : magnitude >= 10 ? 2 : 1;
        for (; width < exponentDigits; ++width) {
            *out++ = '0';
        }
        return writeUnsigned(out, static_cast<std::uint32_t>(magnitude));
    }
    return writePlain(out, digits, count, exponent);
}

char* writeScaled(char* out, std::int32_t raw, int decimals) {
    static constexpr std::uint32_t kPowers[] = {1, 10, 100, 1000, 10000};
    if (raw == 0) {
        *out++ = '0';
        return out;
    }
    if (raw < 0) {
        *out++ = '-';
    }
    const std::uint32_t magnitude =
        raw < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(raw))
                : static_cast<std::uint32_t>(raw);
    const std::uint32_t divisor = kPowers[decimals];
    out = writeUnsigned(out, magnitude / divisor);
    std::uint32_t fraction = magnitude % divisor;
    if (fraction == 0) {
        return out;
    }
    // The fraction's digits without trailing zeros.
    int places = decimals;
    while (fraction % 10 == 0) {
        fraction /= 10;
        --places;
    }
    *out++ = '.';
    char* end = out + places;
    for (char* q = end; q > out;) {
        *--q = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    return end;
}

int decimalsOfDivisor(int divisor) {
    switch (divisor) {
        case 1:
            return 0;
        case 10:
            return 1;
        case 100:
            return 2;
        case 1000:
            return 3;
        case 10000:
            return 4;
        default:
            return -1;
    }
}

namespace {

struct CivilTime {
    std::int64_t year;
    int month, day, hour, minute, second;
};

CivilTime civilTime(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t inDay = seconds % 86400;
    if (inDay < 0) {
        inDay += 86400;
        --days;
    }
    // Civil date from a day count (proleptic Gregorian), days shifted to 0000-03-01.
    const std::int64_t z = days + 693899;  // 1899-12-30 is day 693899 after 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = yoe + era * 400 + (t.month <= 2 ? 1 : 0);
    t.hour = static_cast<int>(inDay / 3600);
    t.minute = static_cast<int>(inDay / 60 % 60);
    t.second = static_cast<int>(inDay % 60);
    return t;
}

char* writeFourDigitYear(char* out, std::int64_t year) {
    const int y = static_cast<int>(year < 0 ? 0 : year > 9999 ? 9999 : year);
    return writeTwoDigits(writeTwoDigits(out, y / 100), y % 100);
}

// "-MM-DD HH:NN:SS" after the year.
char* writeAfterYear(char* out, const CivilTime& t) {
    *out++ = '-';
    out = writeTwoDigits(out, t.month);
    *out++ = '-';
    out = writeTwoDigits(out, t.day);
    *out++ = ' ';
    out = writeTwoDigits(out, t.hour);
    *out++ = ':';
    out = writeTwoDigits(out, t.minute);
    *out++ = ':';
    return writeTwoDigits(out, t.second);
}

}  // namespace

char* writeRecordTime(char* out, std::int64_t seconds) {
    const CivilTime t = civilTime(seconds);
    // Two digits stand for 2000..2099 only, as in the date-time texts.
    out = t.year >= 2000 && t.year <= 2099 ? writeTwoDigits(out, static_cast<int>(t.year % 100))
                                           : writeFourDigitYear(out, t.year);
    return writeAfterYear(out, t);
}

char* writeIsoTime(char* out, std::int64_t seconds) {
    const CivilTime t = civilTime(seconds);
    return writeAfterYear(writeFourDigitYear(out, t.year), t);
}

}  // namespace tamlo
