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

void drawPolylineDecimated(const Surface& surface, const Clip& clip, const PointStore& points,
                           const Mapping& mapping, quint32 colour, bool xAscending) {
    int begin = 0;
    int end = points.size();
    if (xAscending && end > 0) {
        // Segments between two points left of the clip (or two right of it) have no pixel in it;
        // keep one point on each side for the segments that cross the edges.
        begin = std::max(0, firstIndexAtOrRightOf(points, mapping, clip.left) - 1);
        end = std::min(end, firstIndexAtOrRightOf(points, mapping, clip.right + 1) + 1);
    }

    // The column being gathered, and the last point of the column before it.
    bool inColumn = false;
    Coord column = 0;
    Coord low = 0;
    Coord high = 0;
    Coord lastY = 0;
    auto closeColumn = [&] {
        if (inColumn) {
            fillColumn(surface, clip, column, low, high, colour);
        }
    };
    bool havePrevious = false;
    forEachPoint(points, begin, end, [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) {
            closeColumn();
            inColumn = false;
            havePrevious = false;
            return;
        }
        const Coord px = mapping.px(x);
        const Coord py = mapping.py(y);
        if (inColumn && px == column) {
            low = std::min(low, py);
            high = std::max(high, py);
            lastY = py;
            return;
        }
        closeColumn();
        if (havePrevious) {
            drawLine(surface, clip, column, lastY, px, py, colour);
        }
        inColumn = true;
        havePrevious = true;
        column = px;
        low = high = lastY = py;
    });
    closeColumn();
}

}  // namespace tamlo::chart::raster
