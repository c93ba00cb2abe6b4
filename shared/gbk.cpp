#include "gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tamlo {

QByteArray bytesToZero(QByteArrayView bytes) {
    const qsizetype zero = bytes.indexOf('\0');
    return (zero < 0 ? bytes : bytes.first(zero)).toByteArray();
}

bool gbkAvailable() {
    return QStringEncoder("GBK").isValid() && QStringDecoder("GBK").isValid();
}

bool fitsGbk(const QString& text, int maxBytes) {
    QStringEncoder encoder("GBK");
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError() && bytes.size() <= maxBytes;
}

QString gbkToString(QByteArrayView bytes) {
    QStringDecoder decoder("GBK");
    return decoder.decode(bytesToZero(bytes));
}

QByteArray stringToGbk(const QString& text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QByteArray gbkPrefix(const QString& text, int maxBytes) {
    QByteArray out;
    QStringEncoder encoder("GBK");
    // Walk whole characters (surrogate pairs stay together).
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray piece = encoder.encode(QStringView(text).mid(i, len));
        if (out.size() + piece.size() > maxBytes) {
            break;
        }
        out += piece;
        i += len;
    }
    return out;
}

}  // namespace tamlo
