#include "tform1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstdio>

#include "alarmdisplay.h"
#include "namedcontrols.h"
#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/numbertext.h"
#include "shared/prompter.h"
#include "shared/statusbar.h"
#include "taboutbox.h"

namespace tamlo::station {

namespace {

const QString kSixSpaces = QStringLiteral("      ");
const QString kWrongPassword = QStringLiteral("错误!");

// An entry of up to `maxDigits` decimal digits and nothing else: an input mask would let blanks
// in between ("3 0"), which the text then reads past.
QLineEdit* digitEdit(QWidget* parent, const char* name, int maxDigits) {
    auto* edit = named(new QLineEdit(parent), name);
    edit->setMaxLength(maxDigits);
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(maxDigits)), edit));
    return edit;
}

QComboBox* pickList(QWidget* parent, const char* name, const QStringList& items) {
    auto* box = named(new QComboBox(parent), name);
    box->addItems(items);
    box->setEditable(false);
    return box;
}

}  // namespace

TForm1::TForm1(StationSession& session, Prompter& prompter, QWidget* parent)
    : QMainWindow(parent), session_(session), prompter_(prompter) {
    buildWindow();
    wireHandlers();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildWindow() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("NorvikDCS"));
    resize(776, 578);
    buildMenu();
    PageControl1 = named(new QTabWidget(this), "PageControl1");
    setCentralWidget(PageControl1);
    buildDevicePage();
    buildSetupPanels();
    buildDataPage();
    buildOverviewPage();
    buildCurvePage();
    PageControl1->setCurrentIndex(0);
    buildStatusBar();
    alarms_ = new AlarmDisplay(
        session_, prompter_,
        {this, PageControl1, dataGrid_.get(), overview_.get(), statusPanels_[0], statusPanels_[2]});

    Timer1 = &session_.pollTimer();
    Timer2 = &session_.secondTimer();
    aboutBox_ = new TAboutBox(this);
    aboutBox_->hide();
}

void TForm1::buildMenu() {
    MainMenu1 = named(new QMenuBar(this), "MainMenu1");
    setMenuBar(MainMenu1);
    N1 = named(MainMenu1->addMenu(QStringLiteral("系统")), "N1");
    N4 = named(N1->addAction(QStringLiteral("登入系统设置")), "N4");
    N5 = named(N1->addAction(QStringLiteral("退出系统设置")), "N5");
    N2 = named(N1->addAction(QStringLiteral("修改密码")), "N2");
    N3 = named(N1->addAction(QStringLiteral("配置设备")), "N3");
    // Alarms and line quality.
    N8Separator = N1->addSeparator();
    N8 = named(N1->addAction(QStringLiteral("报警设置")), "N8");
    N9 = named(N1->addAction(QStringLiteral("通讯统计")), "N9");
    N6 = named(MainMenu1->addMenu(QStringLiteral("帮助")), "N6");
    N7 = named(N6->addAction(QStringLiteral("关于......")), "N7");
}

void TForm1::buildDevicePage() {
    TabSheet1 = named(new QWidget, "TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral("设备配置"));
    auto* pageLayout = new QHBoxLayout(TabSheet1);
    pageLayout->setContentsMargins(2, 2, 2, 2);

    StringGrid1 = named(new StringGrid(TabSheet1), "StringGrid1");
    StringGrid1->setSize(9, 2);
    StringGrid1->setFixed(1, 1);
    StringGrid1->setColumnWidths({64, 82, 82, 79, 79, 75, 81, 76, 64});
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    pageLayout->addWidget(StringGrid1, 1);

    auto* panel1 = named(new QFrame(TabSheet1), "Panel1");
    panel1->setFixedWidth(239);
    pageLayout->addWidget(panel1);
    auto* panelLayout = new QVBoxLayout(panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(2);

    auto* editPanel = named(new QFrame(panel1), "Panel4");
    editPanel->setFrameShape(QFrame::StyledPanel);
    auto* form = new QGridLayout(editPanel);
    form->setContentsMargins(8, 6, 8, 6);
    form->setVerticalSpacing(3);
    ComboBox1 = pickList(editPanel, "ComboBox1", modelNames());
    MaskEdit1 = digitEdit(editPanel, "MaskEdit1", 3);
    MaskEdit2 = named(new QLineEdit(editPanel), "MaskEdit2");
    MaskEdit2->setMaxLength(kTagBytes);
    MaskEdit2->setValidator(new GbkFieldValidator(kTagBytes, MaskEdit2));
    MaskEdit3 = digitEdit(editPanel, "MaskEdit3", 2);
    unit_combobox = pickList(editPanel, "unit_combobox", unitNames());
    rec_time = digitEdit(editPanel, "rec_time", 5);
    ComboBox2 = pickList(editPanel, "ComboBox2", portNames());
    ComboBox3 = pickList(editPanel, "ComboBox3", baudNames());
    const std::array<std::pair<const char*, QString>, 8> captions{{
        {"Label1", QStringLiteral("设备名称：")},
        {"Label2", QStringLiteral("设备地址：")},
        {"Label3", QStringLiteral("工位号：")},
        {"Label4", QStringLiteral("通道号：")},
        {"Label5", QStringLiteral("单位：")},
        {"Label6", QStringLiteral("记录间隔：")},
        {"Label14", QStringLiteral("串口：")},
        {"Label17", QStringLiteral("波特率：")},
    }};
    const std::array<QWidget*, 8> fields{ComboBox1,     MaskEdit1, MaskEdit2, MaskEdit3,
                                         unit_combobox, rec_time,  ComboBox2, ComboBox3};
    for (int i = 0; i < 8; ++i) {
        form->addWidget(label(editPanel, captions[i].first, captions[i].second), i, 0);
        form->addWidget(fields[i], i, 1);
    }
    auto* buttons = new QGridLayout;
    Button1 = button(editPanel, "Button1", QStringLiteral("添  加"));
    Button2 = button(editPanel, "Button2", QStringLiteral("修  改"));
    Button3 = button(editPanel, "Button3", QStringLiteral("删  除"));
    Button4 = button(editPanel, "Button4", QStringLiteral("保  存"));
    buttons->addWidget(Button1, 0, 0);
    buttons->addWidget(Button2, 0, 1);
    buttons->addWidget(Button3, 1, 0);
    buttons->addWidget(Button4, 1, 1);
    form->addLayout(buttons, 8, 0, 1, 2);
    panelLayout->addWidget(editPanel);

    // The parameter list and its buttons.
    paramPanel_ = new ParamListPanel(session_, panel1);
    panelLayout->addWidget(paramPanel_, 1);
    Label16 = paramPanel_->Label16;
    StringGrid3 = paramPanel_->StringGrid3;
    Label15 = paramPanel_->Label15;
    meter_para_editer = paramPanel_->meter_para_editer;
    meter_para_box = paramPanel_->meter_para_box;
    read_para = paramPanel_->read_para;
    mod_para = paramPanel_->mod_para;
}

void TForm1::buildSetupPanels() {
    setupPanels_ = std::make_unique<SetupPanels>(TabSheet1);
    const SetupPanels& p = *setupPanels_;
    Panel2 = p.Panel2;
    Label11 = p.Label11;
    Label7 = p.Label7;
    Edit1 = p.Edit1;
    Button7 = p.Button7;
    Button8 = p.Button8;
    Label13 = p.Label13;
    Panel3 = p.Panel3;
    Label10 = p.Label10;
    Label8 = p.Label8;
    Label9 = p.Label9;
    Edit2 = p.Edit2;
    Edit3 = p.Edit3;
    Button9 = p.Button9;
    Button10 = p.Button10;
    Label12 = p.Label12;
}

void TForm1::buildDataPage() {
    TabSheet2 = named(new QWidget, "TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("数据记录"));
    dataGrid_ = std::make_unique<DataGridPage>(TabSheet2);
    StringGrid2 = dataGrid_->grid();
}

void TForm1::buildOverviewPage() {
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet3, QStringLiteral("概貌显示"));
    overview_ = std::make_unique<OverviewPage>(TabSheet3, session_.workingDirectory());
    ScrollBox1 = overview_->scrollBox();
}

void TForm1::buildCurvePage() {
    TabSheet4 = named(new QWidget, "TabSheet4");
    PageControl1->addTab(TabSheet4, QStringLiteral("实时曲线"));
    realTime_ = std::make_unique<RealTimePage>(TabSheet4, prompter_);
    Chart1 = realTime_->chart();
    Label_real_time = realTime_->clockLabel();
}

void TForm1::buildStatusBar() {
    auto* bar = named(new PanelStatusBar({500, 140, 50, 50, 50}, this), "StatusBar1");
    StatusBar1 = bar;
    setStatusBar(StatusBar1);
    for (std::size_t i = 0; i < statusPanels_.size(); ++i) {
        statusPanels_[i] = bar->panel(static_cast<int>(i));
    }
}

QString TForm1::statusPanelText(int panel) const {
    if (panel < 0 || panel >= static_cast<int>(statusPanels_.size())) {
        return {};
    }
    return statusPanels_[static_cast<std::size_t>(panel)]->text();
}

void TForm1::wireHandlers() {
    const auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this,
                guarded(prompter_, this, [this, handler] { (this->*handler)(); }));
    };
    on(N4, &QAction::triggered, &TForm1::N4Click);
    on(N5, &QAction::triggered, &TForm1::N5Click);
    on(N2, &QAction::triggered, &TForm1::N2Click);
    on(N3, &QAction::triggered, &TForm1::N3Click);
    on(N7, &QAction::triggered, &TForm1::N7Click);
    on(N8, &QAction::triggered, &TForm1::N8Click);
    on(N9, &QAction::triggered, &TForm1::N9Click);
    on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    on(Button3, &QPushButton::clicked, &TForm1::Button3Click);
    on(Button4, &QPushButton::clicked, &TForm1::Button4Click);
    on(Button7, &QPushButton::clicked, &TForm1::Button7Click);
    on(Button8, &QPushButton::clicked, &TForm1::Button8Click);
    on(Button9, &QPushButton::clicked, &TForm1::Button9Click);
    on(Button10, &QPushButton::clicked, &TForm1::Button10Click);
    on(StringGrid1, &StringGrid::cellClicked, &TForm1::StringGrid1Click);
    // The pages follow the session.
    connect(&session_, &StationSession::setupModeChanged, this, &TForm1::applySetupMode);
    connect(&session_, &StationSession::activeTableChanged, this, &TForm1::showActiveTable);
    connect(&session_, &StationSession::secondTicked, this, &TForm1::showSecond);
    connect(&session_, &StationSession::recordTaken, this,
            [this](const QString& label, const QList<float>& values) {
                realTime_->appendRecord(values.constData(), static_cast<int>(values.size()), label);
            });
    connect(&session_, &StationSession::linkStateChanged, this, [this](int device, bool answered) {
        StringGrid1->setCell(5, device + 1,
                             answered ? QStringLiteral("......") : QStringLiteral("失败！"));
    });
    connect(&session_, &StationSession::historyFileStarted, alarms_, &AlarmDisplay::showFileStatus);
    connect(&session_, &StationSession::portOpenFailed, this,
            [this](const QString& text, const QString& caption) {
                // Why, for whoever sets the station up: on standard error and as panel 0's tool
                // tip.
                const QString reason = session_.line().failureReason();
                statusPanels_[0]->setToolTip(reason);
                if (!reason.isEmpty()) {
                    std::fprintf(stderr, "tamlo_pro: %s\n", reason.toLocal8Bit().constData());
                }
                prompter_.message(this, text, caption);
            });
    connect(&session_, &StationSession::publishingRefused, this, [this](const QString& text) {
        prompter_.message(this, text, QStringLiteral("NorvikDCS"));
    });
    connect(&session_, &StationSession::modbusRefused, this, [this](const QString& text) {
        prompter_.message(this, text, QStringLiteral("NorvikDCS"));
    });
}

// ---- Start-up and close ----------------------------------------------------------------------

void TForm1::FormCreate() {
    // 1-3: the working directory is given; the tile and curve lists start empty, the
    // background swatch shows the chart's colour (both pages are built so).
    // 4-5, 7: load or create config.dat; the active copy starts as the edit copy; "para".
    session_.load();
    // 6: the device grid.
    writeDeviceGridHeader();
    ComboBox1->setCurrentIndex(0);
    unit_combobox->setCurrentIndex(0);
    fillDeviceGrid();
    // 8 (with the load), and the list's grid and editors of 14.
    paramPanel_->prepare();
    // 9: the data grid, with the tags of the table as loaded.
    dataGrid_->prepare();
    dataGrid_->writeHeader(session_.editTable().tags());
    // 10: the month directory is made with the history file (step 18).
    // 11-12: locked setup state, the saved settings shown.
    applySetupMode(session_.setupMode());
    Label12->setText(kSixSpaces);
    Label13->setText(kSixSpaces);
    // 13
    session_.resetCycles();
    // 14: the parameter list.
    selectDeviceRow(1);
    paramPanel_->fill(0);
    // 15
    overview_->build(session_.activeTable().tags(), session_.activeTable().units());
    // 16-17: the port, then polling.
    session_.openPort();
    session_.startPolling();
    // 18-19: this run's history file.
    session_.startHistoryFile();
    // Its records on an MQTT broker, when mqtt.ini asks for it.
    session_.startPublishing();
    // Alarms, when alarms.ini asks for them: the page "报警" appears.
    session_.startAlarms();
    alarms_->start({N8Separator, N8, N9});
    // Its live values over Modbus TCP, when modbus.ini asks for it.
    session_.startModbus();
    // 20
    prepareChart();
    // The one-second tick runs from the moment the window exists; none before start-up is done.
    session_.startRecording();
}

void TForm1::closeEvent(QCloseEvent* event) {
    runGuarded(prompter_, this, [this] { FormClose(); });
    event->accept();
}

void TForm1::FormClose() {
    session_.close();
}

// ---- Device table ----------------------------------------------------------------------------

void TForm1::writeDeviceGridHeader() {
    static const std::array<QString, 7> captions{
        QStringLiteral("  序号"),   QStringLiteral("  设备名称"), QStringLiteral("  设备地址"),
        QStringLiteral("  工位号"), QStringLiteral("  通道号"),   QStringLiteral("  通讯状态"),
        QStringLiteral("  单位")};
    for (int c = 0; c < 7; ++c) {
        StringGrid1->setCell(c, 0, captions[static_cast<std::size_t>(c)]);
    }
}

void TForm1::fillDeviceGrid() {
    const DeviceTable& edit = session_.editTable();
    if (edit.count > 0) {
        // The rows of the devices plus the header and one empty row. Column 5 (link state)
        // belongs to polling and keeps its texts.
        StringGrid1->setRowCount(edit.count + 2);
        for (int i = 0; i < edit.count; ++i) {
            const DeviceEntry& e = edit.entries[static_cast<std::size_t>(i)];
            const int r = i + 1;
            StringGrid1->setCell(0, r, QString::number(i + 1));
            StringGrid1->setCell(1, r, e.modelName());
            StringGrid1->setCell(2, r, QString::number(e.address));
            StringGrid1->setCell(3, r, e.tagText());
            StringGrid1->setCell(4, r, QString::number(e.channel));
            StringGrid1->setCell(6, r, e.unitName());
        }
    }
    // The grid always ends with one empty row.
    const int last = edit.count + 1;
    for (int c = 0; c <= 6; ++c) {
        StringGrid1->setCell(c, last, QString());
    }
}

void TForm1::selectDeviceRow(int row) {
    StringGrid1->selectCell(StringGrid1->col() < 0 ? 0 : StringGrid1->col(), row);
    StringGrid1Click();
}

void TForm1::StringGrid1Click() {
    const int r = StringGrid1->row();
    if (r <= 0 || r >= StringGrid1->rowCount() - 1) {
        return;
    }
    const DeviceEntry& e = session_.editTable().entries[static_cast<std::size_t>(r - 1)];
    ComboBox1->setCurrentIndex(e.model);
    MaskEdit1->setText(StringGrid1->cell(2, r));
    MaskEdit2->setText(StringGrid1->cell(3, r));
    MaskEdit3->setText(StringGrid1->cell(4, r));
    unit_combobox->setCurrentIndex(e.unit);
    paramPanel_->fill(r - 1);
}

DeviceInput TForm1::editControls() const {
    return DeviceInput{ComboBox1->currentIndex(), MaskEdit1->text(), MaskEdit2->text(),
                       MaskEdit3->text(), unit_combobox->currentIndex()};
}

void TForm1::Button1Click() {
    if (session_.addDevice(entryFromInput(editControls()))) {
        fillDeviceGrid();
        selectDeviceRow(session_.editTable().count);
    }
}

void TForm1::Button2Click() {
    const int r = StringGrid1->row();
    if (r > 0 && r < StringGrid1->rowCount() - 1) {
        session_.changeDevice(r - 1, entryFromInput(editControls()));
    }
    fillDeviceGrid();
    selectDeviceRow(r);
}

void TForm1::Button3Click() {
    const int r = StringGrid1->row();
    if (r > 0 && r < StringGrid1->rowCount() - 1) {
        session_.deleteDevice(r - 1);
    }
    fillDeviceGrid();
    selectDeviceRow(r);
}

void TForm1::Button4Click() {
    // Convert before anything is written: a bad interval leaves file and station as they were.
    session_.save(StationConfig{static_cast<std::uint8_t>(std::max(ComboBox2->currentIndex(), 0)),
                                static_cast<std::uint8_t>(std::max(ComboBox3->currentIndex(), 0)),
                                static_cast<std::uint16_t>(textToInt(rec_time->text()) & 0xFFFF),
                                {}});
}

void TForm1::showActiveTable(const DeviceTable& active) {
    overview_->remove();
    dataGrid_->writeHeader(active.tags());
    overview_->build(active.tags(), active.units());
    buildChannelRows(active);
    alarms_->refresh();  // the new tiles take their shades
}

void TForm1::showSavedSettings() {
    const StationConfig& config = session_.config();
    ComboBox2->setCurrentIndex(config.portIndex);
    ComboBox3->setCurrentIndex(config.baudIndex);
    rec_time->setText(QString::number(config.recordInterval));
}

void TForm1::setSetupControlsEnabled(bool enabled) {
    for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2),
                       static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                       static_cast<QWidget*>(ComboBox2), static_cast<QWidget*>(ComboBox3),
                       static_cast<QWidget*>(rec_time)}) {
        w->setEnabled(enabled);
    }
}

// ---- Setup mode ------------------------------------------------------------------------------

void TForm1::applySetupMode(StationSession::SetupMode mode) {
    using Mode = StationSession::SetupMode;
    const bool unlocked = mode != Mode::Locked;
    const bool configuring = mode == Mode::Configuring;
    N4->setEnabled(Panel2->isHidden());
    N2->setEnabled(unlocked);
    N3->setEnabled(unlocked);
    N5->setEnabled(unlocked);
    setSetupControlsEnabled(configuring);
    if (!unlocked) {
        // Locked: the password panel closes with its entries, the settings show what is saved.
        Panel3->hide();
        Edit2->clear();
        Edit3->clear();
        showSavedSettings();
    }
}

void TForm1::N4Click() {
    Panel2->show();
    Panel2->raise();
    N4->setEnabled(false);
    Label13->setText(kSixSpaces);
    Edit1->setFocus();
}

void TForm1::Button7Click() {
    const QString password = Edit1->text();
    Edit1->clear();
    if (!session_.logIn(password)) {
        Label13->setText(kWrongPassword);
        return;
    }
    Panel2->hide();
    applySetupMode(session_.setupMode());
}

void TForm1::Button8Click() {
    Panel2->hide();
    session_.lock();
}

void TForm1::N2Click() {
    if (!session_.isUnlocked()) {
        return;
    }
    Panel3->show();
    Panel3->raise();
    Label12->setText(kSixSpaces);
    Edit2->setFocus();
}

void TForm1::Button9Click() {
    switch (session_.changePassword(Edit2->text(), Edit3->text())) {
        case StationSession::PasswordChange::Refused:
            return;
        case StationSession::PasswordChange::Mismatch:
            Edit2->clear();
            Edit3->clear();
            Label12->setText(kWrongPassword);
            return;
        case StationSession::PasswordChange::Changed:
            Panel3->hide();
            Edit2->clear();
            Edit3->clear();
            return;
    }
}

void TForm1::Button10Click() {
    Panel3->hide();
}

void TForm1::N3Click() {
    session_.configure();
}

void TForm1::N5Click() {
    session_.lock();
}

void TForm1::N7Click() {
    aboutBox_->show();
    aboutBox_->raise();
}

void TForm1::N8Click() {
    alarms_->showSettings();
}

void TForm1::N9Click() {
    alarms_->showCommStats();
}

// ---- Polling and recording -------------------------------------------------------------------

void TForm1::Timer1Timer() {
    session_.pollTimerTick();
}

void TForm1::Timer2Timer() {
    session_.secondTick();
}

void TForm1::showSecond(const RecordCycle::Tick& tick) {
    Label_real_time->setText(tick.clockText);
    dataGrid_->showSecond(tick, static_cast<int>(tick.texts.size()));
    for (int i = 0; i < tick.texts.size(); ++i) {
        overview_->setValueText(i, tick.texts[i]);
        realTime_->setValueText(i, tick.texts[i]);
    }
    statusPanels_[1]->setText(Label_real_time->text());
    alarms_->secondTicked();
    // The broker's and the Modbus server's states show wherever a panel has no tool tip of
    // its own.
    QStringList states{session_.publishingStatus(), session_.modbusStatus()};
    states.removeAll(QString());
    if (!states.isEmpty()) {
        StatusBar1->setToolTip(states.join(QLatin1Char('\n')));
    }
}

// ---- Real-time curves -------------------------------------------------------------------------

void TForm1::prepareChart() {
    realTime_->buildSeries(session_.activeTable().count);
    buildChannelRows(session_.activeTable());
    Chart1->setCursor(Qt::CrossCursor);
}

void TForm1::buildChannelRows(const DeviceTable& active) {
    realTime_->followDeviceCount(active.count);
    realTime_->buildRows(active.tags());
}

}  // namespace tamlo::station
