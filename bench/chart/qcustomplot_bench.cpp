// The same history page drawn by QCustomPlot 2.1, for comparison only.
#include "benchdata.h"

#include <qcustomplot.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>

using tamlo::chart::bench::Curve;

std::function<double()> qcustomplotPage(const std::vector<Curve>& curves, const QSize& size,
                                        bool antialiased) {
    auto plot = std::make_shared<QCustomPlot>();
    plot->resize(size);
    plot->setBackground(QColor(240, 240, 240));
    plot->axisRect()->setBackground(Qt::black);
    if (!antialiased) {
        plot->setNotAntialiasedElements(QCP::aeAll);
    }
    plot->plotLayout()->insertRow(0);
    plot->plotLayout()->addElement(0, 0,
                                   new QCPTextElement(plot.get(), QStringLiteral("历史曲线")));
    const QColor colours[] = {Qt::red,         QColor(0, 128, 0), Qt::yellow,  Qt::blue,
                              Qt::white,       Qt::gray,          Qt::magenta, Qt::darkCyan,
                              Qt::darkBlue,    Qt::darkRed,       Qt::green,   Qt::darkYellow,
                              Qt::darkMagenta, Qt::lightGray,     Qt::cyan,    Qt::red};
    int k = 0;
    for (const Curve& c : curves) {
        QCPGraph* g = plot->addGraph();
        g->setAdaptiveSampling(true);
        g->setPen(QPen(colours[k++ % 16]));
        g->setData(QVector<double>(c.x.begin(), c.x.end()), QVector<double>(c.y.begin(), c.y.end()),
                   true);
    }
    plot->xAxis->setRange(0, double(curves.front().x.size() - 1));
    plot->yAxis->setRange(0, 1000);
    plot->show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    for (int i = 0; i < 5; ++i) {
        plot->replot(QCustomPlot::rpImmediateRefresh);
    }
    return [plot] {
        QElapsedTimer timer;
        timer.start();
        plot->replot(QCustomPlot::rpImmediateRefresh);
        return timer.nsecsElapsed() / 1e6;
    };
}
