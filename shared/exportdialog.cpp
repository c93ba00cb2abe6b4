#include "exportdialog.h"

#include <QDateTimeEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "numbertext.h"
#include "prompter.h"
#include "tcgauge.h"

namespace tamlo {
namespace {

template <class Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

template <class Widget>
Widget* place(Widget* widget, const char* name, int left, int top) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->move(left, top);
    widget->adjustSize();
    return widget;
}

// 81 pixels wide, or as wide as its text needs.
QDateTimeEdit* makePicker(QWidget* parent, const char* name, bool isDate, int left, int top) {
    auto* picker = place(new QDateTimeEdit(parent), name, left, top, 81, 21);
    picker->setDisplayFormat(isDate ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("HH:mm:ss"));
    picker->setCalendarPopup(isDate);
    picker->resize(std::max(81, picker->sizeHint().width()), 21);
    return picker;
}

// Moves the gauge in steps, so that a long export does not spend its time repainting.
class GaugeProgress final : public ExportProgress {
public:
    explicit GaugeProgress(TCGauge* gauge) : gauge_(gauge) {}
    void setMaximum(std::int64_t maximum) override { gauge_->setMaxValue(maximum); }
    void setPosition(std::int64_t position) override {
        if (position == 0 || position >= next_ || position >= gauge_->maxValue()) {
            gauge_->setProgress(position);
            next_ = position + std::max<std::int64_t>(1, gauge_->maxValue() / 200);
        }
    }

private:
    TCGauge* gauge_;
    std::int64_t next_ = 0;
};

}  // namespace

ExportDialog::ExportDialog(Prompter& prompter, ExportJob& job, bool withSampling, QWidget* parent)
    : QDialog(parent), prompter_(prompter), job_(job) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("输入时间范围"));
    setFixedSize(withSampling ? QSize(303, 176) : QSize(305, 157));
    setSizeGripEnabled(false);

    Label_histr_timerange =
        place(new QLabel(QStringLiteral("时间范围："), this), "Label_histr_timerange", 16, 8);
    Label1 = place(new QLabel(QStringLiteral("开始时间： "), this), "Label1", 16, 38);
    DateTimePicker_histr_startdate =
        makePicker(this, "DateTimePicker_histr_startdate", true, 88, 32);
    // The time pickers keep their gap of 23 pixels after the date pickers.
    const int timeLeft = DateTimePicker_histr_startdate->geometry().right() + 24;
    DateTimePicker_histr_starttime =
        makePicker(this, "DateTimePicker_histr_starttime", false, timeLeft, 32);
    Label2 = place(new QLabel(QStringLiteral("结束时间："), this), "Label2", 16, 64);
    DateTimePicker_histr_enddate = makePicker(this, "DateTimePicker_histr_enddate", true, 88, 64);
    DateTimePicker_histr_endtime =
        makePicker(this, "DateTimePicker_histr_endtime", false, timeLeft, 64);
    int top = 96;
    if (withSampling) {
        Label3 = place(new QLabel(QStringLiteral("取样间隔："), this), "Label3", 16, 98);
        Edit_sampling =
            place(new QLineEdit(QStringLiteral("1"), this), "Edit_sampling", 88, 94, 81, 21);
        Label4 =
            place(new QLabel(QStringLiteral("个记录间隔            "), this), "Label4", 176, 98);
        top = 124;
    }
    Button1 =
        place(new QPushButton(QStringLiteral("导 出 数 据"), this), "Button1", 16, top, 257, 20);
    CGauge1 = place(new TCGauge(this), "CGauge1", 16, top + 32, 257, 20);

    // As the dialog opens: the file's span, and the pickers at its start and end.
    const QString pattern = QStringLiteral("YY-MM-DD HH:NN:SS");
    Label_histr_timerange->setText(QStringLiteral("有效时间范围：") +
                                   formatOleDate(pattern, job_.startTime()) +
                                   QStringLiteral(" 至 ") + formatOleDate(pattern, job_.endTime()) +
                                   QStringLiteral("         "));
    Label_histr_timerange->adjustSize();
    // The dialog widens by what its controls need beyond its width, with a margin of 16.
    int right = 0;
    for (const QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        right = std::max(right, w->geometry().right() + 1 + 16);
    }
    setFixedSize(std::max(width(), right), height());
    setPickers(DateTimePicker_histr_startdate, DateTimePicker_histr_starttime, job_.startTime());
    setPickers(DateTimePicker_histr_enddate, DateTimePicker_histr_endtime, job_.endTime());

    connect(Button1, &QPushButton::clicked, this,
            guarded(prompter_, this, [this] { Button1Click(); }));
}

ExportDialog::~ExportDialog() = default;

void ExportDialog::setPickers(QDateTimeEdit* datePicker, QDateTimeEdit* timePicker, OleDate value) {
    const QDateTime t = fromOleDate(value);
    datePicker->setDateTime(t);
    timePicker->setDateTime(t);
}

OleDate ExportDialog::pickedTime(QDateTimeEdit* datePicker, QDateTimeEdit* timePicker) {
    const QDate d = datePicker->date();
    const QTime t = timePicker->time();
    const OleDate combined =
        oleDateFromParts(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
    datePicker->setDateTime(fromOleDate(combined));
    return combined;
}

ExportChoice ExportDialog::choice() {
    ExportChoice c;
    c.from = pickedTime(DateTimePicker_histr_startdate, DateTimePicker_histr_starttime);
    c.to = pickedTime(DateTimePicker_histr_enddate, DateTimePicker_histr_endtime);
    c.step = 1;
    if (Edit_sampling) {
        try {
            c.step = textToInt(Edit_sampling->text());
        } catch (const ConversionError&) {
            c.step = 0;  // refused below with the step's message
        }
    }
    return c;
}

void ExportDialog::Button1Click() {
    const ExportChoice c = choice();
    if (const std::optional<QString> refused = job_.refusal(c)) {
        lastOutcome_ = {ExportOutcome::Status::Refused, *refused, 0};
        prompter_.message(this, *refused);
        return;
    }
    CGauge1->setMaxValue(job_.progressMaximum(c));
    if (!QFile(job_.inputPath()).open(QIODevice::ReadOnly)) {
        lastOutcome_ = {ExportOutcome::Status::InputUnreadable, {}, 0};
        return;
    }
    CGauge1->setProgress(0);
    FileDialogRequest request;
    request.filter = QString::fromUtf8(kExportFilter);
    request.defaultSuffix = QStringLiteral("xls");
    const SaveFileAnswer answer = prompter_.saveFileAndType(this, request);
    if (answer.path.isEmpty()) {
        return;
    }
    GaugeProgress progress(CGauge1);
    lastOutcome_ = runExport(job_, c, answer.path, &progress,
                             exportFormatForSaveDialog(answer.path, answer.type));
    switch (lastOutcome_.status) {
        case ExportOutcome::Status::Done:
            prompter_.message(this, QString::fromUtf8(kExportDoneText));
            break;
        case ExportOutcome::Status::Refused:
        case ExportOutcome::Status::WriteFailed:
            prompter_.message(this, lastOutcome_.message);
            break;
        case ExportOutcome::Status::InputUnreadable:
            break;
    }
    CGauge1->setProgress(0);
}

}  // namespace tamlo
