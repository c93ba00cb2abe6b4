#pragma once

#include "ticks.h"

#include <QRect>

namespace tamlo::chart {

class TChartAxis;

// What the axes and series of a chart ask of it: the one way back from a part to its chart.
class ChartHost {
public:
    // Something shown changed: a series' data, colour or visibility, or an axis.
    virtual void seriesChanged() = 0;
    virtual void axisChanged() = 0;
    // Automatic axes keep what they show now (before the data they follow goes away).
    virtual void keepAutomaticRanges() = 0;
    // The extent of the visible series' x (or y) values drawn against an axis; false without
    // data.
    virtual bool dataExtent(const TChartAxis* axis, bool ofX, double& low, double& high) const = 0;
    // The rectangle the series are drawn in and the notation of an axis's labels, from the
    // layout brought up to date.
    virtual QRect plotArea() = 0;
    virtual ValueFormat labelFormat(const TChartAxis* axis) = 0;

protected:
    ~ChartHost() = default;
};

}  // namespace tamlo::chart
