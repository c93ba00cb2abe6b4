#pragma once

#include <QFile>
#include <QString>
#include <QtEndian>
#include <algorithm>
#include <cmath>

#include "shared/datetime.h"
#include "shared/stationhistory.h"

namespace tamlo::bench {

// A station history file of `records` x `channels`: slow sines of different periods and
// amplitudes, stored as float32 like the station's values (raw / 10^decimals). With `jitter`
// every reading moves by a few counts from one record to the next, so that no value repeats
// the one before it.
inline bool writeFile(const QString& path, int records, int channels, bool jitter = false) {
    StationHistoryHeader header;
    header.startTime = oleDateFromParts(2026, 12, 7, 8, 0, 0);
    header.intervalSeconds = 5;
    header.channelCount = static_cast<std::uint32_t>(channels);
    for (int i = 0; i < channels; ++i) {
        const QByteArray tag = QByteArray("TT") + QByteArray::number(100 + i);
        std::copy(tag.begin(), tag.end(), header.tags[static_cast<std::size_t>(i)].begin());
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return false;
    }
    f.write(encodeHistoryHeader(header));
    QByteArray block;
    for (int k = 0; k < records; ++k) {
        for (int c = 0; c < channels; ++c) {
            const double wave = std::round((200 + 40 * c) +
                                           (150 + 10 * c) * std::sin(k * 0.0007 * (1 + c % 7) + c));
            const int step = 3 + (k + c) % 4;
            const double raw = wave + (jitter ? (k % 2 == 0 ? step : -step) : 0);
            char bytes[4];
            qToLittleEndian(static_cast<float>(raw / 10.0), bytes);
            block.append(bytes, 4);
        }
        if (block.size() > (1 << 20)) {
            f.write(block);
            block.clear();
        }
    }
    f.write(block);
    return f.error() == QFileDevice::NoError;
}

}  // namespace tamlo::bench
