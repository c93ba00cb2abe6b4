#include "tfastlineseries.h"

#include "charthost.h"
#include "tchart.h"

#include <cmath>
#include <stdexcept>

namespace tamlo::chart {

TFastLineSeries::TFastLineSeries(TChart* chart, ChartHost* host, const QColor& color)
    : QObject(chart), chart_(chart), host_(host), color_(color) {}

TFastLineSeries::~TFastLineSeries() = default;

void TFastLineSeries::Extremes::include(double v) {
    if (!std::isfinite(v)) {
        return;
    }
    if (!any) {
        low = high = v;
        any = true;
        return;
    }
    low = std::min(low, v);
    high = std::max(high, v);
}

int TFastLineSeries::addXY(double x, double y, const QString& label) {
    // Ascending means finite and never decreasing, which lets drawing and ranges take shortcuts.
    if (!std::isfinite(x) || (!points_.empty() && !(x >= points_.x(points_.size() - 1)))) {
        xAscending_ = false;
    }
    points_.append(x, y, label);
    if (xExtremes_.valid) {
        xExtremes_.include(x);
    }
    if (yExtremes_.valid) {
        yExtremes_.include(y);
    }
    noteChanged();
    return points_.size() - 1;
}

void TFastLineSeries::appendPoints(const double* xs, const double* ys, int count) {
    if (count <= 0) {
        return;
    }
    double previous = points_.empty() ? xs[0] : points_.x(points_.size() - 1);
    for (int i = 0; i < count && xAscending_; ++i) {
        if (!std::isfinite(xs[i]) || !(xs[i] >= previous)) {
            xAscending_ = false;
        }
        previous = xs[i];
    }
    points_.append(xs, ys, count);
    // The extremes are found again when next asked for (at once for ascending x).
    xExtremes_.valid = false;
    yExtremes_.valid = false;
    noteChanged();
}

void TFastLineSeries::setLabelFunction(std::function<QString(int index)> labelOf) {
    labelOf_ = std::move(labelOf);
    noteChanged();
}

void TFastLineSeries::deletePoint(int index) {
    checkIndex(index);
    if (points_.size() == 1) {
        keepAxesBeforeDataGoes();
    }
    const double x = points_.x(index);
    const double y = points_.y(index);
    points_.remove(index);
    // Only removing an extreme value can shrink the range.
    if (xExtremes_.valid && xExtremes_.any && (x <= xExtremes_.low || x >= xExtremes_.high)) {
        xExtremes_.valid = false;
    }
    if (yExtremes_.valid && yExtremes_.any && (y <= yExtremes_.low || y >= yExtremes_.high)) {
        yExtremes_.valid = false;
    }
    if (points_.empty()) {
        xAscending_ = true;
    }
    noteChanged();
}

void TFastLineSeries::clear() {
    keepAxesBeforeDataGoes();
    points_.clear();
    labelOf_ = nullptr;
    xAscending_ = true;
    xExtremes_ = Extremes();
    yExtremes_ = Extremes();
    noteChanged();
}

double TFastLineSeries::lastXValue() const {
    return points_.empty() ? 0.0 : points_.x(points_.size() - 1);
}

void TFastLineSeries::checkIndex(int index) const {
    if (index < 0 || index >= points_.size()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
}

double TFastLineSeries::xValue(int index) const {
    checkIndex(index);
    return points_.x(index);
}

double TFastLineSeries::yValue(int index) const {
    checkIndex(index);
    return points_.y(index);
}

QString TFastLineSeries::label(int index) const {
    checkIndex(index);
    QString stored = points_.label(index);
    if (stored.isEmpty() && labelOf_) {
        return labelOf_(index);
    }
    return stored;
}

void TFastLineSeries::setVisible(bool visible) {
    if (visible_ != visible) {
        if (!visible) {
            keepAxesBeforeDataGoes();
        }
        visible_ = visible;
        noteChanged();
    }
}

void TFastLineSeries::setColor(const QColor& color) {
    if (color_ != color) {
        color_ = color;
        noteChanged();
    }
}

QPointF TFastLineSeries::cursorValues(int x, int y) const {
    return QPointF(chart_->bottomAxis()->valueAt(x), chart_->leftAxis()->valueAt(y));
}

void TFastLineSeries::recompute(Extremes& e, bool ofX) const {
    e = Extremes();
    if (ofX && xAscending_ && !points_.empty()) {
        // Ascending x: the ends are the extremes (non-finite x never counts as ascending).
        e.include(points_.x(0));
        e.include(points_.x(points_.size() - 1));
        return;
    }
    const PointStore::Runs runs = points_.runs();
    const double* first = ofX ? runs.xFirst : runs.yFirst;
    const double* second = ofX ? runs.xSecond : runs.ySecond;
    for (int i = 0; i < runs.firstCount; ++i) {
        e.include(first[i]);
    }
    for (int i = 0; i < runs.secondCount; ++i) {
        e.include(second[i]);
    }
}

bool TFastLineSeries::range(Extremes& e, bool ofX, double& low, double& high) const {
    if (!e.valid) {
        recompute(e, ofX);
    }
    low = e.low;
    high = e.high;
    return e.any;
}

bool TFastLineSeries::xRange(double& low, double& high) const {
    return range(xExtremes_, true, low, high);
}

bool TFastLineSeries::yRange(double& low, double& high) const {
    return range(yExtremes_, false, low, high);
}

void TFastLineSeries::keepAxesBeforeDataGoes() {
    if (host_ != nullptr) {
        host_->keepAutomaticRanges();
    }
}

void TFastLineSeries::noteChanged() {
    if (host_ != nullptr) {
        host_->seriesChanged();
    }
}

}  // namespace tamlo::chart
