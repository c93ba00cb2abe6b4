#include "tchartprintpreview.h"

#include "tchart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace tamlo::chart {

namespace {
constexpr int kDefaultMargin = 15;
constexpr int kGrabDistance = 4;
}  // namespace

// The page with the chart on it; the margin lines can be dragged.
class TChartPageView : public QWidget {
public:
    TChartPageView(TChartPrintPreview* preview, QWidget* parent)
        : QWidget(parent), preview_(preview) {
        setObjectName(QStringLiteral("PageView"));
        setMinimumSize(360, 280);
        setMouseTracking(true);
    }

    bool showMargins = true;
    std::function<void(const QMarginsF&)> onMarginsDragged;

    // The page rectangle inside this widget.
    QRectF pageRect() const {
        const QSizeF paper = preview_->printer()->pageLayout().fullRect(QPageLayout::Point).size();
        const QRectF area = QRectF(rect()).adjusted(10, 10, -10, -10);
        if (paper.isEmpty() || area.isEmpty()) {
            return area;
        }
        const double scale = std::min(area.width() / paper.width(), area.height() / paper.height());
        QRectF page(0, 0, paper.width() * scale, paper.height() * scale);
        page.moveCenter(area.center());
        return page;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(128, 128, 128));
        const QRectF page = pageRect();
        p.fillRect(page.translated(4, 4), QColor(64, 64, 64));
        p.fillRect(page, Qt::white);
        const QRectF chartRect = preview_->chartRectOnPage(page.size()).translated(page.topLeft());
        // Drawn as on paper, at the screen's own resolution.
        preview_->chart()->paintChart(p, chartRect, preview_->layoutSize());
        if (showMargins) {
            p.setPen(QPen(Qt::blue, 1, Qt::DashLine));
            const QMarginsF m = preview_->marginsPercent();
            const double left = page.left() + page.width() * m.left() / 100;
            const double right = page.right() - page.width() * m.right() / 100;
            const double top = page.top() + page.height() * m.top() / 100;
            const double bottom = page.bottom() - page.height() * m.bottom() / 100;
            p.drawLine(QPointF(left, page.top()), QPointF(left, page.bottom()));
            p.drawLine(QPointF(right, page.top()), QPointF(right, page.bottom()));
            p.drawLine(QPointF(page.left(), top), QPointF(page.right(), top));
            p.drawLine(QPointF(page.left(), bottom), QPointF(page.right(), bottom));
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        dragged_ = showMargins ? marginAt(event->position()) : Edge::None;
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        const QPointF pos = event->position();
        if (dragged_ == Edge::None) {
            const Edge hover = showMargins ? marginAt(pos) : Edge::None;
            setCursor(hover == Edge::Left || hover == Edge::Right   ? Qt::SizeHorCursor
                      : hover == Edge::Top || hover == Edge::Bottom ? Qt::SizeVerCursor
                                                                    : Qt::ArrowCursor);
            return;
        }
        const QRectF page = pageRect();
        QMarginsF m = preview_->marginsPercent();
        const double px = std::clamp((pos.x() - page.left()) * 100 / page.width(), 0.0, 100.0);
        const double py = std::clamp((pos.y() - page.top()) * 100 / page.height(), 0.0, 100.0);
        // A margin may not cross the opposite one.
        switch (dragged_) {
            case Edge::Left:
                m.setLeft(std::min(std::round(px), 99 - m.right()));
                break;
            case Edge::Right:
                m.setRight(std::min(std::round(100 - px), 99 - m.left()));
                break;
            case Edge::Top:
                m.setTop(std::min(std::round(py), 99 - m.bottom()));
                break;
            case Edge::Bottom:
                m.setBottom(std::min(std::round(100 - py), 99 - m.top()));
                break;
            case Edge::None:
                break;
        }
        if (onMarginsDragged) {
            onMarginsDragged(m);
        }
    }

    void mouseReleaseEvent(QMouseEvent*) override { dragged_ = Edge::None; }

private:
    enum class Edge { None, Left, Top, Right, Bottom };

    Edge marginAt(const QPointF& pos) const {
        const QRectF page = pageRect();
        const QMarginsF m = preview_->marginsPercent();
        if (!page.adjusted(-kGrabDistance, -kGrabDistance, kGrabDistance, kGrabDistance)
                 .contains(pos)) {
            return Edge::None;
        }
        auto near = [](double a, double b) { return std::fabs(a - b) <= kGrabDistance; };
        if (near(pos.x(), page.left() + page.width() * m.left() / 100)) {
            return Edge::Left;
        }
        if (near(pos.x(), page.right() - page.width() * m.right() / 100)) {
            return Edge::Right;
        }
        if (near(pos.y(), page.top() + page.height() * m.top() / 100)) {
            return Edge::Top;
        }
        if (near(pos.y(), page.bottom() - page.height() * m.bottom() / 100)) {
            return Edge::Bottom;
        }
        return Edge::None;
    }

    TChartPrintPreview* preview_;
    Edge dragged_ = Edge::None;
};

namespace {
QSpinBox* marginBox(const QString& name, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, 99);
    box->setValue(kDefaultMargin);
    box->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    return box;
}
}  // namespace

TChartPrintPreview::TChartPrintPreview(TChart* chart, QWidget* parent)
    : QDialog(parent), chart_(chart), printer_(QPrinter::HighResolution) {
    setObjectName(QStringLiteral("TChartPrintPreview"));
    setWindowTitle(QStringLiteral("Print Preview"));
    setModal(true);
    printer_.setFullPage(true);
    printer_.setPageOrientation(QPageLayout::Landscape);
    printerSetup_ = [this](QPrinter* printer) {
        QPrintDialog dialog(printer, this);
        return dialog.exec() == QDialog::Accepted;
    };
    pdfFileChooser_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Print to PDF file"), QString(),
                                            QStringLiteral("PDF files (*.pdf)"));
    };

    auto* controls = new QVBoxLayout;

    auto* printerBox = new QGroupBox(QStringLiteral("Printer"), this);
    auto* printerLayout = new QVBoxLayout(printerBox);
    printerCombo_ = new QComboBox(printerBox);
    printerCombo_->setObjectName(QStringLiteral("PrinterCombo"));
    const QString defaultPrinter = QPrinterInfo::defaultPrinterName();
    for (const QString& name : QPrinterInfo::availablePrinterNames()) {
        printerCombo_->addItem(name);
    }
    printerCombo_->addItem(pdfEntryText());
    const int defaultIndex = printerCombo_->findText(defaultPrinter);
    printerCombo_->setCurrentIndex(defaultIndex >= 0 ? defaultIndex : 0);
    auto* setup = new QPushButton(QStringLiteral("Setup..."), printerBox);
    setup->setObjectName(QStringLiteral("SetupButton"));
    printerLayout->addWidget(printerCombo_);
    printerLayout->addWidget(setup);
    controls->addWidget(printerBox);

    auto* orientationBox = new QGroupBox(QStringLiteral("Orientation"), this);
    auto* orientationLayout = new QVBoxLayout(orientationBox);
    portrait_ = new QRadioButton(QStringLiteral("Portrait"), orientationBox);
    portrait_->setObjectName(QStringLiteral("PortraitRadio"));
    landscape_ = new QRadioButton(QStringLiteral("Landscape"), orientationBox);
    landscape_->setObjectName(QStringLiteral("LandscapeRadio"));
    landscape_->setChecked(true);
    orientationLayout->addWidget(portrait_);
    orientationLayout->addWidget(landscape_);
    controls->addWidget(orientationBox);

    auto* marginsBox = new QGroupBox(QStringLiteral("Margins (%)"), this);
    auto* marginsLayout = new QGridLayout(marginsBox);
    top_ = marginBox(QStringLiteral("TopMargin"), marginsBox);
    left_ = marginBox(QStringLiteral("LeftMargin"), marginsBox);
    bottom_ = marginBox(QStringLiteral("BottomMargin"), marginsBox);
    right_ = marginBox(QStringLiteral("RightMargin"), marginsBox);
    marginsLayout->addWidget(new QLabel(QStringLiteral("Top"), marginsBox), 0, 0);
    marginsLayout->addWidget(top_, 0, 1);
    marginsLayout->addWidget(new QLabel(QStringLiteral("Left"), marginsBox), 1, 0);
    marginsLayout->addWidget(left_, 1, 1);
    marginsLayout->addWidget(new QLabel(QStringLiteral("Bottom"), marginsBox), 2, 0);
    marginsLayout->addWidget(bottom_, 2, 1);
    marginsLayout->addWidget(new QLabel(QStringLiteral("Right"), marginsBox), 3, 0);
    marginsLayout->addWidget(right_, 3, 1);
    showMargins_ = new QCheckBox(QStringLiteral("Show Margins"), marginsBox);
    showMargins_->setObjectName(QStringLiteral("ShowMarginsCheck"));
    showMargins_->setChecked(true);
    marginsLayout->addWidget(showMargins_, 4, 0, 1, 2);
    auto* reset = new QPushButton(QStringLiteral("Reset Margins"), marginsBox);
    reset->setObjectName(QStringLiteral("ResetMarginsButton"));
    marginsLayout->addWidget(reset, 5, 0, 1, 2);
    controls->addWidget(marginsBox);

    auto* detailBox = new QGroupBox(QStringLiteral("Detail"), this);
    auto* detailLayout = new QHBoxLayout(detailBox);
    detail_ = new QSlider(Qt::Horizontal, detailBox);
    detail_->setObjectName(QStringLiteral("DetailSlider"));
    detail_->setRange(0, 100);
    detail_->setValue(100);
    detailLayout->addWidget(new QLabel(QStringLiteral("More"), detailBox));
    detailLayout->addWidget(detail_);
    detailLayout->addWidget(new QLabel(QStringLiteral("Normal"), detailBox));
    controls->addWidget(detailBox);

    proportional_ = new QCheckBox(QStringLiteral("Proportional"), this);
    proportional_->setObjectName(QStringLiteral("ProportionalCheck"));
    proportional_->setChecked(true);
    controls->addWidget(proportional_);

    controls->addStretch(1);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("StatusLabel"));
    controls->addWidget(status_);
    auto* print = new QPushButton(QStringLiteral("Print"), this);
    print->setObjectName(QStringLiteral("PrintButton"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("CloseButton"));
    controls->addWidget(print);
    controls->addWidget(close);

    page_ = new TChartPageView(this, this);
    auto* main = new QHBoxLayout(this);
    main->addLayout(controls);
    main->addWidget(page_, 1);
    resize(780, 560);

    connect(printerCombo_, &QComboBox::currentIndexChanged, this, [this] {
        applyPrinterChoice();
        page_->update();
    });
    connect(setup, &QPushButton::clicked, this, &TChartPrintPreview::openPrinterSetup);
    connect(portrait_, &QRadioButton::toggled, this, [this](bool portrait) {
        printer_.setPageOrientation(portrait ? QPageLayout::Portrait : QPageLayout::Landscape);
        page_->update();
    });
    for (QSpinBox* box : {top_, left_, bottom_, right_}) {
        connect(box, &QSpinBox::valueChanged, this, &TChartPrintPreview::marginsEdited);
    }
    connect(showMargins_, &QCheckBox::toggled, this, [this](bool on) {
        page_->showMargins = on;
        page_->update();
    });
    connect(reset, &QPushButton::clicked, this, &TChartPrintPreview::resetMargins);
    connect(detail_, &QSlider::valueChanged, this, [this] { page_->update(); });
    connect(proportional_, &QCheckBox::toggled, this, [this] { page_->update(); });
    connect(print, &QPushButton::clicked, this, &TChartPrintPreview::printChart);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    page_->onMarginsDragged = [this](const QMarginsF& m) { setMarginsPercent(m); };

    applyPrinterChoice();
}

TChartPrintPreview::~TChartPrintPreview() = default;

QMarginsF TChartPrintPreview::marginsPercent() const {
    return QMarginsF(left_->value(), top_->value(), right_->value(), bottom_->value());
}

void TChartPrintPreview::setMarginsPercent(const QMarginsF& margins) {
    const QSignalBlocker blockTop(top_);
    const QSignalBlocker blockLeft(left_);
    const QSignalBlocker blockBottom(bottom_);
    const QSignalBlocker blockRight(right_);
    top_->setValue(static_cast<int>(std::lround(margins.top())));
    left_->setValue(static_cast<int>(std::lround(margins.left())));
    bottom_->setValue(static_cast<int>(std::lround(margins.bottom())));
    right_->setValue(static_cast<int>(std::lround(margins.right())));
    marginsEdited();
}

void TChartPrintPreview::resetMargins() {
    setMarginsPercent(QMarginsF(kDefaultMargin, kDefaultMargin, kDefaultMargin, kDefaultMargin));
}

bool TChartPrintPreview::proportional() const {
    return proportional_->isChecked();
}

int TChartPrintPreview::detail() const {
    return detail_->value();
}

void TChartPrintPreview::setPdfFileChooser(std::function<QString()> chooser) {
    pdfFileChooser_ = std::move(chooser);
}

void TChartPrintPreview::marginsEdited() {
    // Opposite margins leave at least 1 % of the page.
    if (left_->value() + right_->value() > 99) {
        right_->setValue(99 - left_->value());
    }
    if (top_->value() + bottom_->value() > 99) {
        bottom_->setValue(99 - top_->value());
    }
    page_->update();
}

QRectF TChartPrintPreview::chartRectOnPage(const QSizeF& page) const {
    const QMarginsF m = marginsPercent();
    QRectF box(page.width() * m.left() / 100, page.height() * m.top() / 100,
               page.width() * (100 - m.left() - m.right()) / 100,
               page.height() * (100 - m.top() - m.bottom()) / 100);
    if (!proportional() || box.isEmpty()) {
        return box;
    }
    const QSize chartSize = chart_->size().isEmpty() ? chart_->sizeHint() : chart_->size();
    const double scale =
        std::min(box.width() / chartSize.width(), box.height() / chartSize.height());
    QRectF fitted(0, 0, chartSize.width() * scale, chartSize.height() * scale);
    fitted.moveCenter(box.center());
    return fitted;
}

QSize TChartPrintPreview::layoutSize() const {
    const QSize chartSize = chart_->size().isEmpty() ? chart_->sizeHint() : chart_->size();
    const double factor = 1 + (100 - detail()) / 50.0;
    return chartSize * factor;
}

void TChartPrintPreview::applyPrinterChoice() {
    const QString choice = printerCombo_->currentText();
    if (choice == pdfEntryText()) {
        printer_.setOutputFormat(QPrinter::PdfFormat);
    } else {
        printer_.setOutputFormat(QPrinter::NativeFormat);
        printer_.setPrinterName(choice);
    }
    printer_.setPageOrientation(portrait_->isChecked() ? QPageLayout::Portrait
                                                       : QPageLayout::Landscape);
}

void TChartPrintPreview::setPrinterSetup(std::function<bool(QPrinter*)> setup) {
    printerSetup_ = std::move(setup);
}

void TChartPrintPreview::openPrinterSetup() {
    applyPrinterChoice();
    if (printerSetup_ && printerSetup_(&printer_)) {
        // The set-up may have chosen another printer, paper or orientation.
        const QSignalBlocker blockCombo(printerCombo_);
        const QSignalBlocker blockPortrait(portrait_);
        const QSignalBlocker blockLandscape(landscape_);
        const int chosen = printer_.outputFormat() == QPrinter::PdfFormat
                               ? printerCombo_->findText(pdfEntryText())
                               : printerCombo_->findText(printer_.printerName());
        if (chosen >= 0) {
            printerCombo_->setCurrentIndex(chosen);
        }
        const bool portrait = printer_.pageLayout().orientation() == QPageLayout::Portrait;
        portrait_->setChecked(portrait);
        landscape_->setChecked(!portrait);
    }
    page_->update();
}

bool TChartPrintPreview::printChart() {
    applyPrinterChoice();
    if (printer_.outputFormat() == QPrinter::PdfFormat) {
        const QString file = pdfFileChooser_ ? pdfFileChooser_() : QString();
        if (file.isEmpty()) {
            return false;
        }
        printer_.setOutputFileName(file);
    }
    QPainter painter;
    if (!painter.begin(&printer_)) {
        status_->setText(QStringLiteral("Printing failed."));
        return false;
    }
    const QRectF page = printer_.pageLayout().fullRectPixels(printer_.resolution());
    const QRectF target = chartRectOnPage(page.size()).translated(page.topLeft());
    chart_->paintChart(painter, target, layoutSize());
    const bool ok = painter.end();
    status_->setText(ok ? QStringLiteral("Printed.") : QStringLiteral("Printing failed."));
    return ok;
}

void TChartPrintPreview::setVisible(bool visible) {
    if (visible && !isVisible()) {
        // Centred on the screen (not over the parent); placing it first keeps the dialog's own
        // placement from moving it.
        QScreen* target = parentWidget() != nullptr ? parentWidget()->screen() : screen();
        if (target == nullptr) {
            target = QGuiApplication::primaryScreen();
        }
        resize(size().expandedTo(minimumSizeHint()));
        if (target != nullptr) {
            const QRect available = target->availableGeometry();
            QRect frame(QPoint(0, 0), size());
            frame.moveCenter(available.center());
            move(std::max(frame.left(), available.left()), std::max(frame.top(), available.top()));
        }
    }
    QDialog::setVisible(visible);
}

}  // namespace tamlo::chart
