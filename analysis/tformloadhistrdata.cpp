#include "tformloadhistrdata.h"

#include <QKeyEvent>

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "shared/datetime.h"
#include "shared/numbertext.h"
#include "shared/prompter.h"
#include "shared/tcgauge.h"

namespace tamlo::analysis {
namespace {

QDateTime toWholeSeconds(const QDateTime& value) {
    QDateTime whole = value;
    whole.setTime(QTime(value.time().hour(), value.time().minute(), value.time().second()));
    return whole;
}

std::int64_t toSeconds(const QDateTime& value) {
    return oleDateToSeconds(toOleDate(value));
}

QDateTime fromSeconds(std::int64_t seconds) {
    return fromOleDate(secondsToOleDate(seconds));
}

template <class Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QDateTimeEdit* makePicker(QWidget* parent, const char* name, bool isDate, int left, int top) {
    auto* picker = place(new QDateTimeEdit(parent), name, left, top, isDate ? 118 : 110, 22);
    picker->setDisplayFormat(isDate ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("HH:mm:ss"));
    picker->setCalendarPopup(isDate);
    return picker;
}

void setTextColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(role, color);
    widget->setPalette(p);
}

}  // namespace

TFormLoadHistrData::TFormLoadHistrData(UploadSession& session, Prompter& prompter, Clock& clock,
                                       QWidget* parent)
    : QDialog(parent),
      session_(session),
      prompter_(prompter),
      clock_(clock),
      upload_(session, *this) {
    setObjectName(QStringLiteral("FormLoadHistrData"));
    setWindowTitle(QStringLiteral("上传历史数据"));
    setFixedSize(349, 241);
    setSizeGripEnabled(false);
    createControls();

    // On create: first port, fourth baud rate, all four pickers at the current date and time.
    ComboBoxComNum->setCurrentIndex(0);
    ComboBoxBaud->setCurrentIndex(3);
    const QDateTime now = toWholeSeconds(clock_.now());
    for (QDateTimeEdit* picker : {DateTimePickerBeginDate, DateTimePickerBeginTime,
                                  DateTimePickerEndDate, DateTimePickerEndTime}) {
        picker->setDateTime(now);
    }

    connect(ButtonLoadHistrData, &QPushButton::clicked, this,
            guarded(prompter_, this, [this] { ButtonLoadHistrDataClick(); }));
    connect(ButtonStopTran, &QPushButton::clicked, this,
            guarded(prompter_, this, [this] { ButtonStopTranClick(); }));
}

TFormLoadHistrData::~TFormLoadHistrData() {
    session_.port().close();
}

void TFormLoadHistrData::createControls() {
    Label1 = place(new QLabel(QStringLiteral("串口："), this), "Label1", 16, 16, 60, 16);
    ComboBoxComNum = place(new QComboBox(this), "ComboBoxComNum", 80, 12, 84, 22);
    ComboBoxComNum->addItems({QStringLiteral("COM1"), QStringLiteral("COM2")});
    Label2 = place(new QLabel(QStringLiteral("波特率："), this), "Label2", 180, 16, 60, 16);
    ComboBoxBaud = place(new QComboBox(this), "ComboBoxBaud", 248, 12, 84, 22);
    ComboBoxBaud->addItems({QStringLiteral("9600"), QStringLiteral("19200"),
                            QStringLiteral("38400"), QStringLiteral("57600")});

    Label3 = place(new QLabel(QStringLiteral("下位机地址：   "), this), "Label3", 16, 48, 90, 16);
    EditMeterAddr =
        place(new QLineEdit(QStringLiteral("0"), this), "EditMeterAddr", 110, 44, 54, 22);
    Label6 = place(new QLabel(QStringLiteral("取样间隔：   "), this), "Label6", 180, 48, 80, 16);
    EditRec = place(new QLineEdit(QStringLiteral("1"), this), "EditRec", 278, 44, 54, 22);

    Label4 = place(new QLabel(QStringLiteral("开始时间："), this), "Label4", 16, 82, 80, 16);
    DateTimePickerBeginDate = makePicker(this, "DateTimePickerBeginDate", true, 96, 78);
    DateTimePickerBeginTime = makePicker(this, "DateTimePickerBeginTime", false, 222, 78);
    LabelCurrTranTime =
        place(new QLabel(QStringLiteral("结束时间："), this), "LabelCurrTranTime", 16, 114, 80, 16);
    DateTimePickerEndDate = makePicker(this, "DateTimePickerEndDate", true, 96, 110);
    DateTimePickerEndTime = makePicker(this, "DateTimePickerEndTime", false, 222, 110);

    CGaugeLoadHistrData = place(new TCGauge(this), "CGaugeLoadHistrData", 16, 150, 316, 20);
    CGaugeLoadHistrData->setForeColor(Qt::green);
    CGaugeLoadHistrData->setProgress(0);

    ButtonLoadHistrData = place(new QPushButton(QStringLiteral("上传数据  "), this),
                                "ButtonLoadHistrData", 60, 194, 100, 28);
    ButtonStopTran = place(new QPushButton(QStringLiteral("停止传输"), this), "ButtonStopTran", 190,
                           194, 100, 28);
    ButtonLoadHistrData->setAutoDefault(false);
    ButtonStopTran->setAutoDefault(false);

    labelPalette_ = LabelCurrTranTime->palette();
    endTimePalette_ = DateTimePickerEndTime->palette();
    calendarPalette_ = DateTimePickerEndDate->calendarWidget()->palette();
}

void TFormLoadHistrData::ButtonLoadHistrDataClick() {
    // A click that arrives while an upload waits between requests must not start a second one.
    if (upload_.running()) {
        return;
    }
    // Each date picker takes the time of day of its time picker.
    const QDateTime start(DateTimePickerBeginDate->date(), DateTimePickerBeginTime->time());
    const QDateTime end(DateTimePickerEndDate->date(), DateTimePickerEndTime->time());
    DateTimePickerBeginDate->setDateTime(start);
    DateTimePickerEndDate->setDateTime(end);

    UploadInput input;
    input.portIndex = ComboBoxComNum->currentIndex();
    input.baudRate = textToInt(ComboBoxBaud->currentText());
    input.addressText = EditMeterAddr->text();
    input.samplingStepText = EditRec->text();
    input.startSeconds = toSeconds(start);
    input.endSeconds = toSeconds(end);
    lastReport_ = upload_.run(input);
    if (closeRequested_) {
        QDialog::done(QDialog::Rejected);
    }
}

void TFormLoadHistrData::ButtonStopTranClick() {
    session_.stopRequested = true;
}

void TFormLoadHistrData::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormLoadHistrData::done(int result) {
    if (upload_.running()) {
        closeRequested_ = true;
        session_.stopRequested = true;
        return;
    }
    session_.port().close();
    QDialog::done(result);
}

void TFormLoadHistrData::showMessage(const QString& text, const QString& caption) {
    prompter_.message(this, text, caption);
}

void TFormLoadHistrData::setSamplingStepText(const QString& text) {
    EditRec->setText(text);
}

void TFormLoadHistrData::showRange(std::int64_t startSeconds, std::int64_t endSeconds) {
    const QDateTime start = fromSeconds(startSeconds);
    const QDateTime end = fromSeconds(endSeconds);
    DateTimePickerBeginDate->setDateTime(start);
    DateTimePickerBeginTime->setDateTime(start);
    DateTimePickerEndDate->setDateTime(end);
    DateTimePickerEndTime->setDateTime(end);
}

void TFormLoadHistrData::setProgressMaximum(std::int64_t maximum) {
    CGaugeLoadHistrData->setMinValue(0);
    CGaugeLoadHistrData->setMaxValue(maximum);
}

void TFormLoadHistrData::setProgressPosition(std::int64_t position) {
    CGaugeLoadHistrData->setProgress(position);
}

void TFormLoadHistrData::showTransferTime(std::int64_t seconds) {
    const QDateTime t = fromSeconds(seconds);
    DateTimePickerEndDate->setDateTime(t);
    DateTimePickerEndTime->setDateTime(t);
}

void TFormLoadHistrData::setTransferring(bool transferring) {
    if (transferring) {
        setTextColor(LabelCurrTranTime, QPalette::WindowText, Qt::red);
        setTextColor(DateTimePickerEndTime, QPalette::Text, Qt::red);
        QCalendarWidget* calendar = DateTimePickerEndDate->calendarWidget();
        setTextColor(calendar, QPalette::Base, Qt::red);
        setTextColor(calendar, QPalette::Window, Qt::red);
    } else {
        restoreEndLook();
    }
    ButtonLoadHistrData->setEnabled(!transferring);
}

void TFormLoadHistrData::restoreEndLook() {
    LabelCurrTranTime->setPalette(labelPalette_);
    DateTimePickerEndTime->setPalette(endTimePalette_);
    DateTimePickerEndDate->calendarWidget()->setPalette(calendarPalette_);
}

QString TFormLoadHistrData::askOutputFileName() {
    FileDialogRequest request;
    request.filter = QStringLiteral("历史数据文件|*.dat");
    request.defaultSuffix = QStringLiteral("dat");
    // A cancelled dialog writes to the last upload's file again: show which one that is.
    request.fileName = session_.lastFileName;
    return prompter_.saveFileName(this, request);
}

void TFormLoadHistrData::waitWithMessages(int hundredths) {
    // A nested loop that sleeps until the time is up, so repaints, the stop button and a close
    // request are handled while the recorder is given its pause.
    QEventLoop loop;
    QTimer::singleShot(hundredths * 10, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace tamlo::analysis
