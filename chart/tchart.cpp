#include "tchart.h"

#include "chartpainter.h"
#include "raster.h"
#include "tchartprintpreview.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScopedValueRollback>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tamlo::chart {

namespace {

constexpr int kTickLength = 4;
constexpr int kMinimumDrag = 17;

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
    : QWidget(parent), canvas_(this), backColor_(240, 240, 240), panelColor_(240, 240, 240) {
    axes_[0].reset(new TChartAxis(this, TChartAxis::Position::Left));
    axes_[1].reset(new TChartAxis(this, TChartAxis::Position::Top));
    axes_[2].reset(new TChartAxis(this, TChartAxis::Position::Right));
    axes_[3].reset(new TChartAxis(this, TChartAxis::Position::Bottom));
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
        s->chart_ = nullptr;
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
    auto* s = new TFastLineSeries(this, defaultColor());
    series_.push_back(s);
    seriesChanged();
    return s;
}

void TChart::removeAllSeries() {
    keepAutomaticRanges();
    std::vector<TFastLineSeries*> doomed;
    doomed.swap(series_);
    for (TFastLineSeries* s : doomed) {
        s->chart_ = nullptr;
        delete s;
    }
    seriesChanged();
}

void TChart::removeSeries(int index) {
    TFastLineSeries* doomed = series(index);
    series_.erase(series_.begin() + index);
    doomed->chart_ = nullptr;
    delete doomed;
    seriesChanged();
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

void TChart::seriesChanged() {
    invalidate(true);
}

void TChart::axisChanged() {
    invalidate(true);
}

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

ValueFormat TChart::formatOf(const TChartAxis* axis) const {
    if (axis == leftAxis()) {
        return layout().leftFormat;
    }
    if (axis == bottomAxis()) {
        return layout().bottomFormat;
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

void TChart::seriesDataExtent(const TChartAxis* axis, bool ofX, double& low, double& high,
                              bool& any) const {
    any = false;
    // Every series is drawn against the left and bottom axes.
    if (axis != leftAxis() && axis != bottomAxis()) {
        return;
    }
    for (const TFastLineSeries* s : series_) {
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
}

bool TChart::automaticRange(const TChartAxis* axis, double& low, double& high) const {
    bool any = false;
    seriesDataExtent(axis, axis->isHorizontal(), low, high, any);
    return any;
}

// ---- zoom and scroll ----

void TChart::saveAxesOnce() {
    if (axesSaved_) {
        return;
    }
    for (size_t i = 0; i < axes_.size(); ++i) {
        const TChartAxis& a = *axes_[i];
        savedAxes_[i] = SavedAxis{a.automatic(), a.minimum(), a.maximum()};
    }
    axesSaved_ = true;
}

namespace {
// A range that still has room between its ends at double precision.
bool usableRange(double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        return false;
    }
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    return low == high || high - low > magnitude * 1e-12;
}
}  // namespace

void TChart::zoomPercent(double percent) {
    if (!(percent > 0 && percent < 150)) {
        return;
    }
    saveAxesOnce();
    for (auto& axis : axes_) {
        const double low = axis->minimum();
        const double high = axis->maximum();
        const double d = (high - low) * (percent - 100) * 0.01;
        axis->automatic_ = false;
        if (usableRange(low + d, high - d)) {
            axis->storeRange(low + d, high - d);
        }
    }
    zoomed_ = true;
    invalidate(true);
    emit zoomed();
}

void TChart::zoomRect(const QRect& rect) {
    const QRect r = rect.normalized();
    saveAxesOnce();
    std::array<std::pair<double, double>, 4> ranges;
    for (size_t i = 0; i < axes_.size(); ++i) {
        const TChartAxis& a = *axes_[i];
        ranges[i] = a.isHorizontal() ? std::make_pair(a.valueAt(r.left()), a.valueAt(r.right()))
                                     : std::make_pair(a.valueAt(r.bottom()), a.valueAt(r.top()));
    }
    for (size_t i = 0; i < axes_.size(); ++i) {
        axes_[i]->automatic_ = false;
        if (usableRange(ranges[i].first, ranges[i].second)) {
            axes_[i]->storeRange(ranges[i].first, ranges[i].second);
        }
    }
    zoomed_ = true;
    invalidate(true);
    emit zoomed();
}

void TChart::scrollBy(int dx, int dy) {
    const QRect plot = plotRect();
    saveAxesOnce();
    for (auto& axis : axes_) {
        const double low = axis->minimum();
        const double high = axis->maximum();
        const double shift = axis->isHorizontal()
                                 ? -dx * (high - low) / std::max(1, plot.right() - plot.left())
                                 : dy * (high - low) / std::max(1, plot.bottom() - plot.top());
        axis->automatic_ = false;
        if (usableRange(low + shift, high + shift)) {
            axis->storeRange(low + shift, high + shift);
        }
    }
    zoomed_ = true;
    invalidate(true);
    emit scrolled();
}

void TChart::undoZoom() {
    if (axesSaved_) {
        for (size_t i = 0; i < axes_.size(); ++i) {
            axes_[i]->automatic_ = savedAxes_[i].automatic;
            axes_[i]->storeRange(savedAxes_[i].minimum, savedAxes_[i].maximum);
        }
        axesSaved_ = false;
    }
    zoomed_ = false;
    invalidate(true);
    emit undoZoomed();
}

// ---- layout ----

QRect TChart::plotRect() const {
    return layout().plot;
}

const Layout& TChart::layout() const {
    if (!layoutValid_ || layout_.size != size()) {
        QFont titleFont = font();
        titleFont.setBold(true);
        layout_ = computeLayout(size(), QFontMetrics(font()), QFontMetrics(titleFont));
        layoutValid_ = true;
    }
    return layout_;
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

// ---- drawing ----

TChart::PanelKey TChart::panelKey(const Layout& l) const {
    return PanelKey{l.size,        l.plot,      l.title, l.leftTicks,
                    l.bottomTicks, panelColor_, font(),  title_};
}

void TChart::renderFrame(QImage& image, const Layout& l, bool keepPanel) const {
    const QRect plot = l.plot;
    const quint32 back = 0xFF000000u | backColor_.rgb();
    const quint32 black = 0xFF000000u;
    if (image.isNull()) {
        return;
    }
    if (plot.isEmpty()) {
        image.fill(panelColor_);
        return;
    }
    const raster::Surface surface{reinterpret_cast<quint32*>(image.bits()),
                                  image.bytesPerLine() / 4};
    const raster::Clip whole{0, 0, image.width() - 1, image.height() - 1};
    const raster::Clip inside = raster::Clip::fromRect(plot.intersected(image.rect()));
    if (keepPanel) {
        const raster::Surface plotSurface{surface.pixel(inside.left, inside.top), surface.stride};
        const raster::Coord width = inside.right - inside.left + 1;
        const raster::Coord height = inside.bottom - inside.top + 1;
        if (width > 0 && height > 0) {
            raster::clear(plotSurface, width, height, {0, 0, width - 1, height - 1}, back, back);
        }
    } else {
        raster::clear(surface, image.width(), image.height(), raster::Clip::fromRect(plot),
                      0xFF000000u | panelColor_.rgb(), back);
    }

    // Dotted grid at the ticks.
    const quint32 grid = 0xFF000000u | gridColourOn(backColor_).rgb();
    for (const Tick& t : l.leftTicks) {
        if (t.pixel > plot.top() && t.pixel < plot.bottom()) {
            for (int x = plot.left() + 1; x < plot.right(); x += 2) {
                *surface.pixel(x, t.pixel) = grid;
            }
        }
    }
    for (const Tick& t : l.bottomTicks) {
        if (t.pixel > plot.left() && t.pixel < plot.right()) {
            for (int y = plot.top() + 1; y < plot.bottom(); y += 2) {
                *surface.pixel(t.pixel, y) = grid;
            }
        }
    }

    raster::Mapping mapping;
    mapping.xMin = l.bottomMin;
    mapping.xOrigin = plot.left();
    mapping.xScale =
        l.bottomMax > l.bottomMin ? (plot.right() - plot.left()) / (l.bottomMax - l.bottomMin) : 0;
    mapping.yMin = l.leftMin;
    mapping.yOrigin = plot.bottom();
    mapping.yScale =
        l.leftMax > l.leftMin ? (plot.bottom() - plot.top()) / (l.leftMax - l.leftMin) : 0;
    for (const TFastLineSeries* s : series_) {
        if (s->isVisible()) {
            raster::drawPolylineDecimated(surface, inside, s->points(), mapping,
                                          0xFF000000u | s->color().rgb(), s->xAscending());
        }
    }

    if (keepPanel) {
        return;
    }
    // Back wall frame and ticks.
    const int left = plot.left() - 1;
    const int right = plot.right() + 1;
    const int top = plot.top() - 1;
    const int bottom = plot.bottom() + 1;
    raster::drawLine(surface, whole, left, top, right, top, black);
    raster::drawLine(surface, whole, left, bottom, right, bottom, black);
    raster::drawLine(surface, whole, left, top, left, bottom, black);
    raster::drawLine(surface, whole, right, top, right, bottom, black);
    const quint32 tickColor = 0xFF000000u | textColourOn(panelColor_).rgb();
    for (const Tick& t : l.leftTicks) {
        raster::drawLine(surface, whole, left - kTickLength, t.pixel, left - 1, t.pixel, tickColor);
    }
    for (const Tick& t : l.bottomTicks) {
        raster::drawLine(surface, whole, t.pixel, bottom + 1, t.pixel, bottom + kTickLength,
                         tickColor);
    }

    QPainter painter(&image);
    drawLabels(painter, l, look(font()), QFontMetrics(font()));
}

ChartLook TChart::look(const QFont& font) const {
    return ChartLook{backColor_, panelColor_, font, title_, kTickLength};
}

void TChart::paintChart(QPainter& painter, const QRectF& target, const QSize& layoutSize) const {
    if (target.isEmpty() || layoutSize.isEmpty()) {
        return;
    }
    // Text sized in layout units, whatever the resolution of the device.
    QFont labelFont = font();
    labelFont.setPixelSize(QFontInfo(font()).pixelSize());
    QFont titleFont = labelFont;
    titleFont.setBold(true);
    const QFontMetrics metrics(labelFont, painter.device());
    const QFontMetrics titleMetrics(titleFont, painter.device());
    const Layout l = computeLayout(layoutSize, metrics, titleMetrics);
    std::vector<SeriesLine> lines;
    for (const TFastLineSeries* s : series_) {
        if (s->isVisible()) {
            lines.push_back(SeriesLine{&s->points(), s->color()});
        }
    }
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / layoutSize.width(), target.height() / layoutSize.height());
    const double devicePixelsAcross = target.width() * painter.device()->devicePixelRatioF();
    paintVectors(painter, l, look(labelFont), metrics, lines,
                 layoutSize.width() / devicePixelsAcross);
    painter.restore();
}

QImage TChart::renderImage(const QSize& size) const {
    QImage image(size.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    QFont titleFont = font();
    titleFont.setBold(true);
    renderFrame(image, computeLayout(image.size(), QFontMetrics(font()), QFontMetrics(titleFont)),
                false);
    return image;
}

void TChart::ensureFrame() {
    if (frame_.size() != size()) {
        frame_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        frameValid_ = false;
        framePanel_.reset();
    }
    if (frameValid_ || rendering_) {
        return;
    }
    rendering_ = true;
    const Layout& l = layout();
    PanelKey panel = panelKey(l);
    renderFrame(frame_, l, framePanel_ == panel);
    framePanel_ = std::move(panel);
    frameValid_ = true;
    rendering_ = false;
    // Tell every series; a handler may remove series, so hold them by guarded pointers.
    std::vector<QPointer<TFastLineSeries>> drawn(series_.begin(), series_.end());
    for (const QPointer<TFastLineSeries>& s : drawn) {
        if (s) {
            emit s->afterDrawValues();
        }
    }
}

void TChart::paintEvent(QPaintEvent* event) {
    const QScopedValueRollback<bool> painting(painting_, true);
    const bool wasValid = frameValid_ && frame_.size() == size();
    ensureFrame();
    QPainter painter(this);
    if (!wasValid && event->region() != QRegion(rect())) {
        // A partial paint found the picture redrawn: show all of it.
        update();
    }
    for (const QRect& r : event->region()) {
        painter.drawImage(r.topLeft(), frame_, r);
    }
    if (drag_ == Drag::Zoom) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(zoomBandRect());
    }
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
        framePanel_.reset();
        update();
    }
    const raster::Surface surface{reinterpret_cast<quint32*>(frame_.bits()),
                                  frame_.bytesPerLine() / 4};
    const raster::Clip whole{0, 0, frame_.width() - 1, frame_.height() - 1};
    const quint32 colour = canvas_.penColor().rgb() & 0xFFFFFFu;
    const bool xorMode = canvas_.penMode() == TChartCanvas::PenMode::Xor;

    // Dash patterns as on/off runs of pixels along the line.
    int on = 1;
    int period = 1;
    switch (canvas_.penStyle()) {
        case Qt::DashLine:
            on = 18, period = 24;
            break;
        case Qt::DotLine:
            on = 3, period = 6;
            break;
        case Qt::DashDotLine:
            on = 9, period = 15;
            break;
        default:
            break;
    }
    int step = 0;
    const int width = canvas_.penWidth();
    std::vector<QPoint> pixels;
    raster::forEachLinePixel(from.x(), from.y(), to.x(), to.y(), whole, false,
                             [&](raster::Coord x, raster::Coord y) {
                                 if (step++ % period < on) {
                                     pixels.emplace_back(static_cast<int>(x), static_cast<int>(y));
                                 }
                             });
    if (pixels.empty()) {
        return;
    }
    if (width > 1) {
        // Widen into a set of pixels first, so that XOR touches each one once.
        std::vector<QPoint> wide;
        const int before = (width - 1) / 2;
        for (const QPoint& p : pixels) {
            for (int dy = -before; dy < width - before; ++dy) {
                for (int dx = -before; dx < width - before; ++dx) {
                    const QPoint q(p.x() + dx, p.y() + dy);
                    if (whole.contains(q.x(), q.y())) {
                        wide.push_back(q);
                    }
                }
            }
        }
        std::sort(wide.begin(), wide.end(), [](const QPoint& a, const QPoint& b) {
            return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
        });
        wide.erase(std::unique(wide.begin(), wide.end()), wide.end());
        pixels.swap(wide);
    }
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
    const QRect touched(QPoint(minX, minY), QPoint(maxX, maxY));
    if (!framePanel_ || !framePanel_->plot.contains(touched)) {
        framePanel_.reset();  // the next redraw draws the panel too
    }
    if (frameValid_ && !painting_ && isVisible()) {
        repaint(touched);
    } else {
        update(touched);
    }
}

// ---- mouse ----

QRect TChart::zoomBandRect() const {
    return QRect(dragStart_, dragCurrent_).normalized();
}

QPoint TChart::clampToPlot(const QPoint& pos) const {
    const QRect plot = plotRect();
    return QPoint(std::clamp(pos.x(), plot.left(), plot.right()),
                  std::clamp(pos.y(), plot.top(), plot.bottom()));
}

void TChart::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (drag_ == Drag::None && plotRect().contains(pos)) {
        if (event->button() == Qt::LeftButton) {
            drag_ = Drag::Zoom;
        } else if (event->button() == Qt::RightButton) {
            drag_ = Drag::Scroll;
        }
        dragStart_ = dragCurrent_ = pos;
    }
    QWidget::mousePressEvent(event);
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (drag_ == Drag::Zoom) {
        const QRect before = zoomBandRect();
        dragCurrent_ = clampToPlot(pos);
        update(before.adjusted(-1, -1, 1, 1) | zoomBandRect().adjusted(-1, -1, 1, 1));
    } else if (drag_ == Drag::Scroll) {
        const QPoint delta = pos - dragCurrent_;
        dragCurrent_ = pos;
        if (!delta.isNull()) {
            scrollBy(delta.x(), delta.y());
        }
    }
    emit mouseMoved(pos.x(), pos.y());
    QWidget::mouseMoveEvent(event);
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ == Drag::Zoom && event->button() == Qt::LeftButton) {
        update(zoomBandRect().adjusted(-1, -1, 1, 1));
        dragCurrent_ = clampToPlot(event->position().toPoint());
        drag_ = Drag::None;
        const QPoint delta = dragCurrent_ - dragStart_;
        if (std::abs(delta.x()) >= kMinimumDrag && std::abs(delta.y()) >= kMinimumDrag) {
            if (delta.x() > 0 && delta.y() > 0) {
                zoomRect(QRect(dragStart_, dragCurrent_));
            } else {
                undoZoom();
            }
        }
    } else if (drag_ == Drag::Scroll && event->button() == Qt::RightButton) {
        drag_ = Drag::None;
    }
    QWidget::mouseReleaseEvent(event);
}

// ---- printing ----

void TChart::printPreview(QWidget* parent) {
    TChartPrintPreview preview(this, parent);
    preview.exec();
}

}  // namespace tamlo::chart
