#include "numbertext.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tamlo {

QString formatGeneral(double value, int precision, int exponentDigits) {
    if (std::isnan(value)) {
        return QStringLiteral("NAN");
    }
    if (std::isinf(value)) {
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    }
    if (value == 0.0) {
        return QStringLiteral("0");
    }
    precision = std::clamp(precision, 1, 17);
    // Round to the precision first; the exponent is that of the rounded value.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, value);
    const QString scientific = QString::fromLatin1(buffer);
    const qsizetype ePos = scientific.indexOf(QLatin1Char('e'));
    const int exponent = scientific.mid(ePos + 1).toInt();
    const bool negative = value < 0;
    QString digits = scientific.left(ePos);
    digits.remove(QLatin1Char('-'));
    digits.remove(QLatin1Char('.'));
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0'))) {
        digits.chop(1);
    }
    QString out;
    if (exponent >= precision || exponent < -5) {
        out = digits.left(1);
        if (digits.size() > 1) {
            out += QLatin1Char('.') + digits.mid(1);
        }
        out += QStringLiteral("E%1%2")
                   .arg(exponent < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                   .arg(std::abs(exponent), std::clamp(exponentDigits, 1, 4), 10, QLatin1Char('0'));
    } else if (exponent < 0) {
        out = QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    } else {
        const qsizetype intDigits = exponent + 1;
        if (digits.size() <= intDigits) {
            out = digits + QString(intDigits - digits.size(), QLatin1Char('0'));
        } else {
            out = digits.left(intDigits) + QLatin1Char('.') + digits.mid(intDigits);
        }
    }
    return negative ? QLatin1Char('-') + out : out;
}

ConversionError::ConversionError(const QString& message)
    : std::runtime_error(message.toStdString()), message_(message) {}

int textToInt(const QString& text) {
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int value = trimmed.toInt(&ok, 10);
    if (!ok) {
        throw ConversionError(QStringLiteral("“%1”不是有效的整数。").arg(text));
    }
    return value;
}

double textToFloat(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) {
        throw ConversionError(QStringLiteral("“%1”不是有效的数值。").arg(text));
    }
    return value;
}

}  // namespace tamlo
