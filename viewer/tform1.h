#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>

#include "viewer/viewerpages.h"

namespace tamlo {
class Clock;
class HistoryChartPanel;
class PanelStatusBar;
class Prompter;
class TCGauge;
}  // namespace tamlo

namespace tamlo::viewer {

// The station history viewer's main window: one page "历史曲线" with the curve panel on the left
// and the chart on the right, paged through the file 20000 records at a time.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(Prompter& prompter, Clock& clock, QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers.
    void but_open_histr_dataClick();
    void Button_histr_nextClick();
    void Button_histr_backClick();
    void Button_expro_histrClick();

    // Opens a file as if it had been chosen in the open dialog (the command line's file).
    void openFile(const QString& path);

    const ViewerPages& pages() const { return pages_; }
    HistoryChartPanel* panel() const { return panel_; }

    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QPushButton* but_open_histr_data;
    QLabel* Label_histr_pagecount;
    QPushButton* Button_histr_back;
    QPushButton* Button_histr_next;
    QPushButton* Button_expro_histr;
    QLabel* lb_histr_time;
    QFrame* Panel_histread_progress;
    TCGauge* CGauge1;
    PanelStatusBar* StatusBar1;

private:
    void FormCreate();
    void buildPageControls();
    void buildProgressPanel();
    void buildStatusBar();
    // Reads a page through `step` with the progress panel shown; the chart's zoom is undone
    // whatever the outcome.
    void loadWith(const std::function<ViewerPages::Outcome(const ViewerPages::Progress&)>& step,
                  bool newFile);
    void showPage(bool newFile);
    void updatePageButtons();

    Prompter& prompter_;
    Clock& clock_;
    HistoryChartPanel* panel_ = nullptr;
    ViewerPages pages_;
};

}  // namespace tamlo::viewer
