#include "alarmdialogs.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "alarmtexts.h"
#include "namedcontrols.h"
#include "shared/prompter.h"
#include "shared/stringgrid.h"
#include "stationsession.h"

namespace tamlo::station {

namespace {

constexpr int kFirstLimitColumn = 4;
constexpr int kLinkColumn = 10;

QTableWidgetItem* fixedItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

TFormAlarmSettings::TFormAlarmSettings(StationSession& session, Prompter& prompter, QWidget* parent)
    : QDialog(parent), session_(session), prompter_(prompter) {
    setObjectName(QStringLiteral("FormAlarmSettings"));
    setWindowTitle(QStringLiteral("报警设置"));
    resize(760, 420);
    auto* layout = new QVBoxLayout(this);
    AlarmSettingsGrid = named(new QTableWidget(0, 11, this), "AlarmSettingsGrid");
    AlarmSettingsGrid->setHorizontalHeaderLabels(
        {QStringLiteral("序号"), QStringLiteral("工位号"), QStringLiteral("地址"),
         QStringLiteral("通道"), QStringLiteral("高限"), QStringLiteral("低限"),
         QStringLiteral("高高限"), QStringLiteral("低低限"), QStringLiteral("死区"),
         QStringLiteral("延时（秒）"), QStringLiteral("通讯中断")});
    AlarmSettingsGrid->verticalHeader()->hide();
    AlarmSettingsGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(AlarmSettingsGrid, 1);
    LabelReadOnly = label(this, "LabelReadOnly", QString());
    layout->addWidget(LabelReadOnly);
    auto* bottom = new QHBoxLayout;
    CheckBoxSound = named(new QCheckBox(QStringLiteral("报警时响铃"), this), "CheckBoxSound");
    bottom->addWidget(CheckBoxSound);
    bottom->addStretch(1);
    ButtonSave = button(this, "ButtonSave", QStringLiteral("保  存"));
    ButtonClose = button(this, "ButtonClose", QStringLiteral("关  闭"));
    bottom->addWidget(ButtonSave);
    bottom->addWidget(ButtonClose);
    layout->addLayout(bottom);

    connect(ButtonSave, &QPushButton::clicked, this,
            guarded(prompter_, this, [this] { ButtonSaveClick(); }));
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::close);
    connect(&session_, &StationSession::setupModeChanged, this, [this] { applyEditable(); });
    connect(&session_, &StationSession::activeTableChanged, this, [this] { load(); });
}

void TFormAlarmSettings::load() {
    const QList<AlarmSettingsRow> rows =
        alarmSettingsRows(session_.activeTable(), session_.alarmSettings());
    AlarmSettingsGrid->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const AlarmSettingsRow& row = rows[r];
        const QString texts[] = {QString::number(r + 1),
                                 row.tag,
                                 QString::number(row.address),
                                 QString::number(row.channel),
                                 row.high,
                                 row.low,
                                 row.highHigh,
                                 row.lowLow,
                                 row.deadband,
                                 row.delay};
        for (int c = 0; c < kLinkColumn; ++c) {
            AlarmSettingsGrid->setItem(
                r, c, c < kFirstLimitColumn ? fixedItem(texts[c]) : new QTableWidgetItem(texts[c]));
        }
        auto* link = new QTableWidgetItem;
        link->setCheckState(row.link ? Qt::Checked : Qt::Unchecked);
        AlarmSettingsGrid->setItem(r, kLinkColumn, link);
    }
    CheckBoxSound->setChecked(session_.alarmSettings().sound);
    applyEditable();
}

void TFormAlarmSettings::applyEditable() {
    // A file the station refused at start-up is not overwritten from here: what the operator
    // wrote in it would be lost. It is mended by hand and read at the next start.
    const bool refusedFile =
        !session_.alarmsEnabled() &&
        QFileInfo::exists(QDir(session_.workingDirectory()).filePath(QStringLiteral("alarms.ini")));
    editable_ = session_.isUnlocked() && !refusedFile;
    LabelReadOnly->setText(refusedFile ? QStringLiteral("alarms.ini 无法使用，请修正后重新启动。")
                           : editable_ ? QString()
                                       : QStringLiteral("只读：登入系统设置后可以修改。"));
    AlarmSettingsGrid->setEditTriggers(editable_ ? QAbstractItemView::AllEditTriggers
                                                 : QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < AlarmSettingsGrid->rowCount(); ++r) {
        if (QTableWidgetItem* link = AlarmSettingsGrid->item(r, kLinkColumn)) {
            link->setFlags(editable_ ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable
                                     : Qt::ItemIsEnabled);
        }
    }
    CheckBoxSound->setEnabled(editable_);
    ButtonSave->setEnabled(editable_);
}

void TFormAlarmSettings::ButtonSaveClick() {
    if (!editable_) {
        return;
    }
    QList<AlarmSettingsRow> rows =
        alarmSettingsRows(session_.activeTable(), session_.alarmSettings());
    for (int r = 0; r < rows.size() && r < AlarmSettingsGrid->rowCount(); ++r) {
        const auto text = [&](int c) {
            const QTableWidgetItem* item = AlarmSettingsGrid->item(r, c);
            return item ? item->text() : QString();
        };
        AlarmSettingsRow& row = rows[r];
        row.high = text(4);
        row.low = text(5);
        row.highHigh = text(6);
        row.lowLow = text(7);
        row.deadband = text(8);
        row.delay = text(9);
        const QTableWidgetItem* link = AlarmSettingsGrid->item(r, kLinkColumn);
        row.link = link && link->checkState() == Qt::Checked;
    }
    AlarmSettings settings;
    QString error;
    if (!alarmSettingsFromRows(rows, CheckBoxSound->isChecked(), session_.alarmSettings(),
                               &settings, &error) ||
        !session_.saveAlarmSettings(settings, &error)) {
        prompter_.message(this, error, QStringLiteral("报警设置"));
        return;
    }
    load();
    emit saved();
}

TFormCommStats::TFormCommStats(StationSession& session, Prompter& prompter, QWidget* parent)
    : QDialog(parent), session_(session) {
    setObjectName(QStringLiteral("FormCommStats"));
    setWindowTitle(QStringLiteral("通讯统计"));
    resize(900, 380);
    auto* layout = new QVBoxLayout(this);
    CommStatsGrid = named(new StringGrid(this), "CommStatsGrid");
    CommStatsGrid->setSize(11, 1);
    CommStatsGrid->setFixed(1, 1);
    CommStatsGrid->setDefaultRowHeight(20);
    const QStringList captions{
        QStringLiteral("序号"),     QStringLiteral("工位号"),        QStringLiteral("地址"),
        QStringLiteral("通道"),     QStringLiteral("请求"),          QStringLiteral("应答"),
        QStringLiteral("超时"),     QStringLiteral("拒收"),          QStringLiteral("重试"),
        QStringLiteral("最后应答"), QStringLiteral("近一小时应答率")};
    for (int c = 0; c < captions.size(); ++c) {
        CommStatsGrid->setCell(c, 0, captions[c]);
    }
    layout->addWidget(CommStatsGrid, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(
        label(this, "LabelStatsNote", QStringLiteral("拒收：应答的校验、长度、地址或功能码不对")),
        1);
    ButtonReset = button(this, "ButtonReset", QStringLiteral("清  零"));
    ButtonClose = button(this, "ButtonClose", QStringLiteral("关  闭"));
    bottom->addWidget(ButtonReset);
    bottom->addWidget(ButtonClose);
    layout->addLayout(bottom);

    connect(ButtonReset, &QPushButton::clicked, this,
            guarded(prompter, this, [this] { ButtonResetClick(); }));
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::close);
    connect(&session_, &StationSession::secondTicked, this, [this] {
        if (isVisible()) {
            refresh();
        }
    });
    connect(&session_, &StationSession::activeTableChanged, this, [this] { refresh(); });
}

void TFormCommStats::refresh() {
    const DeviceTable& active = session_.activeTable();
    CommStatsGrid->setRowCount(active.count + 1);
    for (int i = 0; i < active.count; ++i) {
        const DeviceEntry& e = active.entries[static_cast<std::size_t>(i)];
        const QStringList texts =
            QStringList{QString::number(i + 1), e.tagText(), QString::number(e.address),
                        QString::number(e.channel)} +
            commStatsTexts(session_.commStats(i));
        for (int c = 0; c < texts.size(); ++c) {
            CommStatsGrid->setCell(c, i + 1, texts[c]);
        }
    }
}

void TFormCommStats::ButtonResetClick() {
    session_.resetCommStats();
    refresh();
}

}  // namespace tamlo::station
