#include "tchart.h"

#include "chartpainter.h"
#include "raster.h"
#include "tchartprintpreview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tamlo::chart {

namespace {

// The colours new series take, in order.
const QColor kDefaultColors[] = {
    QColor(255, 0, 0),     QColor(0, 128, 0),     QColor(255, 255, 0), QColor(0, 0, 255),
    QColor(255, 255, 255), QColor(128, 128, 128), QColor(255, 0, 255), QColor(0, 128, 128),
    QColor(0, 0, 128),     QColor(128, 0, 0),     QColor(0, 255, 0),   QColor(128, 128, 0),
    QColor(128, 0, 128),   QColor(192, 192, 192), QColor(0, 255, 255), QColor(0, 0, 0),
};

bool sameRgb(const QColor& a, const QColor& b) {
    return (a.rgb() & 0xFFFFFF) == (b.rgb() & 0xFFFFFF);
}

}  // namespace

TChart::TChart(QWidget* parent)
    : QWidget(parent),
      canvas_([this](QPoint from, QPoint to) { drawCanvasLine(from, to); }),
      backColor_(240, 240, 240),
      panelColor_(240, 240, 240) {
    using P = TChartAxis::Position;
    for (P p : {P::Left, P::Top, P::Right, P::Bottom}) {
        axes_[static_cast<std::size_t>(p)].reset(new TChartAxis(this, &host_, p));
    }
    for (int i : {0, 2}) {
        axes_[i]->storeRange(0, 1000);
    }
    for (int i : {1, 3}) {
        axes_[i]->automatic_ = true;
    }
    bottomAxis()->labelStyle_ = TChartAxis::LabelStyle::PointLabel;
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

TChart::~TChart() {
    for (TFastLineSeries* s : series_) {
        s->detach();
    }
}

TFastLineSeries* TChart::series(int index) const {
    if (index < 0 || index >= seriesCount()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    return series_[static_cast<size_t>(index)];
}

QColor TChart::defaultColor() const {
    for (const QColor& candidate : kDefaultColors) {
        if (sameRgb(candidate, backColor_)) {
            continue;
        }
        const bool used = std::any_of(series_.begin(), series_.end(), [&](TFastLineSeries* s) {
            return sameRgb(s->color(), candidate);
        });
        if (!used) {
            return candidate;
        }
    }
    return kDefaultColors[0];
}

TFastLineSeries* TChart::addFastLineSeries() {
    auto* s = new TFastLineSeries(this, &host_, defaultColor());
    series_.push_back(s);
    invalidate(true);
    return s;
}

void TChart::removeAllSeries() {
    keepAutomaticRanges();
    std::vector<TFastLineSeries*> doomed;
    doomed.swap(series_);
    for (TFastLineSeries* s : doomed) {
        s->detach();
        delete s;
    }
    invalidate(true);
}

void TChart::removeSeries(int index) {
    TFastLineSeries* doomed = series(index);
    series_.erase(series_.begin() + index);
    doomed->detach();
    delete doomed;
    invalidate(true);
}

TChartAxis* TChart::axis(TChartAxis::Position position) const {
    switch (position) {
        case TChartAxis::Position::Left:
            return leftAxis();
        case TChartAxis::Position::Top:
            return topAxis();
        case TChartAxis::Position::Right:
            return rightAxis();
        case TChartAxis::Position::Bottom:
            break;
    }
    return bottomAxis();
}

void TChart::setBackColor(const QColor& color) {
    backColor_ = color;
    invalidate(false);
}

void TChart::setPanelColor(const QColor& color) {
    panelColor_ = color;
    invalidate(false);
}

void TChart::setTitle(const QString& title) {
    title_ = title;
    invalidate(true);
}

void TChart::setMarginsPercent(const QMargins& margins) {
    margins_ = QMargins(std::clamp(margins.left(), 0, 40), std::clamp(margins.top(), 0, 40),
                        std::clamp(margins.right(), 0, 40), std::clamp(margins.bottom(), 0, 40));
    invalidate(true);
}

// ---- data bookkeeping ----

void TChart::invalidate(bool relayout) {
    if (relayout) {
        layoutValid_ = false;
    }
    if (frameValid_) {
        frameValid_ = false;
        update();
    }
}

void TChart::keepAutomaticRanges() {
    for (auto& axis : axes_) {
        axis->keepShownRange();
    }
}

ValueFormat TChart::Host::labelFormat(const TChartAxis* axis) {
    if (axis == chart_.leftAxis() || axis == chart_.bottomAxis()) {
        chart_.layOut();
        return axis == chart_.leftAxis() ? chart_.layout_.leftFormat : chart_.layout_.bottomFormat;
    }
    // The top and right axes show no labels: their values read as labels of their range would.
    const double low = axis->minimum();
    const double high = axis->maximum();
    return ValueFormat::forAxis(low, high, ticks::niceStep((high - low) / 10));
}

void TChart::refresh() {
    layoutValid_ = false;
    frameValid_ = false;
    update();
}

bool TChart::Host::dataExtent(const TChartAxis* axis, bool ofX, double& low, double& high) const {
    bool any = false;
    // Every series is drawn against the left and bottom axes.
    if (axis != chart_.leftAxis() && axis != chart_.bottomAxis()) {
        return false;
    }
    for (const TFastLineSeries* s : chart_.series_) {
        if (!s->isVisible()) {
            continue;
        }
        double a = 0;
        double b = 0;
        if (!(ofX ? s->xRange(a, b) : s->yRange(a, b))) {
            continue;
        }
        low = any ? std::min(low, a) : a;
        high = any ? std::max(high, b) : b;
        any = true;
    }
    return any;
}

// ---- zoom and scroll ----

ChartZoom::Axes TChart::shownRanges() const {
    ChartZoom::Axes shown;
    for (std::size_t i = 0; i < axes_.size(); ++i) {
        const TChartAxis& a = *axes_[i];
        shown[i] = ChartZoom::AxisRange{a.automatic(), a.minimum(), a.maximum()};
    }
    return shown;
}

void TChart::showRange(TChartAxis& axis, std::pair<double, double> range) {
    axis.automatic_ = false;
    if (usableRange(range.first, range.second)) {
        axis.storeRange(range.first, range.second);
    }
}

void TChart::zoomPercent(double percent) {
    if (!(percent > 0 && percent < 150)) {
        return;
    }
    zoom_.zoomFrom(shownRanges());
    for (auto& axis : axes_) {
        showRange(*axis, ChartZoom::zoomed(axis->minimum(), axis->maximum(), percent));
    }
    invalidate(true);
    emit zoomed();
}

void TChart::zoomRect(const QRect& rect) {
    const QRect r = rect.normalized();
    zoom_.zoomFrom(shownRanges());
    std::array<std::pair<double, double>, 4> ranges;
    for (size_t i = 0; i < axes_.size(); ++i) {
        const TChartAxis& a = *axes_[i];
        ranges[i] = a.isHorizontal() ? std::make_pair(a.valueAt(r.left()), a.valueAt(r.right()))
                                     : std::make_pair(a.valueAt(r.bottom()), a.valueAt(r.top()));
    }
    for (size_t i = 0; i < axes_.size(); ++i) {
        showRange(*axes_[i], ranges[i]);
    }
    invalidate(true);
    emit zoomed();
}

void TChart::scrollBy(int dx, int dy) {
    const QRect plot = plotRect();
    zoom_.zoomFrom(shownRanges());
    for (auto& axis : axes_) {
        const double low = axis->minimum();
        const double high = axis->maximum();
        showRange(*axis, axis->isHorizontal()
                             ? ChartZoom::scrolled(low, high, -dx, plot.right() - plot.left())
                             : ChartZoom::scrolled(low, high, dy, plot.bottom() - plot.top()));
    }
    invalidate(true);
    emit scrolled();
}

void TChart::undoZoom() {
    if (const std::optional<ChartZoom::Axes> saved = zoom_.undo()) {
        for (size_t i = 0; i < axes_.size(); ++i) {
            axes_[i]->automatic_ = (*saved)[i].automatic;
            axes_[i]->storeRange((*saved)[i].minimum, (*saved)[i].maximum);
        }
    }
    invalidate(true);
    emit undoZoomed();
}

// ---- layout ----

QRect TChart::plotRect() {
    layOut();
    return layout_.plot;
}

void TChart::layOut() {
    if (layoutValid_ && layout_.size == size()) {
        return;
    }
    QFont titleFont = font();
    titleFont.setBold(true);
    layout_ = computeLayout(size(), QFontMetrics(font()), QFontMetrics(titleFont));
    layoutValid_ = true;
}

Layout TChart::computeLayout(const QSize& size, const QFontMetrics& metrics,
                             const QFontMetrics& titleMetrics) const {
    LayoutInput in;
    in.size = size;
    in.marginsPercent = margins_;
    in.metrics = &metrics;
    in.titleMetrics = title_.isEmpty() ? nullptr : &titleMetrics;
    in.tickLength = kTickLength;
    in.leftMin = leftAxis()->minimum();
    in.leftMax = leftAxis()->maximum();
    in.leftIncrement = leftAxis()->increment();
    in.bottomMin = bottomAxis()->minimum();
    in.bottomMax = bottomAxis()->maximum();
    in.bottomIncrement = bottomAxis()->increment();
    in.bottomPointLabels = bottomAxis()->labelStyle() == TChartAxis::LabelStyle::PointLabel;
    if (!series_.empty()) {
        const TFastLineSeries* first = series_.front();
        in.points = &first->points();
        in.pointsAscending = first->xAscending();
        in.labelOf = [first](int i) { return first->label(i); };
    }
    return tamlo::chart::computeLayout(in);
}

void TChart::hideEvent(QHideEvent* event) {
    shownPanel_.reset();  // what is behind paints over the chart's place
    QWidget::hideEvent(event);
}

void TChart::resizeEvent(QResizeEvent* event) {
    // The layout and the picture follow the size when next asked for; a resize event that
    // arrives late for a size already drawn changes nothing.
    QWidget::resizeEvent(event);
}

void TChart::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        refresh();
    }
}

// ---- canvas ----

void TChart::drawCanvasLine(QPoint from, QPoint to) {
    if (canvas_.penStyle() == Qt::NoPen) {
        return;
    }
    if (frame_.size() != size()) {
        frame_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        frameValid_ = false;
        framePlotStale_ = false;
        setFramePanel(std::nullopt);
        update();
    }
    if (frameValid_ && framePlotStale_) {
        ensureFrame();  // the screen's picture, drawn again for the mark to go on
    }
    const std::vector<QPoint> pixels = canvas_.linePixels(from, to, frame_.rect());
    if (pixels.empty()) {
        return;
    }
    const raster::Surface surface{reinterpret_cast<quint32*>(frame_.bits()),
                                  frame_.bytesPerLine() / 4};
    const quint32 colour = canvas_.penColor().rgb() & 0xFFFFFFu;
    const bool xorMode = canvas_.penMode() == TChartCanvas::PenMode::Xor;
    int minX = pixels.front().x();
    int maxX = minX;
    int minY = pixels.front().y();
    int maxY = minY;
    for (const QPoint& p : pixels) {
        quint32* pixel = surface.pixel(p.x(), p.y());
        *pixel = xorMode ? (*pixel ^ colour) : (0xFF000000u | colour);
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    // Put the line on the screen now: queued strips would be merged into their bounding box,
    // which for a cross-hair is most of the chart. While the picture awaits a redraw (or is
    // being painted) queue it instead, so that the redraw and its after-draw events never
    // happen in the middle of a caller's drawing.
    marksSinceDraw_ = true;
    const QRect touched(QPoint(minX, minY), QPoint(maxX, maxY));
    if (!framePanel_ || !framePanel_->plot.contains(touched)) {
        setFramePanel(std::nullopt);  // the next redraw draws the panel too
    }
    if (frameValid_ && !painting_ && isVisible()) {
        repaint(touched);
    } else {
        update(touched);
    }
}

// ---- mouse ----

namespace {
ChartGestures::Button buttonOf(const QMouseEvent* event) {
    switch (event->button()) {
        case Qt::LeftButton:
            return ChartGestures::Button::Left;
        case Qt::RightButton:
            return ChartGestures::Button::Right;
        default:
            return ChartGestures::Button::Other;
    }
}
}  // namespace

void TChart::mousePressEvent(QMouseEvent* event) {
    gestures_.press(buttonOf(event), event->position().toPoint(), plotRect());
    QWidget::mousePressEvent(event);
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const ChartGestures::Outcome out = gestures_.move(pos, plotRect());
    if (!out.repaint.isEmpty()) {
        update(out.repaint);
    }
    if (out.kind == ChartGestures::Outcome::Kind::Scroll) {
        scrollBy(out.scroll.x(), out.scroll.y());
    }
    emit mouseMoved(pos.x(), pos.y());
    QWidget::mouseMoveEvent(event);
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
    const ChartGestures::Outcome out =
        gestures_.release(buttonOf(event), event->position().toPoint(), plotRect());
    if (!out.repaint.isEmpty()) {
        update(out.repaint);
    }
    if (out.kind == ChartGestures::Outcome::Kind::Zoom) {
        zoomRect(out.zoomTo);
    } else if (out.kind == ChartGestures::Outcome::Kind::Undo) {
        undoZoom();
    }
    QWidget::mouseReleaseEvent(event);
}

// ---- printing ----

void TChart::printPreview(QWidget* parent) {
    TChartPrintPreview preview(this, parent);
    preview.exec();
}

}  // namespace tamlo::chart
