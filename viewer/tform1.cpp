#include "tform1.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "chart/tchart.h"
#include "shared/datetime.h"
#include "shared/historychartpanel.h"
#include "shared/prompter.h"
#include "shared/statusbar.h"
#include "shared/tcgauge.h"
#include "viewer/tform2.h"
#include "viewer/viewerexport.h"

namespace tamlo::viewer {
namespace {

const QString kLoadingHint = QStringLiteral("正在读取历史数据请稍后！");

void setRed(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
}

}  // namespace

TForm1::TForm1(Prompter& prompter, Clock& clock, QWidget* parent)
    : QMainWindow(parent), prompter_(prompter), clock_(clock) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("NorvikDCS"));
    resize(932, 780);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    setCentralWidget(PageControl1);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral("历史曲线"));

    panel_ =
        new HistoryChartPanel(prompter_, HistoryChartNames{}, HistoryChartOptions{}, TabSheet1);
    auto* layout = new QHBoxLayout(TabSheet1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panel_);
    layout->addWidget(panel_->chartSide(), 1);
    buildPageControls();
    buildProgressPanel();
    buildStatusBar();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildPageControls() {
    but_open_histr_data = new QPushButton(QStringLiteral("打开历史数据......."));
    but_open_histr_data->setObjectName(QStringLiteral("but_open_histr_data"));
    Label_histr_pagecount = new QLabel(QStringLiteral("共 页 第 页     "));
    Label_histr_pagecount->setObjectName(QStringLiteral("Label_histr_pagecount"));
    Button_histr_back = new QPushButton(QStringLiteral("<<"));
    Button_histr_back->setObjectName(QStringLiteral("Button_histr_back"));
    Button_histr_next = new QPushButton(QStringLiteral(">>"));
    Button_histr_next->setObjectName(QStringLiteral("Button_histr_next"));
    auto* pageButtons = new QHBoxLayout;
    pageButtons->addWidget(Button_histr_back);
    pageButtons->addWidget(Button_histr_next);
    panel_->topSlot()->addWidget(but_open_histr_data);
    panel_->topSlot()->addWidget(Label_histr_pagecount);
    panel_->topSlot()->addLayout(pageButtons);

    Button_expro_histr = new QPushButton(QStringLiteral("导出EXCEL文件......"));
    Button_expro_histr->setObjectName(QStringLiteral("Button_expro_histr"));
    panel_->operationsSlot()->addWidget(Button_expro_histr);

    lb_histr_time = new QLabel(QStringLiteral("时间范围："), panel_->chart());
    lb_histr_time->setObjectName(QStringLiteral("lb_histr_time"));
    setRed(lb_histr_time);
    lb_histr_time->move(24, 8);
    lb_histr_time->setMinimumWidth(560);

    const auto on = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                guarded(prompter_, this, [this, handler] { (this->*handler)(); }));
    };
    on(but_open_histr_data, &TForm1::but_open_histr_dataClick);
    on(Button_histr_back, &TForm1::Button_histr_backClick);
    on(Button_histr_next, &TForm1::Button_histr_nextClick);
    on(Button_expro_histr, &TForm1::Button_expro_histrClick);
}

void TForm1::buildProgressPanel() {
    Panel_histread_progress = new QFrame(panel_->chart());
    Panel_histread_progress->setObjectName(QStringLiteral("Panel_histread_progress"));
    Panel_histread_progress->setFrameShape(QFrame::Panel);
    Panel_histread_progress->setAutoFillBackground(true);
    Panel_histread_progress->setGeometry(180, 300, 320, 40);
    CGauge1 = new TCGauge(Panel_histread_progress);
    CGauge1->setObjectName(QStringLiteral("CGauge1"));
    CGauge1->setGeometry(10, 10, 300, 20);
    Panel_histread_progress->hide();
}

void TForm1::buildStatusBar() {
    StatusBar1 = new PanelStatusBar({500, 140, 50, 50, 50}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);
}

void TForm1::FormCreate() {
    // Until a file is open: no curves, the page and export buttons and "全选" disabled, and the
    // cross-hair inert.
    Button_histr_back->setEnabled(false);
    Button_histr_next->setEnabled(false);
    Button_expro_histr->setEnabled(false);
    panel_->allCheckBox()->setEnabled(false);
    panel_->setBusy(true);
}

void TForm1::but_open_histr_dataClick() {
    FileDialogRequest request;
    request.filter = QStringLiteral("历史数据|*.nv");
    request.defaultSuffix = QStringLiteral("nv");
    const QString path = prompter_.openFileName(this, request);
    if (path.isEmpty()) {
        panel_->chart()->undoZoom();
        return;
    }
    openFile(path);
}

void TForm1::openFile(const QString& path) {
    loadWith([&](const ViewerPages::Progress& progress) { return pages_.open(path, progress); },
             true);
}

void TForm1::Button_histr_nextClick() {
    loadWith([&](const ViewerPages::Progress& progress) { return pages_.next(progress); }, false);
}

void TForm1::Button_histr_backClick() {
    loadWith([&](const ViewerPages::Progress& progress) { return pages_.back(progress); }, false);
}

void TForm1::loadWith(const std::function<ViewerPages::Outcome(const ViewerPages::Progress&)>& step,
                      bool newFile) {
    const bool wasBusy = panel_->busy();
    panel_->setBusy(true);
    CGauge1->setHint(kLoadingHint);
    CGauge1->setProgress(0);
    Panel_histread_progress->show();
    Panel_histread_progress->raise();
    const ViewerPages::Outcome outcome = step([this](int done, int total) {
        CGauge1->setMaxValue(total);
        CGauge1->setProgress(done);
        CGauge1->repaint();
    });
    Panel_histread_progress->hide();
    switch (outcome) {
        case ViewerPages::Outcome::Loaded:
            showPage(newFile);
            panel_->setBusy(false);
            break;
        case ViewerPages::Outcome::Refused:
            panel_->setBusy(wasBusy);
            if (!pages_.error().isEmpty()) {
                prompter_.message(this, pages_.error());
            }
            break;
        case ViewerPages::Outcome::NotOpenable:
            panel_->setBusy(wasBusy);
            break;
    }
    panel_->chart()->undoZoom();
}

void TForm1::showPage(bool newFile) {
    const ViewerPageState& s = pages_.state();
    const int channels = static_cast<int>(pages_.page().channelCount);
    panel_->rebuildSeries(channels, !newFile);
    if (newFile) {
        QStringList tags;
        for (int i = 0; i < channels; ++i) {
            tags << s.header.tag(i);
        }
        panel_->buildRows(tags);
        StatusBar1->setPanelText(0, s.fileName);
        lb_histr_time->setText(pages_.rangeText());
        lb_histr_time->adjustSize();
        panel_->allCheckBox()->setEnabled(true);
        Button_expro_histr->setEnabled(true);
    }
    Label_histr_pagecount->setText(pages_.pageLabel());

    panel_->showWindow(pages_.sharedPage());
    updatePageButtons();
}

void TForm1::updatePageButtons() {
    Button_histr_back->setEnabled(pages_.canGoBack());
    Button_histr_next->setEnabled(pages_.canGoNext());
}

void TForm1::Button_expro_histrClick() {
    if (!pages_.isOpen()) {
        return;
    }
    const ViewerPageState& s = pages_.state();
    StationExportJob job(s.fileName, s.fileStart, s.fileEnd, s.header.intervalSeconds);
    TForm2 dialog(prompter_, job, this);
    dialog.exec();
}

}  // namespace tamlo::viewer
