// Pixels: the rasteriser, decimated against point-by-point drawing, the chart picture and the
// XOR canvas.
#include "crosshair.h"
#include "pointstore.h"
#include "raster.h"
#include "tchart.h"

#include <QRandomGenerator>
#include <QtTest>

#include <set>

using namespace tamlo::chart;

namespace {

QImage blank(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

raster::Surface surfaceOf(QImage& image) {
    return raster::Surface{reinterpret_cast<quint32*>(image.bits()), image.bytesPerLine() / 4};
}

// Draws a store both ways on a 640 x 400 image with the plot inside a border and compares.
void expectSamePicture(const PointStore& points, const raster::Mapping& mapping, bool ascending,
                       const char* what) {
    QImage full = blank(640, 400);
    QImage decimated = blank(640, 400);
    const raster::Clip clip{20, 10, 619, 379};
    raster::drawPolylineFull(surfaceOf(full), clip, points, mapping, 0xFFFF0000u);
    raster::drawPolylineDecimated(surfaceOf(decimated), clip, points, mapping, 0xFFFF0000u,
                                  ascending);
    int drawn = 0;
    for (int y = 0; y < full.height(); ++y) {
        for (int x = 0; x < full.width(); ++x) {
            drawn += full.pixel(x, y) != 0xFF000000u;
        }
    }
    QVERIFY2(full == decimated, what);
    QVERIFY2(drawn > 0 || points.empty(), what);
}

raster::Mapping fitMapping(double xMin, double xMax, double yMin, double yMax) {
    raster::Mapping m;
    m.xMin = xMin;
    m.xOrigin = 20;
    m.xScale = (619 - 20) / (xMax - xMin);
    m.yMin = yMin;
    m.yOrigin = 379;
    m.yScale = (379 - 10) / (yMax - yMin);
    return m;
}

std::set<std::pair<qint64, qint64>> linePixels(qint64 x0, qint64 y0, qint64 x1, qint64 y1,
                                               const raster::Clip& clip) {
    std::set<std::pair<qint64, qint64>> pixels;
    raster::forEachLinePixel(x0, y0, x1, y1, clip, true, [&](qint64 x, qint64 y) {
        pixels.insert({x, y});
    });
    return pixels;
}

}  // namespace

class TestChartDrawing : public QObject {
    Q_OBJECT
private slots:
    void lineCoversItsEndsAndIsContinuous();
    void clippingKeepsExactlyTheInsidePixels();
    void decimatedEqualsPointByPoint_data();
    void decimatedEqualsPointByPoint();
    void decimationSkipsNothingAfterTheWindowSlides();
    void chartDrawsVisibleSeriesOnTheBackColour();
    void xorCrossHairTwiceRestoresThePictureWithoutRedrawingSeries();
    void wideAndCopyPens();
    void redrawOfThePlotAloneGivesTheWholePicture();
    void windowShowsThePictureWhereverTheChartSits();
    void renderImageAtAnotherSize();
    void anySizeDrawsWithinItsImage();
};

void TestChartDrawing::lineCoversItsEndsAndIsContinuous() {
    const raster::Clip everywhere{-1000, -1000, 1000, 1000};
    QRandomGenerator rng(7);
    for (int n = 0; n < 500; ++n) {
        const qint64 x0 = rng.bounded(-300, 300);
        const qint64 y0 = rng.bounded(-300, 300);
        const qint64 x1 = rng.bounded(-300, 300);
        const qint64 y1 = rng.bounded(-300, 300);
        const auto pixels = linePixels(x0, y0, x1, y1, everywhere);
        QVERIFY(pixels.count({x0, y0}));
        QVERIFY(pixels.count({x1, y1}));
        QCOMPARE(qint64(pixels.size()), std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1);
        // The same pixels from either end except for exact halves: a line has one pixel per
        // major step.
        QCOMPARE(linePixels(x1, y1, x0, y0, everywhere).size(), pixels.size());
    }
    // drawLine's shortcuts for vertical lines and steps to the next column put the same pixels.
    for (int n = 0; n < 3000; ++n) {
        const qint64 x0 = rng.bounded(-20, 120);
        const qint64 y0 = rng.bounded(-200, 300);
        const qint64 x1 = n % 3 == 0 ? x0 : n % 3 == 1 ? x0 + 1 : x0 - 1 + rng.bounded(-3, 4);
        const qint64 y1 = rng.bounded(-200, 300);
        const raster::Clip clip{0, 0, 99, 99};
        QImage image = blank(100, 100);
        raster::drawLine(surfaceOf(image), clip, x0, y0, x1, y1, 0xFFFFFFFFu);
        std::set<std::pair<qint64, qint64>> drawn;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                if (image.pixel(x, y) == 0xFFFFFFFFu) {
                    drawn.insert({x, y});
                }
            }
        }
        QCOMPARE(drawn, linePixels(x0, y0, x1, y1, clip));
    }
}

void TestChartDrawing::clippingKeepsExactlyTheInsidePixels() {
    const raster::Clip everywhere{-5000, -5000, 5000, 5000};
    const raster::Clip clip{-37, -11, 53, 29};
    QRandomGenerator rng(11);
    for (int n = 0; n < 2000; ++n) {
        const qint64 x0 = rng.bounded(-3000, 3000);
        const qint64 y0 = rng.bounded(-3000, 3000);
        const qint64 x1 = rng.bounded(-200, 200);
        const qint64 y1 = rng.bounded(-200, 200);
        std::set<std::pair<qint64, qint64>> expected;
        for (const auto& p : linePixels(x0, y0, x1, y1, everywhere)) {
            if (clip.contains(p.first, p.second)) {
                expected.insert(p);
            }
        }
        QCOMPARE(linePixels(x0, y0, x1, y1, clip), expected);
    }
    // Far outside positions are held within the rasteriser's range.
    QCOMPARE(raster::toPixel(1e300), raster::toPixel(raster::kPixelLimit));
    QCOMPARE(raster::toPixel(-2.5), qint64(-2));
    QCOMPARE(raster::toPixel(2.5), qint64(3));
}

void TestChartDrawing::decimatedEqualsPointByPoint_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("noise, 20000 points over 600 columns") << 0;
    QTest::newRow("zoomed in, most points outside the clip") << 1;
    QTest::newRow("gaps of non-finite values") << 2;
    QTest::newRow("x not ascending") << 3;
    QTest::newRow("spikes far outside the range") << 4;
    QTest::newRow("fewer points than columns") << 5;
    QTest::newRow("single points between gaps") << 6;
}

void TestChartDrawing::decimatedEqualsPointByPoint() {
    QFETCH(int, kind);
    QRandomGenerator rng(1234 + kind);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int round = 0; round < 5; ++round) {
        PointStore points;
        raster::Mapping mapping = fitMapping(0, 19999, -1000, 1000);
        bool ascending = true;
        double walk = 0;
        for (int i = 0; i < 20000; ++i) {
            walk += rng.generateDouble() * 40 - 20;
            double x = i;
            double y = walk + 300 * std::sin(i / (50.0 + round * 100));
            if (kind == 2 && rng.bounded(100) < 3) {
                y = rng.bounded(2) ? nan : std::numeric_limits<double>::infinity();
            }
            if (kind == 3) {
                x = rng.generateDouble() * 20000;
                ascending = false;
            }
            if (kind == 4 && rng.bounded(500) == 0) {
                y = rng.bounded(2) ? 1e250 : -1e12;
            }
            if (kind == 5 && i >= 300) {
                break;
            }
            if (kind == 6) {
                y = i % 3 == 1 ? nan : y;
                x = i * 7;
            }
            points.append(x, y, QString());
        }
        if (kind == 1) {
            // A narrow window on the data, a little tighter than its values.
            const int from = 9000 + round * 10;
            const int to = 9060 + round * 37;
            double low = points.y(from);
            double high = low;
            for (int i = from; i <= to; ++i) {
                low = std::min(low, points.y(i));
                high = std::max(high, points.y(i));
            }
            mapping = fitMapping(from, to, low + (high - low) * 0.1, high - (high - low) * 0.1);
        }
        if (kind == 5) {
            mapping = fitMapping(0, 299, -1000, 1000);
        }
        if (kind == 6) {
            mapping = fitMapping(0, 900, -1000, 1000);
        }
        expectSamePicture(points, mapping, ascending, QTest::currentDataTag());
    }
}

void TestChartDrawing::decimationSkipsNothingAfterTheWindowSlides() {
    // The real-time window: the ring wraps while the oldest points leave.
    PointStore points;
    for (int i = 0; i < 600; ++i) {
        points.append(i, (i * 37) % 200, QStringLiteral(" "));
    }
    for (int i = 600; i < 1000; ++i) {
        points.remove(0);
        points.append(i, (i * 37) % 200 - 100, QStringLiteral("t"));
        if (i % 97 == 0) {
            expectSamePicture(points, fitMapping(i - 599, i, -150, 250), true, "window");
        }
    }
    // A dense window with gaps whose ring wraps inside a column, at a jump of the values and
    // just after a gap.
    PointStore dense;
    for (int i = 0; i < 35000; ++i) {
        if (i >= 20000) {
            dense.remove(0);
        }
        const bool gap = i % 41 == 0 || i == 32760;
        dense.append(
            i, gap ? std::numeric_limits<double>::quiet_NaN() : (i < 32768 ? 200 : 800) + i % 7,
            QString());
    }
    QCOMPARE(dense.runs().secondCount, 35000 - 32768);
    expectSamePicture(dense, fitMapping(15000, 34999, 0, 1000), true, "dense window");
}

void TestChartDrawing::chartDrawsVisibleSeriesOnTheBackColour() {
    TChart chart;
    chart.setBackColor(Qt::black);
    chart.resize(640, 400);
    TFastLineSeries* flat = chart.addFastLineSeries();    // red
    TFastLineSeries* hidden = chart.addFastLineSeries();  // green
    for (int i = 0; i < 100; ++i) {
        flat->addXY(i, 500);
        hidden->addXY(i, 250);
    }
    hidden->setVisible(false);
    const QImage image = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect plot = chart.plotRect();
    const int row = chart.leftAxis()->pixelOf(500);
    const int hiddenRow = chart.leftAxis()->pixelOf(250);
    for (int x = plot.left(); x <= plot.right(); ++x) {
        QCOMPARE(image.pixel(x, row), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(x, hiddenRow), qRgb(0, 0, 0));
    }
    QCOMPARE(image.pixel(plot.left() + 5, plot.top() + 3), qRgb(0, 0, 0));
    chart.setBackColor(Qt::white);
    const QImage white = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(white.pixel(plot.left() + 5, plot.top() + 3), qRgb(255, 255, 255));
}

void TestChartDrawing::xorCrossHairTwiceRestoresThePictureWithoutRedrawingSeries() {
    TChart chart;
    chart.setBackColor(Qt::black);
    chart.resize(700, 450);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    TFastLineSeries* s = chart.addFastLineSeries();
    for (int i = 0; i < 2000; ++i) {
        s->addXY(i, 500 + 400 * std::sin(i / 100.0), QStringLiteral("L%1").arg(i));
    }
    QSignalSpy drawn(s, &TFastLineSeries::afterDrawValues);
    const QImage before = chart.grab().toImage();
    QCOMPARE(drawn.count(), 1);

    const QRect plot = chart.plotRect();
    auto crossHair = [&](int x, int y) {
        TChartCanvas* c = chart.canvas();
        c->setPenColor(crossHairColor(chart.backColor()));
        c->setPenStyle(Qt::SolidLine);
        c->setPenMode(TChartCanvas::PenMode::Xor);
        c->setPenWidth(1);
        c->moveTo(x, plot.top());
        c->lineTo(x, plot.bottom());
        c->moveTo(plot.left(), y);
        c->lineTo(plot.right(), y);
    };
    const int x = plot.left() + 123;
    const int y = plot.top() + 17;
    crossHair(x, y);
    QCoreApplication::processEvents();
    const QImage with = chart.grab().toImage();
    QVERIFY(with != before);
    // On the black back colour the lines are pure red.
    QCOMPARE(QColor(with.pixel(x, plot.top() + 2)), QColor(Qt::red));
    QCOMPARE(QColor(with.pixel(plot.left() + 2, y)), QColor(Qt::red));
    // The end pixel of each line is left alone.
    QCOMPARE(with.pixel(x, plot.bottom()), before.pixel(x, plot.bottom()));
    crossHair(x, y);
    QCoreApplication::processEvents();
    QCOMPARE(chart.grab().toImage(), before);
    QCOMPARE(drawn.count(), 1);  // the series were not drawn again
    // The mask 255 lies on red's byte of a Windows colour value: other backgrounds keep green
    // and blue.
    QCOMPARE(crossHairColor(QColor(240, 240, 240)), QColor(15, 240, 240));
    QCOMPARE(crossHairColor(QColor(10, 20, 30)), QColor(245, 20, 30));

    // A data change redraws the series and tells every series, never in the middle of a
    // caller's drawing: lines drawn on the stale picture are wiped by the redraw that follows.
    TFastLineSeries* other = chart.addFastLineSeries();
    QSignalSpy otherDrawn(other, &TFastLineSeries::afterDrawValues);
    other->setVisible(false);
    s->addXY(2000, 0);
    crossHair(x, y);
    QCOMPARE(drawn.count(), 1);
    chart.repaint();
    QCOMPARE(drawn.count(), 2);
    QCOMPARE(otherDrawn.count(), 1);
    const QImage redrawn = chart.grab().toImage();
    QCOMPARE(QColor(redrawn.pixel(plot.left() + 2, y)), QColor(Qt::black));
}

void TestChartDrawing::wideAndCopyPens() {
    TChart chart;
    chart.setBackColor(Qt::black);
    chart.resize(400, 300);
    const QImage before = chart.grab().toImage();
    TChartCanvas* c = chart.canvas();
    c->setPenMode(TChartCanvas::PenMode::Xor);
    c->setPenColor(QColor(0, 255, 0));
    c->setPenWidth(3);
    for (int pass = 0; pass < 2; ++pass) {
        c->moveTo(50, 50);
        c->lineTo(200, 120);
        c->lineTo(60, 250);
    }
    QCOMPARE(chart.grab().toImage(), before);
    c->setPenMode(TChartCanvas::PenMode::Copy);
    c->setPenColor(QColor(1, 2, 3));
    c->setPenWidth(1);
    c->moveTo(10, 10);
    c->lineTo(30, 10);
    const QImage copied = chart.grab().toImage();
    QCOMPARE(QColor(copied.pixel(20, 10)), QColor(1, 2, 3));
    QCOMPARE(copied.pixel(30, 10), before.pixel(30, 10));
    QCOMPARE(c->penPosition(), QPoint(30, 10));
}

void TestChartDrawing::redrawOfThePlotAloneGivesTheWholePicture() {
    TChart chart;
    chart.setTitle(QStringLiteral("历史曲线"));
    chart.resize(500, 300);
    TFastLineSeries* s = chart.addFastLineSeries();
    for (int i = 0; i < 300; ++i) {
        s->addXY(i, 500 + 300 * std::sin(i / 30.0), QStringLiteral("L%1").arg(i));
    }
    chart.leftAxis()->setMinMax(0, 1000);
    chart.bottomAxis()->setMinMax(0, 300);
    chart.bottomAxis()->setLabelStyle(TChartAxis::LabelStyle::Value);
    const QRect plot = chart.plotRect();
    (void)chart.grab();
    // Marks inside the plot, then outside it (which the panel has to lose too).
    for (const QPoint& at : {plot.topLeft() + QPoint(5, 5), QPoint(2, 2)}) {
        chart.canvas()->moveTo(at.x(), at.y());
        chart.canvas()->lineTo(at.x() + 40, at.y());
        s->deletePoint(0);  // the ticks stay where they are: only the plot is drawn again
        chart.setBackColor(at.x() == 2 ? Qt::black : Qt::white);
        QCOMPARE(chart.grab().toImage().convertToFormat(QImage::Format_RGB32),
                 chart.renderImage(chart.size()));
    }
}

void TestChartDrawing::windowShowsThePictureWhereverTheChartSits() {
    // A whole redraw goes straight into the window's pixels: at the chart's place, with its
    // panel, under canvas marks drawn afterwards, and never over a widget that covers it.
    QWidget window;
    window.resize(560, 380);
    auto* chart = new TChart(&window);
    chart->setGeometry(17, 23, 500, 300);
    chart->setTitle(QStringLiteral("历史曲线"));
    chart->setBackColor(Qt::black);
    TFastLineSeries* s = chart->addFastLineSeries();
    for (int i = 0; i < 3000; ++i) {
        s->addXY(i, 500 + 400 * std::sin(i / 90.0));
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto shown = [&] {
        return window.screen()->grabWindow(window.winId()).toImage().copy(chart->geometry())
            .convertToFormat(QImage::Format_RGB32);
    };
    // New points only, then new ticks, then new points again; then hidden (the window paints
    // its own background there) and shown again.
    for (int round = 0; round < 4; ++round) {
        s->addXY(3000 + round, 100);
        if (round == 1) {
            chart->leftAxis()->setMinMax(0, 1500);
        }
        if (round == 3) {
            chart->hide();
            QCoreApplication::processEvents();
            chart->show();
        }
        chart->repaint();
        QCOMPARE(shown(), chart->renderImage(chart->size()));
    }
    const QImage before = shown();
    const QRect plot = chart->plotRect();
    TChartCanvas* c = chart->canvas();
    c->setPenMode(TChartCanvas::PenMode::Xor);
    c->setPenColor(QColor(255, 0, 0));
    for (int pass = 0; pass < 2; ++pass) {
        c->moveTo(plot.left() + 40, plot.top());
        c->lineTo(plot.left() + 40, plot.bottom());
        QCoreApplication::processEvents();
        const QImage with = shown();
        QCOMPARE(with.pixel(plot.left() + 40, plot.top() + 1),
                 pass == 0 ? qRgb(255, 0, 0) : qRgb(0, 0, 0));
        QCOMPARE(with.copy(0, 0, plot.left() + 40, chart->height()),
                 before.copy(0, 0, plot.left() + 40, chart->height()));
    }
    QCOMPARE(shown(), before);

    s->addXY(3009, 500);
    chart->repaint();  // marks gone, the next redraw goes straight to the window again
    QWidget cover(&window);
    cover.setGeometry(chart->geometry().left() + 100, chart->geometry().top() + 50, 60, 40);
    QPalette blue;
    blue.setColor(QPalette::Window, QColor(0, 0, 255));
    cover.setPalette(blue);
    cover.setAutoFillBackground(true);
    cover.show();
    QCoreApplication::processEvents();
    s->addXY(3010, 900);
    chart->repaint();
    QImage expected = chart->renderImage(chart->size());
    QPainter(&expected).fillRect(cover.geometry().translated(-chart->pos()), QColor(0, 0, 255));
    QCOMPARE(shown(), expected);
}

void TestChartDrawing::renderImageAtAnotherSize() {
    TChart chart;
    chart.setTitle(QStringLiteral("实时曲线"));
    chart.setBackColor(Qt::black);
    chart.resize(300, 200);
    TFastLineSeries* s = chart.addFastLineSeries();
    for (int i = 0; i < 50; ++i) {
        s->addXY(i, i * 20, QStringLiteral("07-02-04 10:15:%1").arg(i, 2, 10, QLatin1Char('0')));
    }
    QSignalSpy drawn(s, &TFastLineSeries::afterDrawValues);
    const QImage big = chart.renderImage(QSize(1200, 800));
    QCOMPARE(big.size(), QSize(1200, 800));
    QCOMPARE(drawn.count(), 0);
    int red = 0;
    for (int y = 0; y < big.height(); ++y) {
        for (int x = 0; x < big.width(); ++x) {
            red += big.pixel(x, y) == qRgb(255, 0, 0);
        }
    }
    QVERIFY(red > 700);  // the diagonal spans the plot
}

void TestChartDrawing::anySizeDrawsWithinItsImage() {
    // Under the sanitizer build a write or read outside an image stops the test.
    TChart chart;
    chart.setTitle(QStringLiteral("历史曲线"));
    chart.setBackColor(Qt::black);
    chart.setMarginsPercent(QMargins(3, 5, 5, 4));
    TFastLineSeries* s = chart.addFastLineSeries();
    for (int i = 0; i < 500; ++i) {
        s->addXY(i, 500 + 499 * std::sin(i / 20.0), QStringLiteral("03-14 08:%1").arg(i % 60));
    }
    for (int w : {0, 1, 2, 3, 7, 20, 60, 300}) {
        for (int h : {0, 1, 2, 3, 7, 20, 45, 300}) {
            const QImage image = chart.renderImage(QSize(w, h));
            QCOMPARE(image.size(), w > 0 && h > 0 ? QSize(w, h) : QSize(0, 0));
            chart.resize(w, h);
            const QRect plot = chart.plotRect();
            QVERIFY2(plot.isEmpty() || QRect(0, 0, w, h).contains(plot),
                     qPrintable(QStringLiteral("%1 x %2").arg(w).arg(h)));
            (void)chart.grab();
            // The cross-hair drawn at the plot's edges stays inside the picture too.
            TChartCanvas* c = chart.canvas();
            c->setPenWidth(3);
            c->moveTo(plot.left(), plot.top());
            c->lineTo(plot.right(), plot.bottom());
        }
    }
    // At 300 x 20 what fits is drawn: the curve shows between the frame lines.
    const QImage flat = chart.renderImage(QSize(300, 20));
    int red = 0;
    for (int y = 0; y < flat.height(); ++y) {
        for (int x = 0; x < flat.width(); ++x) {
            red += flat.pixel(x, y) == qRgb(255, 0, 0);
        }
    }
    QVERIFY(red > 0);
}

QTEST_MAIN(TestChartDrawing)
#include "tst_chart_drawing.moc"
