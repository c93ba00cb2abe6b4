#pragma once

#include <QDialog>
#include <QPalette>

#include "recorderupload.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tamlo {
class Clock;
class Prompter;
class TCGauge;
}  // namespace tamlo

namespace tamlo::analysis {

// The upload dialog: port, baud rate, recorder address, sampling step and time range, then the
// upload of that range into a recorder history file. Modal; the main window creates one for
// each upload and destroys it afterwards.
class TFormLoadHistrData : public QDialog, private UploadView {
    Q_OBJECT

public:
    TFormLoadHistrData(UploadSession& session, Prompter& prompter, Clock& clock,
                       QWidget* parent = nullptr);
    ~TFormLoadHistrData() override;

    // The dialog cannot go away under a running transfer: closing it stops the transfer, the
    // file is finished with what was received, and the dialog closes after that.
    void done(int result) override;

    // What the last upload of this dialog did (tests and diagnostics).
    const UploadReport& lastReport() const { return lastReport_; }
    bool uploading() const { return upload_.running(); }

    void ButtonLoadHistrDataClick();
    void ButtonStopTranClick();

protected:
    // Esc neither closes the dialog nor stops a transfer: only "停止传输" and the window's
    // close do.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createControls();
    void restoreEndLook();

    // UploadView
    void showMessage(const QString& text, const QString& caption) override;
    void setSamplingStepText(const QString& text) override;
    void showRange(std::int64_t startSeconds, std::int64_t endSeconds) override;
    void setProgressMaximum(std::int64_t maximum) override;
    void setProgressPosition(std::int64_t position) override;
    void showTransferTime(std::int64_t seconds) override;
    void setTransferring(bool transferring) override;
    QString askOutputFileName() override;
    void waitWithMessages(int hundredths) override;
    bool closeRequested() const override { return closeRequested_; }

    UploadSession& session_;
    Prompter& prompter_;
    Clock& clock_;
    RecorderUpload upload_;
    UploadReport lastReport_;
    bool closeRequested_ = false;

    QLabel* Label1 = nullptr;
    QComboBox* ComboBoxComNum = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBoxBaud = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* EditMeterAddr = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* EditRec = nullptr;
    QLabel* Label4 = nullptr;
    QDateTimeEdit* DateTimePickerBeginDate = nullptr;
    QDateTimeEdit* DateTimePickerBeginTime = nullptr;
    QLabel* LabelCurrTranTime = nullptr;
    QDateTimeEdit* DateTimePickerEndDate = nullptr;
    QDateTimeEdit* DateTimePickerEndTime = nullptr;
    QPushButton* ButtonLoadHistrData = nullptr;
    QPushButton* ButtonStopTran = nullptr;
    TCGauge* CGaugeLoadHistrData = nullptr;

    QPalette labelPalette_;
    QPalette endTimePalette_;
    QPalette calendarPalette_;
};

}  // namespace tamlo::analysis
