// Axes, percentage zoom, undo, mouse zoom and scroll, and their events.
#include "tchart.h"

#include <QtTest>

using tamlo::chart::TChart;
using tamlo::chart::TChartAxis;
using tamlo::chart::TFastLineSeries;

namespace {

struct Range {
    bool automatic;
    double minimum;
    double maximum;
};

Range rangeOf(const TChartAxis* a) {
    return Range{a->automatic(), a->minimum(), a->maximum()};
}

void fill(TFastLineSeries* s, int count, double base = 0) {
    for (int i = 0; i < count; ++i) {
        s->addXY(i, base + i, QStringLiteral("L%1").arg(i));
    }
}

// The refusal text of an axis call; empty when it was applied.
QString axisError(const std::function<bool(QString*)>& change) {
    QString refusal;
    const bool applied = change(&refusal);
    return applied == refusal.isEmpty() ? refusal : QStringLiteral("result and text disagree");
}

}  // namespace

class TestChartAxes : public QObject {
    Q_OBJECT
private slots:
    void axesAtCreation();
    void rangeErrorsAndTheOrderOfEnds();
    void automaticAxisFollowsVisibleData();
    void zoomStepsCompound();
    void zoomInThenOutDoesNotReturnButUndoDoes();
    void undoRestoresAutomaticBottomAxis();
    void undoWithoutZoomStillRaisesItsEvent();
    void removingAllSeriesKeepsRanges();
    void eventsComeAfterTheAxesChanged();
    void leftDragTowardsLowerRightZoomsToTheRectangle();
    void shortDragDoesNothing();
    void otherLongDragsUndo();
    void rightDragScrolls();
    void mouseMoveReportsPositionAndValues();
    void formatsValuesLikeItsLabels();
    void plotRectangleLiesInsideTheChart();
};

void TestChartAxes::axesAtCreation() {
    TChart chart;
    for (const TChartAxis* a : {chart.leftAxis(), chart.rightAxis()}) {
        QVERIFY(!a->automatic());
        QCOMPARE(a->minimum(), 0.0);
        QCOMPARE(a->maximum(), 1000.0);
    }
    QVERIFY(chart.bottomAxis()->automatic());
    QVERIFY(chart.topAxis()->automatic());
    QCOMPARE(chart.bottomAxis()->labelStyle(), TChartAxis::LabelStyle::PointLabel);
    QCOMPARE(chart.horizontalOffset3D(), 0);
    QCOMPARE(chart.verticalOffset3D(), 0);
    QVERIFY(!chart.isZoomed());
}

void TestChartAxes::rangeErrorsAndTheOrderOfEnds() {
    TChart chart;
    TChartAxis* left = chart.leftAxis();
    QCOMPARE(axisError([&](QString* e) { return left->setMinimum(1200, e); }),
             QStringLiteral("Axis Minimum Value must be <= Maximum"));
    QCOMPARE(left->minimum(), 0.0);
    QCOMPARE(left->maximum(), 1000.0);
    // Maximum first works.
    QCOMPARE(axisError([&](QString* e) { return left->setMaximum(1500, e); }), QString());
    QCOMPARE(axisError([&](QString* e) { return left->setMinimum(1200, e); }), QString());
    QCOMPARE(left->minimum(), 1200.0);
    QCOMPARE(left->maximum(), 1500.0);
    QCOMPARE(axisError([&](QString* e) { return left->setMaximum(-10, e); }),
             QStringLiteral("Axis Maximum Value must be >= Minimum"));
    // Values that are not finite numbers would break the scale.
    QCOMPARE(axisError([&](QString* e) { return left->setMaximum(qInf(), e); }),
             QStringLiteral("Axis Maximum Value must be >= Minimum"));
    QCOMPARE(axisError([&](QString* e) { return left->setMinimum(qQNaN(), e); }),
             QStringLiteral("Axis Minimum Value must be <= Maximum"));
    QCOMPARE(left->maximum(), 1500.0);
    // Equal ends are allowed.
    QCOMPARE(axisError([&](QString* e) { return left->setMaximum(1200, e); }), QString());
    // An automatic axis takes the data's other end and becomes fixed.
    TChartAxis* bottom = chart.bottomAxis();
    fill(chart.addFastLineSeries(), 100);
    bottom->setMinimum(10);
    QVERIFY(!bottom->automatic());
    QCOMPARE(bottom->maximum(), 99.0);
    QCOMPARE(axisError([&](QString* e) { return bottom->setMinimum(100, e); }),
             QStringLiteral("Axis Minimum Value must be <= Maximum"));
}

void TestChartAxes::automaticAxisFollowsVisibleData() {
    TChart chart;
    TFastLineSeries* a = chart.addFastLineSeries();
    TFastLineSeries* b = chart.addFastLineSeries();
    fill(a, 50);
    for (int i = -10; i < 10; ++i) {
        b->addXY(i, 0);
    }
    QCOMPARE(chart.bottomAxis()->minimum(), -10.0);
    QCOMPARE(chart.bottomAxis()->maximum(), 49.0);
    QCOMPARE(chart.bottomAxis()->minXValue(), -10.0);
    b->setVisible(false);
    QCOMPARE(chart.bottomAxis()->minimum(), 0.0);
    QCOMPARE(chart.bottomAxis()->minXValue(), 0.0);
    // Real-time window: drop the oldest, append a newer one.
    for (int i = 50; i < 60; ++i) {
        a->deletePoint(0);
        a->addXY(a->lastXValue() + 1, 0, QStringLiteral(" "));
    }
    QCOMPARE(chart.bottomAxis()->minimum(), 10.0);
    QCOMPARE(chart.bottomAxis()->maximum(), 59.0);
    QCOMPARE(chart.leftAxis()->minimum(), 0.0);  // fixed
    // Without data the axis keeps the range it showed last, though nobody read it.
    for (int i = 0; i < 5; ++i) {
        a->addXY(a->lastXValue() + 1, 0);
    }
    a->clear();
    QCOMPARE(chart.bottomAxis()->minimum(), 10.0);
    QCOMPARE(chart.bottomAxis()->maximum(), 64.0);
}

void TestChartAxes::zoomStepsCompound() {
    TChart chart;
    chart.zoomPercent(115);
    QCOMPARE(chart.leftAxis()->minimum(), 150.0);
    QCOMPARE(chart.leftAxis()->maximum(), 850.0);
    chart.zoomPercent(115);
    QCOMPARE(chart.leftAxis()->minimum(), 255.0);
    QCOMPARE(chart.leftAxis()->maximum(), 745.0);
    QVERIFY(chart.isZoomed());
    chart.undoZoom();
    QCOMPARE(chart.leftAxis()->minimum(), 0.0);
    QCOMPARE(chart.leftAxis()->maximum(), 1000.0);
    QVERIFY(!chart.isZoomed());
}

void TestChartAxes::zoomInThenOutDoesNotReturnButUndoDoes() {
    TChart chart;
    chart.zoomPercent(115);
    chart.zoomPercent(85);
    // 70 % of the range, then 130 % of that.
    QCOMPARE(chart.leftAxis()->minimum(), 150.0 - 700 * 0.15);
    QCOMPARE(chart.leftAxis()->maximum(), 850.0 + 700 * 0.15);
    QVERIFY(chart.leftAxis()->minimum() != 0.0);
    chart.undoZoom();
    QCOMPARE(chart.leftAxis()->minimum(), 0.0);
    QCOMPARE(chart.leftAxis()->maximum(), 1000.0);
}

void TestChartAxes::undoRestoresAutomaticBottomAxis() {
    TChart chart;
    TFastLineSeries* s = chart.addFastLineSeries();
    fill(s, 101);
    chart.zoomPercent(115);
    QVERIFY(!chart.bottomAxis()->automatic());
    QCOMPARE(chart.bottomAxis()->minimum(), 15.0);
    QCOMPARE(chart.bottomAxis()->maximum(), 85.0);
    s->addXY(200, 0);
    QCOMPARE(chart.bottomAxis()->maximum(), 85.0);  // fixed while zoomed
    chart.undoZoom();
    QVERIFY(chart.bottomAxis()->automatic());
    QCOMPARE(chart.bottomAxis()->maximum(), 200.0);  // follows the data again
    // Percentages that would turn a range inside out are ignored.
    QSignalSpy spy(&chart, &TChart::zoomed);
    chart.zoomPercent(150);
    chart.zoomPercent(0);
    QCOMPARE(spy.count(), 0);
    QVERIFY(chart.bottomAxis()->automatic());
}

void TestChartAxes::undoWithoutZoomStillRaisesItsEvent() {
    TChart chart;
    QSignalSpy spy(&chart, &TChart::undoZoomed);
    chart.undoZoom();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(chart.leftAxis()->maximum(), 1000.0);
    // An explicit range set while not zoomed stays after an undo.
    chart.leftAxis()->setMaximum(50);
    chart.undoZoom();
    QCOMPARE(chart.leftAxis()->maximum(), 50.0);
}

void TestChartAxes::removingAllSeriesKeepsRanges() {
    TChart chart;
    fill(chart.addFastLineSeries(), 300);
    chart.leftAxis()->setMaximum(400);
    QCOMPARE(chart.bottomAxis()->maximum(), 299.0);
    chart.removeAllSeries();
    QCOMPARE(chart.seriesCount(), 0);
    QCOMPARE(chart.bottomAxis()->minimum(), 0.0);
    QCOMPARE(chart.bottomAxis()->maximum(), 299.0);
    QVERIFY(chart.bottomAxis()->automatic());
    QCOMPARE(chart.leftAxis()->maximum(), 400.0);
    QCOMPARE(chart.bottomAxis()->minXValue(), 0.0);
    QCOMPARE(chart.bottomAxis()->maxXValue(), 0.0);
}

void TestChartAxes::eventsComeAfterTheAxesChanged() {
    TChart chart;
    fill(chart.addFastLineSeries(), 101);
    QList<Range> seen;
    QStringList order;
    connect(&chart, &TChart::zoomed, this, [&] {
        order << "zoom";
        seen << rangeOf(chart.bottomAxis());
    });
    connect(&chart, &TChart::undoZoomed, this, [&] {
        order << "undo";
        seen << rangeOf(chart.bottomAxis());
    });
    connect(&chart, &TChart::scrolled, this, [&] {
        order << "scroll";
        seen << rangeOf(chart.bottomAxis());
    });
    chart.zoomPercent(115);
    chart.undoZoom();
    chart.resize(600, 400);
    chart.scrollBy(10, 0);
    QCOMPARE(order, (QStringList{"zoom", "undo", "scroll"}));
    QVERIFY(!seen[0].automatic);
    QCOMPARE(seen[0].minimum, 15.0);
    QVERIFY(seen[1].automatic);
    QCOMPARE(seen[1].minimum, 0.0);
    QVERIFY(!seen[2].automatic);
    QVERIFY(seen[2].minimum < 0.0);
}

void TestChartAxes::leftDragTowardsLowerRightZoomsToTheRectangle() {
    TChart chart;
    chart.resize(800, 500);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    fill(chart.addFastLineSeries(), 1001);
    const QRect plot = chart.plotRect();
    const QPoint from(plot.left() + 100, plot.top() + 50);
    const QPoint to(plot.left() + 300, plot.top() + 150);
    const double expectLeft = chart.bottomAxis()->valueAt(from.x());
    const double expectRight = chart.bottomAxis()->valueAt(to.x());
    const double expectTop = chart.leftAxis()->valueAt(from.y());
    const double expectBottom = chart.leftAxis()->valueAt(to.y());
    QList<Range> atEvent;
    connect(&chart, &TChart::zoomed, this, [&] { atEvent << rangeOf(chart.bottomAxis()); });
    QSignalSpy undo(&chart, &TChart::undoZoomed);
    QSignalSpy scroll(&chart, &TChart::scrolled);
    QTest::mousePress(&chart, Qt::LeftButton, {}, from);
    QTest::mouseMove(&chart, to);
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, to);
    QCOMPARE(atEvent.size(), 1);
    QCOMPARE(undo.count(), 0);
    QCOMPARE(scroll.count(), 0);
    QCOMPARE(atEvent[0].minimum, expectLeft);
    QCOMPARE(atEvent[0].maximum, expectRight);
    QCOMPARE(chart.leftAxis()->minimum(), expectBottom);
    QCOMPARE(chart.leftAxis()->maximum(), expectTop);
    QVERIFY(chart.isZoomed());
}

void TestChartAxes::shortDragDoesNothing() {
    TChart chart;
    chart.resize(800, 500);
    const QRect plot = chart.plotRect();
    const QPoint from = plot.center();
    QSignalSpy zoom(&chart, &TChart::zoomed);
    QSignalSpy undo(&chart, &TChart::undoZoomed);
    // 16 pixels one way is too short whatever the other way.
    for (const QPoint delta : {QPoint(16, 100), QPoint(100, 16), QPoint(-16, -100)}) {
        QTest::mousePress(&chart, Qt::LeftButton, {}, from);
        QTest::mouseRelease(&chart, Qt::LeftButton, {}, from + delta);
    }
    QCOMPARE(zoom.count(), 0);
    QCOMPARE(undo.count(), 0);
    QTest::mousePress(&chart, Qt::LeftButton, {}, from);
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, from + QPoint(17, 17));
    QCOMPARE(zoom.count(), 1);
}

void TestChartAxes::otherLongDragsUndo() {
    TChart chart;
    chart.resize(800, 500);
    const QPoint from = chart.plotRect().center();
    QSignalSpy zoom(&chart, &TChart::zoomed);
    QSignalSpy undo(&chart, &TChart::undoZoomed);
    for (const QPoint delta : {QPoint(-40, -40), QPoint(40, -40), QPoint(-40, 40)}) {
        chart.zoomPercent(115);
        QList<Range> atUndo;
        auto c = connect(&chart, &TChart::undoZoomed, this,
                         [&] { atUndo << rangeOf(chart.leftAxis()); });
        QTest::mousePress(&chart, Qt::LeftButton, {}, from);
        QTest::mouseRelease(&chart, Qt::LeftButton, {}, from + delta);
        disconnect(c);
        QCOMPARE(atUndo.size(), 1);
        QCOMPARE(atUndo[0].minimum, 0.0);
        QCOMPARE(atUndo[0].maximum, 1000.0);
    }
    QCOMPARE(zoom.count(), 3);
    QCOMPARE(undo.count(), 3);
}

void TestChartAxes::rightDragScrolls() {
    TChart chart;
    chart.resize(800, 500);
    fill(chart.addFastLineSeries(), 1001);
    const QRect plot = chart.plotRect();
    const QPoint from = plot.center();
    const double valueUnderMouse = chart.bottomAxis()->valueAt(from.x());
    QList<Range> atScroll;
    connect(&chart, &TChart::scrolled, this, [&] { atScroll << rangeOf(chart.bottomAxis()); });
    QSignalSpy zoom(&chart, &TChart::zoomed);
    QTest::mousePress(&chart, Qt::RightButton, {}, from);
    QTest::mouseMove(&chart, from + QPoint(-50, 20));
    QTest::mouseRelease(&chart, Qt::RightButton, {}, from + QPoint(-50, 20));
    QCOMPARE(atScroll.size(), 1);
    QCOMPARE(zoom.count(), 0);
    QVERIFY(!atScroll[0].automatic);
    // The data follows the mouse: the value that was under it is under it again.
    QVERIFY(qAbs(chart.bottomAxis()->valueAt(from.x() - 50) - valueUnderMouse) < 1e-9);
    QVERIFY(chart.leftAxis()->minimum() > 0);  // dragged down: higher values come into view
    QCOMPARE(chart.leftAxis()->maximum() - chart.leftAxis()->minimum(), 1000.0);
    chart.undoZoom();
    QVERIFY(chart.bottomAxis()->automatic());
    QCOMPARE(chart.leftAxis()->minimum(), 0.0);
}

void TestChartAxes::mouseMoveReportsPositionAndValues() {
    TChart chart;
    chart.resize(800, 500);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    TFastLineSeries* s = chart.addFastLineSeries();
    fill(s, 101);
    QSignalSpy moved(&chart, &TChart::mouseMoved);
    QTest::mouseMove(&chart, QPoint(123, 234));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved[0][0].toInt(), 123);
    QCOMPARE(moved[0][1].toInt(), 234);
    const QRect plot = chart.plotRect();
    QPointF v = s->cursorValues(plot.left(), plot.bottom());
    QCOMPARE(v.x(), 0.0);
    QCOMPARE(v.y(), 0.0);
    v = s->cursorValues(plot.right(), plot.top());
    QCOMPARE(v.x(), 100.0);
    QCOMPARE(v.y(), 1000.0);
    const int midX = (plot.left() + plot.right()) / 2;
    v = s->cursorValues(midX, plot.top());
    QCOMPARE(v.x(), 100.0 * (midX - plot.left()) / (plot.right() - plot.left()));
    QCOMPARE(chart.bottomAxis()->pixelOf(50),
             plot.left() + int(std::floor((plot.right() - plot.left()) / 2.0 + 0.5)));
}

void TestChartAxes::formatsValuesLikeItsLabels() {
    TChart chart;
    const TChartAxis* left = chart.leftAxis();
    QCOMPARE(left->formatValue(255), QStringLiteral("255"));
    QCOMPARE(left->formatValue(12.345678), QStringLiteral("12.346"));
    QCOMPARE(left->formatValue(0.5), QStringLiteral("0.5"));
    QCOMPARE(left->formatValue(-0.0), QStringLiteral("0"));
    QCOMPARE(left->formatValue(-30000), QStringLiteral("-30000"));
}

void TestChartAxes::plotRectangleLiesInsideTheChart() {
    TChart chart;
    chart.setTitle(QStringLiteral("历史曲线"));
    chart.resize(932, 700);
    const QRect plot = chart.plotRect();
    QVERIFY(chart.rect().contains(plot));
    QVERIFY(plot.width() > 700);
    QVERIFY(plot.height() > 500);
    chart.setMarginsPercent(QMargins(3, 5, 5, 4));
    QVERIFY(chart.plotRect().right() < plot.right());
    QVERIFY(chart.plotRect().top() > plot.top());
}

QTEST_MAIN(TestChartAxes)
#include "tst_chart_axes.moc"
