#pragma once

#include <QString>

#include <stdexcept>

namespace tamlo::chart {

class TChart;

// Refused axis range; what() is the text shown to the user.
class AxisRangeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One of the four axes of a chart. The series are drawn against the left and bottom axes; the
// top and right axes only take part in zoom and scroll.
class TChartAxis {
public:
    enum class Position { Left, Top, Right, Bottom };
    enum class LabelStyle { Value, PointLabel };

    TChartAxis(const TChartAxis&) = delete;
    TChartAxis& operator=(const TChartAxis&) = delete;

    Position position() const { return position_; }
    bool isHorizontal() const {
        return position_ == Position::Top || position_ == Position::Bottom;
    }
    TChart* chart() const { return chart_; }

    // The shown range. An automatic axis follows the data of the visible series on it and keeps
    // its last range while there is none.
    double minimum() const;
    double maximum() const;
    bool automatic() const { return automatic_; }

    // Explicit ends make the axis fixed. Throws AxisRangeError when the new end would pass the
    // other one (or is not a finite number); set both ends in the order that keeps
    // minimum <= maximum.
    void setMinimum(double value);
    void setMaximum(double value);
    void setMinMax(double minimum, double maximum);
    void setAutomatic(bool automatic);

    // Smallest step between two value labels; the labels are spaced further apart when they
    // would overlap.
    double increment() const { return increment_; }
    void setIncrement(double increment);

    LabelStyle labelStyle() const { return labelStyle_; }
    void setLabelStyle(LabelStyle style);

    // Smallest and largest x (and y) of the visible series drawn against this axis; 0 without data.
    double minXValue() const;
    double maxXValue() const;
    double minYValue() const;
    double maxYValue() const;

    // The text of a value label of this axis: general format, 5 significant digits.
    QString formatValue(double value) const;

    // Pixel position of a value and value at a pixel position, across the plotting rectangle.
    double valueAt(int pixel) const;
    int pixelOf(double value) const;

private:
    friend class TChart;
    TChartAxis(TChart* chart, Position position);

    // The range as stored, without asking the data (used by the chart's own bookkeeping).
    void storeRange(double minimum, double maximum) const;
    double dataEnd(bool ofX, bool highEnd) const;

    TChart* chart_;
    Position position_;
    bool automatic_ = false;
    mutable double minimum_ = 0;
    mutable double maximum_ = 0;
    double increment_ = 0;
    LabelStyle labelStyle_ = LabelStyle::Value;
};

}  // namespace tamlo::chart
