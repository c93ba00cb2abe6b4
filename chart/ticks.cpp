#include "ticks.h"

#include "raster.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tamlo::chart {

namespace {

constexpr int kSignificantDigits = 5;
constexpr int kMostDecimals = 15;
// Below this many pixels either way the plot takes the whole picture, without title and labels.
constexpr int kMinimumPlot = 8;

// Digits before the decimal point of a magnitude (0.5 has 0, 0.01 has -1).
int integerDigits(double magnitude) {
    return magnitude > 0 ? static_cast<int>(std::floor(std::log10(magnitude))) + 1 : 1;
}

void dropTrailingZeros(QString& text, qsizetype end) {
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point < 0 || point >= end) {
        return;
    }
    qsizetype last = end;
    while (last > point + 1 && text[last - 1] == QLatin1Char('0')) {
        --last;
    }
    if (last == point + 1) {
        --last;
    }
    text.remove(last, end - last);
}

}  // namespace

ValueFormat ValueFormat::forAxis(double low, double high, double step) {
    ValueFormat f;
    if (!std::isfinite(low) || !std::isfinite(high)) {
        return f;
    }
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    f.scientific_ = magnitude >= 1e12 || (magnitude > 0 && magnitude < 1e-6);
    const bool stepped = step > 0 && std::isfinite(step);
    if (f.scientific_) {
        const int stepDigits = stepped ? static_cast<int>(std::floor(std::log10(magnitude) + 1e-9) -
                                                          std::floor(std::log10(step) + 1e-9)) +
                                             1
                                       : 0;
        f.mantissaDigits_ = std::clamp(stepDigits, kSignificantDigits, kMostDecimals);
        return f;
    }
    f.minimumDecimals_ =
        stepped
            ? std::clamp(-static_cast<int>(std::floor(std::log10(step) + 1e-9)), 0, kMostDecimals)
            : 0;
    // A readout may go finer than the ticks, down to a few digits below the axis' magnitude.
    f.maximumDecimals_ =
        std::clamp(std::max(f.minimumDecimals_, kSignificantDigits - integerDigits(magnitude)) + 4,
                   f.minimumDecimals_, kMostDecimals);
    return f;
}

QString ValueFormat::text(double value) const {
    if (!std::isfinite(value)) {
        return QString::number(value);
    }
    if (value == 0) {
        value = 0;  // no "-0"
    }
    const double magnitude = std::fabs(value);
    if (scientific_ || magnitude >= 1e15) {
        QString s = QString::number(value, 'e', mantissaDigits_ - 1);
        dropTrailingZeros(s, s.indexOf(QLatin1Char('e')));
        return s;
    }
    const int decimals = std::clamp(kSignificantDigits - integerDigits(magnitude), minimumDecimals_,
                                    maximumDecimals_);
    QString s = QString::number(value, 'f', decimals);
    dropTrailingZeros(s, s.size());
    if (s == QLatin1String("-0")) {
        s = QStringLiteral("0");
    }
    return s;
}

namespace ticks {

double niceStep(double step) {
    if (!(step > 0) || !std::isfinite(step)) {
        return 1;
    }
    const double power = std::pow(10.0, std::floor(std::log10(step)));
    const double fraction = step / power;
    const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
    return nice * power;
}

Scale valueScale(double low, double high, double pixelSpan, double minimumGap, double minimumStep) {
    Scale scale;
    if (!std::isfinite(low) || !std::isfinite(high)) {
        return scale;
    }
    if (!(high > low) || pixelSpan <= 0) {
        scale.values.push_back(low);
        return scale;
    }
    const double step = niceStep(std::max((high - low) * minimumGap / pixelSpan, minimumStep));
    const double first = std::ceil(low / step - 1e-9);
    const double last = std::floor(high / step + 1e-9);
    scale.step = step;
    if (!(last - first < 1000)) {
        return scale;
    }
    for (double k = first; k <= last; ++k) {
        double v = k * step;
        if (std::fabs(v) < step * 1e-9) {
            v = 0;
        }
        scale.values.push_back(v);
    }
    return scale;
}

}  // namespace ticks

namespace {

// A label centred on pixel lies wholly inside a picture width wide.
bool fitsAcross(int pixel, int textWidth, int width) {
    const int left = pixel - textWidth / 2 - 1;
    return left >= 0 && left + textWidth + 2 <= width;
}

void computeLeftTicks(const LayoutInput& in, Layout& l) {
    const QFontMetrics& metrics = *in.metrics;
    const int span = l.plot.bottom() - l.plot.top();
    const ticks::Scale scale =
        ticks::valueScale(l.leftMin, l.leftMax, span, metrics.height() + 4, in.leftIncrement);
    l.leftFormat = ValueFormat::forAxis(l.leftMin, l.leftMax, scale.step);
    const double range = l.leftMax - l.leftMin;
    for (double v : scale.values) {
        const int pixel = range > 0 ? static_cast<int>(raster::toPixel(
                                          l.plot.bottom() - (v - l.leftMin) * span / range))
                                    : l.plot.bottom();
        l.leftTicks.push_back(Tick{pixel, l.leftFormat.text(v)});
    }
}

void computeBottomTicks(const LayoutInput& in, Layout& l) {
    const QFontMetrics& metrics = *in.metrics;
    const int width = l.size.width();
    const int span = l.plot.right() - l.plot.left();
    const double range = l.bottomMax - l.bottomMin;
    const double scale = range > 0 ? span / range : 0;
    auto pixelOf = [&](double x) {
        return static_cast<int>(raster::toPixel(l.plot.left() + (x - l.bottomMin) * scale));
    };
    const int gap = metrics.horizontalAdvance(QStringLiteral("  "));

    if (!in.bottomPointLabels) {
        const ValueFormat rough = ValueFormat::forAxis(l.bottomMin, l.bottomMax, 0);
        const int widest = std::max(metrics.horizontalAdvance(rough.text(l.bottomMin)),
                                    metrics.horizontalAdvance(rough.text(l.bottomMax)));
        const ticks::Scale values =
            ticks::valueScale(l.bottomMin, l.bottomMax, span, widest + 2 * gap, in.bottomIncrement);
        l.bottomFormat = ValueFormat::forAxis(l.bottomMin, l.bottomMax, values.step);
        for (double v : values.values) {
            const QString text = l.bottomFormat.text(v);
            const int pixel = pixelOf(v);
            if (fitsAcross(pixel, metrics.horizontalAdvance(text), width)) {
                l.bottomTicks.push_back(Tick{pixel, text});
            }
        }
        return;
    }
    l.bottomFormat = ValueFormat::forAxis(l.bottomMin, l.bottomMax, 0);

    // Point labels of the first series, one per bucket of x values wide enough for a label,
    // so that they keep their places while the data scrolls. Labels are asked for only at the
    // points that may get one: they may be made on demand.
    if (in.points == nullptr || in.points->empty() || !in.labelOf) {
        return;
    }
    const PointStore& points = *in.points;
    const int n = points.size();
    int widest = 0;
    for (int i : {0, n / 2, n - 1}) {
        widest = std::max(widest, metrics.horizontalAdvance(in.labelOf(i)));
    }
    if (widest == 0) {
        widest = metrics.horizontalAdvance(QStringLiteral("00-00 00:00:00"));
    }
    const double bucket = scale > 0 ? ticks::niceStep((widest + gap) / scale) : 0;
    int lastRight = std::numeric_limits<int>::min() / 2;
    auto consider = [&](int i) {
        const double x = points.x(i);
        if (!std::isfinite(x) || x < l.bottomMin || x > l.bottomMax) {
            return;
        }
        const QString text = in.labelOf(i);
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); })) {
            return;
        }
        const int pixel = pixelOf(x);
        const int w = metrics.horizontalAdvance(text);
        if (pixel - w / 2 < lastRight + gap || !fitsAcross(pixel, w, width)) {
            return;
        }
        l.bottomTicks.push_back(Tick{pixel, text});
        lastRight = pixel - w / 2 + w;
    };
    if (bucket <= 0) {
        consider(0);
        return;
    }
    if (in.pointsAscending) {
        // Jump from bucket to bucket by binary search.
        auto firstAtOrAbove = [&](double x) {
            int low = 0;
            int high = n;
            while (low < high) {
                const int mid = low + (high - low) / 2;
                if (points.x(mid) < x) {
                    low = mid + 1;
                } else {
                    high = mid;
                }
            }
            return low;
        };
        int i = firstAtOrAbove(l.bottomMin);
        int guard = 0;
        while (i < n && points.x(i) <= l.bottomMax && guard++ < 10000) {
            consider(i);
            const double next = (std::floor(points.x(i) / bucket) + 1) * bucket;
            i = std::max(i + 1, firstAtOrAbove(next));
        }
        return;
    }
    double lastBucket = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < n; ++i) {
        const double b = std::floor(points.x(i) / bucket);
        if (b != lastBucket) {
            lastBucket = b;
            consider(i);
        }
    }
}

}  // namespace

Layout computeLayout(const LayoutInput& in) {
    Layout l;
    l.size = in.size;
    l.leftMin = in.leftMin;
    l.leftMax = in.leftMax;
    l.bottomMin = in.bottomMin;
    l.bottomMax = in.bottomMax;
    const QFontMetrics& metrics = *in.metrics;
    const int width = in.size.width();
    const int height = in.size.height();
    const int marginLeft = width * in.marginsPercent.left() / 100;
    const int marginRight = width * in.marginsPercent.right() / 100;
    const int marginTop = height * in.marginsPercent.top() / 100;
    const int marginBottom = height * in.marginsPercent.bottom() / 100;

    int top = marginTop;
    if (in.titleMetrics != nullptr) {
        l.title = QRect(0, 2, width, in.titleMetrics->height());
        top = l.title.bottom() + 3 + marginTop;
    }
    QRect plot;
    plot.setTop(top + metrics.height() / 2);
    plot.setBottom(
        std::max(plot.top() + 1, height - 1 - marginBottom - metrics.height() - in.tickLength - 3));
    l.plot = plot;
    computeLeftTicks(in, l);
    int labelWidth = 0;
    for (const Tick& t : l.leftTicks) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(t.text));
    }
    plot.setLeft(marginLeft + labelWidth + in.tickLength + 4);
    plot.setRight(std::max(plot.left() + 1, width - 2 - marginRight));  // room for the frame
    l.plot = plot;
    // Tick pixels were placed on the final vertical extent already.

    // A picture squeezed smaller than its title, labels and margins keeps the curves alone,
    // inside the frame: the plot never reaches past the picture, so nothing is drawn or read
    // outside it.
    const QRect inFrame = QRect(QPoint(0, 0), in.size).adjusted(1, 1, -1, -1);
    if (!inFrame.contains(l.plot) || l.plot.width() < kMinimumPlot ||
        l.plot.height() < kMinimumPlot) {
        l.title = QRect();
        l.leftTicks.clear();
        l.plot = inFrame.isValid() ? inFrame : QRect();
        l.bottomFormat = ValueFormat::forAxis(l.bottomMin, l.bottomMax, 0);
        return l;
    }
    computeBottomTicks(in, l);
    return l;
}

}  // namespace tamlo::chart
