#pragma once

#include <QMainWindow>
#include <QTabWidget>

namespace tamlo {
class Clock;
class Prompter;
}  // namespace tamlo

namespace tamlo::viewer {

// The station history viewer's main window: one page "历史曲线" that shows a station history
// file as curves.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(Prompter& prompter, Clock& clock, QWidget* parent = nullptr);

    QTabWidget* PageControl1;
    QWidget* TabSheet1;

private:
    Prompter& prompter_;
    Clock& clock_;
};

}  // namespace tamlo::viewer
