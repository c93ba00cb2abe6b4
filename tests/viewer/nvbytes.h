#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QtEndian>
#include <cstring>
#include <functional>

// Station history files for the viewer's tests, put together byte by byte here rather than by
// the station's writer: an 8-byte start time, the interval, the channel count, a reserved word,
// 128 tag slots of 9 bytes and a reserved word, then float32 records.
namespace nvbytes {

inline QByteArray header(double start, quint32 interval, quint32 channels,
                         const QList<QByteArray>& tags = {}) {
    QByteArray h(1176, '\0');
    qToLittleEndian(start, h.data());
    qToLittleEndian(interval, h.data() + 8);
    qToLittleEndian(channels, h.data() + 12);
    for (int i = 0; i < tags.size(); ++i) {
        std::memcpy(h.data() + 20 + 9 * i, tags[i].constData(),
                    std::min<qsizetype>(8, tags[i].size()));
    }
    return h;
}

// Records first .. first + count - 1, value of channel c in record k = value(k, c).
inline QByteArray records(int first, int count, int channels,
                          const std::function<float(int k, int c)>& value) {
    QByteArray bytes(qsizetype(count) * channels * 4, '\0');
    char* p = bytes.data();
    for (int k = first; k < first + count; ++k) {
        for (int c = 0; c < channels; ++c, p += 4) {
            qToLittleEndian(value(k, c), p);
        }
    }
    return bytes;
}

inline bool write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline bool append(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::Append) && f.write(bytes) == bytes.size();
}

inline QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// 2026-12-07 10:00:00 as a date-time value, built here from its day count.
inline constexpr double kPagesStart = 46363.0 + 10.0 / 24.0;

// Record k, channel c of a paging test file: k + c / 4, exact in a float up to 2^22 records.
inline float countingValue(int k, int c) {
    return float(k) + 0.25f * float(c);
}

// A file of `records` x `channels` counting values from kPagesStart, tags "CH0", "CH1", ...
inline QString writeCountingFile(const QString& path, int records, int channels,
                                 quint32 interval = 10) {
    QList<QByteArray> tags;
    for (int i = 0; i < channels; ++i) {
        tags << QByteArray("CH") + QByteArray::number(i);
    }
    write(path, header(kPagesStart, interval, channels, tags) +
                    nvbytes::records(0, records, channels, countingValue));
    return path;
}

inline quint32 bits(float v) {
    quint32 b;
    std::memcpy(&b, &v, 4);
    return b;
}

}  // namespace nvbytes
