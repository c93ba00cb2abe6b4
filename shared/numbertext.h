#pragma once

#include <QString>
#include <stdexcept>

namespace tamlo {

// General number format: the shortest text with at most `precision` significant digits,
// no trailing zeros, a decimal point only when needed ("1234.5", "1", "-0.05"). Values too large
// or too small for that (more integer digits than the precision, or below 0.00001) use the
// scientific form "1.2346E+5"; its exponent has at least `exponentDigits` digits ("1.2346E+005"
// with 3, as the grids and exports write it).
QString formatGeneral(double value, int precision = 5, int exponentDigits = 1);

// Raised when an edit's text is not a number. Handlers let it escape; the handler guard shows
// it in the standard error box and the operation does not complete.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const QString& message);
    QString text() const { return message_; }

private:
    QString message_;
};

// Decimal integer text (surrounding blanks allowed, optional sign), as a 32-bit value.
int textToInt(const QString& text);
// Decimal floating-point text (surrounding blanks allowed, '.' as decimal point).
double textToFloat(const QString& text);

}  // namespace tamlo
