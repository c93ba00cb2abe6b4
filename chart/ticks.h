#pragma once

// The arithmetic of a chart's picture, free of widgets: where the plot lies, where the axis
// ticks go and how their values read. The chart on the screen, a rendered picture and a printed
// page all take their layout from here, at their own size and text metrics.

#include "pointstore.h"

#include <QFontMetrics>
#include <QMargins>
#include <QRect>
#include <QString>

#include <functional>
#include <vector>

namespace tamlo::chart {

// How the values of one axis read: one notation for all its labels, with digits enough to tell
// its ticks apart and otherwise five significant digits, without trailing zeros (12.346, 90000,
// 100000, 0.5). Axes whose values reach 1e12 or stay below 1e-6 read in scientific notation.
class ValueFormat {
public:
    ValueFormat() = default;
    // The format of an axis showing low..high with ticks step apart (0: no ticks).
    static ValueFormat forAxis(double low, double high, double step);

    QString text(double value) const;

private:
    bool scientific_ = false;
    int minimumDecimals_ = 0;  // fixed: enough for the step
    int maximumDecimals_ = 5;  // fixed: no finer than the axis can show
    int mantissaDigits_ = 5;   // scientific: significant digits
};

namespace ticks {

// 1, 2 or 5 times a power of ten, at least step.
double niceStep(double step);

// Ticks from low to high at multiples of step, at least minimumGap pixels apart over pixelSpan
// pixels and at least minimumStep apart. step is 0 when there are none to space (an empty or
// single-valued range gives the one value low).
struct Scale {
    std::vector<double> values;
    double step = 0;
};
Scale valueScale(double low, double high, double pixelSpan, double minimumGap, double minimumStep);

}  // namespace ticks

struct Tick {
    int pixel;
    QString text;
    bool operator==(const Tick&) const = default;
};

// What a layout is computed from.
struct LayoutInput {
    QSize size;
    QMargins marginsPercent;
    const QFontMetrics* metrics = nullptr;       // axis labels
    const QFontMetrics* titleMetrics = nullptr;  // null: no title
    int tickLength = 4;
    double leftMin = 0;
    double leftMax = 0;
    double leftIncrement = 0;
    double bottomMin = 0;
    double bottomMax = 0;
    double bottomIncrement = 0;
    // Bottom labels: values, or the labels of these points (the first series) at their x.
    bool bottomPointLabels = false;
    const PointStore* points = nullptr;
    bool pointsAscending = false;
    std::function<QString(int)> labelOf;
};

struct Layout {
    QSize size;
    QRect plot;   // empty when nothing fits
    QRect title;  // empty: no title drawn
    double bottomMin = 0;
    double bottomMax = 0;
    double leftMin = 0;
    double leftMax = 0;
    std::vector<Tick> leftTicks;
    std::vector<Tick> bottomTicks;
    ValueFormat leftFormat;
    ValueFormat bottomFormat;
};

// Axis labels and title take their room first; every label lies within the picture. A picture
// too small for them (a plot under a few pixels either way) gets the curves alone in a frame
// along its edges.
Layout computeLayout(const LayoutInput& input);

}  // namespace tamlo::chart
