#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>

#include <functional>
#include <vector>

namespace tamlo::chart {

// Drawing surface of a chart for the programs' own marks (the cross-hair). Lines go straight into
// the chart's picture and only the pixels they touch are put on the screen. In XOR mode each
// pixel becomes pixel XOR pen colour, so drawing the same line twice restores the picture
// exactly. As with a classic line-to, the end pixel of a line is not drawn. The marks stay until
// the chart next draws its series (see TFastLineSeries::afterDrawValues).
class TChartCanvas {
public:
    enum class PenMode { Copy, Xor };

    QColor penColor() const { return penColor_; }
    void setPenColor(const QColor& color) { penColor_ = color; }
    Qt::PenStyle penStyle() const { return penStyle_; }
    void setPenStyle(Qt::PenStyle style) { penStyle_ = style; }
    PenMode penMode() const { return penMode_; }
    void setPenMode(PenMode mode) { penMode_ = mode; }
    int penWidth() const { return penWidth_; }
    void setPenWidth(int width) { penWidth_ = width < 1 ? 1 : width; }

    QPoint penPosition() const { return position_; }
    void moveTo(int x, int y) { position_ = QPoint(x, y); }
    void lineTo(int x, int y);

    // The pixels the pen puts on a line from `from` to `to` (its end left out) within bounds,
    // each once: the dash pattern along the line, widened to the pen's width.
    std::vector<QPoint> linePixels(QPoint from, QPoint to, const QRect& bounds) const;

private:
    friend class TChart;
    using DrawLine = std::function<void(QPoint from, QPoint to)>;
    explicit TChartCanvas(DrawLine drawLine) : drawLine_(std::move(drawLine)) {}

    DrawLine drawLine_;
    QColor penColor_ = Qt::black;
    Qt::PenStyle penStyle_ = Qt::SolidLine;
    PenMode penMode_ = PenMode::Copy;
    int penWidth_ = 1;
    QPoint position_;
};

}  // namespace tamlo::chart
