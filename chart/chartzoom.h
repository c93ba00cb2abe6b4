#pragma once

#include <array>
#include <optional>

namespace tamlo::chart {

// A range that still has room between its ends at double precision.
bool usableRange(double low, double high);

// The zoom state of a chart's four axes: the ranges to return to, kept at the first zoom or
// scroll, and whether the chart shows other ranges than those.
class ChartZoom {
public:
    struct AxisRange {
        bool automatic;
        double minimum;
        double maximum;
    };
    using Axes = std::array<AxisRange, 4>;

    bool isZoomed() const { return zoomed_; }
    // Called before each zoom or scroll with the ranges shown then; the first call's are kept.
    void zoomFrom(const Axes& shown);
    // Ends the zoom: the kept ranges, if a zoom or scroll kept any.
    std::optional<Axes> undo();

    // An axis's ends moved inwards by (max - min) * (percent - 100) / 100.
    static std::pair<double, double> zoomed(double low, double high, double percent);
    // An axis's ends shifted by `pixels` of a plot `span` pixels long.
    static std::pair<double, double> scrolled(double low, double high, int pixels, int span);

private:
    bool zoomed_ = false;
    std::optional<Axes> saved_;
};

}  // namespace tamlo::chart
