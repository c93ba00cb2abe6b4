#include "chartpainter.h"

#include "raster.h"

#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace tamlo::chart {

QColor textColourOn(const QColor& panel) {
    return panel.lightness() < 110 ? QColor(Qt::white) : QColor(Qt::black);
}

QColor gridColourOn(const QColor& back) {
    return back.lightness() < 128 ? QColor(80, 80, 80) : QColor(192, 192, 192);
}

void drawLabels(QPainter& painter, const Layout& l, const ChartLook& look,
                const QFontMetrics& metrics) {
    painter.setFont(look.font);
    painter.setPen(textColourOn(look.panel));
    const int labelRight = l.plot.left() - 1 - look.tickLength - 2;
    for (const Tick& t : l.leftTicks) {
        const QRect box(0, t.pixel - metrics.height() / 2, labelRight, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, t.text);
    }
    const int labelTop = l.plot.bottom() + 1 + look.tickLength + 2;
    for (const Tick& t : l.bottomTicks) {
        const int w = metrics.horizontalAdvance(t.text);
        painter.drawText(QRect(t.pixel - w / 2 - 1, labelTop, w + 2, metrics.height()),
                         Qt::AlignCenter, t.text);
    }
    if (!look.title.isEmpty() && !l.title.isEmpty()) {
        QFont titleFont = look.font;
        titleFont.setBold(true);
        painter.setFont(titleFont);
        painter.setPen(QColor(0, 0, 255));
        painter.drawText(l.title, Qt::AlignHCenter | Qt::AlignVCenter, look.title);
    }
}

namespace {

// Far-away points are pulled in to a distance no page reaches, so that coordinates stay sane.
constexpr double kFarAway = 1e7;

// Polylines through pixel centres, broken at non-finite values.
class VectorLine {
public:
    explicit VectorLine(double columnWidth) : columnWidth_(columnWidth) {}

    void point(QPointF p) {
        const double column = std::floor(p.x() / columnWidth_);
        if (open_ && column == column_) {
            const int at = count_++;
            if (p.y() < low_.y()) {
                low_ = p, lowAt_ = at;
            }
            if (p.y() > high_.y()) {
                high_ = p, highAt_ = at;
            }
            last_ = p;
            return;
        }
        flushColumn();
        open_ = true;
        column_ = column;
        first_ = low_ = high_ = last_ = p;
        lowAt_ = highAt_ = 0;
        count_ = 1;
    }

    void gap() {
        flushColumn();
        if (!current_.isEmpty()) {
            lines.push_back(current_);
            current_.clear();
        }
    }

    std::vector<QPolygonF> lines;

private:
    void flushColumn() {
        if (!open_) {
            return;
        }
        open_ = false;
        current_ << first_;
        if (count_ == 1) {
            return;
        }
        // Extremes in the order they came, then the last point.
        if (lowAt_ != 0 && lowAt_ < highAt_) {
            current_ << low_;
        }
        if (highAt_ != 0) {
            current_ << high_;
        }
        if (lowAt_ != 0 && lowAt_ > highAt_) {
            current_ << low_;
        }
        current_ << last_;
    }

    double columnWidth_;
    QPolygonF current_;
    bool open_ = false;
    double column_ = 0;
    QPointF first_;
    QPointF low_;
    QPointF high_;
    QPointF last_;
    int lowAt_ = 0;
    int highAt_ = 0;
    int count_ = 0;
};

}  // namespace

void paintVectors(QPainter& painter, const Layout& l, const ChartLook& look,
                  const QFontMetrics& metrics, const std::vector<SeriesLine>& series,
                  double columnWidth) {
    const QRect plot = l.plot;
    painter.fillRect(QRect(QPoint(0, 0), l.size), look.panel);
    if (plot.isEmpty()) {
        return;
    }
    painter.fillRect(plot, look.back);
    // Lines run through the centres of the screen picture's pixels, a pixel of it wide but
    // never thinner than a pixel of the device (thinner lines come out faint).
    const QPointF centre(0.5, 0.5);
    const double width = std::max(1.0, columnWidth);

    QPen grid(gridColourOn(look.back), width);
    grid.setDashPattern({1, 1});
    painter.setPen(grid);
    for (const Tick& t : l.leftTicks) {
        if (t.pixel > plot.top() && t.pixel < plot.bottom()) {
            painter.drawLine(QPointF(plot.left() + 1, t.pixel) + centre,
                             QPointF(plot.right() - 1, t.pixel) + centre);
        }
    }
    for (const Tick& t : l.bottomTicks) {
        if (t.pixel > plot.left() && t.pixel < plot.right()) {
            painter.drawLine(QPointF(t.pixel, plot.top() + 1) + centre,
                             QPointF(t.pixel, plot.bottom() - 1) + centre);
        }
    }

    const double xScale =
        l.bottomMax > l.bottomMin ? (plot.right() - plot.left()) / (l.bottomMax - l.bottomMin) : 0;
    const double yScale =
        l.leftMax > l.leftMin ? (plot.bottom() - plot.top()) / (l.leftMax - l.leftMin) : 0;
    painter.save();
    painter.setClipRect(plot);
    for (const SeriesLine& s : series) {
        VectorLine line(std::max(columnWidth, 1e-6));
        const PointStore& points = *s.points;
        for (int i = 0; i < points.size(); ++i) {
            const double x = points.x(i);
            const double y = points.y(i);
            if (!std::isfinite(x) || !std::isfinite(y)) {
                line.gap();
                continue;
            }
            const double px = plot.left() + (x - l.bottomMin) * xScale;
            const double py = plot.bottom() - (y - l.leftMin) * yScale;
            line.point(
                QPointF(std::clamp(px, -kFarAway, kFarAway), std::clamp(py, -kFarAway, kFarAway)) +
                centre);
        }
        line.gap();
        painter.setPen(QPen(s.colour, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        for (const QPolygonF& p : line.lines) {
            if (p.size() == 1) {
                painter.drawPoint(p.front());
            } else {
                painter.drawPolyline(p);
            }
        }
    }
    painter.restore();

    // Back wall frame and ticks.
    painter.setPen(QPen(Qt::black, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(QPointF(plot.left() - 1, plot.top() - 1) + centre,
                            QPointF(plot.right() + 1, plot.bottom() + 1) + centre));
    painter.setPen(QPen(textColourOn(look.panel), width));
    const int left = plot.left() - 1;
    const int bottom = plot.bottom() + 1;
    for (const Tick& t : l.leftTicks) {
        painter.drawLine(QPointF(left - look.tickLength, t.pixel) + centre,
                         QPointF(left - 1, t.pixel) + centre);
    }
    for (const Tick& t : l.bottomTicks) {
        painter.drawLine(QPointF(t.pixel, bottom + 1) + centre,
                         QPointF(t.pixel, bottom + look.tickLength) + centre);
    }
    drawLabels(painter, l, look, metrics);
}

namespace {

raster::Surface surfaceOf(QImage& image) {
    return raster::Surface{reinterpret_cast<quint32*>(image.bits()), image.bytesPerLine() / 4};
}

// The grid and the series, inside the cleared plot.
void drawPlotContent(const raster::Surface& surface, const raster::Clip& inside, const Layout& l,
                     const ChartLook& look, const std::vector<SeriesLine>& series) {
    const QRect plot = l.plot;
    // Dotted grid at the ticks.
    const quint32 grid = 0xFF000000u | gridColourOn(look.back).rgb();
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
    for (const SeriesLine& s : series) {
        raster::drawPolylineDecimated(surface, inside, *s.points, mapping,
                                      0xFF000000u | s.colour.rgb(), s.xAscending);
    }
}

// The back wall frame, ticks and labels around the plot.
void drawPanelMarks(QImage& image, const Layout& l, const ChartLook& look) {
    const raster::Surface surface = surfaceOf(image);
    const raster::Clip whole{0, 0, image.width() - 1, image.height() - 1};
    const quint32 black = 0xFF000000u;
    const int left = l.plot.left() - 1;
    const int right = l.plot.right() + 1;
    const int top = l.plot.top() - 1;
    const int bottom = l.plot.bottom() + 1;
    raster::drawLine(surface, whole, left, top, right, top, black);
    raster::drawLine(surface, whole, left, bottom, right, bottom, black);
    raster::drawLine(surface, whole, left, top, left, bottom, black);
    raster::drawLine(surface, whole, right, top, right, bottom, black);
    const quint32 tickColor = 0xFF000000u | textColourOn(look.panel).rgb();
    for (const Tick& t : l.leftTicks) {
        raster::drawLine(surface, whole, left - look.tickLength, t.pixel, left - 1, t.pixel,
                         tickColor);
    }
    for (const Tick& t : l.bottomTicks) {
        raster::drawLine(surface, whole, t.pixel, bottom + 1, t.pixel, bottom + look.tickLength,
                         tickColor);
    }

    QPainter painter(&image);
    drawLabels(painter, l, look, QFontMetrics(look.font));
}

}  // namespace

void renderPlot(const raster::Surface& surface, const raster::Clip& inside, const Layout& l,
                const ChartLook& look, const std::vector<SeriesLine>& series) {
    const raster::Coord width = inside.right - inside.left + 1;
    const raster::Coord height = inside.bottom - inside.top + 1;
    if (width <= 0 || height <= 0) {
        return;
    }
    const quint32 back = 0xFF000000u | look.back.rgb();
    const raster::Surface plotSurface{surface.pixel(inside.left, inside.top), surface.stride};
    raster::clear(plotSurface, width, height, {0, 0, width - 1, height - 1}, back, back);
    drawPlotContent(surface, inside, l, look, series);
}

void renderPanel(QImage& image, const Layout& l, const ChartLook& look) {
    if (image.isNull()) {
        return;
    }
    if (l.plot.isEmpty()) {
        image.fill(look.panel);
        return;
    }
    const quint32 panel = 0xFF000000u | look.panel.rgb();
    raster::clear(surfaceOf(image), image.width(), image.height(),
                  raster::Clip::fromRect(l.plot), panel, panel, false);
    drawPanelMarks(image, l, look);
}

void renderFrame(QImage& image, const Layout& l, const ChartLook& look,
                 const std::vector<SeriesLine>& series, bool keepPanel) {
    const QRect plot = l.plot;
    if (image.isNull()) {
        return;
    }
    if (plot.isEmpty()) {
        image.fill(look.panel);
        return;
    }
    const raster::Surface surface = surfaceOf(image);
    const raster::Clip inside = raster::Clip::fromRect(plot.intersected(image.rect()));
    if (keepPanel) {
        renderPlot(surface, inside, l, look, series);
        return;
    }
    // Panel and plot cleared in one pass; the marks around the plot go on last.
    raster::clear(surface, image.width(), image.height(), raster::Clip::fromRect(plot),
                  0xFF000000u | look.panel.rgb(), 0xFF000000u | look.back.rgb());
    drawPlotContent(surface, inside, l, look, series);
    drawPanelMarks(image, l, look);
}

}  // namespace tamlo::chart
