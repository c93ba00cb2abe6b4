#include "tchartaxis.h"

#include "charthost.h"

#include <algorithm>
#include <cmath>

namespace tamlo::chart {

namespace {
int toInt(double pixel) {
    return static_cast<int>(std::floor(std::clamp(pixel, -1e9, 1e9) + 0.5));
}
}  // namespace

TChartAxis::TChartAxis(TChart* chart, ChartHost* host, Position position)
    : chart_(chart), host_(host), position_(position) {}

double TChartAxis::minimum() const {
    double low = 0;
    double high = 0;
    return automatic_ && host_->dataExtent(this, isHorizontal(), low, high) ? low : minimum_;
}

double TChartAxis::maximum() const {
    double low = 0;
    double high = 0;
    return automatic_ && host_->dataExtent(this, isHorizontal(), low, high) ? high : maximum_;
}

void TChartAxis::storeRange(double minimum, double maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
}

void TChartAxis::keepShownRange() {
    if (automatic_) {
        storeRange(minimum(), maximum());
    }
}

bool TChartAxis::refuse(const QString& text, QString* refusal) {
    if (refusal != nullptr) {
        *refusal = text;
    }
    return false;
}

bool TChartAxis::setMinimum(double value, QString* refusal) {
    const double high = maximum();
    if (!std::isfinite(value) || value > high) {
        return refuse(minimumRefusal(), refusal);
    }
    automatic_ = false;
    storeRange(value, high);
    host_->axisChanged();
    return true;
}

bool TChartAxis::setMaximum(double value, QString* refusal) {
    const double low = minimum();
    if (!std::isfinite(value) || value < low) {
        return refuse(maximumRefusal(), refusal);
    }
    automatic_ = false;
    storeRange(low, value);
    host_->axisChanged();
    return true;
}

bool TChartAxis::setMinMax(double minimum, double maximum, QString* refusal) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum) || minimum > maximum) {
        return refuse(minimumRefusal(), refusal);
    }
    automatic_ = false;
    storeRange(minimum, maximum);
    host_->axisChanged();
    return true;
}

void TChartAxis::setAutomatic(bool automatic) {
    if (automatic_ == automatic) {
        return;
    }
    if (!automatic) {
        // Freeze the range the data gives now.
        keepShownRange();
    }
    automatic_ = automatic;
    host_->axisChanged();
}

void TChartAxis::setIncrement(double increment) {
    increment_ = std::isfinite(increment) && increment > 0 ? increment : 0;
    host_->axisChanged();
}

void TChartAxis::setLabelStyle(LabelStyle style) {
    labelStyle_ = style;
    host_->axisChanged();
}

double TChartAxis::dataEnd(bool ofX, bool highEnd) const {
    double low = 0;
    double high = 0;
    const bool any = host_->dataExtent(this, ofX, low, high);
    return any ? (highEnd ? high : low) : 0;
}

double TChartAxis::minXValue() const {
    return dataEnd(true, false);
}

double TChartAxis::maxXValue() const {
    return dataEnd(true, true);
}

double TChartAxis::minYValue() const {
    return dataEnd(false, false);
}

double TChartAxis::maxYValue() const {
    return dataEnd(false, true);
}

QString TChartAxis::formatValue(double value) const {
    return host_->labelFormat(this).text(value);
}

double TChartAxis::valueAt(int pixel) const {
    const QRect plot = host_->plotArea();
    const double low = minimum();
    const double high = maximum();
    if (isHorizontal()) {
        const int span = plot.right() - plot.left();
        return span > 0 ? low + (pixel - plot.left()) * (high - low) / span : low;
    }
    const int span = plot.bottom() - plot.top();
    return span > 0 ? low + (plot.bottom() - pixel) * (high - low) / span : low;
}

int TChartAxis::pixelOf(double value) const {
    const QRect plot = host_->plotArea();
    const double low = minimum();
    const double high = maximum();
    const double range = high - low;
    if (isHorizontal()) {
        const double scale = range > 0 ? (plot.right() - plot.left()) / range : 0;
        return toInt(plot.left() + (value - low) * scale);
    }
    const double scale = range > 0 ? (plot.bottom() - plot.top()) / range : 0;
    return static_cast<int>(std::floor(plot.bottom() - (value - low) * scale + 0.5));
}

}  // namespace tamlo::chart
