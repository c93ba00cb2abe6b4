#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tamlo {

// Tags and channel names are stored as GBK bytes.

// Whether this Qt can encode and decode GBK (Qt built with ICU). Without it every tag would
// read back blank, so the programs refuse to start.
bool gbkAvailable();
// Whether `text` encodes to GBK without loss and in at most `maxBytes` bytes.
bool fitsGbk(const QString& text, int maxBytes);

// Decodes the bytes up to the first zero byte (or all of them).
QString gbkToString(QByteArrayView bytes);
QByteArray stringToGbk(const QString& text);
// The longest prefix of `text` whose GBK encoding fits in `maxBytes`, cut between characters.
QByteArray gbkPrefix(const QString& text, int maxBytes);
// Bytes up to the first zero byte, as stored (exports write tags exactly as they are on disk).
QByteArray bytesToZero(QByteArrayView bytes);

}  // namespace tamlo
