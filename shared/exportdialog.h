#pragma once

#include <QDialog>

#include "datetime.h"
#include "exportjob.h"

class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tamlo {

class Prompter;
class TCGauge;

// The export dialog "输入时间范围" of the history programs: the file's valid span, start and end
// pickers, optionally the sampling step (recorder analysis), the button that runs the export and
// its gauge. Each program's TForm2 is one of these around its own export job.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    ExportDialog(Prompter& prompter, ExportJob& job, bool withSampling, QWidget* parent = nullptr);
    ~ExportDialog() override;

    // Runs the export of the chosen range; the dialog stays open.
    void Button1Click();

    // The range and step as chosen now; the date pickers take the combined values.
    ExportChoice choice();
    const ExportOutcome& lastOutcome() const { return lastOutcome_; }

protected:
    QLabel* Label_histr_timerange = nullptr;
    QLabel* Label1 = nullptr;
    QDateTimeEdit* DateTimePicker_histr_startdate = nullptr;
    QDateTimeEdit* DateTimePicker_histr_starttime = nullptr;
    QLabel* Label2 = nullptr;
    QDateTimeEdit* DateTimePicker_histr_enddate = nullptr;
    QDateTimeEdit* DateTimePicker_histr_endtime = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit_sampling = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Button1 = nullptr;
    TCGauge* CGauge1 = nullptr;

private:
    OleDate pickedTime(QDateTimeEdit* datePicker, QDateTimeEdit* timePicker);
    void setPickers(QDateTimeEdit* datePicker, QDateTimeEdit* timePicker, OleDate value);

    Prompter& prompter_;
    ExportJob& job_;
    ExportOutcome lastOutcome_;
};

}  // namespace tamlo
