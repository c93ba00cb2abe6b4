#pragma once

#include "shared/exportdialog.h"

namespace tamlo::analysis {

// The export dialog "输入时间范围" of the recorder history, with its sampling step.
class TForm2 final : public ExportDialog {
    Q_OBJECT
public:
    TForm2(Prompter& prompter, ExportJob& job, QWidget* parent = nullptr)
        : ExportDialog(prompter, job, true, parent) {}
};

}  // namespace tamlo::analysis
