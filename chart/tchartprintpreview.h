#pragma once

#include <QDialog>
#include <QMarginsF>
#include <QPrinter>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace tamlo::chart {

class TChart;
class TChartPageView;

// Modal print preview of a chart: printer choice and setup, orientation, margins in percent of
// the page (spin boxes or dragging the lines on the page), detail, proportional size, print.
class TChartPrintPreview : public QDialog {
    Q_OBJECT
public:
    // The entry of the printer list that prints into a PDF file.
    static QString pdfEntryText() { return QStringLiteral("PDF file"); }

    explicit TChartPrintPreview(TChart* chart, QWidget* parent = nullptr);
    ~TChartPrintPreview() override;

    // Top, left, bottom and right margins in percent of the page.
    QMarginsF marginsPercent() const;
    void setMarginsPercent(const QMarginsF& margins);
    void resetMargins();
    bool proportional() const;
    // 0 = "More" detail .. 100 = "Normal".
    int detail() const;

    // Asked for the file name when the PDF entry prints; an empty answer cancels. The default
    // shows a save dialog.
    void setPdfFileChooser(std::function<QString()> chooser);

    QPrinter* printer() { return &printer_; }
    // Runs the printer's set-up for "Setup..."; true when confirmed. The default shows the
    // platform's print dialog.
    void setPrinterSetup(std::function<bool(QPrinter*)> setup);

    const TChart* chart() const { return chart_; }
    // The chart's place on a page of the given size, in the page's coordinates.
    QRectF chartRectOnPage(const QSizeF& page) const;
    // The size the chart is laid out at on the page: more detail gives the same text and lines
    // less of the page.
    QSize layoutSize() const;

public slots:
    // Prints the chart on the chosen printer; false when cancelled or the printer failed.
    bool printChart();

    void setVisible(bool visible) override;

private:
    void applyPrinterChoice();
    void openPrinterSetup();
    void marginsEdited();

    TChart* chart_;
    QPrinter printer_;
    std::function<QString()> pdfFileChooser_;
    std::function<bool(QPrinter*)> printerSetup_;
    QComboBox* printerCombo_ = nullptr;
    QRadioButton* portrait_ = nullptr;
    QRadioButton* landscape_ = nullptr;
    QSpinBox* top_ = nullptr;
    QSpinBox* left_ = nullptr;
    QSpinBox* bottom_ = nullptr;
    QSpinBox* right_ = nullptr;
    QCheckBox* showMargins_ = nullptr;
    QSlider* detail_ = nullptr;
    QCheckBox* proportional_ = nullptr;
    QLabel* status_ = nullptr;
    TChartPageView* page_ = nullptr;
};

}  // namespace tamlo::chart
