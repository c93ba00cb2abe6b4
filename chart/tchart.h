#pragma once

#include "chartgestures.h"
#include "charthost.h"
#include "chartpainter.h"
#include "chartzoom.h"
#include "tchartaxis.h"
#include "tchartcanvas.h"
#include "tfastlineseries.h"
#include "ticks.h"

#include <QColor>
#include <QImage>
#include <QMargins>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace tamlo::chart {

// A chart of fast line series against four axes, with percentage and mouse zoom, scroll, a
// drawing surface for XOR marks and a print preview.
//
// Drawing: the background, grid and series are kept in one picture that is redrawn only when
// data, axes, colours, visibility or size change; mouse moves and canvas marks touch only the
// affected pixels. A redraw of the whole chart goes straight into the window's pixels where it
// can, and into the picture when a mark needs it.
//
// Mouse: a left drag of at least 17 pixels both ways towards the lower right zooms to the
// rectangle, any other drag of that size undoes the zoom; a right drag scrolls.
class TChart : public QWidget {
    Q_OBJECT
public:
    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override;

    // Series, in the order of attachment. The chart owns them.
    int seriesCount() const { return static_cast<int>(series_.size()); }
    TFastLineSeries* series(int index) const;
    // Creates a series with the first default colour not in use (see defaultColor).
    TFastLineSeries* addFastLineSeries();
    // Deletes every series; the axes keep their ranges.
    void removeAllSeries();
    // Deletes the series at index; the later series move up by one.
    void removeSeries(int index);

    // The colour a new series takes: the first of red, green, yellow, blue, white, grey, fuchsia,
    // teal, navy, maroon, lime, olive, purple, silver, aqua and black that no series uses and
    // that differs from the back colour; red when none is free.
    QColor defaultColor() const;

    TChartAxis* leftAxis() const { return axes_[0].get(); }
    TChartAxis* topAxis() const { return axes_[1].get(); }
    TChartAxis* rightAxis() const { return axes_[2].get(); }
    TChartAxis* bottomAxis() const { return axes_[3].get(); }
    TChartAxis* axis(TChartAxis::Position position) const;

    // Colour of the plotting area.
    QColor backColor() const { return backColor_; }
    void setBackColor(const QColor& color);
    // Colour around the plotting area.
    QColor panelColor() const { return panelColor_; }
    void setPanelColor(const QColor& color);
    QString title() const { return title_; }
    void setTitle(const QString& title);
    // Space left free at the edges, in percent of the chart's width (left, right) and height
    // (top, bottom).
    QMargins marginsPercent() const { return margins_; }
    void setMarginsPercent(const QMargins& margins);

    // Zoom in (p > 100) or out (p < 100) on all four axes: each end moves inwards by
    // (max - min) * (p - 100) / 100. Percentages outside (0, 150) are ignored.
    void zoomPercent(double percent);
    // Zoom to a rectangle in chart pixels (all four axes).
    void zoomRect(const QRect& rect);
    // Moves the shown ranges so that the picture follows a mouse moved by (dx, dy) pixels.
    void scrollBy(int dx, int dy);
    // Restores the axes as they were before the first zoom or scroll.
    void undoZoom();
    bool isZoomed() const { return zoom_.isZoomed(); }

    // The rectangle the series are drawn in, in chart pixels (laying the chart out first when
    // something changed).
    QRect plotRect();
    int horizontalOffset3D() const { return 0; }
    int verticalOffset3D() const { return 0; }
    TChartCanvas* canvas() { return &canvas_; }

    // Redraws the series picture on the next paint.
    void refresh();
    // The chart drawn at another size (for pictures); raises no events.
    QImage renderImage(const QSize& size) const;
    // The chart drawn as vectors into target, laid out as a picture of layoutSize pixels would
    // be (text and lines keep their proportions to that size); lines and text stay sharp at the
    // device's resolution. For printing and the print preview.
    void paintChart(QPainter& painter, const QRectF& target, const QSize& layoutSize) const;
    // The modal print preview of this chart.
    void printPreview(QWidget* parent = nullptr);

    QSize sizeHint() const override { return QSize(640, 400); }

signals:
    void zoomed();
    void undoZoomed();
    void scrolled();
    void mouseMoved(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    static constexpr int kTickLength = 4;  // pixels, outside the plot
    // What the axes and series ask of their chart.
    class Host final : public ChartHost {
    public:
        explicit Host(TChart& chart) : chart_(chart) {}
        void seriesChanged() override { chart_.invalidate(true); }
        void axisChanged() override { chart_.invalidate(true); }
        void keepAutomaticRanges() override { chart_.keepAutomaticRanges(); }
        bool dataExtent(const TChartAxis* axis, bool ofX, double& low, double& high) const override;
        QRect plotArea() override { return chart_.plotRect(); }
        ValueFormat labelFormat(const TChartAxis* axis) override;

    private:
        TChart& chart_;
    };

    void invalidate(bool relayout);
    void keepAutomaticRanges();
    void drawCanvasLine(QPoint from, QPoint to);
    ChartZoom::Axes shownRanges() const;
    // Sets an axis to a fixed range when the range is usable.
    static void showRange(TChartAxis& axis, std::pair<double, double> range);

    // The one step that computes the layout, from the size, fonts, axes and first series.
    void layOut();
    Layout computeLayout(const QSize& size, const QFontMetrics& metrics,
                         const QFontMetrics& titleMetrics) const;
    std::vector<SeriesLine> visibleLines() const;
    // What the panel around the plot (frame, ticks, labels, title) is drawn from.
    struct PanelKey {
        QSize size;
        QRect plot;
        QRect title;
        std::vector<Tick> leftTicks;
        std::vector<Tick> bottomTicks;
        QColor panel;
        QFont font;
        QString titleText;
        bool operator==(const PanelKey&) const = default;
    };
    PanelKey panelKey(const Layout& layout) const;
    ChartLook look(const QFont& font) const;
    // Brings the picture up to date; true when the series were drawn for new data (the caller
    // tells them).
    bool ensureFrame();
    // Draws the picture straight into the window's pixels behind painter, when they are plain
    // 32-bit pixels at one device pixel a pixel and nothing covers the chart; false otherwise.
    // Saves copying a whole picture to the screen when all of it changes.
    bool paintDirect(QPainter& painter);
    void announceDrawn();
    // Sets what frame_'s panel shows, counting a change.
    void setFramePanel(std::optional<PanelKey> panel);

    Host host_{*this};
    std::array<std::unique_ptr<TChartAxis>, 4> axes_;
    std::vector<TFastLineSeries*> series_;
    TChartCanvas canvas_;

    QColor backColor_;
    QColor panelColor_;
    QString title_;
    QMargins margins_{3, 4, 3, 4};

    ChartZoom zoom_;
    ChartGestures gestures_;

    bool layoutValid_ = false;
    Layout layout_;
    // The series are drawn for the current data, on the screen (and in frame_ unless
    // framePlotStale_).
    bool frameValid_ = false;
    // The last picture went straight to the screen: frame_ holds its panel but not its plot.
    bool framePlotStale_ = false;
    // Canvas marks were drawn since the series were last drawn for new data.
    bool marksSinceDraw_ = false;
    bool rendering_ = false;
    bool painting_ = false;
    // The picture as last drawn, for partial repaints and canvas marks.
    QImage frame_;
    // The panel the frame holds; none after a mark was drawn outside the plot.
    std::optional<PanelKey> framePanel_;
    // Counts the panels frame_ has held.
    quint64 panelGeneration_ = 0;
    // Where the window's pixels last got frame_'s panel in full: the window's image (by its
    // serial number), the chart's place in it and the panel's generation.
    struct ShownPanel {
        qint64 image;
        QPoint offset;
        quint64 generation;
        bool operator==(const ShownPanel&) const = default;
    };
    std::optional<ShownPanel> shownPanel_;
};

}  // namespace tamlo::chart
