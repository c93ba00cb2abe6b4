#include "chartgestures.h"

#include <algorithm>
#include <cstdlib>

namespace tamlo::chart {

namespace {
constexpr int kMinimumDrag = 17;
}  // namespace

QPoint ChartGestures::clamped(QPoint pos, const QRect& plot) {
    return QPoint(std::clamp(pos.x(), plot.left(), plot.right()),
                  std::clamp(pos.y(), plot.top(), plot.bottom()));
}

void ChartGestures::press(Button button, QPoint pos, const QRect& plot) {
    if (drag_ != Drag::None || !plot.contains(pos)) {
        return;
    }
    if (button == Button::Left) {
        drag_ = Drag::Zoom;
    } else if (button == Button::Right) {
        drag_ = Drag::Scroll;
    }
    start_ = current_ = pos;
}

ChartGestures::Outcome ChartGestures::move(QPoint pos, const QRect& plot) {
    Outcome out;
    if (drag_ == Drag::Zoom) {
        const QRect before = bandArea();
        current_ = clamped(pos, plot);
        out.repaint = before | bandArea();
    } else if (drag_ == Drag::Scroll) {
        out.scroll = pos - current_;
        current_ = pos;
        if (!out.scroll.isNull()) {
            out.kind = Outcome::Kind::Scroll;
        }
    }
    return out;
}

ChartGestures::Outcome ChartGestures::release(Button button, QPoint pos, const QRect& plot) {
    Outcome out;
    if (drag_ == Drag::Zoom && button == Button::Left) {
        out.repaint = bandArea();
        current_ = clamped(pos, plot);
        drag_ = Drag::None;
        const QPoint delta = current_ - start_;
        if (std::abs(delta.x()) >= kMinimumDrag && std::abs(delta.y()) >= kMinimumDrag) {
            if (delta.x() > 0 && delta.y() > 0) {
                out.kind = Outcome::Kind::Zoom;
                out.zoomTo = QRect(start_, current_);
            } else {
                out.kind = Outcome::Kind::Undo;
            }
        }
    } else if (drag_ == Drag::Scroll && button == Button::Right) {
        drag_ = Drag::None;
    }
    return out;
}

}  // namespace tamlo::chart
