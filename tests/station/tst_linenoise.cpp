// The station on a noisy line: the meter simulator damages a tenth of its replies (cut short, a
// flipped byte, too late, stray bytes after it). No damaged reply may give a value, the three
// tries per meter must hold, and the damage must cost no more than the damaged replies.
// TAMLO_NOISE_SECONDS and TAMLO_NOISE_METERS make it longer and wider (scripts/soak.sh).
#include <QFile>
#include <QTest>
#include <cstring>

#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::test;

class LineNoise : public QObject {
    Q_OBJECT

private slots:
    void noDamagedReplyGivesAValue() {
        const int seconds = qEnvironmentVariableIntValue("TAMLO_NOISE_SECONDS") > 0
                                ? qEnvironmentVariableIntValue("TAMLO_NOISE_SECONDS")
                                : 12;
        const int meterCount =
            std::clamp(qEnvironmentVariableIntValue("TAMLO_NOISE_METERS"), 0, 63) > 0
                ? std::clamp(qEnvironmentVariableIntValue("TAMLO_NOISE_METERS"), 0, 63)
                : 4;
        const int seed = qEnvironmentVariableIsSet("TAMLO_NOISE_SEED")
                             ? qEnvironmentVariableIntValue("TAMLO_NOISE_SEED")
                             : 7;
        qInfo("noise 0.10, seed %d, %d meters, %d s", seed, meterCount, seconds);

        // Meter i: address i + 1, raw 1000 + 37 i with i % 4 decimals.
        QList<MeterLine> meters;
        QList<float> expected;
        QStringList texts;
        for (int i = 0; i < meterCount; ++i) {
            const int raw = 1000 + 37 * i;
            const int decimals = i % 4;
            meters << MeterLine{i + 1,    1,
                                0,        QStringLiteral("const:%1").arg(raw),
                                decimals, QStringLiteral("M%1").arg(i + 1)};
            static const float divisors[] = {1.0f, 10.0f, 100.0f, 1000.0f};
            expected << static_cast<float>(raw) / divisors[decimals];
            texts << QString::number(raw / std::pow(10.0, decimals), 'g', 5);
        }
        StationFixture station;
        station.writeConfig(meters, 1);
        QVERIFY(station.startSimulator(
            meters, {}, {QStringLiteral("--noise"), QStringLiteral("0.10,%1").arg(seed)}));
        station::TForm1& form = station.start();
        const QString file = form.history().path();
        QTest::qWait(seconds * 1000);

        // The grid shows a meter's value or "Err", never another number.
        for (int r = 1; r < station::kDataGridRows; ++r) {
            for (int i = 0; i < meterCount; ++i) {
                const QString cell = form.StringGrid2->cell(i + 1, r);
                QVERIFY2(
                    cell.isEmpty() || cell == QLatin1String("Err") ||
                        cell == QLatin1String(station::kBandText) || cell == texts[i],
                    qPrintable(QStringLiteral("row %1 meter %2: %3").arg(r).arg(i + 1).arg(cell)));
            }
        }
        for (int i = 0; i < meterCount; ++i) {
            const QString state = form.StringGrid1->cell(5, i + 1);
            QVERIFY2(state.isEmpty() || state == QStringLiteral("......") ||
                         state == QStringLiteral("失败！"),
                     qPrintable(state));
        }
        station.form.reset();

        // The history file holds each meter's value, or 0 before its first good reply.
        const QByteArray bytes = station.readFile(file);
        QVERIFY(bytes.size() >= 1176 + 4 * meterCount * (seconds / 2));
        const qsizetype recordSize = 4 * meterCount;
        for (qsizetype at = 1176; at + recordSize <= bytes.size(); at += recordSize) {
            for (int i = 0; i < meterCount; ++i) {
                float v;
                std::memcpy(&v, bytes.constData() + at + 4 * i, 4);
                QVERIFY2(
                    std::memcmp(&v, &expected[i], 4) == 0 || (v == 0.0f && !std::signbit(v)),
                    qPrintable(
                        QStringLiteral("record at %1, meter %2: %3").arg(at).arg(i + 1).arg(v)));
            }
        }

        // From the simulator's log: a meter is asked again only after a reply it could not use,
        // at most three times in a row, and a damaged reply never ends the asking early.
        const QList<StationFixture::Request> log = station.requests();
        int damaged = 0;
        int stray = 0;
        int late = 0;
        int runLength = 0;
        int lostExtra = 0;  // good replies spoilt by an earlier late one
        for (qsizetype k = 0; k < log.size(); ++k) {
            const bool bad = log[k].reply.contains(QLatin1String("noise cut")) ||
                             log[k].reply.contains(QLatin1String("noise flip")) ||
                             log[k].reply.contains(QLatin1String("noise delay"));
            damaged += bad ? 1 : 0;
            stray += log[k].reply.contains(QLatin1String("noise stray")) ? 1 : 0;
            late += log[k].reply.contains(QLatin1String("noise delay")) ? 1 : 0;
            ++runLength;
            if (k + 1 == log.size()) {
                break;
            }
            const bool sameMeter =
                meterCount > 1 && log[k + 1].bytes.left(2) == log[k].bytes.left(2);
            if (sameMeter) {
                QVERIFY2(runLength < 3,
                         qPrintable(QStringLiteral("request %1: a fourth try").arg(k + 1)));
                lostExtra += bad ? 0 : 1;
            } else {
                QVERIFY2(!bad || runLength == 3,
                         qPrintable(QStringLiteral("request %1: a damaged reply was taken: %2")
                                        .arg(k)
                                        .arg(log[k].reply)));
                runLength = 0;
            }
        }
        const double requests = static_cast<double>(log.size());
        qInfo("requests %lld, damaged %d, stray bytes %d, good replies spoilt by a late one %d",
              static_cast<long long>(log.size()), damaged, stray, lostExtra);
        QVERIFY(log.size() >= 8 * seconds);
        QVERIFY2(std::abs((requests - damaged - stray) / requests - 0.90) <= 0.05,
                 qPrintable(QString::number((requests - damaged - stray) / requests)));
        // Only a reply that came too late can spoil another one, at most one each.
        QVERIFY2(lostExtra <= late,
                 qPrintable(QStringLiteral("%1 spoilt, %2 late").arg(lostExtra).arg(late)));
    }
};

QTEST_MAIN(LineNoise)
#include "tst_linenoise.moc"
