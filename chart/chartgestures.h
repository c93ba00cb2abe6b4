#pragma once

#include <QPoint>
#include <QRect>

namespace tamlo::chart {

// The mouse gestures of a chart: a left drag of at least 17 pixels both ways towards the lower
// right zooms to the rectangle, any other left drag of that size undoes the zoom, a right drag
// scrolls. A drag starts inside the plot; the zoom band stays inside it.
class ChartGestures {
public:
    enum class Button { Left, Right, Other };
    struct Outcome {
        enum class Kind { None, Zoom, Undo, Scroll } kind = Kind::None;
        QRect zoomTo;   // Zoom
        QPoint scroll;  // Scroll: the mouse's move in pixels
        QRect repaint;  // pixels of the band to show again (empty: none)
    };

    void press(Button button, QPoint pos, const QRect& plot);
    Outcome move(QPoint pos, const QRect& plot);
    Outcome release(Button button, QPoint pos, const QRect& plot);

    // The zoom band being dragged, if any.
    bool banding() const { return drag_ == Drag::Zoom; }
    QRect band() const { return QRect(start_, current_).normalized(); }

private:
    enum class Drag { None, Zoom, Scroll };
    static QPoint clamped(QPoint pos, const QRect& plot);
    // The band with the pixels of its dotted outline.
    QRect bandArea() const { return band().adjusted(-1, -1, 1, 1); }

    Drag drag_ = Drag::None;
    QPoint start_;
    QPoint current_;
};

}  // namespace tamlo::chart
