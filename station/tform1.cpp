#include "tform1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QProxyStyle>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <QValidator>
#include <cstdio>

#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/numbertext.h"
#include "shared/prompter.h"
#include "taboutbox.h"

namespace tamlo::station {

namespace {

const QString kSixSpaces = QStringLiteral("      ");
const QString kWrongPassword = QStringLiteral("错误!");

// Shows every typed character of a password edit as "#".
class HashPasswordStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) {
            return '#';
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Accepts a text whose GBK bytes fit a field of config.dat (the tag and the password hold 8):
// four Chinese characters or eight ASCII. A longer entry is refused, never cut behind the
// operator's back.
class GbkFieldValidator final : public QValidator {
public:
    GbkFieldValidator(int maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}
    State validate(QString& input, int&) const override {
        return fitsGbk(input, maxBytes_) ? Acceptable : Invalid;
    }

private:
    int maxBytes_;
};

// A status bar panel of a set width that gives way when the window is narrower than the
// panels (they add up to more than the window's 776 pixels), instead of widening the window.
class StatusPanel final : public QLabel {
public:
    StatusPanel(int width, QWidget* parent) : QLabel(parent), width_(width) {
        setMaximumWidth(width);
    }
    QSize sizeHint() const override { return {width_, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

private:
    int width_;
};

template <class T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    return named(new QLabel(text, parent), name);
}

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    return named(new QPushButton(text, parent), name);
}

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

TForm1::TForm1(const QString& workingDirectory, Prompter& prompter, Clock& clock, QWidget* parent)
    : QMainWindow(parent),
      workingDirectory_(workingDirectory),
      prompter_(prompter),
      clock_(clock),
      configFile_(QDir(workingDirectory).filePath(QStringLiteral("config.dat"))),
      history_(workingDirectory),
      port_(workingDirectory) {
    buildWindow();
    wireHandlers();
    FormCreate();
    // The one-second tick runs from the moment the window exists; no tick before start-up is done.
    Timer2->start();
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

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(50);
    Timer2 = named(new QTimer(this), "Timer2");
    Timer2->setInterval(1000);
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
    const std::array<QWidget*, 8> fields{ComboBox1, MaskEdit1, MaskEdit2, MaskEdit3,
                                         unit_combobox, rec_time, ComboBox2, ComboBox3};
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
    paramPanel_ = new ParamListPanel(active_, port_.link(), panel1);
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
    passwordStyle_ = std::make_unique<HashPasswordStyle>();
    const auto passwordEdit = [this](QWidget* parent, const char* name) {
        auto* edit = named(new QLineEdit(parent), name);
        edit->setMaxLength(kPasswordBytes);
        edit->setValidator(new GbkFieldValidator(kPasswordBytes, edit));
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyle(passwordStyle_.get());
        return edit;
    };
    const auto titleBar = [](QWidget* parent, const char* name, const QString& text) {
        auto* title = label(parent, name, text);
        title->setAutoFillBackground(true);
        QPalette p = title->palette();
        p.setColor(QPalette::Window, p.color(QPalette::Highlight));
        p.setColor(QPalette::WindowText, Qt::white);
        title->setPalette(p);
        title->setGeometry(0, 0, 260, 22);
        title->setIndent(6);
        return title;
    };

    // A small raised panel over the device page, with a title bar and OK and cancel buttons.
    struct SetupPanel {
        QFrame* frame;
        QLabel* title;
        QPushButton* ok;
        QPushButton* cancel;
    };
    const auto setupPanel = [&](const char* name, int height, const char* titleName,
                                const QString& titleText, const char* okName,
                                const char* cancelName) {
        auto* frame = named(new QFrame(TabSheet1), name);
        frame->setFrameShape(QFrame::Panel);
        frame->setFrameShadow(QFrame::Raised);
        frame->setAutoFillBackground(true);
        frame->setGeometry(180, 140, 260, height);
        SetupPanel panel{frame, titleBar(frame, titleName, titleText),
                         button(frame, okName, QStringLiteral("确  定")),
                         button(frame, cancelName, QStringLiteral("取  消"))};
        panel.ok->setGeometry(40, height - 45, 75, 27);
        panel.cancel->setGeometry(145, height - 45, 75, 27);
        frame->hide();
        return panel;
    };

    const SetupPanel login = setupPanel("Panel2", 150, "Label11", QStringLiteral("登入系统设置"),
                                        "Button7", "Button8");
    Panel2 = login.frame;
    Label11 = login.title;
    Button7 = login.ok;
    Button8 = login.cancel;
    Label7 = label(Panel2, "Label7", QStringLiteral("请输入密码："));
    Label7->move(20, 42);
    Edit1 = passwordEdit(Panel2, "Edit1");
    Edit1->setGeometry(110, 38, 120, 24);
    Label13 = label(Panel2, "Label13", kSixSpaces);
    Label13->setGeometry(110, 68, 120, 20);

    const SetupPanel change = setupPanel("Panel3", 173, "Label10", QStringLiteral("修改密码"),
                                         "Button9", "Button10");
    Panel3 = change.frame;
    Label10 = change.title;
    Button9 = change.ok;
    Button10 = change.cancel;
    Label8 = label(Panel3, "Label8", QStringLiteral("输入新密码："));
    Label8->move(20, 42);
    Edit2 = passwordEdit(Panel3, "Edit2");
    Edit2->setGeometry(110, 38, 120, 24);
    Label9 = label(Panel3, "Label9", QStringLiteral("再输入一次："));
    Label9->move(20, 74);
    Edit3 = passwordEdit(Panel3, "Edit3");
    Edit3->setGeometry(110, 70, 120, 24);
    Label12 = label(Panel3, "Label12", kSixSpaces);
    Label12->setGeometry(110, 98, 120, 20);
}

void TForm1::buildDataPage() {
    TabSheet2 = named(new QWidget, "TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("数据记录"));
    auto* layout = new QVBoxLayout(TabSheet2);
    layout->setContentsMargins(0, 0, 0, 0);
    StringGrid2 = named(new StringGrid(TabSheet2), "StringGrid2");
    StringGrid2->setFixed(1, 1);
    layout->addWidget(StringGrid2);
}

void TForm1::buildOverviewPage() {
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet3, QStringLiteral("概貌显示"));
    auto* layout = new QVBoxLayout(TabSheet3);
    layout->setContentsMargins(0, 0, 0, 0);
    ScrollBox1 = named(new QScrollArea(TabSheet3), "ScrollBox1");
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("ScrollBox1Content"));
    content->setMinimumSize(940, 130);
    ScrollBox1->setWidget(content);
    ScrollBox1->setBackgroundRole(QPalette::Base);
    layout->addWidget(ScrollBox1);
}

void TForm1::buildCurvePage() {
    TabSheet4 = named(new QWidget, "TabSheet4");
    PageControl1->addTab(TabSheet4, QStringLiteral("实时曲线"));
    auto* layout = new QHBoxLayout(TabSheet4);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* panel8 = named(new QFrame(TabSheet4), "Panel8");
    panel8->setFixedWidth(201);
    layout->addWidget(panel8);
    Chart1 = named(new chart::TChart(TabSheet4), "Chart1");
    Chart1->setTitle(QStringLiteral("实时曲线"));
    Chart1->setBackColor(Qt::black);
    Chart1->setPanelColor(QApplication::palette().color(QPalette::Dark));
    Chart1->setCursor(Qt::CrossCursor);
    layout->addWidget(Chart1, 1);
    Label_real_time = label(Chart1, "Label_real_time", QStringLiteral("时间："));
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

void TForm1::buildStatusBar() {
    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    setStatusBar(StatusBar1);
    // The panels keep their widths; a smaller font lets the clock text fit its 140 pixels.
    QFont small = StatusBar1->font();
    small.setPointSizeF(std::min(small.pointSizeF(), 8.0));
    StatusBar1->setFont(small);
    static constexpr std::array<int, 5> widths{500, 140, 50, 50, 50};
    for (std::size_t i = 0; i < widths.size(); ++i) {
        auto* panel = new StatusPanel(widths[i], StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
        statusPanels_[i] = panel;
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
        connect(sender, signal, this, guarded(prompter_, this, [this, handler] { (this->*handler)(); }));
    };
    on(N4, &QAction::triggered, &TForm1::N4Click);
    on(N5, &QAction::triggered, &TForm1::N5Click);
    on(N2, &QAction::triggered, &TForm1::N2Click);
    on(N3, &QAction::triggered, &TForm1::N3Click);
    on(N7, &QAction::triggered, &TForm1::N7Click);
    on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    on(Button3, &QPushButton::clicked, &TForm1::Button3Click);
    on(Button4, &QPushButton::clicked, &TForm1::Button4Click);
    on(Button7, &QPushButton::clicked, &TForm1::Button7Click);
    on(Button8, &QPushButton::clicked, &TForm1::Button8Click);
    on(Button9, &QPushButton::clicked, &TForm1::Button9Click);
    on(Button10, &QPushButton::clicked, &TForm1::Button10Click);
    on(StringGrid1, &StringGrid::cellClicked, &TForm1::StringGrid1Click);
    on(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    on(Timer2, &QTimer::timeout, &TForm1::Timer2Timer);
    // A parameter read runs between two poll ticks; the next poll still waits its 50 ms after it
    // (a precise timer: a coarse one may fire a few milliseconds early).
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(paramPanel_, &ParamListPanel::parameterExchanged, this, [this] {
        if (Timer1->isActive()) {
            Timer1->start();
        }
    });
}

// ---- Start-up and close ----------------------------------------------------------------------

void TForm1::FormCreate() {
    // 1-3: the working directory is given; the tile and curve lists start empty.
    tileList_.clear();
    curveList_.clear();
    // 4-5: load or create config.dat; the active copy starts as the edit copy.
    const LoadedConfig loaded = configFile_.load();
    edit_ = loaded.table;
    config_ = loaded.config;
    for (DeviceEntry& entry : edit_.entries) {
        entry.retries = 0;
    }
    active_ = edit_;
    // 6: the device grid.
    writeDeviceGridHeader();
    ComboBox1->setCurrentIndex(0);
    unit_combobox->setCurrentIndex(0);
    fillDeviceGrid();
    // 7
    QDir(workingDirectory_).mkpath(QStringLiteral("para"));
    // 8, and the list's grid and editors of 14.
    paramPanel_->prepare(active_.count);
    // 9: the data grid.
    StringGrid2->setSize(kDataGridColumns, kDataGridRows);
    StringGrid2->setColumnWidth(0, 86);
    for (int c = 1; c < kDataGridColumns; ++c) {
        StringGrid2->setColumnWidth(c, 60);
    }
    StringGrid2->setDefaultRowHeight(16);
    writeDataGridHeader();
    // 10: the month directory is made with the history file (step 18).
    // 11: locked setup state.
    setSetupControlsEnabled(false);
    N2->setEnabled(false);
    N3->setEnabled(false);
    N5->setEnabled(false);
    Label12->setText(kSixSpaces);
    Label13->setText(kSixSpaces);
    // 12
    showSavedSettings();
    // 13
    poll_.restart();
    record_.reset();
    // 14: the parameter list.
    selectDeviceRow(1);
    fillParameterList(0);
    // 15
    buildTiles();
    // 16-17: the port, then polling.
    openPort();
    Timer1->start();
    // 18-19: this run's history file.
    startHistoryFile();
    // 20
    prepareChart();
}

void TForm1::closeEvent(QCloseEvent* event) {
    runGuarded(prompter_, this, [this] { FormClose(); });
    event->accept();
}

void TForm1::FormClose() {
    Timer1->stop();
    Timer2->stop();
    configFile_.writeSlots(active_);
    port_.close();
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
    if (edit_.count > 0) {
        // The rows of the devices plus the header and one empty row. Column 5 (link state)
        // belongs to polling and keeps its texts.
        StringGrid1->setRowCount(edit_.count + 2);
        for (int i = 0; i < edit_.count; ++i) {
            const DeviceEntry& e = edit_.entries[static_cast<std::size_t>(i)];
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
    const int last = edit_.count + 1;
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
    const DeviceEntry& e = edit_.entries[static_cast<std::size_t>(r - 1)];
    ComboBox1->setCurrentIndex(e.model);
    MaskEdit1->setText(StringGrid1->cell(2, r));
    MaskEdit2->setText(StringGrid1->cell(3, r));
    MaskEdit3->setText(StringGrid1->cell(4, r));
    unit_combobox->setCurrentIndex(e.unit);
    fillParameterList(r - 1);
}

DeviceInput TForm1::editControls() const {
    return DeviceInput{ComboBox1->currentIndex(), MaskEdit1->text(), MaskEdit2->text(),
                       MaskEdit3->text(), unit_combobox->currentIndex()};
}

void TForm1::Button1Click() {
    if (edit_.count >= kMaxDevices) {
        return;
    }
    addDevice(edit_, entryFromInput(editControls()));
    fillDeviceGrid();
    selectDeviceRow(edit_.count);
}

void TForm1::Button2Click() {
    const int r = StringGrid1->row();
    if (r > 0 && r < StringGrid1->rowCount() - 1 && edit_.count > 0) {
        changeDevice(edit_, r - 1, entryFromInput(editControls()));
    }
    fillDeviceGrid();
    selectDeviceRow(r);
}

void TForm1::Button3Click() {
    const int r = StringGrid1->row();
    if (r > 0 && r < StringGrid1->rowCount() - 1 && edit_.count > 0) {
        deleteDevice(edit_, r - 1);
    }
    fillDeviceGrid();
    selectDeviceRow(r);
}

void TForm1::Button4Click() {
    // Convert before anything is written: a bad interval leaves file and station as they were.
    StationConfig saved = config_;
    saved.portIndex = static_cast<std::uint8_t>(std::max(ComboBox2->currentIndex(), 0));
    saved.baudIndex = static_cast<std::uint8_t>(std::max(ComboBox3->currentIndex(), 0));
    saved.recordInterval = static_cast<std::uint16_t>(textToInt(rec_time->text()) & 0xFFFF);
    if (!configFile_.save(edit_, saved)) {
        return;  // config.dat cannot be opened: nothing changes
    }
    removeTiles();
    config_ = saved;
    record_.setRecordTick(config_.recordInterval);
    active_ = edit_;
    writeDataGridHeader();
    buildTiles();
    buildChannelRows();
    openPort();
    poll_.restart();
    // A file's header describes every record in it; while recording runs, a new shape of
    // record goes to a new file at once (in setup mode, leaving it starts the new file).
    if (!configuring_ && !history_.describes(config_.recordInterval, active_.count, active_)) {
        startHistoryFile();
    }
}

void TForm1::writeDataGridHeader() {
    StringGrid2->setCell(0, 0, QStringLiteral("时间"));
    for (int i = 0; i < kDataGridColumns - 1; ++i) {
        StringGrid2->setCell(i + 1, 0, i < edit_.count ? StringGrid1->cell(3, i + 1) : QString());
    }
}

void TForm1::showSavedSettings() {
    ComboBox2->setCurrentIndex(config_.portIndex);
    ComboBox3->setCurrentIndex(config_.baudIndex);
    rec_time->setText(QString::number(config_.recordInterval));
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

void TForm1::N4Click() {
    Panel2->show();
    Panel2->raise();
    N4->setEnabled(false);
    Label13->setText(kSixSpaces);
    Edit1->setFocus();
}

void TForm1::Button7Click() {
    const bool equal = stringToGbk(Edit1->text()) == config_.password;
    Edit1->clear();
    if (!equal) {
        Label13->setText(kWrongPassword);
        return;
    }
    Panel2->hide();
    unlocked_ = true;
    N4->setEnabled(true);
    N2->setEnabled(true);
    N3->setEnabled(true);
    N5->setEnabled(true);
}

void TForm1::Button8Click() {
    Panel2->hide();
    lock();
    N4->setEnabled(true);
    N2->setEnabled(false);
    N3->setEnabled(false);
    N5->setEnabled(false);
    // Cancelling in the middle of configuring must not leave the setup controls open without a
    // log-in, nor polling and recording stopped with no menu left to restart them.
    if (configuring_) {
        showSavedSettings();
        setSetupControlsEnabled(false);
        configuring_ = false;
        startTimers();
        startHistoryFile();
    }
}

void TForm1::N2Click() {
    if (!unlocked_) {
        return;
    }
    Panel3->show();
    Panel3->raise();
    Label12->setText(kSixSpaces);
    Edit2->setFocus();
}

void TForm1::Button9Click() {
    // The password changes only after a log-in, whatever a stale panel or a click may do.
    if (!unlocked_) {
        return;
    }
    // A text that config.dat cannot hold whole would lock the operator out after a restart.
    if (Edit2->text() != Edit3->text() || !fitsGbk(Edit2->text(), kPasswordBytes)) {
        Edit2->clear();
        Edit3->clear();
        Label12->setText(kWrongPassword);
        return;
    }
    const QByteArray password = stringToGbk(Edit2->text());
    configFile_.writePassword(password);
    Panel3->hide();
    config_.password = password;
    Edit2->clear();
    Edit3->clear();
}

void TForm1::Button10Click() { Panel3->hide(); }

void TForm1::N3Click() {
    setSetupControlsEnabled(true);
    stopTimers();
    configuring_ = true;
}

void TForm1::lock() {
    unlocked_ = false;
    Panel3->hide();
    Edit2->clear();
    Edit3->clear();
}

void TForm1::N5Click() {
    lock();
    showSavedSettings();
    N4->setEnabled(true);
    setSetupControlsEnabled(false);
    N2->setEnabled(false);
    N3->setEnabled(false);
    N5->setEnabled(false);
    const bool resumed = configuring_;
    configuring_ = false;
    startTimers();
    // Records after a pause would not stand at the times their positions give: a new file.
    if (resumed) {
        startHistoryFile();
    }
}

void TForm1::N7Click() {
    aboutBox_->show();
    aboutBox_->raise();
}

void TForm1::startTimers() {
    Timer1->start();
    Timer2->start();
}

void TForm1::stopTimers() {
    Timer1->stop();
    Timer2->stop();
}

// ---- Port, polling and recording ------------------------------------------------------------

void TForm1::openPort() {
    const PortOpenResult result = port_.open(config_.portIndex, baudRate(config_.baudIndex));
    // Why, for whoever sets the station up: on standard error and as panel 0's tool tip.
    const QString reason =
        result == PortOpenResult::Opened ? QString() : portFailureReason(port_.systemPath());
    statusPanels_[0]->setToolTip(reason);
    if (result != PortOpenResult::Opened) {
        if (!reason.isEmpty()) {
            std::fprintf(stderr, "tamlo_pro: %s\n", reason.toLocal8Bit().constData());
        }
        prompter_.message(this, portOpenFailureText(result), QString::fromLatin1(kPortMessageCaption));
    }
}

void TForm1::startHistoryFile() {
    history_.start(clock_.now(), config_.recordInterval, active_.count, active_);
    statusPanels_[0]->setText(history_.statusText());
}

void TForm1::Timer1Timer() {
    Timer1->stop();
    Timer1->setInterval(50);
    if (active_.count > 0) {
        port_.maintain();
        const PollCycle::TickResult result = poll_.tick(port_.link(), active_, live_);
        if (result.state == PollCycle::LinkState::Answered) {
            StringGrid1->setCell(5, result.device + 1, QStringLiteral("......"));
        } else if (result.state == PollCycle::LinkState::Failed) {
            StringGrid1->setCell(5, result.device + 1, QStringLiteral("失败！"));
        }
    }
    // A handler that closed the window or entered setup mode meanwhile keeps the timer stopped.
    if (!configuring_) {
        Timer1->start();
    }
}

void TForm1::Timer2Timer() {
    const QDateTime now = clock_.now();
    const RecordCycle::Tick tick =
        record_.tick(now, live_, active_.count, config_.recordInterval);
    Label_real_time->setText(tick.clockText);
    if (tick.hasDevices) {
        StringGrid2->setCell(0, tick.row, tick.rowTime);
        for (int i = 0; i < tick.texts.size(); ++i) {
            StringGrid2->setCell(i + 1, tick.row, tick.texts[i]);
            setTileText(i, tick.texts[i]);
            setChannelRowText(i, tick.texts[i]);
        }
    }
    if (tick.recorded) {
        const QString band = QString::fromLatin1(kBandText);
        for (int r = tick.bandStart; r < tick.bandStart + kBandRows && r < kDataGridRows; ++r) {
            for (int c = 0; c <= active_.count; ++c) {
                StringGrid2->setCell(c, r, band);
            }
        }
        if (history_.record(now, config_.recordInterval, active_, record_.recordBuffer().data())) {
            statusPanels_[0]->setText(history_.statusText());
        }
        appendCurvePoints(tick.pointLabel);
    }
    statusPanels_[1]->setText(Label_real_time->text());
}

// ---- Points where the tiles, the curves and the parameter list attach -----------------------

void TForm1::buildTiles() {}

void TForm1::removeTiles() {
    qDeleteAll(tileList_);
    tileList_.clear();
}

void TForm1::setTileText(int device, const QString& text) {
    const int index = 4 * device + 3;
    if (index < tileList_.size()) {
        if (auto* value = qobject_cast<QLabel*>(tileList_[index])) {
            value->setText(text);
        }
    }
}

void TForm1::prepareChart() { buildChannelRows(); }

void TForm1::buildChannelRows() {}

void TForm1::setChannelRowText(int device, const QString& text) {
    const int index = 3 * device + 1;
    if (index < curveList_.size()) {
        if (auto* value = qobject_cast<QLineEdit*>(curveList_[index])) {
            value->setText(text);
        }
    }
}

void TForm1::appendCurvePoints(const QString&) {}

void TForm1::fillParameterList(int device) { paramPanel_->fill(device); }

}  // namespace tamlo::station
