#pragma once

// Pixel work of the chart: a line rasteriser with exact clipping, the polyline of a series drawn
// point by point, and the same polyline decimated to the minimum and maximum of each pixel
// column. Both polylines go through the one rasteriser, so they give the same pixels.

#include <QRect>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tamlo::chart {
class PointStore;
}

namespace tamlo::chart::raster {

using Coord = std::int64_t;

// Inclusive pixel bounds.
struct Clip {
    Coord left;
    Coord top;
    Coord right;
    Coord bottom;
    static Clip fromRect(const QRect& r) { return {r.left(), r.top(), r.right(), r.bottom()}; }
    bool contains(Coord x, Coord y) const {
        return x >= left && x <= right && y >= top && y <= bottom;
    }
};

// 32-bit pixels of an image (RGB32 or ARGB32_Premultiplied).
struct Surface {
    quint32* bits;
    qsizetype stride;  // in pixels
    quint32* pixel(Coord x, Coord y) const { return bits + y * stride + x; }
};

// Pixel positions are kept within +-2^29 so that the rasteriser's products fit in 64 bits;
// points that far out are off any screen by a factor of 10^5.
constexpr double kPixelLimit = 536870912.0;

// Round half up. The offset keeps the truncating conversion a floor.
inline Coord toPixel(double v) {
#if defined(__SSE2__)
    // Minimum and maximum instructions, not the branches std::clamp compiles to: this runs
    // several times for every column of every curve. NaN comes out as -kPixelLimit.
    v = _mm_cvtsd_f64(_mm_min_sd(_mm_max_sd(_mm_set_sd(v), _mm_set_sd(-kPixelLimit)),
                                 _mm_set_sd(kPixelLimit)));
#else
    v = std::clamp(v, -kPixelLimit, kPixelLimit);
#endif
    return static_cast<Coord>(v + 0.5 + 1073741824.0) - 1073741824;
}

// Calls plot(x, y) for every pixel of the line from (x0, y0) to (x1, y1) inside the clip, from the
// start on. The pixel of the major-axis step i lies at the minor offset round(i * minor / major),
// halves rounded up; a line gives the same pixels whatever part of it the clip leaves.
template <class Plot>
void forEachLinePixel(Coord x0, Coord y0, Coord x1, Coord y1, const Clip& clip, bool includeLast,
                      Plot&& plot) {
    if (std::max(x0, x1) < clip.left || std::min(x0, x1) > clip.right ||
        std::max(y0, y1) < clip.top || std::min(y0, y1) > clip.bottom) {
        return;
    }
    const Coord adx = x1 >= x0 ? x1 - x0 : x0 - x1;
    const Coord ady = y1 >= y0 ? y1 - y0 : y0 - y1;
    const Coord sx = x1 >= x0 ? 1 : -1;
    const Coord sy = y1 >= y0 ? 1 : -1;
    if (adx == 0 && ady == 0) {
        if (includeLast) {
            plot(x0, y0);
        }
        return;
    }
    // Walk the major axis; (a0, b0) is the start in (major, minor) terms.
    const bool xMajor = adx >= ady;
    const Coord major = xMajor ? adx : ady;
    const Coord minor = xMajor ? ady : adx;
    const Coord sMajor = xMajor ? sx : sy;
    const Coord sMinor = xMajor ? sy : sx;
    const Coord a0 = xMajor ? x0 : y0;
    const Coord b0 = xMajor ? y0 : x0;
    const Coord aLow = xMajor ? clip.left : clip.top;
    const Coord aHigh = xMajor ? clip.right : clip.bottom;
    const Coord bLow = xMajor ? clip.top : clip.left;
    const Coord bHigh = xMajor ? clip.bottom : clip.right;

    const Coord last = includeLast ? major : major - 1;
    Coord iBegin = sMajor > 0 ? aLow - a0 : a0 - aHigh;
    Coord iEnd = sMajor > 0 ? aHigh - a0 : a0 - aLow;
    iBegin = std::max<Coord>(iBegin, 0);
    iEnd = std::min(iEnd, last);
    if (iBegin > iEnd) {
        return;
    }
    const Coord twoMajor = 2 * major;
    Coord offset = 0;
    Coord remainder = major;
    if (iBegin > 0) {
        const Coord numerator = 2 * iBegin * minor + major;
        offset = numerator / twoMajor;
        remainder = numerator % twoMajor;
    }
    for (Coord i = iBegin; i <= iEnd; ++i) {
        const Coord b = b0 + sMinor * offset;
        if (b >= bLow && b <= bHigh) {
            const Coord a = a0 + sMajor * i;
            if (xMajor) {
                plot(a, b);
            } else {
                plot(b, a);
            }
        } else if ((sMinor > 0 && b > bHigh) || (sMinor < 0 && b < bLow)) {
            break;  // left the clip for good
        }
        remainder += 2 * minor;
        if (remainder >= twoMajor) {
            remainder -= twoMajor;
            ++offset;
        }
    }
}

// Maps data values to pixel positions: px = xOrigin + (x - xMin) * xScale,
// py = yOrigin - (y - yMin) * yScale.
struct Mapping {
    double xMin = 0;
    double xScale = 0;
    double xOrigin = 0;
    double yMin = 0;
    double yScale = 0;
    double yOrigin = 0;
    Coord px(double x) const { return toPixel(xOrigin + (x - xMin) * xScale); }
    Coord py(double y) const { return toPixel(yOrigin - (y - yMin) * yScale); }
};

void drawLine(const Surface& surface, const Clip& clip, Coord x0, Coord y0, Coord x1, Coord y1,
              quint32 colour);

// Clears a picture of width x height pixels in one pass over its scan lines: the back colour
// inside `inner` (which may be empty: left > right or top > bottom), the panel colour around it.
// Without fillInner the pixels inside `inner` are left as they are.
void clear(const Surface& surface, Coord width, Coord height, const Clip& inner, quint32 panel,
           quint32 back, bool fillInner = true);

// The polyline of all points, segment by segment. Non-finite values break the line; a point
// without neighbours on either side is drawn as one pixel.
void drawPolylineFull(const Surface& surface, const Clip& clip, const PointStore& points,
                      const Mapping& mapping, quint32 colour);

// The same picture at a cost bounded by the columns covered: consecutive points falling into one
// pixel column are drawn as one vertical span between their extremes plus the segments that
// enter and leave the column. With xAscending (finite x, never decreasing) the points outside
// the clip are skipped by binary search and only a column's first, last and extreme values are
// mapped to pixels.
void drawPolylineDecimated(const Surface& surface, const Clip& clip, const PointStore& points,
                           const Mapping& mapping, quint32 colour, bool xAscending);

}  // namespace tamlo::chart::raster
