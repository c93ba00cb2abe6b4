#pragma once

#include <QString>

namespace tamlo::chart {

class ChartHost;
class TChart;

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
    // the range it showed last while there is none. Reading changes nothing.
    double minimum() const;
    double maximum() const;
    bool automatic() const { return automatic_; }

    // Explicit ends make the axis fixed. An end that would pass the other one (or is not a
    // finite number) is refused: the axis stays as it was, the call returns false and, when
    // asked for, gives the refusal's text (minimumRefusal() or maximumRefusal()) for the user.
    // Set both ends in the order that keeps minimum <= maximum. Nothing is thrown.
    bool setMinimum(double value, QString* refusal = nullptr);
    bool setMaximum(double value, QString* refusal = nullptr);
    bool setMinMax(double minimum, double maximum, QString* refusal = nullptr);
    void setAutomatic(bool automatic);
    static QString minimumRefusal() {
        return QStringLiteral("Axis Minimum Value must be <= Maximum");
    }
    static QString maximumRefusal() {
        return QStringLiteral("Axis Maximum Value must be >= Minimum");
    }

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

    // A value as this axis labels its ticks (one notation per axis; see ValueFormat), for
    // readouts that must match the labels.
    QString formatValue(double value) const;

    // Pixel position of a value and value at a pixel position, across the plotting rectangle.
    double valueAt(int pixel) const;
    int pixelOf(double value) const;

private:
    friend class TChart;
    TChartAxis(TChart* chart, ChartHost* host, Position position);

    // The range as stored, without asking the data (used by the chart's own bookkeeping).
    void storeRange(double minimum, double maximum);
    // An automatic axis stores the range its data gives now, which it keeps while the data is
    // gone: the one step that turns what is shown into state.
    void keepShownRange();
    bool refuse(const QString& text, QString* refusal);
    double dataEnd(bool ofX, bool highEnd) const;

    TChart* chart_;
    ChartHost* host_;
    Position position_;
    bool automatic_ = false;
    double minimum_ = 0;
    double maximum_ = 0;
    double increment_ = 0;
    LabelStyle labelStyle_ = LabelStyle::Value;
};

}  // namespace tamlo::chart
