#pragma once

// Recorder history files built byte by byte for the tests, independently of the program's
// writer: header fields at their offsets, names stored last character first minus 32.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/datetime.h"

namespace tamlo::analysis::test {

// The newest record of the test files: 2007-04-11 10:13:52 (DatFile's default).
inline OleDate newest() {
    return oleDateFromParts(2007, 4, 11, 10, 13, 52);
}
inline OleDate secondsBefore(double s) {
    return newest() - s / 86400.0;
}

struct DatFile {
    int channels = 2;
    int interval = 60;
    // Newest record's time: year within the century, month, day, hour, minute, second.
    std::uint8_t newest[6] = {7, 4, 11, 10, 13, 52};
    std::vector<std::string> names;  // default "CH<i>"
    std::vector<int> decimals;       // default 0
    bool swapped = false;
    // Records oldest first, channels per record. With `wrapAt` > 0 the ring is rotated so that
    // the oldest record lies at slot wrapAt.
    std::vector<std::vector<std::int16_t>> records;
    int wrapAt = 0;

    static void put16(QByteArray& b, int at, std::uint16_t v, bool big = false) {
        b[at] = char(big ? v >> 8 : v & 0xFF);
        b[at + 1] = char(big ? v & 0xFF : v >> 8);
    }
    static void put32(QByteArray& b, int at, std::uint32_t v, bool big = false) {
        for (int i = 0; i < 4; ++i) {
            const int shift = big ? 24 - 8 * i : 8 * i;
            b[at + i] = char((v >> shift) & 0xFF);
        }
    }

    QByteArray bytes() const {
        const int n = static_cast<int>(records.size());
        const int recordSize = 2 * channels;
        const std::uint32_t dataSize = std::uint32_t(n * recordSize);
        const int newestSlot = ((wrapAt + n - 1) % n);
        QByteArray b(swapped ? 714 : 1524, '\0');
        if (swapped) {
            b[0] = 0x00, b[1] = 0x03, b[2] = 0x0E, b[3] = 0x08;
        } else {
            b[0] = 0x0C, b[1] = char(0x95), b[2] = 0x04, b[3] = 0x00;
        }
        put32(b, 4, std::uint32_t(b.size()), swapped);
        for (int i = 0; i < 6; ++i) b[8 + i] = char(newest[i]);
        put32(b, 14, std::uint32_t(newestSlot * recordSize), swapped);
        put32(b, 27, dataSize, swapped);
        put16(b, 31, std::uint16_t(channels), swapped);
        if (swapped) {
            for (int c = 0; c < channels && c < 5; ++c)
                b[528 + 42 * c + 7] = char(c < int(decimals.size()) ? decimals[c] : 0);
            put16(b, 528 + 178, std::uint16_t(interval), true);
        } else {
            for (int c = 0; c < channels; ++c) {
                const int r = 512 + 62 * c;
                put16(b, r + 6, std::uint16_t(c < int(decimals.size()) ? decimals[c] : 0));
                std::string name = c < int(names.size()) ? names[c] : "CH" + std::to_string(c);
                name.resize(8, ' ');
                for (int k = 0; k < 8; ++k) b[r + 61 - k] = char(name[k] - 32);
            }
            put16(b, 512 + 1004, std::uint16_t(interval));
        }
        QByteArray data(int(dataSize), '\0');
        for (int k = 0; k < n; ++k) {
            const int slot = (wrapAt + k) % n;
            for (int c = 0; c < channels; ++c)
                put16(data, slot * recordSize + 2 * c, std::uint16_t(records[k][c]), swapped);
        }
        return b + data;
    }

    bool write(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes()) > 0;
    }
};

}  // namespace tamlo::analysis::test
