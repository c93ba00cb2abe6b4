#include "chartzoom.h"

#include <algorithm>
#include <cmath>

namespace tamlo::chart {

bool usableRange(double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        return false;
    }
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    return low == high || high - low > magnitude * 1e-12;
}

void ChartZoom::zoomFrom(const Axes& shown) {
    if (!saved_) {
        saved_ = shown;
    }
    zoomed_ = true;
}

std::optional<ChartZoom::Axes> ChartZoom::undo() {
    zoomed_ = false;
    std::optional<Axes> saved;
    saved.swap(saved_);
    return saved;
}

std::pair<double, double> ChartZoom::zoomed(double low, double high, double percent) {
    const double d = (high - low) * (percent - 100) * 0.01;
    return {low + d, high - d};
}

std::pair<double, double> ChartZoom::scrolled(double low, double high, int pixels, int span) {
    const double shift = pixels * (high - low) / std::max(1, span);
    return {low + shift, high + shift};
}

}  // namespace tamlo::chart
