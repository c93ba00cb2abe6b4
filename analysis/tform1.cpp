#include "tform1.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "chart/tchart.h"
#include "historygrid.h"
#include "recorderexport.h"
#include "shared/historychartpanel.h"
#include "shared/prompter.h"
#include "shared/statusbar.h"
#include "shared/tcgauge.h"
#include "tform2.h"
#include "tformloadhistrdata.h"

namespace tamlo::analysis {
namespace {

template <class Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

void setRed(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    widget->setPalette(palette);
}

QDateTimeEdit* makePicker(QWidget* parent, const char* name, bool isDate) {
    auto* picker = named(new QDateTimeEdit(parent), name);
    picker->setDisplayFormat(isDate ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("HH:mm:ss"));
    picker->setCalendarPopup(isDate);
    return picker;
}

constexpr char kLoadingHint[] = "正在读取历史数据请稍后！";

}  // namespace

TForm1::TForm1(Prompter& prompter, Clock& clock, QWidget* parent)
    : QMainWindow(parent),
      prompter_(prompter),
      clock_(clock),
      uploadSession_(std::make_unique<SerialUploadPort>()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("无纸记录仪数据分析软件   V1.4"));
    resize(1024, 700);
    createMenu();
    createStatusBar();
    PageControl1 = named(new QTabWidget(this), "PageControl1");
    setCentralWidget(PageControl1);
    createCurvePage();
    createGridPage();
    PageControl1->setCurrentIndex(0);
    // On creation: busy until the first window is loaded, no search before a file.
    panel_->setBusy(true);
    Button_search->setEnabled(false);
    Button_expro_histr->setEnabled(false);
}

TForm1::~TForm1() = default;

void TForm1::createMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    N1 = bar->addMenu(QStringLiteral("文件"));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = N1->addAction(QStringLiteral(" "));
    N2->setObjectName(QStringLiteral("N2"));
    N3 = N1->addAction(QStringLiteral("从串口上传历史数据......."));
    N3->setObjectName(QStringLiteral("N3"));
    Excel1 = N1->addAction(QString());
    Excel1->setObjectName(QStringLiteral("Excel1"));
    N4 = bar->addAction(QStringLiteral("查看"));
    N4->setObjectName(QStringLiteral("N4"));
    connect(N3, &QAction::triggered, this, guarded(prompter_, this, [this] { N3Click(); }));
}

void TForm1::createStatusBar() {
    StatusBar1 = named(new PanelStatusBar({500, 140, 50, 50, 50}, this), "StatusBar1");
    setStatusBar(StatusBar1);
}

QString TForm1::statusPanelText(int panel) const {
    return StatusBar1->panelText(panel);
}

void TForm1::createCurvePage() {
    TabSheet5 = named(new QWidget, "TabSheet5");
    PageControl1->addTab(TabSheet5, QStringLiteral("历史曲线"));
    auto* layout = new QHBoxLayout(TabSheet5);
    layout->setContentsMargins(0, 0, 0, 0);
    panel_ =
        new HistoryChartPanel(prompter_, HistoryChartNames{}, HistoryChartOptions{}, TabSheet5);
    layout->addWidget(panel_);
    layout->addWidget(panel_->chartSide(), 1);

    // The query group: open, search and the date and time to search for.
    QWidget* group = panel_->topSlot()->parentWidget();
    but_open_histr_data =
        named(new QPushButton(QStringLiteral("打开历史数据......."), group), "but_open_histr_data");
    Button_search = named(new QPushButton(QStringLiteral("查找"), group), "Button_search");
    DateTimer_give_date = makePicker(group, "DateTimer_give_date", true);
    DateTimer_give_time = makePicker(group, "DateTimer_give_time", false);
    auto* pickers = new QHBoxLayout;
    pickers->addWidget(DateTimer_give_date);
    pickers->addWidget(DateTimer_give_time);
    panel_->topSlot()->addWidget(but_open_histr_data);
    panel_->topSlot()->addWidget(Button_search);
    panel_->topSlot()->addLayout(pickers);
    Button_expro_histr =
        named(new QPushButton(QStringLiteral("导出EXCEL文件......")), "Button_expro_histr");
    panel_->operationsSlot()->addWidget(Button_expro_histr);

    // Over the chart: the file's span and the progress of a window load.
    chart::TChart* chart = panel_->chart();
    lb_histr_time = named(new QLabel(QStringLiteral("时间范围："), chart), "lb_histr_time");
    setRed(lb_histr_time);
    lb_histr_time->move(24, 8);
    lb_histr_time->setMinimumWidth(560);
    Panel_histread_progress = named(new QFrame(chart), "Panel_histread_progress");
    Panel_histread_progress->setFrameShape(QFrame::Panel);
    Panel_histread_progress->setAutoFillBackground(true);
    Panel_histread_progress->setGeometry(120, 160, 360, 60);
    CGauge1 = named(new TCGauge(Panel_histread_progress), "CGauge1");
    CGauge1->setGeometry(8, 32, 344, 20);
    auto* loading = new QLabel(QStringLiteral("正在读取数据请稍后......！                   "),
                               Panel_histread_progress);
    loading->move(8, 8);
    Panel_histread_progress->hide();

    const auto on = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                guarded(prompter_, this, [this, handler] { (this->*handler)(); }));
    };
    on(but_open_histr_data, &TForm1::but_open_histr_dataClick);
    on(Button_search, &TForm1::Button_searchClick);
    on(Button_expro_histr, &TForm1::Button_expro_histrClick);
}

void TForm1::createGridPage() {
    TabSheet_histr_data = named(new QWidget, "TabSheet_histr_data");
    PageControl1->addTab(TabSheet_histr_data, QStringLiteral("历史数据"));
    auto* layout = new QVBoxLayout(TabSheet_histr_data);
    layout->setContentsMargins(0, 0, 0, 0);
    StringGrid1 = named(new HistoryGridView(TabSheet_histr_data), "StringGrid1");
    layout->addWidget(StringGrid1);
}

// ---- Opening a file ----

void TForm1::but_open_histr_dataClick() {
    FileDialogRequest request;
    request.filter = QStringLiteral("历史数据|*.dat");
    request.defaultSuffix = QStringLiteral("dat");
    const QString path = prompter_.openFileName(this, request);
    if (path.isEmpty()) {
        finishOpen();
        return;
    }
    openFile(path);
}

void TForm1::openFile(const QString& path) {
    switch (windows_.open(path)) {
        case HistoryWindows::Outcome::NotOpenable:
            finishOpen();
            return;
        case HistoryWindows::Outcome::WrongType:
            StatusBar1->setPanelText(0, path);
            prompter_.message(this, QString::fromUtf8(kWrongFileTypeText));
            return;  // the previous file, window and controls stay
        case HistoryWindows::Outcome::Loaded:
            break;
    }
    StatusBar1->setPanelText(0, path);
    const RecorderHistory& h = *windows_.history();
    const QStringList names = windows_.channelNames();
    panel_->rebuildSeries(h.channelCount(), false);
    panel_->buildRows(names);
    lb_histr_time->setText(windows_.rangeText());
    const QDateTime end = fromOleDate(h.endTime);
    DateTimer_give_date->setDateTime(end);
    DateTimer_give_time->setDateTime(end);
    StringGrid1->gridModel()->setHeader(QStringList{QStringLiteral("time")} + names);
    StringGrid1->setColumnWidth(0, 96);
    loadWindow(h.startTime);
    Button_search->setEnabled(true);
    finishOpen();
}

void TForm1::finishOpen() {
    Panel_histread_progress->hide();
    panel_->chart()->undoZoom();
}

// ---- Window ----

void TForm1::loadWindow(OleDate t) {
    if (!windows_.canLoad(t)) {
        return;  // the previous window stays
    }
    // The old curves go first, so that the one paint below is a cheap one.
    panel_->setBusy(true);
    panel_->rebuildSeries(windows_.history()->channelCount(), true);
    panel_->setWindowCount(0);
    StringGrid1->gridModel()->setWindow(nullptr);
    CGauge1->setMaxValue(kWindowRecords);
    Panel_histread_progress->show();
    CGauge1->setHint(QString::fromUtf8(kLoadingHint));
    CGauge1->setProgress(0);
    QApplication::processEvents();  // once, so that the progress panel paints
    if (const std::shared_ptr<const HistoryWindow> window = windows_.load(t)) {
        panel_->showWindow(window);
        StringGrid1->gridModel()->setWindow(window);
        CGauge1->setProgress(window->count());
    }
    panel_->allCheckBox()->setEnabled(true);
    panel_->setBusy(false);
    Button_expro_histr->setEnabled(true);
    Panel_histread_progress->hide();
}

void TForm1::Button_searchClick() {
    if (!windows_.history()) {
        return;
    }
    const QDate d = DateTimer_give_date->date();
    const QTime tod = DateTimer_give_time->time();
    const OleDate t =
        oleDateFromParts(d.year(), d.month(), d.day(), tod.hour(), tod.minute(), tod.second());
    DateTimer_give_date->setDateTime(fromOleDate(t));
    switch (windows_.place(t)) {
        case HistoryWindows::Place::AfterEnd:
            prompter_.message(this, QString::fromUtf8(kAboveEndText));
            break;
        case HistoryWindows::Place::BeforeStart:
            prompter_.message(this, QString::fromUtf8(kBelowStartText));
            break;
        case HistoryWindows::Place::Inside:
            loadWindow(t);
            break;
    }
}

// ---- Dialogs ----

void TForm1::Button_expro_histrClick() {
    if (!windows_.history()) {
        return;
    }
    RecorderExportJob job(*windows_.history());
    TForm2 dialog(prompter_, job, this);
    dialog.exec();
}

void TForm1::N3Click() {
    TFormLoadHistrData dialog(uploadSession_, prompter_, clock_, this);
    dialog.exec();
}

}  // namespace tamlo::analysis
