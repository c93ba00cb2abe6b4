#include "realtimepage.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <array>

#include "chart/tchart.h"
#include "shared/historychartpanel.h"

namespace tamlo::station {

namespace {

HistoryChartNames realTimeNames() {
    HistoryChartNames n;
    n.column = QStringLiteral("Panel8");
    n.topGroup = QStringLiteral("GroupBox5");
    n.rangeLabel = QStringLiteral("Label18");
    n.rangeUpLabel = QStringLiteral("Label19");
    n.rangeDown = QStringLiteral("ME_real_down");
    n.rangeUp = QStringLiteral("ME_real_up");
    n.rangeButton = QStringLiteral("But_real_modarang");
    n.colorCombo = QStringLiteral("Combox_realch_color");
    n.colorSwatch = QStringLiteral("Pnl_real_color");
    n.backLabel = QStringLiteral("Label20");
    n.backSwatch = QStringLiteral("Panel_back_color");
    n.rowsBox = QStringLiteral("ScrollBox2");
    n.allCheck = QStringLiteral("CheckBox_realch_all");
    n.splitter = QStringLiteral("Splitter1");
    n.operationsBox = QStringLiteral("ScrollBox3");
    n.operationsGroup = QStringLiteral("GroupBox1");
    n.printButton = QStringLiteral("But_real_prinview");
    n.zoomInButton = QStringLiteral("But_real_zoomout");
    n.zoomOutButton = QStringLiteral("But_real_zommin");
    n.unzoomButton = QStringLiteral("But_real_unzoom");
    n.chartSide = QString();
    n.chart = QStringLiteral("Chart1");
    return n;
}

// The range edits among the operations, each end on its own line; no track bar, no readout.
HistoryChartOptions realTimeOptions() {
    HistoryChartOptions o;
    o.topGroupTitle = QStringLiteral("色彩配置");
    o.chartTitle = QStringLiteral("实时曲线");
    o.rangeInOperations = true;
    o.rangeEndsOnOwnLines = true;
    o.rangeLabelText = QStringLiteral("量程下限：");
    o.rangeUpLabelText = QStringLiteral("量程上限：");
    o.rowsBoxHeight = 224;
    o.trackBar = false;
    o.readout = false;
    return o;
}

}  // namespace

RealTimePage::RealTimePage(QWidget* tabSheet, Prompter& prompter)
    : panel_(new HistoryChartPanel(prompter, realTimeNames(), realTimeOptions(), tabSheet)),
      Chart1(panel_->chart()) {
    auto* layout = new QHBoxLayout(tabSheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel_);
    layout->addWidget(panel_->chartSide(), 1);
    // The lines run from start-up on: "全选" acts at once.
    panel_->allCheckBox()->setEnabled(true);
    Chart1->setPanelColor(QApplication::palette().color(QPalette::Dark));
    Chart1->leftAxis()->setAutomatic(false);
    Chart1->leftAxis()->setMinMax(0, 1000);

    Label_real_time = new QLabel(QStringLiteral("时间："), Chart1);
    Label_real_time->setObjectName(QStringLiteral("Label_real_time"));
    QFont clockFont(QStringLiteral("MS Sans Serif"));
    clockFont.setPixelSize(13);
    clockFont.setBold(true);
    Label_real_time->setFont(clockFont);
    QPalette red = Label_real_time->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label_real_time->setPalette(red);
    Label_real_time->move(24, 8);
    Label_real_time->setMinimumWidth(240);
}

void RealTimePage::addFlatSeries(double firstX) {
    std::array<double, kPoints> xs{};
    const std::array<double, kPoints> ys{};
    for (int i = 0; i < kPoints; ++i) {
        xs[static_cast<std::size_t>(i)] = firstX + i;
    }
    chart::TFastLineSeries* s = Chart1->addFastLineSeries();
    s->appendPoints(xs.data(), ys.data(), kPoints);
    // The initial points read as no time at all.
    s->setLabelFunction([](int) { return QStringLiteral(" "); });
}

void RealTimePage::buildSeries(int count) {
    Chart1->removeAllSeries();
    for (int k = 0; k < count; ++k) {
        addFlatSeries(0);
    }
}

void RealTimePage::followDeviceCount(int count) {
    int have = Chart1->seriesCount();
    while (have > count) {
        Chart1->removeSeries(--have);
    }
    const double firstX = have > 0 ? Chart1->series(0)->xValue(0) : 0.0;
    for (; have < count; ++have) {
        addFlatSeries(firstX);
    }
}

void RealTimePage::buildRows(const QStringList& tags) {
    panel_->buildRows(tags);
}

void RealTimePage::appendRecord(const float* values, int count, const QString& label) {
    const int n = std::min(count, Chart1->seriesCount());
    for (int k = 0; k < n; ++k) {
        chart::TFastLineSeries* s = Chart1->series(k);
        s->deletePoint(0);
        s->addXY(s->lastXValue() + 1, values[k], label);
    }
}

void RealTimePage::setValueText(int device, const QString& text) {
    if (device >= 0 && device < panel_->rowCount()) {
        QLineEdit* box = panel_->rowValueBox(device);
        if (box->text() != text) {
            box->setText(text);
        }
    }
}

QList<QWidget*> RealTimePage::curveList() const {
    const std::vector<QWidget*> rows = panel_->rowsList();
    return QList<QWidget*>(rows.begin(), rows.end());
}

void RealTimePage::CheckBox_forallClick() {
    panel_->CheckBox_all_histr_curveClick();
}
void RealTimePage::CheckBox_realch_allClick() {
    panel_->CheckBox_allhisrt_curveClick();
}
void RealTimePage::Combox_realch_colorChange() {
    panel_->Combox_histrch_colorChange();
}
void RealTimePage::Pnl_real_colorClick() {
    panel_->Pnl_histr_colorClick();
}
void RealTimePage::Panel_back_colorClick() {
    panel_->Panel_back_colorClick();
}
void RealTimePage::But_real_modarangClick() {
    panel_->but_mod_upClick();
}
void RealTimePage::But_real_prinviewClick() {
    panel_->Button5Click();
}
void RealTimePage::But_real_zoomoutClick() {
    panel_->Button11Click();
}
void RealTimePage::But_real_zomminClick() {
    panel_->Button12Click();
}
void RealTimePage::But_real_unzoomClick() {
    panel_->but_unzoomClick();
}

}  // namespace tamlo::station
