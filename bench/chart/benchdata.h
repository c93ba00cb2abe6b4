#pragma once

// The curves the chart benchmarks and the README picture draw: channels of a plant recorder,
// each a slow wave with measurement noise in its own band of the 0..1000 value range.

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>

#include <cmath>
#include <vector>

namespace tamlo::chart::bench {

struct Curve {
    std::vector<double> x;
    std::vector<double> y;
};

inline std::vector<Curve> makeCurves(int curves, int points, quint32 seed = 2026) {
    QRandomGenerator rng(seed);
    std::vector<Curve> result(curves);
    for (int k = 0; k < curves; ++k) {
        Curve& c = result[k];
        c.x.resize(points);
        c.y.resize(points);
        const double centre = 1000.0 * (k + 0.5) / curves;
        const double amplitude = 400.0 / curves;
        const double period = 1500.0 + 700.0 * k;
        double drift = 0;
        for (int i = 0; i < points; ++i) {
            drift = 0.995 * drift + (rng.generateDouble() - 0.5) * 2.0;
            c.x[i] = i;
            c.y[i] = centre + amplitude * std::sin(i * 6.283185307 / period) + drift +
                     (rng.generateDouble() - 0.5) * 6.0;
        }
    }
    return result;
}

// Point label of record i in the history view's "MM-DD HH:NN:SS" pattern, one record a second.
inline QString timeLabel(int i) {
    static const QDateTime start(QDate(2026, 3, 14), QTime(8, 0, 0));
    return start.addSecs(i).toString(QStringLiteral("MM-dd HH:mm:ss"));
}

}  // namespace tamlo::chart::bench
