#pragma once

#include <optional>

namespace tamlo {

// The arithmetic behind the history charts' cross-hair, value range and track bar, apart from
// any widget so that it can be checked on its own.

// Shown in a value box for a recorder sample that holds no value.
inline constexpr char kNoDataText[] = "  --  ";
inline constexpr char kRangeOrderText[] = "上限要大于下限！";

// The point under the cross-hair of a window of `count` points whose x values run from
// `smallest` to `largest`: floor((x - smallest) * count / (largest - smallest)), at most
// count - 1. Empty when the window has no width or x lies outside it.
std::optional<int> crossHairPointIndex(double x, double smallest, double largest, int count);

// How new value-axis ends are applied: the order keeps minimum <= maximum at every step.
enum class RangeOrder { Refused, MaximumFirst, MinimumFirst };
// Refused unless up > down; the maximum goes first when up is not below the current minimum.
RangeOrder rangeOrder(float up, float down, double currentMinimum);

// Track-bar position (0..100) for a time axis that starts at `axisMinimum` while the data run
// from `smallest` to `largest`. Empty when the data have no width.
std::optional<int> trackBarPosition(double axisMinimum, double smallest, double largest);

// The time axis after the track bar moved to `position`: the same visible width, starting at
// smallest + position % of the data's width. maximumFirst tells in which order to set the ends.
struct TrackBarScroll {
    double minimum;
    double maximum;
    bool maximumFirst;
};
TrackBarScroll trackBarScroll(int position, double smallest, double largest, double axisMinimum,
                              double axisMaximum);

}  // namespace tamlo
