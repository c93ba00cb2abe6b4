#include "tchartcanvas.h"

#include "tchart.h"

namespace tamlo::chart {

void TChartCanvas::lineTo(int x, int y) {
    chart_->drawCanvasLine(position_, QPoint(x, y));
    position_ = QPoint(x, y);
}

}  // namespace tamlo::chart
