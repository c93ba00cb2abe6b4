#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <initializer_list>
#include <memory>

class QAction;
class QLabel;
class QTabWidget;
class QWidget;

namespace tamlo {
class Prompter;
}

namespace tamlo::station {

class AlarmPage;
class DataGridPage;
class OverviewPage;
class StationSession;
class TFormAlarmSettings;
class TFormCommStats;

// The alarms in the station's window: the page "报警" (only while alarms are on), the shades
// of the data grid and the tiles, the bell, the count in status panel 2, the alarm log's
// trouble in panel 0 and the two dialogs of the menu "系统". Nothing here waits on the
// operator: the poll goes on whatever is open.
class AlarmDisplay : public QObject {
    Q_OBJECT
public:
    struct Parts {
        QWidget* window;
        QTabWidget* pages;
        DataGridPage* dataGrid;
        OverviewPage* overview;
        QLabel* fileStatusPanel;   // panel 0
        QLabel* countStatusPanel;  // panel 2
    };
    AlarmDisplay(StationSession& session, Prompter& prompter, const Parts& parts);
    ~AlarmDisplay() override;

    // After the session started its alarms: the page appears when they are on.
    // Shows the log's state and the page; `menuEntries` (the alarm entries of the menu "系统")
    // show only with an alarms.ini, so that without one the menu is the one it always was.
    void start(std::initializer_list<QAction*> menuEntries);
    // The one-second tick: the bell rings while an alarm waits and the sound is on.
    void secondTicked();
    // Panel 0's own text (the history file); the alarm log's trouble shows over it.
    void showFileStatus(const QString& text);
    void showSettings();
    void showCommStats();
    // "确认": the selected alarms, or all of them when none is selected.
    void ButtonAckClick();
    // Page, shades and count from the session's state now.
    void refresh();

    // The bell; QApplication::beep unless a test counts the rings.
    void setBell(std::function<void()> bell) { bell_ = std::move(bell); }

    AlarmPage* page() const { return page_.get(); }
    QWidget* pageSheet() const { return sheet_; }
    TFormAlarmSettings* settingsForm() const { return settingsForm_; }
    TFormCommStats* commStatsForm() const { return commStatsForm_; }

private:
    void refreshSoon();
    void showLogProblem(const QString& text);

    StationSession& session_;
    Prompter& prompter_;
    Parts parts_;
    std::function<void()> bell_;
    QWidget* sheet_ = nullptr;  // TabSheetAlarms
    std::unique_ptr<AlarmPage> page_;
    TFormAlarmSettings* settingsForm_ = nullptr;
    TFormCommStats* commStatsForm_ = nullptr;
    QString fileStatus_;
    QString logProblem_;
    bool refreshPending_ = false;
};

}  // namespace tamlo::station
