// The print preview under the offscreen platform: controls, margins, printing to PDF.
#include "tchart.h"
#include "tchartprintpreview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <map>

using namespace tamlo::chart;

namespace {

void fillChart(TChart& chart) {
    chart.setTitle(QStringLiteral("历史曲线"));
    chart.setBackColor(Qt::black);
    chart.resize(800, 500);
    for (int k = 0; k < 4; ++k) {
        TFastLineSeries* s = chart.addFastLineSeries();
        for (int i = 0; i < 500; ++i) {
            s->addXY(i, 200 * k + 100 * std::sin(i / 30.0),
                     k == 0 ? QStringLiteral("01-02 10:%1:00").arg(i % 60, 2, 10, QLatin1Char('0'))
                            : QString());
        }
    }
}

template <class T>
T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("missing control %s", name);
    }
    return w;
}

QStringList labelTexts(QWidget* w) {
    QStringList texts;
    for (QLabel* l : w->findChildren<QLabel*>()) {
        texts << l->text();
    }
    return texts;
}

}  // namespace

class TestChartPrintPreview : public QObject {
    Q_OBJECT
private slots:
    void opensCentredWithItsControls();
    void modalPreviewOpensAndCloses();
    void printsTheCurvesAsVectors();
    void setupOpensThePrinterSetUp();
    void previewIsSharpOnHighDpiScreens();
    void cancelledPdfChoicePrintsNothing();
    void marginsBySpinBoxDragAndReset();
    void proportionalKeepsTheChartsShape();
};

void TestChartPrintPreview::opensCentredWithItsControls() {
    TChart chart;
    fillChart(chart);
    TChartPrintPreview preview(&chart);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    QVERIFY(preview.isModal());
    QCOMPARE(preview.windowTitle(), QStringLiteral("Print Preview"));
    const QRect screen = preview.screen()->availableGeometry();
    // Within the window frame's width of the centre.
    QVERIFY(qAbs(preview.frameGeometry().center().x() - screen.center().x()) <= 4);
    QVERIFY(qAbs(preview.frameGeometry().center().y() - screen.center().y()) <= 4);

    QComboBox* printers = child<QComboBox>(&preview, "PrinterCombo");
    QCOMPARE(printers->itemText(printers->count() - 1), TChartPrintPreview::pdfEntryText());
    QCOMPARE(child<QPushButton>(&preview, "SetupButton")->text(), QStringLiteral("Setup..."));
    QCOMPARE(child<QRadioButton>(&preview, "PortraitRadio")->text(), QStringLiteral("Portrait"));
    QVERIFY(child<QRadioButton>(&preview, "LandscapeRadio")->isChecked());
    for (const char* name : {"TopMargin", "LeftMargin", "BottomMargin", "RightMargin"}) {
        QCOMPARE(child<QSpinBox>(&preview, name)->buttonSymbols(), QAbstractSpinBox::UpDownArrows);
    }
    QCOMPARE(child<QCheckBox>(&preview, "ShowMarginsCheck")->text(),
             QStringLiteral("Show Margins"));
    QCOMPARE(child<QPushButton>(&preview, "ResetMarginsButton")->text(),
             QStringLiteral("Reset Margins"));
    QVERIFY(labelTexts(&preview).contains(QStringLiteral("More")));
    QVERIFY(labelTexts(&preview).contains(QStringLiteral("Normal")));
    QCOMPARE(child<QSlider>(&preview, "DetailSlider")->value(), 100);
    QCOMPARE(child<QCheckBox>(&preview, "ProportionalCheck")->text(),
             QStringLiteral("Proportional"));
    QCOMPARE(child<QPushButton>(&preview, "PrintButton")->text(), QStringLiteral("Print"));
    QPushButton* close = child<QPushButton>(&preview, "CloseButton");
    QCOMPARE(close->text(), QStringLiteral("Close"));
    // More detail renders the chart on more pixels.
    const QSize normal = preview.layoutSize();
    child<QSlider>(&preview, "DetailSlider")->setValue(0);
    QCOMPARE(preview.layoutSize(), normal * 3);
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!preview.isVisible());
}

void TestChartPrintPreview::modalPreviewOpensAndCloses() {
    TChart chart;
    fillChart(chart);
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        auto* preview = qobject_cast<TChartPrintPreview*>(QApplication::activeModalWidget());
        seen = preview != nullptr && preview->isVisible();
        if (preview != nullptr) {
            QTest::mouseClick(child<QPushButton>(preview, "CloseButton"), Qt::LeftButton);
        }
    });
    chart.printPreview(&chart);  // returns when closed
    QVERIFY(seen);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestChartPrintPreview::printsTheCurvesAsVectors() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("chart.pdf"));
    TChart chart;
    fillChart(chart);
    TChartPrintPreview preview(&chart);
    preview.setPdfFileChooser([&] { return file; });
    QComboBox* printers = child<QComboBox>(&preview, "PrinterCombo");
    printers->setCurrentIndex(printers->count() - 1);
    child<QRadioButton>(&preview, "PortraitRadio")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(&preview, "PrintButton"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(&preview, "StatusLabel")->text(), QStringLiteral("Printed."));
    QCOMPARE(preview.printer()->pageLayout().orientation(), QPageLayout::Portrait);
    QFile pdf(file);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    QVERIFY(bytes.startsWith("%PDF"));
    // Vectors, not a picture scaled onto the page.
    QVERIFY(!bytes.contains("/Subtype /Image"));

    // The page, rendered as a reader would, shows each curve in its colour.
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    QVERIFY2(!pdftoppm.isEmpty(), "pdftoppm (poppler-utils) is needed");
    QProcess render;
    render.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-aa"),
                            QStringLiteral("no"), QStringLiteral("-aaVector"), QStringLiteral("no"),
                            QStringLiteral("-png"), QStringLiteral("-singlefile"), file,
                            dir.filePath(QStringLiteral("page"))});
    QVERIFY(render.waitForFinished(30000));
    QCOMPARE(render.exitCode(), 0);
    const QImage page(dir.filePath(QStringLiteral("page.png")));
    QVERIFY(!page.isNull());
    QVERIFY(page.height() > page.width());  // portrait
    std::map<QRgb, int> counts;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            ++counts[page.pixel(x, y) | 0xFF000000u];
        }
    }
    for (QRgb curve : {qRgb(255, 0, 0), qRgb(0, 128, 0), qRgb(255, 255, 0)}) {
        QVERIFY2(counts[curve] > 200, qPrintable(QString::number(counts[curve])));
    }
}

void TestChartPrintPreview::setupOpensThePrinterSetUp() {
    TChart chart;
    fillChart(chart);
    TChartPrintPreview preview(&chart);
    QPrinter* asked = nullptr;
    preview.setPrinterSetup([&](QPrinter* printer) {
        asked = printer;
        printer->setPageOrientation(QPageLayout::Portrait);
        return true;
    });
    QTest::mouseClick(child<QPushButton>(&preview, "SetupButton"), Qt::LeftButton);
    QCOMPARE(asked, preview.printer());
    QVERIFY(child<QRadioButton>(&preview, "PortraitRadio")->isChecked());
}

void TestChartPrintPreview::previewIsSharpOnHighDpiScreens() {
    // A level red line across a black plot: drawn at the screen's resolution it is a row of
    // pure red pixels; a picture scaled onto the page would blur it into its neighbours.
    TChart chart;
    chart.setBackColor(Qt::black);
    chart.resize(800, 500);
    TFastLineSeries* s = chart.addFastLineSeries();
    s->addXY(0, 500);
    s->addXY(100, 500);
    TChartPrintPreview preview(&chart);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    QWidget* page = child<QWidget>(&preview, "PageView");
    QImage image(page->size() * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2);
    image.fill(Qt::white);
    page->render(&image);
    int longest = 0;
    for (int y = 0; y < image.height(); ++y) {
        int row = 0;
        for (int x = 0; x < image.width(); ++x) {
            row += image.pixel(x, y) == qRgb(255, 0, 0);
        }
        longest = std::max(longest, row);
    }
    const double plotted = preview.chartRectOnPage(QSizeF(page->width(), page->height())).width();
    QVERIFY2(longest > plotted, qPrintable(QStringLiteral("%1 of %2").arg(longest).arg(plotted)));
}

void TestChartPrintPreview::cancelledPdfChoicePrintsNothing() {
    TChart chart;
    fillChart(chart);
    TChartPrintPreview preview(&chart);
    preview.setPdfFileChooser([] { return QString(); });
    QComboBox* printers = child<QComboBox>(&preview, "PrinterCombo");
    printers->setCurrentIndex(printers->count() - 1);
    QVERIFY(!preview.printChart());
}

void TestChartPrintPreview::marginsBySpinBoxDragAndReset() {
    TChart chart;
    fillChart(chart);
    TChartPrintPreview preview(&chart);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    QCOMPARE(preview.marginsPercent(), QMarginsF(15, 15, 15, 15));
    child<QSpinBox>(&preview, "TopMargin")->setValue(20);
    child<QSpinBox>(&preview, "LeftMargin")->stepUp();
    QCOMPARE(preview.marginsPercent(), QMarginsF(16, 20, 15, 15));
    // Opposite margins never overlap.
    child<QSpinBox>(&preview, "BottomMargin")->setValue(95);
    QCOMPARE(preview.marginsPercent().bottom(), 79.0);
    child<QSpinBox>(&preview, "BottomMargin")->setValue(15);

    // Drag the left margin line to a quarter of the page.
    QWidget* page = child<QWidget>(&preview, "PageView");
    const QSizeF paper = preview.printer()->pageLayout().fullRect(QPageLayout::Point).size();
    const QRectF area = QRectF(page->rect()).adjusted(10, 10, -10, -10);
    const double scale = std::min(area.width() / paper.width(), area.height() / paper.height());
    QRectF sheet(0, 0, paper.width() * scale, paper.height() * scale);
    sheet.moveCenter(area.center());
    const int lineX = int(std::round(sheet.left() + sheet.width() * 0.16));
    const int y = int(sheet.center().y());
    QTest::mousePress(page, Qt::LeftButton, {}, QPoint(lineX, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(sheet.left() + sheet.width() * 0.25, y), QPointF(),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(page, &move);
    QTest::mouseRelease(page, Qt::LeftButton, {}, QPoint(lineX, y));
    QCOMPARE(preview.marginsPercent().left(), 25.0);
    QCOMPARE(child<QSpinBox>(&preview, "LeftMargin")->value(), 25);

    QTest::mouseClick(child<QPushButton>(&preview, "ResetMarginsButton"), Qt::LeftButton);
    QCOMPARE(preview.marginsPercent(), QMarginsF(15, 15, 15, 15));
}

void TestChartPrintPreview::proportionalKeepsTheChartsShape() {
    TChart chart;
    fillChart(chart);  // 800 x 500
    TChartPrintPreview preview(&chart);
    const QSizeF page(1000, 1000);
    const QRectF kept = preview.chartRectOnPage(page);
    QVERIFY(qAbs(kept.width() / kept.height() - 1.6) < 1e-9);
    QVERIFY(QRectF(150, 150, 700, 700).contains(kept));
    child<QCheckBox>(&preview, "ProportionalCheck")->setChecked(false);
    QCOMPARE(preview.chartRectOnPage(page), QRectF(150, 150, 700, 700));
}

QTEST_MAIN(TestChartPrintPreview)
#include "tst_chart_printpreview.moc"
