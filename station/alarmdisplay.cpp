#include "alarmdisplay.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <vector>

#include "alarmdialogs.h"
#include "alarmpage.h"
#include "datagridpage.h"
#include "namedcontrols.h"
#include "overviewpage.h"
#include "shared/prompter.h"
#include "stationsession.h"

namespace tamlo::station {

AlarmDisplay::AlarmDisplay(StationSession& session, Prompter& prompter, const Parts& parts)
    : QObject(parts.window),
      session_(session),
      prompter_(prompter),
      parts_(parts),
      bell_(&QApplication::beep) {
    connect(&session_, &StationSession::alarmsRefused, this, [this](const QString& text) {
        prompter_.message(parts_.window, text, QStringLiteral("NorvikDCS"));
    });
    connect(&session_, &StationSession::alarmsChanged, this, &AlarmDisplay::refreshSoon);
    connect(&session_, &StationSession::alarmEvent, this, &AlarmDisplay::refreshSoon);
    connect(&session_, &StationSession::alarmLogProblemChanged, this,
            &AlarmDisplay::showLogProblem);
}

AlarmDisplay::~AlarmDisplay() = default;

void AlarmDisplay::start(std::initializer_list<QAction*> menuEntries) {
    // An empty alarms.ini brings the entries, to fill it from there; a refused one too, as its
    // line statistics still count.
    const bool alarmFile =
        session_.alarmsEnabled() ||
        QFileInfo::exists(QDir(session_.workingDirectory()).filePath(QStringLiteral("alarms.ini")));
    for (QAction* action : menuEntries) {
        action->setVisible(alarmFile);
    }
    showLogProblem(session_.alarmLogProblem());
    refresh();
}

void AlarmDisplay::refreshSoon() {
    // A line that breaks raises many alarms in one tick: the page is written once for them.
    if (!refreshPending_) {
        refreshPending_ = true;
        QTimer::singleShot(0, this, [this] {
            refreshPending_ = false;
            refresh();
        });
    }
}

void AlarmDisplay::refresh() {
    if (!session_.alarmsEnabled()) {
        return;
    }
    if (!sheet_) {
        sheet_ = named(new QWidget, "TabSheetAlarms");
        parts_.pages->addTab(sheet_, QStringLiteral("报警"));
        page_ = std::make_unique<AlarmPage>(sheet_);
        connect(page_->ackButton(), &QPushButton::clicked, this,
                guarded(prompter_, parts_.window, [this] { ButtonAckClick(); }));
    }
    const DeviceTable& active = session_.activeTable();
    page_->showAlarms(session_.activeAlarms(), active);
    page_->showEvents(session_.recentAlarmEvents());
    std::vector<AlarmShade> shades(static_cast<std::size_t>(active.count));
    for (int i = 0; i < active.count; ++i) {
        shades[static_cast<std::size_t>(i)] = session_.alarmShade(i);
        parts_.overview->setValueShade(i, shades[static_cast<std::size_t>(i)]);
    }
    parts_.dataGrid->setShades(std::move(shades));
    const int waiting = session_.unacknowledgedAlarms();
    parts_.countStatusPanel->setText(QStringLiteral("报警：%1").arg(waiting));
    parts_.countStatusPanel->setToolTip(QStringLiteral("未确认的报警"));
}

void AlarmDisplay::secondTicked() {
    if (session_.alarmsEnabled() && session_.alarmSettings().sound &&
        session_.unacknowledgedAlarms() > 0) {
        bell_();
    }
}

void AlarmDisplay::showFileStatus(const QString& text) {
    fileStatus_ = text;
    if (logProblem_.isEmpty()) {
        parts_.fileStatusPanel->setText(text);
    }
}

void AlarmDisplay::showLogProblem(const QString& text) {
    logProblem_ = text;
    parts_.fileStatusPanel->setText(text.isEmpty() ? fileStatus_ : text);
}

void AlarmDisplay::ButtonAckClick() {
    const auto selected = page_->selectedAlarms();
    if (selected.isEmpty()) {
        session_.acknowledgeAllAlarms();
    }
    for (const auto& [device, kind] : selected) {
        session_.acknowledgeAlarm(device, kind);
    }
    refresh();
}

void AlarmDisplay::showSettings() {
    if (!settingsForm_) {
        settingsForm_ = new TFormAlarmSettings(session_, prompter_, parts_.window);
        connect(settingsForm_, &TFormAlarmSettings::saved, this, &AlarmDisplay::refresh);
    }
    if (!settingsForm_->isVisible()) {  // an open one keeps what is being typed
        settingsForm_->load();
    }
    settingsForm_->show();
    settingsForm_->raise();
}

void AlarmDisplay::showCommStats() {
    if (!commStatsForm_) {
        commStatsForm_ = new TFormCommStats(session_, prompter_, parts_.window);
    }
    commStatsForm_->refresh();
    commStatsForm_->show();
    commStatsForm_->raise();
}

}  // namespace tamlo::station
