#include "chartinteraction.h"

#include <algorithm>
#include <cmath>

namespace tamlo {

std::optional<int> crossHairPointIndex(double x, double smallest, double largest, int count) {
    const double full = largest - smallest;
    if (!(full > 0) || count <= 0 || !(x >= smallest && x <= largest)) {
        return std::nullopt;
    }
    const double index = std::floor((x - smallest) * count / full);
    return static_cast<int>(std::min(index, static_cast<double>(count - 1)));
}

RangeOrder rangeOrder(float up, float down, double currentMinimum) {
    if (!(up > down)) {
        return RangeOrder::Refused;
    }
    return up >= currentMinimum ? RangeOrder::MaximumFirst : RangeOrder::MinimumFirst;
}

std::optional<int> trackBarPosition(double axisMinimum, double smallest, double largest) {
    const double full = largest - smallest;
    if (!(full > 0)) {
        return std::nullopt;
    }
    const double position = std::floor((axisMinimum - smallest) * 100 / full);
    return static_cast<int>(std::clamp(position, 0.0, 100.0));
}

TrackBarScroll trackBarScroll(int position, double smallest, double largest, double axisMinimum,
                              double axisMaximum) {
    const double span = axisMaximum - axisMinimum;
    const double start = smallest + position * (largest - smallest) * 0.01;
    return {start, start + span, start > axisMinimum};
}

}  // namespace tamlo
