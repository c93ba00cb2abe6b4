// Writes a picture of a history chart with 16 curves: tamlo_chart_png <file.png> [width height]
#include "benchdata.h"
#include "tchart.h"

#include <QApplication>

#include <cstdio>

using namespace tamlo::chart;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tamlo_chart_png <file.png> [width height]\n");
        return 2;
    }
    const int width = argc >= 4 ? std::atoi(argv[2]) : 1200;
    const int height = argc >= 4 ? std::atoi(argv[3]) : 700;
    if (width < 100 || height < 100 || width > 10000 || height > 10000) {
        std::fprintf(stderr, "width and height must lie between 100 and 10000\n");
        return 2;
    }
    TChart chart;
    chart.setTitle(QStringLiteral("历史曲线"));
    chart.setBackColor(Qt::black);
    chart.setMarginsPercent(QMargins(3, 5, 5, 4));
    chart.leftAxis()->setIncrement(0.0001);
    chart.resize(width, height);
    const auto curves = bench::makeCurves(16, 20000);
    for (const bench::Curve& c : curves) {
        TFastLineSeries* s = chart.addFastLineSeries();
        const bool first = &c == &curves.front();
        for (size_t i = 0; i < c.x.size(); ++i) {
            s->addXY(c.x[i], c.y[i], first ? bench::timeLabel(int(i)) : QString());
        }
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    if (!chart.renderImage(QSize(width, height)).save(file, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
