// The export's general number writer against the number text of the windows, which takes its
// digits from the C library's printf: the same text for the values a station records, for
// exact rounding ties, and for floats and doubles across their range.
#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <cstring>

#include "shared/exporttext.h"
#include "shared/numbertext.h"

using namespace tamlo;

namespace {

// The first value (of at most a few reported) whose two texts differ, or an empty string.
struct Mismatches {
    int count = 0;
    QString first;
    void check(double value, int precision) {
        char buffer[kNumberTextMax];
        const QByteArray fast(buffer, writeGeneral(buffer, value, precision, 3) - buffer);
        const QByteArray printed = formatGeneral(value, precision, 3).toLatin1();
        if (fast != printed && count++ == 0) {
            first = QStringLiteral("%1 (precision %2): %3, expected %4")
                        .arg(value, 0, 'g', 17)
                        .arg(precision)
                        .arg(QString::fromLatin1(fast), QString::fromLatin1(printed));
        }
    }
};

}  // namespace

class GeneralNumbers : public QObject {
    Q_OBJECT
private slots:
    void stationValues() {
        // Every engineering value of a 16-bit reading with 0 to 3 decimals, in single precision.
        Mismatches m;
        for (int decimals = 0; decimals <= 3; ++decimals) {
            const float divisor = std::pow(10.0f, float(decimals));
            for (int raw = -32768; raw <= 32767; ++raw) {
                m.check(float(raw) / divisor, 5);
            }
        }
        QVERIFY2(m.count == 0, qPrintable(QString::number(m.count) + " " + m.first));
    }

    void exactTiesRoundToEven() {
        Mismatches m;
        for (int k = 0; k < 40000; ++k) {
            m.check(k + 0.5, 5);  // 12344.5 -> 12344, 12345.5 -> 12346
            m.check(-(k + 0.5), 5);
            m.check((k + 0.5) / 1024.0, 5);
        }
        for (int precision = 1; precision <= 9; ++precision) {
            for (int k = 1; k < 4000; ++k) {
                m.check(k * 0.125, precision);
                m.check(k * 0.0625 + 1000, precision);
            }
        }
        QVERIFY2(m.count == 0, qPrintable(QString::number(m.count) + " " + m.first));
    }

    void floatsAndDoublesAcrossTheirRange() {
        Mismatches m;
        QRandomGenerator random(20261207);
        for (int i = 0; i < 100000; ++i) {
            const quint32 bits = random.generate();
            float f;
            std::memcpy(&f, &bits, 4);
            if (std::isfinite(f)) {
                m.check(f, 5);
            }
            // Doubles of ordinary magnitudes, every precision the writer is asked for.
            const double d = std::ldexp(random.generateDouble(), int(random.bounded(-40, 60)));
            m.check(d, 1 + int(random.bounded(17)));
        }
        // Around the powers of ten, where the digit count changes.
        for (int e = -7; e <= 10; ++e) {
            const double p = std::pow(10.0, e);
            for (double v = std::nextafter(p, 0.0), n = 0; n < 50;
                 v = std::nextafter(v, 0.0), ++n) {
                m.check(v, 5);
            }
            for (double f : {0.999995, 0.99999499999, 0.9999949, 1.0000049, 9.99995, 9.999949}) {
                m.check(p * f, 5);
                m.check(float(p * f), 5);
            }
        }
        QVERIFY2(m.count == 0, qPrintable(QString::number(m.count) + " " + m.first));
    }
};

QTEST_GUILESS_MAIN(GeneralNumbers)
#include "tst_generalnumbers.moc"
