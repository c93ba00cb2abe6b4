#pragma once

#include "pointstore.h"

#include <QColor>
#include <QObject>
#include <QPointF>

#include <functional>

namespace tamlo::chart {

class ChartHost;
class TChart;

// A polyline of labelled points (x, y, text), drawn in one colour without point marks. Created
// and owned by a TChart (TChart::addFastLineSeries).
class TFastLineSeries : public QObject {
    Q_OBJECT
public:
    ~TFastLineSeries() override;

    TChart* chart() const { return chart_; }

    // Appends a point; returns its index.
    int addXY(double x, double y, const QString& label = QString());
    // Appends count points without labels at once (a history page): one change notification.
    void appendPoints(const double* xs, const double* ys, int count);
    // Labels made on demand: label(i) of a point without a stored label is labelOf(i) (index 0
    // = oldest point), so that only the labels shown are ever formatted. An empty function
    // removes it; clear() too.
    void setLabelFunction(std::function<QString(int index)> labelOf);
    // Removes the point at index (0 = oldest). Throws std::out_of_range for a bad index.
    void deletePoint(int index);
    void clear();

    int count() const { return points_.size(); }
    // x of the newest point; 0 for an empty series.
    double lastXValue() const;
    // Throw std::out_of_range for a bad index.
    double xValue(int index) const;
    double yValue(int index) const;
    QString label(int index) const;

    bool isVisible() const { return visible_; }
    void setVisible(bool visible);
    QColor color() const { return color_; }
    void setColor(const QColor& color);

    // The bottom and left axis values at a position in chart pixels.
    QPointF cursorValues(int x, int y) const;

    // Points as stored, for drawing.
    const PointStore& points() const { return points_; }
    bool xAscending() const { return xAscending_; }
    // Data extremes over the finite values; false when there are none.
    bool xRange(double& low, double& high) const;
    bool yRange(double& low, double& high) const;

signals:
    // The chart has drawn the series picture (raised for every series after each repaint of the
    // series, visible or not, so that XOR drawings on the chart can be forgotten).
    void afterDrawValues();

private:
    friend class TChart;
    TFastLineSeries(TChart* chart, ChartHost* host, const QColor& color);
    // The chart lets go of the series (it is being deleted, or the chart is).
    void detach() {
        chart_ = nullptr;
        host_ = nullptr;
    }
    void checkIndex(int index) const;
    void noteChanged();
    // Automatic axes keep showing the range of data that is about to go.
    void keepAxesBeforeDataGoes();

    struct Extremes {
        bool valid = true;  // false: must be recomputed
        bool any = false;   // some finite value exists
        double low = 0;
        double high = 0;
        void include(double v);
    };
    void recompute(Extremes& e, bool ofX) const;
    bool range(Extremes& e, bool ofX, double& low, double& high) const;

    TChart* chart_;
    ChartHost* host_;
    PointStore points_;
    QColor color_;
    bool visible_ = true;
    bool xAscending_ = true;
    std::function<QString(int)> labelOf_;
    mutable Extremes xExtremes_;
    mutable Extremes yExtremes_;
};

}  // namespace tamlo::chart
