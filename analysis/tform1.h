#pragma once

#include <QMainWindow>

#include "recorderupload.h"

class QAction;
class QMenu;

namespace tamlo {
class Clock;
class Prompter;
}  // namespace tamlo

namespace tamlo::analysis {

// The main window of the recorder data analysis program.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    TForm1(Prompter& prompter, Clock& clock, QWidget* parent = nullptr);
    ~TForm1() override;

    // Opens the upload dialog modally; it is destroyed when it closes.
    void N3Click();

    UploadSession& uploadSession() { return uploadSession_; }

private:
    void createMenu();

    Prompter& prompter_;
    Clock& clock_;
    // Outlives the upload dialogs: the port and the last output file name of the run.
    UploadSession uploadSession_;

    QMenu* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* Excel1 = nullptr;
    QAction* N4 = nullptr;
};

}  // namespace tamlo::analysis
