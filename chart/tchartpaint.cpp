#include "tchart.h"

#include "chartpainter.h"
#include "raster.h"

#include <QBackingStore>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScopedValueRollback>

#include <algorithm>
#include <cstring>

// The chart's drawing: into its own frame image, or straight into the window's pixels when the
// whole chart is repainted (see paintDirect).

namespace tamlo::chart {

// ---- drawing ----

TChart::PanelKey TChart::panelKey(const Layout& l) const {
    return PanelKey{l.size,        l.plot,      l.title, l.leftTicks,
                    l.bottomTicks, panelColor_, font(),  title_};
}

std::vector<SeriesLine> TChart::visibleLines() const {
    std::vector<SeriesLine> lines;
    for (const TFastLineSeries* s : series_) {
        if (s->isVisible()) {
            lines.push_back(SeriesLine{&s->points(), s->color(), s->xAscending()});
        }
    }
    return lines;
}

ChartLook TChart::look(const QFont& font) const {
    return ChartLook{backColor_, panelColor_, font, title_, kTickLength};
}

void TChart::paintChart(QPainter& painter, const QRectF& target, const QSize& layoutSize) const {
    if (target.isEmpty() || layoutSize.isEmpty()) {
        return;
    }
    // Text sized in layout units, whatever the resolution of the device.
    QFont labelFont = font();
    labelFont.setPixelSize(QFontInfo(font()).pixelSize());
    QFont titleFont = labelFont;
    titleFont.setBold(true);
    const QFontMetrics metrics(labelFont, painter.device());
    const QFontMetrics titleMetrics(titleFont, painter.device());
    const Layout l = computeLayout(layoutSize, metrics, titleMetrics);
    const std::vector<SeriesLine> lines = visibleLines();
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / layoutSize.width(), target.height() / layoutSize.height());
    const double devicePixelsAcross = target.width() * painter.device()->devicePixelRatioF();
    paintVectors(painter, l, look(labelFont), metrics, lines,
                 layoutSize.width() / devicePixelsAcross);
    painter.restore();
}

QImage TChart::renderImage(const QSize& size) const {
    QImage image(size.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    QFont titleFont = font();
    titleFont.setBold(true);
    renderFrame(image, computeLayout(image.size(), QFontMetrics(font()), QFontMetrics(titleFont)),
                look(font()), visibleLines(), false);
    return image;
}

bool TChart::ensureFrame() {
    if (frame_.size() != size()) {
        frame_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        frameValid_ = false;
        framePlotStale_ = false;
        setFramePanel(std::nullopt);
    }
    if ((frameValid_ && !framePlotStale_) || rendering_) {
        return false;
    }
    // After a picture that went straight to the screen, this draws the same picture again
    // for the canvas or a partial repaint: the series were drawn already.
    const bool announce = !frameValid_;
    rendering_ = true;
    layOut();
    PanelKey panel = panelKey(layout_);
    renderFrame(frame_, layout_, look(font()), visibleLines(), framePanel_ == panel);
    setFramePanel(std::move(panel));
    frameValid_ = true;
    framePlotStale_ = false;
    rendering_ = false;
    return announce;
}

void TChart::announceDrawn() {
    // A handler may remove series, so hold them by guarded pointers.
    std::vector<QPointer<TFastLineSeries>> drawn(series_.begin(), series_.end());
    for (const QPointer<TFastLineSeries>& s : drawn) {
        if (s) {
            emit s->afterDrawValues();
        }
    }
}

bool TChart::paintDirect(QPainter& painter) {
    QPaintEngine* engine = painter.paintEngine();
    if (rendering_ || !engine || engine->type() != QPaintEngine::Raster) {
        return false;
    }
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image) {
        return false;
    }
    auto* screen = static_cast<QImage*>(device);
    const QImage::Format format = screen->format();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) ||
        screen->devicePixelRatio() != 1 || !screen->isDetached()) {
        return false;
    }
    // The chart's place in the window's pixels: a whole-pixel shift, nothing over it.
    const QTransform toScreen = painter.deviceTransform();
    const QPoint offset(qRound(toScreen.dx()), qRound(toScreen.dy()));
    const QRect area(offset, size());
    if (toScreen.type() > QTransform::TxTranslate || QPointF(offset) != toScreen.map(QPointF()) ||
        !screen->rect().contains(area) || engine->systemClip() != QRegion(area)) {
        return false;
    }
    layOut();
    const QRect plot = layout_.plot;
    if (plot.isEmpty() || !rect().contains(plot)) {
        return false;
    }

    rendering_ = true;
    if (frame_.size() != size()) {
        frame_ = QImage(size(), QImage::Format_RGB32);
        frameValid_ = false;
        setFramePanel(std::nullopt);
    }
    // The panel changes far less often than the plot: frame_ keeps it between pictures.
    PanelKey panel = panelKey(layout_);
    if (framePanel_ != panel) {
        renderPanel(frame_, layout_, look(font()));
        setFramePanel(std::move(panel));
    }
    // The window keeps what was painted into it: a panel it got in full is still there, unless
    // the window's pixels were made anew, the chart moved or was hidden, or children of the
    // chart painted over it.
    QBackingStore* store = window()->backingStore();
    const bool toWindow = store && store->paintDevice() == device;
    const ShownPanel here{screen->cacheKey() >> 32, offset, panelGeneration_};
    const bool children = std::any_of(this->children().begin(), this->children().end(),
                                      [](const QObject* o) {
                                          return o->isWidgetType() &&
                                                 static_cast<const QWidget*>(o)->isVisible();
                                      });
    const bool panelShown = toWindow && !children && shownPanel_ == here;
    if (toWindow) {
        shownPanel_ = here;
    }
    const qsizetype stride = screen->bytesPerLine() / 4;
    quint32* origin = reinterpret_cast<quint32*>(screen->bits()) + offset.y() * stride + offset.x();
    const auto copyRow = [&](int y, int from, int to) {
        if (from < to) {
            std::memcpy(origin + y * stride + from,
                        reinterpret_cast<const quint32*>(frame_.constScanLine(y)) + from,
                        sizeof(quint32) * static_cast<std::size_t>(to - from));
        }
    };
    for (int y = 0; y < (panelShown ? 0 : height()); ++y) {
        if (y < plot.top() || y > plot.bottom()) {
            copyRow(y, 0, width());
        } else {
            copyRow(y, 0, plot.left());
            copyRow(y, plot.right() + 1, width());
        }
    }
    renderPlot(raster::Surface{origin, stride}, raster::Clip::fromRect(plot), layout_, look(font()),
               visibleLines());
    framePlotStale_ = true;
    rendering_ = false;
    return true;
}

void TChart::paintEvent(QPaintEvent* event) {
    const QScopedValueRollback<bool> painting(painting_, true);
    const bool whole = event->region() == QRegion(rect());
    const bool redraw = !frameValid_ || framePlotStale_ || frame_.size() != size();
    bool announce = false;
    QPainter painter;
    bool direct = false;
    // A chart that gets marks between pictures (a cross-hair) keeps drawing through frame_,
    // where the marks go: a picture drawn straight to the screen would have to be drawn again
    // there for the first mark.
    if (whole && redraw && !marksSinceDraw_) {
        painter.begin(this);
        direct = paintDirect(painter);
        if (!direct) {
            painter.end();
        }
    }
    if (direct) {
        announce = !frameValid_;
        frameValid_ = true;
    } else {
        const bool wasValid = frameValid_ && frame_.size() == size();
        // Tell the series before the copy, so that marks they draw are in it.
        if (ensureFrame()) {
            marksSinceDraw_ = false;
            announceDrawn();
        }
        painter.begin(this);
        if (!wasValid && !whole) {
            // A partial paint found the picture redrawn: show all of it.
            update();
        }
        for (const QRect& r : event->region()) {
            painter.drawImage(r.topLeft(), frame_, r);
        }
    }
    if (gestures_.banding()) {
        shownPanel_.reset();  // the band may cross the panel
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(gestures_.band());
    }
    painter.end();
    if (announce) {
        marksSinceDraw_ = false;
        announceDrawn();
    }
}

void TChart::setFramePanel(std::optional<PanelKey> panel) {
    if (panel != framePanel_) {
        framePanel_ = std::move(panel);
        ++panelGeneration_;
    }
}

}  // namespace tamlo::chart
