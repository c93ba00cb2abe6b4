#pragma once

// Drawing of a laid-out chart through QPainter: the labels and title (on the screen picture as
// on paper) and the whole chart as vectors for printing, where lines must stay sharp at the
// printer's resolution.

#include "pointstore.h"
#include "raster.h"
#include "ticks.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <vector>

namespace tamlo::chart {

struct ChartLook {
    QColor back;
    QColor panel;
    QFont font;  // axis labels; the title is the bold variant
    QString title;
    int tickLength = 4;
};

struct SeriesLine {
    const PointStore* points;
    QColor colour;
    bool xAscending = false;  // finite x, never decreasing
};

QColor textColourOn(const QColor& panel);
QColor gridColourOn(const QColor& back);

// The chart drawn into an RGB32 picture of the layout's size: cleared once, then the grid, the
// series (decimated to pixel columns), the frame, ticks and labels. With keepPanel the picture
// already holds the panel around the plot for this layout and look: only the plot is drawn.
void renderFrame(QImage& image, const Layout& layout, const ChartLook& look,
                 const std::vector<SeriesLine>& series, bool keepPanel);

// The two halves of renderFrame, for a picture drawn in two places. renderPanel draws what lies
// outside the plot and leaves the plot's pixels as they are; renderPlot draws the plot (inside,
// the plot within the picture) on a surface whose pixel (x, y) is the layout's (x, y).
void renderPanel(QImage& image, const Layout& layout, const ChartLook& look);
void renderPlot(const raster::Surface& surface, const raster::Clip& inside, const Layout& layout,
                const ChartLook& look, const std::vector<SeriesLine>& series);

// Axis labels and title of a layout, in its coordinates, measured as the layout was.
void drawLabels(QPainter& painter, const Layout& layout, const ChartLook& look,
                const QFontMetrics& metrics);

// The chart as vectors in the layout's coordinates (the painter scales them to the target).
// Points falling into one device pixel column are drawn as their first, lowest, highest and
// last value: the same picture on paper, a bounded size of drawing. columnWidth is the width
// of a device pixel in layout units.
void paintVectors(QPainter& painter, const Layout& layout, const ChartLook& look,
                  const QFontMetrics& metrics, const std::vector<SeriesLine>& series,
                  double columnWidth);

}  // namespace tamlo::chart
