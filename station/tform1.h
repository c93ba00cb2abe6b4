#pragma once

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <array>
#include <memory>

#include "chart/tchart.h"
#include "datagridpage.h"
#include "devicetable.h"
#include "overviewpage.h"
#include "paramlistpanel.h"
#include "pollcycle.h"
#include "realtimepage.h"
#include "recordcycle.h"
#include "setuppanels.h"
#include "stationsession.h"
#include "shared/stringgrid.h"

namespace tamlo {
class Prompter;
}  // namespace tamlo

namespace tamlo::station {

class AlarmDisplay;
class TAboutBox;

// The station's main window: it shows the session's state and passes the operator's actions to
// it. The session polls (Timer1), records (Timer2) and keeps setup mode and the device table.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // The window of `session`, which runs the station (its working directory holds config.dat,
    // "para" and the history month directories).
    TForm1(StationSession& session, Prompter& prompter, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, by their names.
    QMenuBar* MainMenu1;
    QMenu* N1;
    QAction* N4;
    QAction* N5;
    QAction* N2;
    QAction* N3;
    QAction* N8;  // 报警设置
    QAction* N9;  // 通讯统计
    QAction* N8Separator;
    QMenu* N6;
    QAction* N7;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* TabSheet3;
    QWidget* TabSheet4;
    StringGrid* StringGrid1;
    QComboBox* ComboBox1;
    QLineEdit* MaskEdit1;
    QLineEdit* MaskEdit2;
    QLineEdit* MaskEdit3;
    QComboBox* unit_combobox;
    QLineEdit* rec_time;
    QComboBox* ComboBox2;
    QComboBox* ComboBox3;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QLabel* Label16;
    StringGrid* StringGrid3;
    QLabel* Label15;
    QLineEdit* meter_para_editer;
    QComboBox* meter_para_box;
    QPushButton* read_para;
    QPushButton* mod_para;
    QFrame* Panel2;
    QLabel* Label11;
    QLabel* Label7;
    QLineEdit* Edit1;
    QPushButton* Button7;
    QPushButton* Button8;
    QLabel* Label13;
    QFrame* Panel3;
    QLabel* Label10;
    QLabel* Label8;
    QLabel* Label9;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QPushButton* Button9;
    QPushButton* Button10;
    QLabel* Label12;
    StringGrid* StringGrid2;
    QScrollArea* ScrollBox1;
    chart::TChart* Chart1;
    QLabel* Label_real_time;
    QStatusBar* StatusBar1;
    QTimer* Timer1;  // the session's timers
    QTimer* Timer2;

    // Handlers, named after their control and event.
    void N4Click();
    void N5Click();
    void N2Click();
    void N3Click();
    void N7Click();
    void N8Click();
    void N9Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void StringGrid1Click();
    // What the session's timers run (they reach the session directly): a tick by hand.
    void Timer1Timer();
    void Timer2Timer();

    // State, for the tests and for later parts of the window.
    StationSession& session() { return session_; }
    const DeviceTable& editTable() const { return session_.editTable(); }
    const DeviceTable& activeTable() const { return session_.activeTable(); }
    const StationConfig& config() const { return session_.config(); }
    const LiveValueTable& liveValues() const { return session_.liveValues(); }
    const PollCycle& pollCycle() const { return session_.pollCycle(); }
    const RecordCycle& recordCycle() const { return session_.recordCycle(); }
    const HistoryLog& history() const { return session_.history(); }
    QString statusPanelText(int panel) const;
    QString workingDirectory() const { return session_.workingDirectory(); }
    bool isConfiguring() const { return session_.isConfiguring(); }
    TAboutBox* aboutBox() const { return aboutBox_; }
    ParamListPanel* paramListPanel() const { return paramPanel_; }
    OverviewPage& overviewPage() const { return *overview_; }
    RealTimePage& realTimePage() const { return *realTime_; }
    AlarmDisplay& alarmDisplay() const { return *alarms_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void buildMenu();
    void buildDevicePage();
    void buildSetupPanels();
    void buildDataPage();
    void buildOverviewPage();
    void buildCurvePage();
    void buildStatusBar();
    void wireHandlers();

    void FormCreate();
    void FormClose();

    // Device table and grid.
    void writeDeviceGridHeader();
    void fillDeviceGrid();
    void selectDeviceRow(int row);
    DeviceInput editControls() const;
    void showSavedSettings();
    void setSetupControlsEnabled(bool enabled);

    // What the session's signals bring to the window.
    void applySetupMode(StationSession::SetupMode mode);
    void showSecond(const RecordCycle::Tick& tick);
    void showActiveTable(const DeviceTable& active);

    // Overview tiles and real-time curves are filled by their own parts of the window; these
    // are the points where the device table and the ticks reach them.
    void prepareChart();
    void buildChannelRows(const DeviceTable& active);

    StationSession& session_;
    Prompter& prompter_;
    ParamListPanel* paramPanel_ = nullptr;  // the parameter list and its reads
    std::array<QLabel*, 5> statusPanels_{};
    std::unique_ptr<DataGridPage> dataGrid_;
    std::unique_ptr<OverviewPage> overview_;
    std::unique_ptr<RealTimePage> realTime_;
    TAboutBox* aboutBox_ = nullptr;
    std::unique_ptr<SetupPanels> setupPanels_;
    AlarmDisplay* alarms_ = nullptr;  // the page "报警", shades, bell and the alarm dialogs
};

}  // namespace tamlo::station
