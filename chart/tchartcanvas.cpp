#include "tchartcanvas.h"

#include "raster.h"

#include <algorithm>

namespace tamlo::chart {

void TChartCanvas::lineTo(int x, int y) {
    drawLine_(position_, QPoint(x, y));
    position_ = QPoint(x, y);
}

std::vector<QPoint> TChartCanvas::linePixels(QPoint from, QPoint to, const QRect& bounds) const {
    const raster::Clip whole = raster::Clip::fromRect(bounds);
    // Dash patterns as on/off runs of pixels along the line.
    int on = 1;
    int period = 1;
    switch (penStyle_) {
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
    std::vector<QPoint> pixels;
    raster::forEachLinePixel(from.x(), from.y(), to.x(), to.y(), whole, false,
                             [&](raster::Coord x, raster::Coord y) {
                                 if (step++ % period < on) {
                                     pixels.emplace_back(static_cast<int>(x), static_cast<int>(y));
                                 }
                             });
    if (penWidth_ <= 1 || pixels.empty()) {
        return pixels;
    }
    // Widen into a set of pixels, so that XOR touches each one once.
    std::vector<QPoint> wide;
    const int before = (penWidth_ - 1) / 2;
    for (const QPoint& p : pixels) {
        for (int dy = -before; dy < penWidth_ - before; ++dy) {
            for (int dx = -before; dx < penWidth_ - before; ++dx) {
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
    return wide;
}

}  // namespace tamlo::chart
