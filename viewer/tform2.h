#pragma once

#include "shared/exportdialog.h"

namespace tamlo::viewer {

// The viewer's export dialog "输入时间范围": the shared export dialog without the sampling step,
// since the viewer always exports every record of the range.
class TForm2 : public ExportDialog {
    Q_OBJECT
public:
    TForm2(Prompter& prompter, ExportJob& job, QWidget* parent = nullptr)
        : ExportDialog(prompter, job, false, parent) {}
};

}  // namespace tamlo::viewer
