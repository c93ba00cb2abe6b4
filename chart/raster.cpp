#include "raster.h"

#include "pointstore.h"

#include <cstring>
#include <cwchar>

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

namespace {

void fillRow(quint32* from, quint32* to, quint32 colour) {
    if (to <= from) {
        return;
    }
    if constexpr (sizeof(wchar_t) == sizeof(quint32)) {
        // The C library's fill of 32-bit units uses the widest stores the processor has,
        // which the clear of a whole picture is bound by.
        std::wmemset(reinterpret_cast<wchar_t*>(from), static_cast<wchar_t>(colour),
                     static_cast<std::size_t>(to - from));
    } else {
        std::fill(from, to, colour);
    }
}

}  // namespace

void clear(const Surface& surface, Coord width, Coord height, const Clip& inner, quint32 panel,
           quint32 back, bool fillInner) {
    const Coord left = std::clamp<Coord>(inner.left, 0, width);
    const Coord right = std::clamp<Coord>(inner.right + 1, left, width);
    for (Coord y = 0; y < height; ++y) {
        quint32* row = surface.pixel(0, y);
        if (y < inner.top || y > inner.bottom || left == right) {
            fillRow(row, row + width, panel);
            continue;
        }
        fillRow(row, row + left, panel);
        if (fillInner) {
            fillRow(row + left, row + right, back);
        }
        fillRow(row + right, row + width, panel);
    }
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
// span, joined to the neighbouring columns by the segments from and to their end points. The
// pixels a column gets (its span and the halves of the steps to the next columns) are one
// unbroken run of rows, written once when the column is done.
class ColumnPolyline {
public:
    ColumnPolyline(const Surface& surface, const Clip& clip, quint32 colour)
        : surface_(surface), clip_(clip), colour_(colour) {}

    // Consecutive points of one column: the first, the extremes and the last pixel row; first
    // and last lie within [low, high].
    void run(Coord column, Coord first, Coord low, Coord high, Coord last) {
        if (open_ && column == column_) {
            top_ = std::min(top_, low);
            bottom_ = std::max(bottom_, high);
            lastY_ = last;
            return;
        }
        Coord top = low;
        Coord bottom = high;
        if (open_) {
            const Coord dx = column - column_;
            if (dx == 1 || dx == -1) {
                // A step to the next column: the first half of the rows, rounded up, in this
                // column, the rest in the next one, as drawLine places them. Without branches
                // on the direction, which noise makes unpredictable; a level step adds
                // nothing, its pixels lie within both columns' spans.
                const Coord rows = first > lastY_ ? first - lastY_ : lastY_ - first;
                const Coord sy = first > lastY_ ? 1 : -1;
                const Coord half = (rows + 1) / 2;
                include(lastY_ + sy * std::max<Coord>(half - 1, 0));
                top = std::min(top, lastY_ + sy * half);
                bottom = std::max(bottom, lastY_ + sy * half);
            } else {
                drawLine(surface_, clip_, column_, lastY_, column, first, colour_);
            }
            closeColumn();
        }
        open_ = true;
        column_ = column;
        top_ = top;
        bottom_ = bottom;
        lastY_ = last;
    }
    void point(Coord px, Coord py) { run(px, py, py, py, py); }
    void gap() {
        closeColumn();
        open_ = false;
    }
    void finish() { closeColumn(); }

private:
    void include(Coord row) {
        top_ = std::min(top_, row);
        bottom_ = std::max(bottom_, row);
    }
    void closeColumn() {
        if (open_) {
            fillColumn(surface_, clip_, column_, top_, bottom_, colour_);
        }
    }

    const Surface& surface_;
    const Clip& clip_;
    quint32 colour_;
    bool open_ = false;
    Coord column_ = 0;
    Coord top_ = 0;
    Coord bottom_ = 0;
    Coord lastY_ = 0;
};

// Two doubles in one vector register, and the comparison mask of two (GCC and Clang vector
// extensions).
using Pair = double __attribute__((vector_size(16)));
using PairMask = long long __attribute__((vector_size(16)));

// Lowest and highest of n > 0 values; false when one of them is not finite (x - x is 0 for a
// finite x and NaN otherwise, and NaN != 0). From four values on they are taken four at a time
// in two independent pairs of lanes, the last four overlapping the ones before: minimum and
// maximum do not mind seeing a value twice, and the loop runs the same number of times for
// the column widths met most (no mispredicted exit for a few more or fewer points).
bool spanExtremes(const double* v, int n, double& low, double& high) {
    if (n < 4) {
        double l = v[0];
        double h = v[0];
        bool finite = v[0] - v[0] == 0;
        for (int i = 1; i < n; ++i) {
            l = std::min(l, v[i]);
            h = std::max(h, v[i]);
            finite = finite && v[i] - v[i] == 0;
        }
        low = l;
        high = h;
        return finite;
    }
    const Pair zero = {0, 0};
    Pair lo0 = {v[0], v[0]};
    Pair hi0 = lo0;
    Pair lo1 = lo0;
    Pair hi1 = lo0;
    PairMask bad = {0, 0};
    const auto take = [&](const double* at) {
        Pair a;
        Pair b;
        std::memcpy(&a, at, sizeof a);
        std::memcpy(&b, at + 2, sizeof b);
        lo0 = a < lo0 ? a : lo0;
        hi0 = a > hi0 ? a : hi0;
        lo1 = b < lo1 ? b : lo1;
        hi1 = b > hi1 ? b : hi1;
        bad |= ((a - a) != zero) | ((b - b) != zero);
    };
    for (int i = 0; i + 4 < n; i += 4) {
        take(v + i);
    }
    take(v + n - 4);
    lo0 = lo1 < lo0 ? lo1 : lo0;
    hi0 = hi1 > hi0 ? hi1 : hi0;
    low = std::min(lo0[0], lo0[1]);
    high = std::max(hi0[0], hi0[1]);
    return (bad[0] | bad[1]) == 0;
}

// Points [from, to) of one contiguous span with ascending x, column by column. A column's end
// is estimated from the x where the next column starts and the span's mean spacing (exact for
// evenly spaced records), moved by comparing x with that edge, then made exact by mapping the
// two points on either side of it. The estimate and the next column do not wait for the
// values read: only the checks do, and they rarely fail.
void decimateSpan(ColumnPolyline& line, const Mapping& mapping, const double* xs, const double* ys,
                  int from, int to) {
    if (from >= to) {
        return;
    }
    if (to - from < 4 * (mapping.px(xs[to - 1]) - mapping.px(xs[from]) + 1)) {
        // A few points a column: mapping each point costs less than finding the columns.
        for (int m = from; m < to; ++m) {
            if (std::isfinite(ys[m])) {
                line.point(mapping.px(xs[m]), mapping.py(ys[m]));
            } else {
                line.gap();
            }
        }
        return;
    }
    const double perPixel = 1 / mapping.xScale;
    const double x0 = xs[from];
    const double spread = xs[to - 1] - x0;
    const double perPoint = spread > 0 ? (to - 1 - from) / spread : 0;
    int i = from;
    Coord column = mapping.px(xs[i]);
    while (i < to) {
        const double edge = mapping.xMin + (column + 0.5 - mapping.xOrigin) * perPixel;
        // Points from i past the column's start; NaN (no spacing to go by) starts at i.
        const double ahead = (edge - x0) * perPoint - (i - from);
        int k = i;
        if (ahead >= to - i) {
            k = to;
        } else if (ahead > 0) {
            const int whole = static_cast<int>(ahead);
            k = i + whole + (whole < ahead ? 1 : 0);
        }
        // The estimate holds when the point before it lies in this column and the point at
        // it beyond; the same end as the walks below would find, since columns ascend with x.
        const bool endsHere = (k == i || mapping.px(xs[k - 1]) <= column) &&
                              (k == to || mapping.px(xs[k]) > column);
        if (!endsHere) {
            while (k < to && xs[k] < edge) {
                ++k;
            }
            while (k > i && !(xs[k - 1] < edge)) {
                --k;
            }
            while (k > i && mapping.px(xs[k - 1]) > column) {
                --k;
            }
            while (k < to && mapping.px(xs[k]) <= column) {
                ++k;
            }
        }
        if (k == i) {
            column = mapping.px(xs[i]);  // no point in this column: on to the next point's
            continue;
        }
        double low = 0;
        double high = 0;
        if (spanExtremes(ys + i, k - i, low, high)) {
            const Coord a = mapping.py(low);
            const Coord b = mapping.py(high);
            line.run(column, mapping.py(ys[i]), std::min(a, b), std::max(a, b),
                     mapping.py(ys[k - 1]));
        } else {
            for (int m = i; m < k; ++m) {
                if (std::isfinite(ys[m])) {
                    line.point(column, mapping.py(ys[m]));
                } else {
                    line.gap();
                }
            }
        }
        i = k;
        ++column;
    }
}

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
    // pixel in it, so keep one point on each side for the segments that cross the edges. A
    // column split by the wrap of the ring is joined again by the polyline.
    const int end =
        std::min(points.size(), firstIndexAtOrRightOf(points, mapping, clip.right + 1) + 1);
    const int begin = std::max(0, firstIndexAtOrRightOf(points, mapping, clip.left) - 1);
    const PointStore::Runs runs = points.runs();
    decimateSpan(line, mapping, runs.xFirst, runs.yFirst, begin, std::min(end, runs.firstCount));
    decimateSpan(line, mapping, runs.xSecond, runs.ySecond,
                 std::max(begin, runs.firstCount) - runs.firstCount, end - runs.firstCount);
    line.finish();
}

}  // namespace tamlo::chart::raster
