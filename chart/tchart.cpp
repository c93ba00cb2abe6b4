#include "tchart.h"

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

// 1, 2 or 5 times a power of ten, at least `step`.
double niceStep(double step) {
    if (!(step > 0) || !std::isfinite(step)) {
        return 1;
    }
    const double power = std::pow(10.0, std::floor(std::log10(step)));
    const double fraction = step / power;
    const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
    return nice * power;
}

// Value ticks from low to high, at least minimumGap pixels apart over pixelSpan pixels.
std::vector<double> valueTicks(double low, double high, double pixelSpan, double minimumGap,
                               double minimumStep, double& step) {
    std::vector<double> ticks;
    step = 0;
    if (!std::isfinite(low) || !std::isfinite(high)) {
        return ticks;
    }
    if (!(high > low) || pixelSpan <= 0) {
        ticks.push_back(low);
        return ticks;
    }
    step = niceStep(std::max((high - low) * minimumGap / pixelSpan, minimumStep));
    const double first = std::ceil(low / step - 1e-9);
    const double last = std::floor(high / step + 1e-9);
    if (!(last - first < 1000)) {
        return ticks;
    }
    for (double k = first; k <= last; ++k) {
        double v = k * step;
        if (std::fabs(v) < step * 1e-9) {
            v = 0;
        }
        ticks.push_back(v);
    }
    return ticks;
}

// Enough significant digits to tell ticks `step` apart, at least the axis' usual five.
QString tickText(double value, double step, double magnitude) {
    int digits = 5;
    if (step > 0 && magnitude > 0) {
        digits = std::clamp(static_cast<int>(std::ceil(std::log10(magnitude / step))) + 1, 5, 15);
    }
    return QString::number(value == 0 ? 0.0 : value, 'g', digits);
}

QColor textColorOn(const QColor& background) {
    return background.lightness() < 110 ? QColor(Qt::white) : QColor(Qt::black);
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
    // Automatic axes keep the range they show now.
    for (auto& axis : axes_) {
        axis->minimum();
    }
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

const TChart::Layout& TChart::layout() const {
    if (!layoutValid_ || layout_.size != size()) {
        layout_ = computeLayout(size());
        layoutValid_ = true;
    }
    return layout_;
}

TChart::Layout TChart::computeLayout(const QSize& size) const {
    Layout l;
    l.size = size;
    const QFontMetrics metrics(font());
    QFont titleFont = font();
    titleFont.setBold(true);
    const QFontMetrics titleMetrics(titleFont);

    const int width = size.width();
    const int height = size.height();
    const int marginLeft = width * margins_.left() / 100;
    const int marginRight = width * margins_.right() / 100;
    const int marginTop = height * margins_.top() / 100;
    const int marginBottom = height * margins_.bottom() / 100;

    int top = marginTop;
    if (!title_.isEmpty()) {
        l.title = QRect(0, 2, width, titleMetrics.height());
        top = l.title.bottom() + 3 + marginTop;
    }
    QRect plot;
    plot.setTop(top + metrics.height() / 2);
    plot.setBottom(
        std::max(plot.top() + 1, height - 1 - marginBottom - metrics.height() - kTickLength - 3));
    l.plot = plot;

    l.leftMin = leftAxis()->minimum();
    l.leftMax = leftAxis()->maximum();
    computeLeftTicks(l, metrics);
    int labelWidth = 0;
    for (const Tick& t : l.leftTicks) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(t.text));
    }
    plot.setLeft(marginLeft + labelWidth + kTickLength + 4);
    plot.setRight(std::max(plot.left() + 1, width - 1 - marginRight));
    l.plot = plot;
    // Tick pixels were placed on the final vertical extent already.

    l.bottomMin = bottomAxis()->minimum();
    l.bottomMax = bottomAxis()->maximum();
    computeBottomTicks(l, metrics);
    return l;
}

void TChart::computeLeftTicks(Layout& l, const QFontMetrics& metrics) const {
    const TChartAxis& axis = *leftAxis();
    const int span = l.plot.bottom() - l.plot.top();
    double step = 0;
    const std::vector<double> values =
        valueTicks(l.leftMin, l.leftMax, span, metrics.height() + 4, axis.increment(), step);
    const double magnitude = std::max(std::fabs(l.leftMin), std::fabs(l.leftMax));
    const double range = l.leftMax - l.leftMin;
    for (double v : values) {
        const int pixel = range > 0 ? static_cast<int>(raster::toPixel(
                                          l.plot.bottom() - (v - l.leftMin) * span / range))
                                    : l.plot.bottom();
        l.leftTicks.push_back(
            Tick{pixel, step > 0 ? tickText(v, step, magnitude) : axis.formatValue(v)});
    }
}

void TChart::computeBottomTicks(Layout& l, const QFontMetrics& metrics) const {
    const TChartAxis& axis = *bottomAxis();
    const int span = l.plot.right() - l.plot.left();
    const double range = l.bottomMax - l.bottomMin;
    const double scale = range > 0 ? span / range : 0;
    auto pixelOf = [&](double x) {
        return static_cast<int>(raster::toPixel(l.plot.left() + (x - l.bottomMin) * scale));
    };
    const int gap = metrics.horizontalAdvance(QStringLiteral("  "));

    if (axis.labelStyle() == TChartAxis::LabelStyle::Value) {
        const int widest = std::max(metrics.horizontalAdvance(axis.formatValue(l.bottomMin)),
                                    metrics.horizontalAdvance(axis.formatValue(l.bottomMax)));
        double step = 0;
        const std::vector<double> values =
            valueTicks(l.bottomMin, l.bottomMax, span, widest + 2 * gap, axis.increment(), step);
        const double magnitude = std::max(std::fabs(l.bottomMin), std::fabs(l.bottomMax));
        for (double v : values) {
            l.bottomTicks.push_back(
                Tick{pixelOf(v), step > 0 ? tickText(v, step, magnitude) : axis.formatValue(v)});
        }
        return;
    }

    // Point labels of the first series, one per bucket of x values wide enough for a label,
    // so that they keep their places while the data scrolls.
    if (series_.empty()) {
        return;
    }
    const TFastLineSeries& first = *series_.front();
    const PointStore& points = first.points();
    const int n = points.size();
    if (n == 0) {
        return;
    }
    int widest = 0;
    // Labels come through the series, which may make them on demand: only the points that
    // get a label are asked for one.
    for (int i : {0, n / 2, n - 1}) {
        widest = std::max(widest, metrics.horizontalAdvance(first.label(i)));
    }
    if (widest == 0) {
        widest = metrics.horizontalAdvance(QStringLiteral("00-00 00:00:00"));
    }
    const double bucket = scale > 0 ? niceStep((widest + gap) / scale) : 0;
    int lastRight = std::numeric_limits<int>::min() / 2;
    auto consider = [&](int i) {
        const double x = points.x(i);
        if (!std::isfinite(x) || x < l.bottomMin || x > l.bottomMax) {
            return;
        }
        const QString text = first.label(i);
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); })) {
            return;
        }
        const int pixel = pixelOf(x);
        const int w = metrics.horizontalAdvance(text);
        if (pixel - w / 2 < lastRight + gap) {
            return;
        }
        l.bottomTicks.push_back(Tick{pixel, text});
        lastRight = pixel - w / 2 + w;
    };
    if (bucket <= 0) {
        consider(0);
        return;
    }
    if (first.xAscending()) {
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

// ---- drawing ----

void TChart::renderFrame(QImage& image, const Layout& l) const {
    const QRect plot = l.plot;
    const quint32 back = 0xFF000000u | backColor_.rgb();
    const quint32 black = 0xFF000000u;
    {
        // Qt's solid fills are the fastest way to clear; each pixel is written once.
        QPainter fill(&image);
        fill.setCompositionMode(QPainter::CompositionMode_Source);
        const QRect all = image.rect();
        fill.fillRect(QRect(0, 0, all.width(), plot.top()), panelColor_);
        fill.fillRect(QRect(0, plot.bottom() + 1, all.width(), all.height()), panelColor_);
        fill.fillRect(QRect(0, plot.top(), plot.left(), plot.height()), panelColor_);
        fill.fillRect(QRect(plot.right() + 1, plot.top(), all.width(), plot.height()), panelColor_);
        fill.fillRect(plot, QColor::fromRgb(back));
    }
    const raster::Surface surface{reinterpret_cast<quint32*>(image.bits()),
                                  image.bytesPerLine() / 4};
    const raster::Clip whole{0, 0, image.width() - 1, image.height() - 1};
    const raster::Clip inside = raster::Clip::fromRect(plot);

    // Dotted grid at the ticks.
    const quint32 grid =
        0xFF000000u | (backColor_.lightness() < 128 ? qRgb(80, 80, 80) : qRgb(192, 192, 192));
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

    // Back wall frame and ticks.
    const int left = plot.left() - 1;
    const int right = plot.right() + 1;
    const int top = plot.top() - 1;
    const int bottom = plot.bottom() + 1;
    raster::drawLine(surface, whole, left, top, right, top, black);
    raster::drawLine(surface, whole, left, bottom, right, bottom, black);
    raster::drawLine(surface, whole, left, top, left, bottom, black);
    raster::drawLine(surface, whole, right, top, right, bottom, black);
    const QColor textColor = textColorOn(panelColor_);
    const quint32 tickColor = 0xFF000000u | textColor.rgb();
    for (const Tick& t : l.leftTicks) {
        raster::drawLine(surface, whole, left - kTickLength, t.pixel, left - 1, t.pixel, tickColor);
    }
    for (const Tick& t : l.bottomTicks) {
        raster::drawLine(surface, whole, t.pixel, bottom + 1, t.pixel, bottom + kTickLength,
                         tickColor);
    }

    QPainter painter(&image);
    painter.setFont(font());
    painter.setPen(textColor);
    const QFontMetrics metrics(font());
    const int labelRight = left - kTickLength - 2;
    for (const Tick& t : l.leftTicks) {
        const QRect box(0, t.pixel - metrics.height() / 2, labelRight, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, t.text);
    }
    const int labelTop = bottom + kTickLength + 2;
    for (const Tick& t : l.bottomTicks) {
        const int w = metrics.horizontalAdvance(t.text);
        painter.drawText(QRect(t.pixel - w / 2 - 1, labelTop, w + 2, metrics.height()),
                         Qt::AlignCenter, t.text);
    }
    if (!title_.isEmpty()) {
        QFont titleFont = font();
        titleFont.setBold(true);
        painter.setFont(titleFont);
        painter.setPen(QColor(0, 0, 255));
        painter.drawText(l.title, Qt::AlignHCenter | Qt::AlignVCenter, title_);
    }
}

QImage TChart::renderImage(const QSize& size) const {
    QImage image(size.expandedTo(QSize(8, 8)), QImage::Format_RGB32);
    renderFrame(image, computeLayout(image.size()));
    return image;
}

void TChart::ensureFrame() {
    if (frame_.size() != size()) {
        frame_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        frameValid_ = false;
    }
    if (frameValid_ || rendering_) {
        return;
    }
    rendering_ = true;
    renderFrame(frame_, layout());
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
