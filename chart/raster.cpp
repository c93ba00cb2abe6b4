#include "raster.h"

#include "pointstore.h"

namespace tamlo::chart::raster {

namespace {

// Visits the points of a store in order, across the wrap of its ring, from index `begin` to
// `end` (exclusive).
template <class Visit>
void forEachPoint(const PointStore& points, int begin, int end, Visit&& visit) {
    const PointStore::Runs runs = points.runs();
    const int firstEnd = std::min(end, runs.firstCount);
    for (int i = begin; i < firstEnd; ++i) {
        visit(runs.xFirst[i], runs.yFirst[i]);
    }
    for (int i = std::max(begin, runs.firstCount); i < end; ++i) {
        const int j = i - runs.firstCount;
        visit(runs.xSecond[j], runs.ySecond[j]);
    }
}

void fillColumn(const Surface& surface, const Clip& clip, Coord x, Coord yFrom, Coord yTo,
                quint32 colour) {
    if (x < clip.left || x > clip.right) {
        return;
    }
    const Coord top = std::max(std::min(yFrom, yTo), clip.top);
    const Coord bottom = std::min(std::max(yFrom, yTo), clip.bottom);
    quint32* p = top <= bottom ? surface.pixel(x, top) : nullptr;
    for (Coord y = top; y <= bottom; ++y, p += surface.stride) {
        *p = colour;
    }
}

// First index whose pixel column is at least `column`, for points with ascending x.
int firstIndexAtOrRightOf(const PointStore& points, const Mapping& mapping, Coord column) {
    int low = 0;
    int high = points.size();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (mapping.px(points.x(mid)) < column) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

}  // namespace

void drawLine(const Surface& surface, const Clip& clip, Coord x0, Coord y0, Coord x1, Coord y1,
              quint32 colour) {
    if (x0 == x1) {
        fillColumn(surface, clip, x0, y0, y1, colour);
        return;
    }
    if ((x1 - x0 == 1 || x0 - x1 == 1) && y0 != y1) {
        // Steep step to the next column (the common joint of a decimated line): the first half
        // of the rows, rounded up, in the start column, the rest in the end column, as the
        // general walk would place them.
        const Coord rows = y1 > y0 ? y1 - y0 : y0 - y1;
        const Coord sy = y1 > y0 ? 1 : -1;
        const Coord half = (rows + 1) / 2;
        fillColumn(surface, clip, x0, y0, y0 + sy * (half - 1), colour);
        fillColumn(surface, clip, x1, y0 + sy * half, y1, colour);
        return;
    }
    forEachLinePixel(x0, y0, x1, y1, clip, true,
                     [&](Coord x, Coord y) { *surface.pixel(x, y) = colour; });
}

void drawPolylineFull(const Surface& surface, const Clip& clip, const PointStore& points,
                      const Mapping& mapping, quint32 colour) {
    bool havePrevious = false;
    Coord px0 = 0;
    Coord py0 = 0;
    forEachPoint(points, 0, points.size(), [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) {
            havePrevious = false;
            return;
        }
        const Coord px = mapping.px(x);
        const Coord py = mapping.py(y);
        if (havePrevious) {
            drawLine(surface, clip, px0, py0, px, py, colour);
        } else {
            drawLine(surface, clip, px, py, px, py, colour);
        }
        px0 = px;
        py0 = py;
        havePrevious = true;
    });
}

namespace {

// Builds the decimated polyline column by column: the points of one column become one vertical
// span, joined to the neighbouring columns by the segments from and to their end points.
class ColumnPolyline {
public:
    ColumnPolyline(const Surface& surface, const Clip& clip, quint32 colour)
        : surface_(surface), clip_(clip), colour_(colour) {}

    // Consecutive points of one column: the first, the extremes and the last pixel row.
    void run(Coord column, Coord first, Coord low, Coord high, Coord last) {
        if (inColumn_ && column == column_) {
            low_ = std::min(low_, low);
            high_ = std::max(high_, high);
            lastY_ = last;
            return;
        }
        closeColumn();
        if (havePrevious_) {
            drawLine(surface_, clip_, column_, lastY_, column, first, colour_);
        }
        inColumn_ = true;
        havePrevious_ = true;
        column_ = column;
        low_ = low;
        high_ = high;
        lastY_ = last;
    }
    void point(Coord px, Coord py) { run(px, py, py, py, py); }
    void gap() {
        closeColumn();
        inColumn_ = false;
        havePrevious_ = false;
    }
    void finish() { closeColumn(); }

private:
    void closeColumn() {
        if (inColumn_) {
            fillColumn(surface_, clip_, column_, low_, high_, colour_);
        }
    }

    const Surface& surface_;
    const Clip& clip_;
    quint32 colour_;
    bool inColumn_ = false;
    bool havePrevious_ = false;
    Coord column_ = 0;
    Coord low_ = 0;
    Coord high_ = 0;
    Coord lastY_ = 0;
};

}  // namespace

void drawPolylineDecimated(const Surface& surface, const Clip& clip, const PointStore& points,
                           const Mapping& mapping, quint32 colour, bool xAscending) {
    ColumnPolyline line(surface, clip, colour);
    if (!xAscending) {
        forEachPoint(points, 0, points.size(), [&](double x, double y) {
            if (std::isfinite(x) && std::isfinite(y)) {
                line.point(mapping.px(x), mapping.py(y));
            } else {
                line.gap();
            }
        });
        line.finish();
        return;
    }

    // Ascending x: segments between two points left of the clip (or two right of it) have no
    // pixel in it, so keep one point on each side for the segments that cross the edges. Then
    // take the points column by column: find where a column's points end (guessing from the
    // previous column's count) and map only the first, last and extreme values to pixels.
    const int end =
        std::min(points.size(), firstIndexAtOrRightOf(points, mapping, clip.right + 1) + 1);
    int i = std::max(0, firstIndexAtOrRightOf(points, mapping, clip.left) - 1);
    int guess = 1;
    Coord column = i < end ? mapping.px(points.x(i)) : 0;
    while (i < end) {
        int k = std::min(end, i + guess);
        while (k - 1 > i && mapping.px(points.x(k - 1)) > column) {
            --k;
        }
        Coord next = 0;
        while (k < end && (next = mapping.px(points.x(k))) <= column) {
            ++k;
        }
        double first = points.y(i);
        double low = first;
        double high = first;
        bool finite = std::isfinite(first);
        for (int m = i + 1; m < k; ++m) {
            const double v = points.y(m);
            finite = finite && std::isfinite(v);
            low = v < low ? v : low;
            high = v > high ? v : high;
        }
        if (finite) {
            const Coord a = mapping.py(low);
            const Coord b = mapping.py(high);
            line.run(column, mapping.py(first), std::min(a, b), std::max(a, b),
                     mapping.py(points.y(k - 1)));
        } else {
            for (int m = i; m < k; ++m) {
                const double v = points.y(m);
                if (std::isfinite(v)) {
                    line.point(column, mapping.py(v));
                } else {
                    line.gap();
                }
            }
        }
        guess = k - i;
        i = k;
        column = next;
    }
    line.finish();
}

}  // namespace tamlo::chart::raster
