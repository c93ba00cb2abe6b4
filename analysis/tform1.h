#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <optional>

#include "historywindow.h"
#include "recorderhistory.h"
#include "recorderupload.h"

class QAction;
class QDateTimeEdit;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

namespace tamlo {
class Clock;
class HistoryChartPanel;
class PanelStatusBar;
class Prompter;
class TCGauge;
}  // namespace tamlo

namespace tamlo::analysis {

class HistoryGridView;

inline constexpr char kAboveEndText[] = "超出时间范围上限！";
inline constexpr char kBelowStartText[] = "超出时间范围下限！";

// The main window of the recorder data analysis program: a recorder history file shown as
// curves, a window of up to 20000 records at a time, with its data grid, the search by date and
// time, the export and the upload dialog.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    TForm1(Prompter& prompter, Clock& clock, QWidget* parent = nullptr);
    ~TForm1() override;

    void but_open_histr_dataClick();
    void Button_searchClick();
    void Button_expro_histrClick();
    // Opens the upload dialog modally; it is destroyed when it closes.
    void N3Click();

    // Opens a file as if it had been chosen in the open dialog (also the command line's file).
    void openFile(const QString& path);
    // Shows the window that starts with the record for time t.
    void loadWindow(OleDate t);

    UploadSession& uploadSession() { return uploadSession_; }
    HistoryChartPanel* panel() const { return panel_; }
    const std::optional<RecorderHistory>& history() const { return windows_.history(); }
    const HistoryWindow* shownWindow() const { return windows_.window().get(); }
    QString statusPanelText(int panel) const;

private:
    void createMenu();
    void createCurvePage();
    void createGridPage();
    void createStatusBar();
    void finishOpen();

    Prompter& prompter_;
    Clock& clock_;
    // Outlives the upload dialogs: the port and the last output file name of the run.
    UploadSession uploadSession_;
    HistoryWindows windows_;

    QMenu* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* Excel1 = nullptr;
    QAction* N4 = nullptr;
    PanelStatusBar* StatusBar1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* TabSheet_histr_data = nullptr;
    HistoryChartPanel* panel_ = nullptr;
    QPushButton* but_open_histr_data = nullptr;
    QPushButton* Button_search = nullptr;
    QDateTimeEdit* DateTimer_give_date = nullptr;
    QDateTimeEdit* DateTimer_give_time = nullptr;
    QPushButton* Button_expro_histr = nullptr;
    QLabel* lb_histr_time = nullptr;
    QFrame* Panel_histread_progress = nullptr;
    TCGauge* CGauge1 = nullptr;
    HistoryGridView* StringGrid1 = nullptr;
};

}  // namespace tamlo::analysis
