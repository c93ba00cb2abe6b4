#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace tamlo {
class Prompter;
class StringGrid;
}  // namespace tamlo

namespace tamlo::station {

class StationSession;

// "报警设置": the active meters' limits in a grid, editable and saved to alarms.ini in setup
// mode, read-only outside it. It does not block the window: the station polls on meanwhile.
class TFormAlarmSettings : public QDialog {
    Q_OBJECT
public:
    TFormAlarmSettings(StationSession& session, Prompter& prompter, QWidget* parent = nullptr);

    QTableWidget* AlarmSettingsGrid;
    QCheckBox* CheckBoxSound;
    QLabel* LabelReadOnly;
    QPushButton* ButtonSave;
    QPushButton* ButtonClose;

    // Fills the grid from the active table and the settings in force.
    void load();
    void ButtonSaveClick();
    bool isEditable() const { return editable_; }

signals:
    // alarms.ini was written and the session judges by it.
    void saved();

private:
    void applyEditable();

    StationSession& session_;
    Prompter& prompter_;
    bool editable_ = false;
};

// "通讯统计": each meter's line quality, refreshed every second while open, and a reset.
class TFormCommStats : public QDialog {
    Q_OBJECT
public:
    TFormCommStats(StationSession& session, Prompter& prompter, QWidget* parent = nullptr);

    StringGrid* CommStatsGrid;
    QPushButton* ButtonReset;
    QPushButton* ButtonClose;

    void refresh();
    void ButtonResetClick();

private:
    StationSession& session_;
};

}  // namespace tamlo::station
