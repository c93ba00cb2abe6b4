// Layout arithmetic: value notation of an axis, labels within the picture.
#include "tchart.h"
#include "ticks.h"

#include <QtTest>

using namespace tamlo::chart;

namespace {

Layout layoutOf(LayoutInput in, const QFontMetrics& metrics) {
    in.metrics = &metrics;
    return computeLayout(in);
}

}  // namespace

class TestChartTicks : public QObject {
    Q_OBJECT
private slots:
    void oneNotationPerAxisAndTheReadoutReadsAsTheLabels();
    void bottomLabelsStayInsideThePictureAfterAZoom();
};

void TestChartTicks::oneNotationPerAxisAndTheReadoutReadsAsTheLabels() {
    const QFontMetrics metrics(QFont(QStringLiteral("Sans"), 9));
    LayoutInput in;
    in.size = QSize(640, 400);
    in.leftMin = 0;
    in.leftMax = 200000;
    in.bottomMax = 10;
    const Layout wide = layoutOf(in, metrics);
    QVERIFY(wide.leftTicks.size() > 3);
    QStringList texts;
    for (const Tick& t : wide.leftTicks) {
        texts << t.text;
    }
    QVERIFY2(texts.contains(QStringLiteral("100000")), qPrintable(texts.join(' ')));
    QVERIFY2(!texts.join(' ').contains(QLatin1Char('e')), qPrintable(texts.join(' ')));

    in.leftMax = 5e12;
    const Layout huge = layoutOf(in, metrics);
    for (const Tick& t : huge.leftTicks) {
        QVERIFY2(t.text.contains(QStringLiteral("e+")), qPrintable(t.text));
    }

    // The chart's readout of a y value is the text its tick at that value has.
    TChart chart;
    chart.resize(640, 400);
    QVERIFY(chart.leftAxis()->setMinMax(0, 200000));
    QCOMPARE(chart.leftAxis()->formatValue(100000), QStringLiteral("100000"));
    QCOMPARE(chart.leftAxis()->formatValue(90000), QStringLiteral("90000"));
    QCOMPARE(chart.leftAxis()->formatValue(12345.678), QStringLiteral("12346"));
    QVERIFY(chart.leftAxis()->setMinMax(0, 1));
    QCOMPARE(chart.leftAxis()->formatValue(0.5), QStringLiteral("0.5"));
    QCOMPARE(chart.leftAxis()->formatValue(0.123456), QStringLiteral("0.12346"));
    QCOMPARE(chart.leftAxis()->formatValue(-0.0), QStringLiteral("0"));

    // A refused range leaves the axis as it was, with the text for the user.
    QString refusal;
    QVERIFY(!chart.leftAxis()->setMinMax(5, 1, &refusal));
    QCOMPARE(refusal, QStringLiteral("Axis Minimum Value must be <= Maximum"));
    QCOMPARE(chart.leftAxis()->maximum(), 1.0);
}

void TestChartTicks::bottomLabelsStayInsideThePictureAfterAZoom() {
    const QFontMetrics metrics(QFont(QStringLiteral("Sans"), 9));
    PointStore points;
    for (int i = 0; i < 2000; ++i) {
        points.append(i, i % 100, QString());
    }
    LayoutInput in;
    in.size = QSize(640, 400);
    in.marginsPercent = QMargins(3, 5, 5, 4);
    in.leftMax = 1000;
    in.bottomPointLabels = true;
    in.points = &points;
    in.pointsAscending = true;
    in.labelOf = [](int i) {
        return QStringLiteral("03-14 08:%1:%2")
            .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(i % 60, 2, 10, QLatin1Char('0'));
    };
    // Zoomed so that points sit on both edges of the plot.
    for (const auto& [low, high] :
         {std::pair{100.0, 180.0}, std::pair{0.0, 1999.0}, std::pair{1500.0, 1512.0}}) {
        in.bottomMin = low;
        in.bottomMax = high;
        const Layout l = layoutOf(in, metrics);
        QVERIFY(l.bottomTicks.size() >= 2);
        for (const Tick& t : l.bottomTicks) {
            const int w = metrics.horizontalAdvance(t.text);
            QVERIFY2(t.pixel - w / 2 >= 0 && t.pixel - w / 2 + w <= in.size.width(),
                     qPrintable(QStringLiteral("%1 at %2").arg(t.text).arg(t.pixel)));
        }
    }
}

QTEST_MAIN(TestChartTicks)
#include "tst_chart_ticks.moc"
