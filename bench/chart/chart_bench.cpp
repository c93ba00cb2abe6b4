// Chart figures: full repaint of a history page, cross-hair move, real-time append, memory.
// Prints medians; run from a release build (scripts/bench.sh or the release preset).
#include "bench/benchtiming.h"
#include "benchdata.h"
#include "crosshair.h"
#include "tchart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QScreen>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace tamlo::chart;
using tamlo::chart::bench::Curve;

#ifdef TAMLO_HAVE_QCUSTOMPLOT
// The same curves on a shown QCustomPlot; each call replots it in full and returns the
// milliseconds. antialiased is its default look, without it its fastest.
std::function<double()> qcustomplotPage(const std::vector<Curve>& curves, const QSize& size,
                                        bool antialiased);
#endif

using namespace tamlo::bench;

namespace {

void showAndSettle(QWidget& w) {
    w.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
}

// The history view's cross-hair: erase the old lines, draw new ones, read the values.
struct CrossHair {
    TChart* chart = nullptr;
    bool drawn = false;
    QPoint at;
    QString readout;
    QStringList values;

    void draw(QPoint p) {
        TChartCanvas* c = chart->canvas();
        c->setPenColor(crossHairColor(chart->backColor()));
        c->setPenStyle(Qt::SolidLine);
        c->setPenMode(TChartCanvas::PenMode::Xor);
        c->setPenWidth(1);
        const QRect plot = chart->plotRect();
        c->moveTo(p.x(), plot.top());
        c->lineTo(p.x(), plot.bottom());
        c->moveTo(plot.left(), p.y());
        c->lineTo(plot.right(), p.y());
    }

    void mouseMoved(int x, int y) {
        if (drawn) {
            draw(at);
            drawn = false;
        }
        const TChartAxis* bottom = chart->bottomAxis();
        const double low = bottom->minXValue();
        const double full = bottom->maxXValue() - low;
        if (!chart->plotRect().contains(x, y)) {
            return;
        }
        at = QPoint(x, y);
        draw(at);
        drawn = true;
        TFastLineSeries* first = chart->series(0);
        const QPointF v = first->cursorValues(x, y);
        const int count = first->count();
        if (full > 0 && v.x() >= low && v.x() <= low + full) {
            const int p = std::min(count - 1, int(std::floor((v.x() - low) * count / full)));
            readout = QStringLiteral("当前时刻：") + first->label(p) +
                      QStringLiteral("    Y坐标：") + chart->leftAxis()->formatValue(v.y()) +
                      QStringLiteral("      ");
            values.clear();
            for (int i = 0; i < chart->seriesCount(); ++i) {
                values << QString::number(chart->series(i)->yValue(p), 'g', 5);
            }
        }
    }
};

void fillChart(TChart& chart, const std::vector<Curve>& curves, bool labels) {
    for (const Curve& c : curves) {
        TFastLineSeries* s = chart.addFastLineSeries();
        const bool first = &c == &curves.front();
        for (size_t i = 0; i < c.x.size(); ++i) {
            s->addXY(c.x[i], c.y[i],
                     labels && first ? tamlo::chart::bench::timeLabel(int(i)) : QString());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QSize size(1600, 900);
    const int runs = 61;
    std::printf("chart benchmark, %s platform, %dx%d, medians\n",
                qPrintable(QGuiApplication::platformName()), size.width(), size.height());

    // History page: 16 curves x 20000 points.
    const std::vector<Curve> curves = tamlo::chart::bench::makeCurves(16, 20000);
    TChart chart;
    chart.setTitle(QStringLiteral("历史曲线"));
    chart.setBackColor(Qt::black);
    chart.setMarginsPercent(QMargins(3, 5, 5, 4));
    chart.leftAxis()->setIncrement(0.0001);
    chart.resize(size);
    const double loadMs = timeMs([&] { fillChart(chart, curves, true); });
    showAndSettle(chart);
    int seriesDraws = 0;
    QObject::connect(chart.series(0), &TFastLineSeries::afterDrawValues, [&] { ++seriesDraws; });

    for (int i = 0; i < 5; ++i) {
        chart.refresh();
        chart.repaint();
    }
    // Each sample in wall time and in this thread's processor time: on a machine shared with
    // other work the second leaves out the waits for a core.
    struct Samples {
        std::vector<double> wall;
        std::vector<double> cpu;
        void take(const std::function<void()>& work) {
            const double cpuBefore = threadCpuMs();
            wall.push_back(timeMs(work));
            cpu.push_back(threadCpuMs() - cpuBefore);
        }
    };
    // The comparison takes turns with our repaint, so that all three see the same machine load.
    Samples ours;
#ifdef TAMLO_HAVE_QCUSTOMPLOT
    const auto qcp = qcustomplotPage(curves, size, false);
    const auto qcpSmooth = qcustomplotPage(curves, size, true);
    Samples theirs;
    Samples theirsSmooth;
#endif
    for (int i = 0; i < runs; ++i) {
        ours.take([&] {
            chart.refresh();
            chart.repaint();
        });
#ifdef TAMLO_HAVE_QCUSTOMPLOT
        theirs.take(qcp);
        theirsSmooth.take(qcpSmooth);
#endif
    }
    const double repaintMs = median(ours.wall);
    const double repaintCpuMs = median(ours.cpu);
    std::printf(
        "history page 16 x 20000, full repaint: %.2f ms (processor %.2f ms; target 2.0 ms)\n",
        repaintMs, repaintCpuMs);
#ifdef TAMLO_HAVE_QCUSTOMPLOT
    std::printf(
        "QCustomPlot 2.1 (adaptive sampling) full replot, same runs, alternating:\n"
        "  not antialiased %.2f ms (processor %.2f ms): ratio %.1fx (processor %.1fx; target "
        "4.0x)\n"
        "  antialiased %.2f ms (processor %.2f ms): ratio %.1fx (processor %.1fx)\n",
        median(theirs.wall), median(theirs.cpu), median(theirs.wall) / repaintMs,
        median(theirs.cpu) / repaintCpuMs, median(theirsSmooth.wall), median(theirsSmooth.cpu),
        median(theirsSmooth.wall) / repaintMs, median(theirsSmooth.cpu) / repaintCpuMs);
#else
    std::printf("QCustomPlot comparison not built (library not installed)\n");
#endif
    // The floor: no repaint can do less than clear the picture and read every point once. The
    // read folds the values' bits in four lanes, so that it waits for memory, not for a chain
    // of additions.
    {
        QImage image(size, QImage::Format_RGB32);
        std::uint64_t sink = 0;
        Samples floor;
        const auto fold = [&sink](const double* v, int n) {
            std::uint64_t lanes[4] = {0, 0, 0, 0};
            int j = 0;
            for (; j + 4 <= n; j += 4) {
                for (int l = 0; l < 4; ++l) {
                    std::uint64_t bits;
                    std::memcpy(&bits, v + j + l, sizeof bits);
                    lanes[l] ^= bits;
                }
            }
            sink ^= lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3] ^ std::uint64_t(n - j);
        };
        for (int i = 0; i < runs; ++i) {
            floor.take([&] {
                image.fill(0xFF000000u + quint32(i));
                for (int k = 0; k < chart.seriesCount(); ++k) {
                    const PointStore::Runs r = chart.series(k)->points().runs();
                    fold(r.xFirst, r.firstCount);
                    fold(r.yFirst, r.firstCount);
                    fold(r.xSecond, r.secondCount);
                    fold(r.ySecond, r.secondCount);
                }
            });
        }
        std::printf(
            "  floor (clear of a %dx%d picture and one read of the points): %.2f ms (processor "
            "%.2f ms); the repaint takes %.1f times that%s\n",
            size.width(), size.height(), median(floor.wall), median(floor.cpu),
            repaintCpuMs / median(floor.cpu), sink == 1 ? " " : "");
    }
    const double renderMs = medianMs(runs, [&] { (void)chart.renderImage(size); });
    std::printf("history page 16 x 20000: load %.1f ms, drawn into a new image %.2f ms\n", loadMs,
                renderMs);

    // The history views' way: values in bulk, labels made only for the points labelled.
    std::vector<double> bulkMs;
    for (int i = 0; i < 11; ++i) {
        TChart page;
        page.resize(size);
        bulkMs.push_back(timeMs([&] {
            for (const Curve& c : curves) {
                TFastLineSeries* s = page.addFastLineSeries();
                s->appendPoints(c.x.data(), c.y.data(), int(c.x.size()));
                if (&c == &curves.front()) {
                    s->setLabelFunction(tamlo::chart::bench::timeLabel);
                }
            }
        }));
    }
    // The first load takes its memory fresh from the system; later pages reuse freed memory.
    std::printf(
        "history page 16 x 20000: load (bulk + label function) %.2f ms (first page %.2f ms)\n",
        median(bulkMs), bulkMs.front());
    // Printing the page as vectors: the time and the size of the PDF.
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("page.pdf"));
        const double printMs = timeMs([&] {
            QPdfWriter pdf(file);
            pdf.setResolution(600);
            pdf.setPageOrientation(QPageLayout::Landscape);
            QPainter painter(&pdf);
            chart.paintChart(painter, QRectF(0, 0, pdf.width(), pdf.height()), size);
        });
        std::printf("history page 16 x 20000: print to PDF at 600 dpi %.1f ms, %.0f KB\n", printMs,
                    QFileInfo(file).size() / 1024.0);
    }

    // Cross-hair: a mouse move over the plot, the handler's erase, draw and readout, and the
    // paint of the touched strips.
    CrossHair crossHair;
    crossHair.chart = &chart;
    QObject::connect(&chart, &TChart::mouseMoved,
                     [&](int x, int y) { crossHair.mouseMoved(x, y); });
    const QRect plot = chart.plotRect();
    const int drawsBefore = seriesDraws;
    Samples moves;
    for (int i = 0; i < 2000; ++i) {
        const QPointF pos(plot.left() + 3 + (i * 7919) % (plot.width() - 6),
                          plot.top() + 3 + (i * 104729) % (plot.height() - 6));
        moves.take([&] {
            QMouseEvent move(QEvent::MouseMove, pos, chart.mapToGlobal(pos), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&chart, &move);
            QCoreApplication::processEvents();
        });
    }
    std::printf(
        "cross-hair move (erase, draw, readout of 16 values, paint): %.3f ms (processor %.3f ms; "
        "target under 0.1 ms), series redrawn %d times\n",
        median(moves.wall), median(moves.cpu), seriesDraws - drawsBefore);

    // Real-time page: 63 curves of 600 points; a record drops the oldest point of each and
    // appends a new one.
    TChart live;
    live.setTitle(QStringLiteral("实时曲线"));
    live.setBackColor(Qt::black);
    live.resize(size);
    for (int k = 0; k < 63; ++k) {
        TFastLineSeries* s = live.addFastLineSeries();
        for (int i = 0; i < 600; ++i) {
            s->addXY(i, 0, QStringLiteral(" "));
        }
    }
    showAndSettle(live);
    auto bytesOf = [](const TChart& c) {
        size_t bytes = 0;
        for (int k = 0; k < c.seriesCount(); ++k) {
            bytes += c.series(k)->points().bytesReserved();
        }
        return bytes;
    };
    int tick = 0;
    auto record = [&] {
        const QString label = QDateTime(QDate(2026, 3, 14), QTime(8, 0))
                                  .addSecs(tick)
                                  .toString(QStringLiteral("yy-dd-MM HH:mm:ss"));
        for (int k = 0; k < live.seriesCount(); ++k) {
            TFastLineSeries* s = live.series(k);
            s->deletePoint(0);
            s->addXY(s->lastXValue() + 1, 500 + 400 * std::sin((tick + k * 10) / 50.0), label);
        }
        ++tick;
    };
    for (int i = 0; i < 2000; ++i) {
        record();  // settle the label pools
    }
    const size_t bytesBefore = bytesOf(live);
    const double appendMs = medianMs(1001, record);
    const size_t bytesAfter = bytesOf(live);
    Samples liveRepaint;
    for (int i = 0; i < runs; ++i) {
        liveRepaint.take([&] {
            record();
            live.repaint();
        });
    }
    std::printf(
        "real-time record, 63 x 600 points: append with delete of the oldest %.1f us "
        "(%.0f ns a curve), memory %zu -> %zu bytes; record + repaint %.2f ms (processor %.2f "
        "ms)\n",
        appendMs * 1000, appendMs * 1e6 / 63, bytesBefore, bytesAfter, median(liveRepaint.wall),
        median(liveRepaint.cpu));

    // The same append on curves of 20000 points costs the same: nothing is copied.
    TChart longLive;
    for (int k = 0; k < 63; ++k) {
        TFastLineSeries* s = longLive.addFastLineSeries();
        for (int i = 0; i < 20000; ++i) {
            s->addXY(i, 0, k == 0 ? tamlo::chart::bench::timeLabel(i) : QString());
        }
    }
    const double longAppendMs = medianMs(1001, [&] {
        for (int k = 0; k < longLive.seriesCount(); ++k) {
            TFastLineSeries* s = longLive.series(k);
            s->deletePoint(0);
            s->addXY(s->lastXValue() + 1, 1,
                     k == 0 ? tamlo::chart::bench::timeLabel(tick) : QString());
        }
        ++tick;
    });
    std::printf(
        "same on 63 x 20000 points: %.1f us a record; memory %.1f bytes a point "
        "(63 x 20000 points, labels on the first curve)\n",
        longAppendMs * 1000, double(bytesOf(longLive)) / (63.0 * 20000));
    return 0;
}
