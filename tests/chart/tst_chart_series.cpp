// Point store, series and default colours.
#include "pointstore.h"
#include "tchart.h"

#include <QtTest>

using tamlo::chart::PointStore;
using tamlo::chart::TChart;
using tamlo::chart::TFastLineSeries;

class TestChartSeries : public QObject {
    Q_OBJECT
private slots:
    void storeKeepsOrderAcrossTheRing();
    void storeRemovesInTheMiddleFromEitherSide();
    void slidingWindowKeepsLabelsAndBoundedMemory();
    void storeRejectsBadIndex();
    void seriesPointsAndLastX();
    void seriesRangesFollowAppendsAndDeletes();
    void bulkPointsWithLabelFunctionDrawAsStoredLabels();
    void defaultColoursInOrder();
    void sixteenthSeriesOnBlackIsRedAndSoAreLaterOnes();
    void defaultColourSkipsBackColourAndColoursInUse();
    void removeAllSeriesDeletesThem();
};

void TestChartSeries::storeKeepsOrderAcrossTheRing() {
    PointStore store;
    for (int i = 0; i < 32; ++i) {
        store.append(i, i * 10, QString::number(i));
    }
    // Drop from the front and refill so the ring wraps.
    for (int i = 0; i < 10; ++i) {
        store.remove(0);
    }
    for (int i = 32; i < 42; ++i) {
        store.append(i, i * 10, QString::number(i));
    }
    QCOMPARE(store.size(), 32);
    for (int i = 0; i < 32; ++i) {
        QCOMPARE(store.x(i), double(i + 10));
        QCOMPARE(store.y(i), double((i + 10) * 10));
        QCOMPARE(store.label(i), QString::number(i + 10));
    }
    const PointStore::Runs runs = store.runs();
    QCOMPARE(runs.firstCount + runs.secondCount, 32);
    QVERIFY(runs.secondCount > 0);  // wrapped
    QCOMPARE(runs.xFirst[0], 10.0);
    QCOMPARE(runs.xSecond[runs.secondCount - 1], 41.0);
}

void TestChartSeries::storeRemovesInTheMiddleFromEitherSide() {
    PointStore store;
    for (int i = 0; i < 10; ++i) {
        store.append(i, -i, i % 2 ? QString() : QStringLiteral("L%1").arg(i));
    }
    store.remove(2);  // shorter side: the front
    store.remove(6);  // shorter side: the back (was index 7)
    const QList<double> expected{0, 1, 3, 4, 5, 6, 8, 9};
    QCOMPARE(store.size(), expected.size());
    for (int i = 0; i < store.size(); ++i) {
        QCOMPARE(store.x(i), expected[i]);
        QCOMPARE(store.y(i), -expected[i]);
        const int original = int(expected[i]);
        QCOMPARE(store.label(i), original % 2 ? QString() : QStringLiteral("L%1").arg(original));
    }
    store.clear();
    QCOMPARE(store.size(), 0);
    store.append(1, 2, QStringLiteral("again"));
    QCOMPARE(store.label(0), QStringLiteral("again"));
}

void TestChartSeries::slidingWindowKeepsLabelsAndBoundedMemory() {
    PointStore store;
    for (int i = 0; i < 600; ++i) {
        store.append(i, 0, QStringLiteral(" "));
    }
    std::size_t settled = 0;
    for (int i = 600; i < 50000; ++i) {
        store.remove(0);
        store.append(i, i, QStringLiteral("26-01-02 10:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
        if (i == 10000) {
            settled = store.bytesReserved();
        }
    }
    QCOMPARE(store.size(), 600);
    QCOMPARE(store.x(0), 49400.0);
    QCOMPARE(store.label(599),
             QStringLiteral("26-01-02 10:%1").arg(49999 % 60, 2, 10, QLatin1Char('0')));
    QCOMPARE(store.label(0),
             QStringLiteral("26-01-02 10:%1").arg(49400 % 60, 2, 10, QLatin1Char('0')));
    // The label pool is reclaimed: memory does not grow with the run's length.
    QVERIFY2(store.bytesReserved() <= settled + 1024,
             qPrintable(QString::number(store.bytesReserved())));
    QVERIFY(store.bytesReserved() < 600 * 24 * 4 + 64 * 1024);
}

void TestChartSeries::storeRejectsBadIndex() {
    PointStore store;
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, store.remove(0));
    store.append(1, 1, QString());
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, store.remove(1));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, store.remove(-1));
}

void TestChartSeries::seriesPointsAndLastX() {
    TChart chart;
    TFastLineSeries* s = chart.addFastLineSeries();
    QCOMPARE(s->count(), 0);
    QCOMPARE(s->lastXValue(), 0.0);
    QCOMPARE(s->addXY(0, 1.5, QStringLiteral("01-02 03:04:05")), 0);
    QCOMPARE(s->addXY(1, -2.5), 1);
    QCOMPARE(s->count(), 2);
    QCOMPARE(s->lastXValue(), 1.0);
    QCOMPARE(s->label(0), QStringLiteral("01-02 03:04:05"));
    QCOMPARE(s->label(1), QString());
    QCOMPARE(s->yValue(1), -2.5);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, s->yValue(2));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, s->label(-1));
    s->deletePoint(0);
    QCOMPARE(s->xValue(0), 1.0);
    s->clear();
    QCOMPARE(s->count(), 0);
    QVERIFY(s->isVisible());
    s->setVisible(false);
    QVERIFY(!s->isVisible());
}

void TestChartSeries::seriesRangesFollowAppendsAndDeletes() {
    TChart chart;
    TFastLineSeries* s = chart.addFastLineSeries();
    for (int i = 0; i < 10; ++i) {
        s->addXY(i, i == 0 ? 100 : i);
    }
    s->addXY(10, std::numeric_limits<double>::quiet_NaN());
    double low = 0;
    double high = 0;
    QVERIFY(s->yRange(low, high));
    QCOMPARE(low, 1.0);
    QCOMPARE(high, 100.0);
    s->deletePoint(0);  // the maximum leaves
    QVERIFY(s->yRange(low, high));
    QCOMPARE(high, 9.0);
    QVERIFY(s->xRange(low, high));
    QCOMPARE(low, 1.0);
    QCOMPARE(high, 10.0);
    QVERIFY(s->xAscending());
    s->addXY(-5, 0);
    QVERIFY(!s->xAscending());
    QVERIFY(s->xRange(low, high));
    QCOMPARE(low, -5.0);
}

void TestChartSeries::bulkPointsWithLabelFunctionDrawAsStoredLabels() {
    // A bulk append into a ring that wraps keeps the order.
    PointStore store;
    for (int i = 0; i < 16; ++i) {
        store.append(i, i, QStringLiteral("s"));
    }
    for (int i = 0; i < 10; ++i) {
        store.remove(0);
    }
    const std::vector<double> more{16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
    store.append(more.data(), more.data(), int(more.size()));
    QCOMPARE(store.size(), 21);
    for (int i = 0; i < 21; ++i) {
        QCOMPARE(store.x(i), double(i + 10));
        QCOMPARE(store.label(i), i < 6 ? QStringLiteral("s") : QString());
    }

    // A page loaded in bulk and labelled on demand draws exactly as one labelled point by point,
    // asking only for the labels it shows.
    const int n = 20000;
    std::vector<double> xs(n);
    std::vector<double> ys(n);
    for (int i = 0; i < n; ++i) {
        xs[i] = i;
        ys[i] = 500 + 400 * std::sin(i / 900.0);
    }
    auto labelOf = [](int i) {
        return QStringLiteral("%1:%2")
            .arg(i / 60, 2, 10, QLatin1Char('0'))
            .arg(i % 60, 2, 10, QLatin1Char('0'));
    };
    TChart stored;
    TChart lazy;
    for (TChart* c : {&stored, &lazy}) {
        c->bottomAxis()->setAutomatic(true);
    }
    TFastLineSeries* a = stored.addFastLineSeries();
    for (int i = 0; i < n; ++i) {
        a->addXY(xs[i], ys[i], labelOf(i));
    }
    TFastLineSeries* b = lazy.addFastLineSeries();
    int asked = 0;
    b->appendPoints(xs.data(), ys.data(), n);
    b->setLabelFunction([&](int i) {
        ++asked;
        return labelOf(i);
    });
    QCOMPARE(b->count(), n);
    QCOMPARE(b->label(125), QStringLiteral("02:05"));
    double low = 0;
    double high = 0;
    QVERIFY(b->xRange(low, high));
    QCOMPARE(high, double(n - 1));
    QVERIFY(b->xAscending());
    asked = 0;
    const QImage expected = stored.renderImage(QSize(800, 300));
    QCOMPARE(lazy.renderImage(QSize(800, 300)), expected);
    QVERIFY2(asked > 3 && asked < 100, qPrintable(QString::number(asked)));

    // A stored label wins; clear() forgets the function.
    b->addXY(n, 0, QStringLiteral("own"));
    QCOMPARE(b->label(n), QStringLiteral("own"));
    b->clear();
    b->addXY(0, 0);
    QCOMPARE(b->label(0), QString());
}

void TestChartSeries::defaultColoursInOrder() {
    TChart chart;
    chart.setBackColor(Qt::black);
    const QList<QColor> expected{QColor(255, 0, 0),   QColor(0, 128, 0),     QColor(255, 255, 0),
                                 QColor(0, 0, 255),   QColor(255, 255, 255), QColor(128, 128, 128),
                                 QColor(255, 0, 255), QColor(0, 128, 128),   QColor(0, 0, 128),
                                 QColor(128, 0, 0),   QColor(0, 255, 0),     QColor(128, 128, 0),
                                 QColor(128, 0, 128), QColor(192, 192, 192), QColor(0, 255, 255)};
    for (const QColor& colour : expected) {
        QCOMPARE(chart.addFastLineSeries()->color(), colour);
    }
}

void TestChartSeries::sixteenthSeriesOnBlackIsRedAndSoAreLaterOnes() {
    TChart chart;
    chart.setBackColor(Qt::black);
    for (int i = 0; i < 15; ++i) {
        chart.addFastLineSeries();
    }
    for (int i = 15; i < 63; ++i) {
        QCOMPARE(chart.addFastLineSeries()->color(), QColor(Qt::red));
    }
    QCOMPARE(chart.seriesCount(), 63);
}

void TestChartSeries::defaultColourSkipsBackColourAndColoursInUse() {
    TChart chart;
    chart.setBackColor(QColor(255, 0, 0));
    QCOMPARE(chart.addFastLineSeries()->color(), QColor(0, 128, 0));
    TFastLineSeries* second = chart.addFastLineSeries();
    QCOMPARE(second->color(), QColor(255, 255, 0));
    second->setColor(QColor(0, 0, 255));
    // Yellow is free again, blue is taken.
    QCOMPARE(chart.addFastLineSeries()->color(), QColor(255, 255, 0));
    QCOMPARE(chart.addFastLineSeries()->color(), QColor(255, 255, 255));
    // With the default (light) back colour the sixteenth colour, black, is available.
    TChart light;
    for (int i = 0; i < 15; ++i) {
        light.addFastLineSeries();
    }
    QCOMPARE(light.addFastLineSeries()->color(), QColor(0, 0, 0));
    QCOMPARE(light.addFastLineSeries()->color(), QColor(255, 0, 0));
}

void TestChartSeries::removeAllSeriesDeletesThem() {
    TChart chart;
    QPointer<TFastLineSeries> s = chart.addFastLineSeries();
    chart.addFastLineSeries();
    chart.removeAllSeries();
    QCOMPARE(chart.seriesCount(), 0);
    QVERIFY(s.isNull());
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, chart.series(0));
    QCOMPARE(chart.addFastLineSeries()->color(), QColor(Qt::red));
}

QTEST_MAIN(TestChartSeries)
#include "tst_chart_series.moc"
