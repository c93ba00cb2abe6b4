#include "historychartpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QVBoxLayout>

#include "chart/crosshair.h"
#include "chart/tchart.h"
#include "chartinteraction.h"
#include "exporttext.h"
#include "numbertext.h"
#include "prompter.h"

namespace tamlo {
namespace {

constexpr int kRowTop = 28;
constexpr int kRowPitch = 22;
// A colour outside the chart's default sequence.
const QColor kNoDefaultColour(1, 2, 3);

template <class Widget>
Widget* named(Widget* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

// A readout repaints only what changed: most moves leave most value boxes as they were.
template <class Widget>
void setTextIfChanged(Widget* widget, const QString& text) {
    if (widget->text() != text) {
        widget->setText(text);
    }
}

}  // namespace

// ---- HistoryChartPanel ----

HistoryChartPanel::HistoryChartPanel(Prompter& prompter, const HistoryChartNames& names,
                                     const HistoryChartOptions& options, QWidget* parent)
    : QFrame(parent), prompter_(prompter), names_(names), options_(options) {
    setObjectName(names_.column);
    setFixedWidth(201);
    buildChartSide();
    buildColumn();
    wire();
    // On creation: the back colour swatch shows the chart's back colour, no cross-hair.
    backSwatch_->setColor(chart_->backColor());
}

HistoryChartPanel::~HistoryChartPanel() {
    if (chartSide_ && !chartSide_->parent()) {
        delete chartSide_.data();
    }
}

QWidget* HistoryChartPanel::buildRangeControls(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    rangeLabel_ = named(new QLabel(options_.rangeLabelText, box), names_.rangeLabel);
    rangeDown_ = named(new QLineEdit(QStringLiteral("0"), box), names_.rangeDown);
    rangeUp_ = named(new QLineEdit(QStringLiteral("1000"), box), names_.rangeUp);
    rangeButton_ = named(new QPushButton(QStringLiteral("修改量程"), box), names_.rangeButton);
    if (!options_.rangeEndsOnOwnLines) {
        grid->addWidget(rangeLabel_, 0, 0);
        grid->addWidget(rangeDown_, 0, 1);
        grid->addWidget(rangeUp_, 0, 2);
        grid->addWidget(rangeButton_, 1, 0, 1, 3);
        return box;
    }
    rangeUpLabel_ = named(new QLabel(options_.rangeUpLabelText, box), names_.rangeUpLabel);
    grid->addWidget(rangeLabel_, 0, 0);
    grid->addWidget(rangeDown_, 0, 1);
    grid->addWidget(rangeUpLabel_, 1, 0);
    grid->addWidget(rangeUp_, 1, 1);
    grid->addWidget(rangeButton_, 2, 0, 1, 2);
    return box;
}

void HistoryChartPanel::buildColumn() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);

    topGroup_ = named(new QGroupBox(options_.topGroupTitle, this), names_.topGroup);
    auto* top = new QVBoxLayout(topGroup_);
    top->setContentsMargins(4, 4, 4, 4);
    top->setSpacing(3);
    topSlot_ = new QVBoxLayout;
    topSlot_->setSpacing(3);
    top->addLayout(topSlot_);
    if (!options_.rangeInOperations) {
        top->addWidget(buildRangeControls(topGroup_));
    }
    auto* colours = new QHBoxLayout;
    colorCombo_ = named(new QComboBox(topGroup_), names_.colorCombo);
    colorSwatch_ = named(new ColorSwatch(topGroup_), names_.colorSwatch);
    colorSwatch_->setFixedSize(46, 20);
    colours->addWidget(colorCombo_, 1);
    colours->addWidget(colorSwatch_);
    top->addLayout(colours);
    auto* back = new QHBoxLayout;
    backLabel_ = named(new QLabel(QStringLiteral("背景色："), topGroup_), names_.backLabel);
    backSwatch_ = named(new ColorSwatch(topGroup_), names_.backSwatch);
    backSwatch_->setFixedSize(70, 20);
    back->addWidget(backLabel_);
    back->addWidget(backSwatch_);
    back->addStretch(1);
    top->addLayout(back);
    column->addWidget(topGroup_);

    splitter_ = named(new QSplitter(Qt::Vertical, this), names_.splitter);
    splitter_->setHandleWidth(4);
    splitter_->setChildrenCollapsible(false);
    splitter_->setStyleSheet(QStringLiteral("QSplitter::handle { background: red; }"));
    rowsBox_ = named(new QScrollArea(splitter_), names_.rowsBox);
    rowsContent_ = new QWidget;
    rowsContent_->setObjectName(names_.rowsBox + QStringLiteral("Content"));
    rowsContent_->resize(180, kRowTop);
    rowsBox_->setWidget(rowsContent_);
    rowsBox_->setWidgetResizable(false);
    allCheck_ = named(new QCheckBox(QStringLiteral("全选"), rowsContent_), names_.allCheck);
    allCheck_->setGeometry(8, 8, 70, 20);
    allCheck_->setChecked(true);
    allCheck_->setEnabled(false);
    splitter_->addWidget(rowsBox_);

    operationsBox_ = named(new QScrollArea(splitter_), names_.operationsBox);
    operationsBox_->setWidgetResizable(true);
    operationsGroup_ = named(new QGroupBox(QStringLiteral("操作")), names_.operationsGroup);
    auto* operations = new QVBoxLayout(operationsGroup_);
    operations->setSpacing(3);
    if (options_.rangeInOperations) {
        operations->addWidget(buildRangeControls(operationsGroup_));
    }
    printButton_ = named(new QPushButton(QStringLiteral("打印预览......"), operationsGroup_),
                         names_.printButton);
    zoomInButton_ =
        named(new QPushButton(QStringLiteral("放大"), operationsGroup_), names_.zoomInButton);
    zoomOutButton_ =
        named(new QPushButton(QStringLiteral("缩小"), operationsGroup_), names_.zoomOutButton);
    unzoomButton_ =
        named(new QPushButton(QStringLiteral("恢复"), operationsGroup_), names_.unzoomButton);
    for (QPushButton* b : {printButton_, zoomInButton_, zoomOutButton_, unzoomButton_}) {
        operations->addWidget(b);
    }
    operationsSlot_ = new QVBoxLayout;
    operations->addLayout(operationsSlot_);
    operations->addStretch(1);
    operationsBox_->setWidget(operationsGroup_);
    splitter_->addWidget(operationsBox_);
    splitter_->setSizes({options_.rowsBoxHeight, 200});
    splitter_->setStretchFactor(1, 1);
    column->addWidget(splitter_, 1);
}

void HistoryChartPanel::buildChartSide() {
    chartSide_ = new QFrame;
    chartSide_->setObjectName(names_.chartSide);
    auto* layout = new QVBoxLayout(chartSide_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    chart_ = named(new chart::TChart(chartSide_), names_.chart);
    chart_->setTitle(options_.chartTitle);
    chart_->setBackColor(Qt::black);
    chart_->setMarginsPercent(QMargins(3, 5, 5, 4));
    chart_->setCursor(Qt::CrossCursor);
    chart_->leftAxis()->setIncrement(0.0001);
    layout->addWidget(chart_, 1);
    if (options_.trackBar) {
        trackBar_ = named(new QSlider(Qt::Horizontal, chartSide_), names_.trackBar);
        trackBar_->setRange(0, 100);
        trackBar_->setTickInterval(1);
        trackBar_->setTickPosition(QSlider::TicksAbove);
        trackBar_->setEnabled(false);
        layout->addWidget(trackBar_);
    }
    if (options_.readout) {
        readout_ = named(new QLabel(QStringLiteral("当前时刻： X坐标："), chart_), names_.readout);
        setTextColor(readout_, Qt::red);
        readout_->move(24, 26);
        readout_->setMinimumWidth(560);
    }
}

void HistoryChartPanel::wire() {
    const auto on = [this](auto* sender, auto signal, void (HistoryChartPanel::*handler)()) {
        connect(sender, signal, this,
                guarded(prompter_, this, [this, handler] { (this->*handler)(); }));
    };
    on(rangeButton_, &QPushButton::clicked, &HistoryChartPanel::but_mod_upClick);
    on(colorCombo_, &QComboBox::currentIndexChanged,
       &HistoryChartPanel::Combox_histrch_colorChange);
    on(colorSwatch_, &ColorSwatch::clicked, &HistoryChartPanel::Pnl_histr_colorClick);
    on(backSwatch_, &ColorSwatch::clicked, &HistoryChartPanel::Panel_back_colorClick);
    // The boxes act on their state however it changes: a click, Space, code or a screen reader.
    on(allCheck_, &QCheckBox::toggled, &HistoryChartPanel::CheckBox_allhisrt_curveClick);
    on(printButton_, &QPushButton::clicked, &HistoryChartPanel::Button5Click);
    on(zoomInButton_, &QPushButton::clicked, &HistoryChartPanel::Button11Click);
    on(zoomOutButton_, &QPushButton::clicked, &HistoryChartPanel::Button12Click);
    on(unzoomButton_, &QPushButton::clicked, &HistoryChartPanel::but_unzoomClick);
    on(chart_, &chart::TChart::zoomed, &HistoryChartPanel::Chart2Zoom);
    on(chart_, &chart::TChart::undoZoomed, &HistoryChartPanel::Chart2UndoZoom);
    on(chart_, &chart::TChart::scrolled, &HistoryChartPanel::Chart2Scroll);
    if (trackBar_) {
        on(trackBar_, &QSlider::valueChanged, &HistoryChartPanel::tb_histr_timeChange);
    }
    connect(chart_, &chart::TChart::mouseMoved, this,
            [this](int x, int y) { runGuarded(prompter_, this, [&] { Chart2MouseMove(x, y); }); });
}

chart::TFastLineSeries* HistoryChartPanel::seriesAt(int i) const {
    return i < chart_->seriesCount() ? chart_->series(i) : nullptr;
}

// ---- Series and rows ----

void HistoryChartPanel::rebuildSeries(int count, bool keepColours) {
    crossHair_.reset();
    source_.reset();
    if (count > 0 && count == chart_->seriesCount()) {
        // The same number of curves: emptied and recoloured in place, as new ones would be;
        // their point memory is kept for the next window.
        for (int i = 0; i < count; ++i) {
            chart::TFastLineSeries* s = chart_->series(i);
            s->clear();
            s->setVisible(true);
            if (!keepColours) {
                s->setColor(kNoDefaultColour);  // frees its default colour for the others
            } else if (i < rowCount()) {
                s->setColor(rowSwatch(i)->color());
            }
        }
        if (!keepColours) {
            for (int i = 0; i < count; ++i) {
                chart_->series(i)->setColor(chart_->defaultColor());
            }
        }
        return;
    }
    chart_->removeAllSeries();
    for (int i = 0; i < count; ++i) {
        chart::TFastLineSeries* s = chart_->addFastLineSeries();
        if (keepColours && i < rowCount()) {
            s->setColor(rowSwatch(i)->color());
        }
    }
    if (count > 0) {
        connect(chart_->series(0), &chart::TFastLineSeries::afterDrawValues, this,
                &HistoryChartPanel::Series65AfterDrawValues);
    }
    crossHair_.reset();
}

void HistoryChartPanel::buildRows(const QStringList& captions) {
    for (const Row& row : rows_) {
        delete row.check;
        delete row.value;
        delete row.swatch;
    }
    rows_.clear();
    {
        const QSignalBlocker blocker(colorCombo_);
        colorCombo_->clear();
    }
    rowsBox_->horizontalScrollBar()->setValue(0);
    rowsBox_->verticalScrollBar()->setValue(0);
    QFont valueFont = font();
    valueFont.setPointSize(10);
    valueFont.setBold(true);
    for (int i = 0; i < captions.size(); ++i) {
        const int top = kRowTop + kRowPitch * i;
        Row row{};
        row.check = new QCheckBox(captions[i], rowsContent_);
        row.check->setGeometry(8, top, 70, 20);
        row.check->setChecked(true);
        row.value = new ValueBox(QStringLiteral("0.0"), rowsContent_);
        row.value->setGeometry(85, top, 60, 20);
        row.value->setFont(valueFont);
        setTextColor(row.value, Qt::blue);
        row.swatch = new ColorSwatch(rowsContent_);
        row.swatch->setGeometry(155, top, 20, 20);
        chart::TFastLineSeries* s = seriesAt(i);
        if (s) {
            row.swatch->setColor(s->color());
            s->setVisible(true);
        }
        connect(row.check, &QCheckBox::toggled, this,
                guarded(prompter_, this, [this] { CheckBox_all_histr_curveClick(); }));
        for (QWidget* w : {static_cast<QWidget*>(row.check), static_cast<QWidget*>(row.value),
                           static_cast<QWidget*>(row.swatch)}) {
            w->show();
        }
        rows_.push_back(row);
        const QSignalBlocker blocker(colorCombo_);
        colorCombo_->addItem(captions[i]);
    }
    rowsContent_->resize(180, kRowTop + kRowPitch * static_cast<int>(captions.size()) + 4);
    if (!rows_.empty()) {
        const QSignalBlocker blocker(colorCombo_);
        colorCombo_->setCurrentIndex(0);
        if (chart::TFastLineSeries* s = seriesAt(0)) {
            colorSwatch_->setColor(s->color());
        }
    }
}

void HistoryChartPanel::showWindow(std::shared_ptr<const HistoryWindowSource> source) {
    const int count = source->count();
    const int curves = chart_->seriesCount();
    std::vector<double> xs(static_cast<std::size_t>(count));
    std::vector<double> ys(static_cast<std::size_t>(count));
    for (int j = 0; j < count; ++j) {
        xs[static_cast<std::size_t>(j)] = j;
    }
    for (int c = 0; c < curves; ++c) {
        for (int j = 0; j < count; ++j) {
            ys[static_cast<std::size_t>(j)] = source->valueAt(j, c);
        }
        chart_->series(c)->appendPoints(xs.data(), ys.data(), count);
    }
    // Labels are made when the axis or the cross-hair asks for one.
    if (curves > 0) {
        chart_->series(0)->setLabelFunction(
            [source](int record) { return source->labelAt(record); });
    }
    source_ = std::move(source);
    windowCount_ = count;
}

std::vector<QWidget*> HistoryChartPanel::rowsList() const {
    std::vector<QWidget*> list;
    for (const Row& row : rows_) {
        list.insert(list.end(), {row.check, row.value, row.swatch});
    }
    return list;
}

// ---- Cross-hair and readout ----

void HistoryChartPanel::drawCrossHair(QPoint at) {
    chart::TChartCanvas* canvas = chart_->canvas();
    canvas->setPenColor(chart::crossHairColor(chart_->backColor()));
    canvas->setPenStyle(Qt::SolidLine);
    canvas->setPenMode(chart::TChartCanvas::PenMode::Xor);
    canvas->setPenWidth(1);
    const QRect plot = chart_->plotRect();
    const int dx = chart_->horizontalOffset3D();
    const int dy = chart_->verticalOffset3D();
    canvas->moveTo(at.x() - dx, plot.top() + dy);
    canvas->lineTo(at.x() - dx, plot.bottom() + dy);
    canvas->moveTo(plot.left() - dx, at.y() + dy);
    canvas->lineTo(plot.right() - dx, at.y() + dy);
}

void HistoryChartPanel::Chart2MouseMove(int x, int y) {
    if (busy_) {
        return;
    }
    if (crossHair_) {
        drawCrossHair(*crossHair_);
        crossHair_.reset();
    }
    const chart::TChartAxis* bottom = chart_->bottomAxis();
    const double smallest = bottom->minXValue();
    const double largest = bottom->maxXValue();
    if (!chart_->plotRect().contains(x - chart_->horizontalOffset3D(),
                                     y + chart_->verticalOffset3D())) {
        return;
    }
    drawCrossHair(QPoint(x, y));
    crossHair_ = QPoint(x, y);
    chart::TFastLineSeries* first = seriesAt(0);
    if (!first) {
        return;
    }
    const QPointF values = first->cursorValues(x, y);
    const std::optional<int> point =
        crossHairPointIndex(values.x(), smallest, largest, windowCount_);
    if (!point) {
        return;
    }
    const int p = *point;
    if (readout_ && p < first->count()) {
        setTextIfChanged(readout_, QStringLiteral("当前时刻：") + first->label(p) +
                                       QStringLiteral("    Y坐标：") +
                                       chart_->leftAxis()->formatValue(values.y()) +
                                       QStringLiteral("      "));
    }
    for (int i = 0; i < chart_->seriesCount() && i < rowCount(); ++i) {
        chart::TFastLineSeries* s = chart_->series(i);
        if (p >= s->count()) {
            continue;
        }
        if (source_) {
            setTextIfChanged(rowValueBox(i), source_->valueText(p, i));
        } else {
            char text[kNumberTextMax];
            setTextIfChanged(rowValueBox(i),
                             QString::fromLatin1(text, writeGeneral(text, s->yValue(p)) - text));
        }
    }
}

void HistoryChartPanel::Series65AfterDrawValues() {
    crossHair_.reset();
}

// ---- Zoom and track bar ----

void HistoryChartPanel::Button11Click() {
    chart_->zoomPercent(115);
}

void HistoryChartPanel::Button12Click() {
    chart_->zoomPercent(85);
}

void HistoryChartPanel::but_unzoomClick() {
    chart_->undoZoom();
}

void HistoryChartPanel::Chart2Zoom() {
    syncTrackBar();
}

void HistoryChartPanel::Chart2UndoZoom() {
    syncTrackBar();
}

void HistoryChartPanel::Chart2Scroll() {
    syncTrackBar();
}

void HistoryChartPanel::syncTrackBar() {
    if (!trackBar_) {
        return;
    }
    trackBarSuppressed_ = true;
    const chart::TChartAxis* bottom = chart_->bottomAxis();
    if (bottom->automatic()) {
        trackBar_->setEnabled(false);
    } else {
        trackBar_->setEnabled(true);
        if (const std::optional<int> position =
                trackBarPosition(bottom->minimum(), bottom->minXValue(), bottom->maxXValue())) {
            trackBar_->setValue(*position);
        }
    }
    trackBarSuppressed_ = false;
}

void HistoryChartPanel::tb_histr_timeChange() {
    if (trackBarSuppressed_ || !trackBar_) {
        return;
    }
    chart::TChartAxis* bottom = chart_->bottomAxis();
    const TrackBarScroll scroll =
        trackBarScroll(trackBar_->value(), bottom->minXValue(), bottom->maxXValue(),
                       bottom->minimum(), bottom->maximum());
    if (scroll.maximumFirst) {
        bottom->setMaximum(scroll.maximum);
        bottom->setMinimum(scroll.minimum);
    } else {
        bottom->setMinimum(scroll.minimum);
        bottom->setMaximum(scroll.maximum);
    }
}

// ---- Range, colours, visibility ----

void HistoryChartPanel::but_mod_upClick() {
    const float up = static_cast<float>(textToFloat(rangeUp_->text()));
    const float down = static_cast<float>(textToFloat(rangeDown_->text()));
    chart::TChartAxis* left = chart_->leftAxis();
    switch (rangeOrder(up, down, left->minimum())) {
        case RangeOrder::Refused:
            prompter_.message(window(), QString::fromUtf8(kRangeOrderText));
            break;
        case RangeOrder::MaximumFirst:
            left->setMaximum(up);
            left->setMinimum(down);
            break;
        case RangeOrder::MinimumFirst:
            left->setMinimum(down);
            left->setMaximum(up);
            break;
    }
}

void HistoryChartPanel::Combox_histrch_colorChange() {
    if (chart::TFastLineSeries* s = seriesAt(colorCombo_->currentIndex())) {
        colorSwatch_->setColor(s->color());
    }
}

void HistoryChartPanel::Pnl_histr_colorClick() {
    const std::optional<QColor> chosen = prompter_.chooseColor(window(), colorSwatch_->color());
    const int i = colorCombo_->currentIndex();
    if (!chosen || i < 0) {
        return;
    }
    colorSwatch_->setColor(*chosen);
    if (chart::TFastLineSeries* s = seriesAt(i)) {
        s->setColor(*chosen);
    }
    if (i < rowCount()) {
        rowSwatch(i)->setColor(*chosen);
    }
}

void HistoryChartPanel::Panel_back_colorClick() {
    const std::optional<QColor> chosen = prompter_.chooseColor(window(), backSwatch_->color());
    if (!chosen) {
        return;
    }
    backSwatch_->setColor(*chosen);
    chart_->setBackColor(*chosen);
}

void HistoryChartPanel::CheckBox_all_histr_curveClick() {
    for (int i = 0; i < rowCount(); ++i) {
        if (chart::TFastLineSeries* s = seriesAt(i)) {
            s->setVisible(rowCheckBox(i)->isChecked());
        }
    }
}

void HistoryChartPanel::CheckBox_allhisrt_curveClick() {
    const bool all = allCheck_->isChecked();
    for (int i = 0; i < rowCount(); ++i) {
        {
            const QSignalBlocker blocker(rowCheckBox(i));  // each curve is set here, once
            rowCheckBox(i)->setChecked(all);
        }
        if (chart::TFastLineSeries* s = seriesAt(i)) {
            s->setVisible(all);
        }
    }
}

void HistoryChartPanel::Button5Click() {
    chart_->printPreview(window());
}

}  // namespace tamlo
