// The upload dialog and the main window's menu, on the offscreen platform, uploading from the
// recorder simulator linked as COM1 in a temporary working directory.

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "analysis/recorderhistory.h"
#include "shared/tcgauge.h"
#include "analysis/tform1.h"
#include "analysis/tformloadhistrdata.h"
#include "fakeclock.h"
#include "recorderdevice.h"
#include "scriptedprompter.h"
#include "simulatorprocess.h"

using namespace tamlo;
using namespace tamlo::analysis;

namespace {

QDateTime at(int hour, int minute = 0, int second = 0, int day = 7) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second));
}

std::int64_t seconds(const QDateTime& t) {
    return oleDateToSeconds(toOleDate(t));
}

// A dialog with its controls at hand.
struct Dialog {
    explicit Dialog(UploadSession& session, test::ScriptedPrompter& prompter, Clock& clock)
        : form(session, prompter, clock) {
        form.show();
    }
    template <class T>
    T* get(const char* name) {
        T* child = form.findChild<T*>(QString::fromLatin1(name));
        if (!child)
            qWarning("no control %s", name);
        return child;
    }
    QDateTimeEdit* picker(const char* name) { return get<QDateTimeEdit>(name); }
    void setRange(const QDateTime& start, const QDateTime& end) {
        // Only the date of a date picker and the time of a time picker count.
        picker("DateTimePickerBeginDate")->setDateTime(QDateTime(start.date(), QTime(23, 59, 59)));
        picker("DateTimePickerBeginTime")->setDateTime(QDateTime(QDate(2020, 1, 1), start.time()));
        picker("DateTimePickerEndDate")->setDateTime(QDateTime(end.date(), QTime(0, 0, 1)));
        picker("DateTimePickerEndTime")->setDateTime(QDateTime(QDate(2030, 5, 5), end.time()));
    }
    void clickLoad() { QTest::mouseClick(get<QPushButton>("ButtonLoadHistrData"), Qt::LeftButton); }

    TFormLoadHistrData form;
};

QColor textColor(QWidget* widget, QPalette::ColorRole role) {
    return widget->palette().color(role);
}

// Runs `action` once, from within the upload's waits, as soon as two blocks have come in.
void whenBlocksArrived(Dialog& d, std::function<void()> action) {
    auto* poll = new QTimer(&d.form);
    QObject::connect(poll, &QTimer::timeout, &d.form, [&d, poll, action] {
        if (d.get<TCGauge>("CGaugeLoadHistrData")->progress() >= 15) {
            poll->stop();
            action();
        }
    });
    poll->start(20);
}

}  // namespace

class TestUploadDialog : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString previousDirectory_;
    test::SimulatorProcess sim_{"tamlo_recorder_sim"};
    test::ScriptedPrompter prompter_;
    test::FakeClock clock_;
    std::unique_ptr<UploadSession> session_;
    int fileCounter_ = 0;

    QString nextFile() { return work_.filePath(QStringLiteral("d%1.dat").arg(++fileCounter_)); }

    QStringList blockRequestsLogged() const {
        return sim_.logLines().filter(QStringLiteral(" 00 43 01 04 "));
    }

private slots:
    void initTestCase() {
        previousDirectory_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
        QVERIFY2(
            sim_.start({"--link", work_.filePath("COM1"), "--channels", "3", "--interval", "10",
                        "--records", "5000", "--newest", "2026-12-07 10:00:00", "--names",
                        "T1,T2,P", "--decimals", "1,2,0", "--log", work_.filePath("requests.log")}),
            qPrintable(sim_.errorString()));
    }

    void init() {
        session_ = std::make_unique<UploadSession>(std::make_unique<SerialUploadPort>());
        prompter_.clear();
    }

    void cleanupTestCase() {
        QVERIFY(sim_.stop());
        QDir::setCurrent(previousDirectory_);
    }

    void controlsAndInitialValues() {
        Dialog d(*session_, prompter_, clock_);
        QCOMPARE(d.form.objectName(), QString("FormLoadHistrData"));
        QCOMPARE(d.form.windowTitle(), QString("上传历史数据"));
        QCOMPARE(d.form.size(), QSize(349, 241));
        QCOMPARE(d.form.minimumSize(), d.form.maximumSize());

        const QList<std::pair<const char*, QString>> labels = {
            {"Label1", "串口："},          {"Label2", "波特率："},
            {"Label3", "下位机地址：   "}, {"Label6", "取样间隔：   "},
            {"Label4", "开始时间："},      {"LabelCurrTranTime", "结束时间："}};
        for (const auto& [name, text] : labels) QCOMPARE(d.get<QLabel>(name)->text(), text);

        auto* port = d.get<QComboBox>("ComboBoxComNum");
        QCOMPARE(port->count(), 2);
        QCOMPARE(port->itemText(0), QString("COM1"));
        QCOMPARE(port->itemText(1), QString("COM2"));
        QCOMPARE(port->currentIndex(), 0);
        auto* baud = d.get<QComboBox>("ComboBoxBaud");
        QCOMPARE(baud->count(), 4);
        QCOMPARE(baud->itemText(0), QString("9600"));
        QCOMPARE(baud->itemText(2), QString("38400"));
        QCOMPARE(baud->currentText(), QString("57600"));
        QCOMPARE(d.get<QLineEdit>("EditMeterAddr")->text(), QString("0"));
        QCOMPARE(d.get<QLineEdit>("EditRec")->text(), QString("1"));
        QCOMPARE(d.get<QPushButton>("ButtonLoadHistrData")->text(), QString("上传数据  "));
        QCOMPARE(d.get<QPushButton>("ButtonStopTran")->text(), QString("停止传输"));
        for (const char* name : {"DateTimePickerBeginDate", "DateTimePickerBeginTime",
                                 "DateTimePickerEndDate", "DateTimePickerEndTime"}) {
            QCOMPARE(d.picker(name)->dateTime(), at(10, 45, 18));
        }
        auto* gauge = d.get<TCGauge>("CGaugeLoadHistrData");
        QCOMPARE(gauge->foreColor(), QColor(Qt::green));
        QCOMPARE(gauge->progress(), 0);
    }

    void uploadThroughTheDialog() {
        Dialog d(*session_, prompter_, clock_);
        const QString path = nextFile();
        prompter_.queueSaveFile(path);
        d.setRange(at(8), at(9));
        d.get<QLineEdit>("EditRec")->setText("12");
        const int blocksBefore = blockRequestsLogged().size();
        d.clickLoad();

        QCOMPARE(prompter_.texts(), QStringList{"数据上传完成！"});
        QCOMPARE(prompter_.boxes().first().caption, QString("OK"));
        QCOMPARE(prompter_.fileRequests().size(), 1);  // the first test to ask for a file
        QCOMPARE(prompter_.fileRequests().first().filter, QString("历史数据文件|*.dat"));
        QCOMPARE(prompter_.fileRequests().first().defaultSuffix, QString("dat"));
        QCOMPARE(prompter_.fileRequests().first().fileName, QString());

        QCOMPARE(d.get<QLineEdit>("EditRec")->text(), QString("9"));
        // M = 3600 / 90 = 40: six blocks, 43 records.
        const QStringList blocks = blockRequestsLogged().mid(blocksBefore);
        QCOMPARE(blocks.size(), 6);
        for (int i = 1; i < blocks.size(); ++i) {
            const qint64 gap = blocks[i].section(' ', 0, 0).toLongLong() -
                               blocks[i - 1].section(' ', 0, 0).toLongLong();
            QVERIFY2(gap >= 100, qPrintable(QString::number(gap)));
        }
        QCOMPARE(d.picker("DateTimePickerBeginDate")->dateTime(), at(8));
        QCOMPARE(d.picker("DateTimePickerBeginTime")->time(), QTime(8, 0));
        QCOMPARE(d.picker("DateTimePickerEndTime")->dateTime(), at(9, 4, 30));  // 43 x 90 s on
        QVERIFY(d.get<QPushButton>("ButtonLoadHistrData")->isEnabled());
        QCOMPARE(d.get<TCGauge>("CGaugeLoadHistrData")->progress(), 0);
        QVERIFY(textColor(d.get<QLabel>("LabelCurrTranTime"), QPalette::WindowText) != Qt::red);

        const RecorderLoadResult loaded = loadRecorderHistory(path);
        QCOMPARE(loaded.status, RecorderLoadStatus::Loaded);
        QCOMPARE(loaded.history.recordCount(), 43);
        QCOMPARE(loaded.history.recordInterval, 90);
        QCOMPARE(oleDateToSeconds(loaded.history.startTime), seconds(at(8)));
        QCOMPARE(channelName(loaded.history.channels[2]), QString("P       "));
        QCOMPARE(loaded.history.divisors[1], std::int16_t(100));
        // Slot 4999 is 10:00; 08:00 is 720 slots earlier. Record k is slot 4279 + 9 k.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        std::int64_t offset = recordOffsetAt(loaded.history, loaded.history.startTime);
        for (int k = 0; k < 43; ++k) {
            const auto raw = *readRawRecord(file, loaded.history, offset);
            for (int c = 0; c < 3; ++c) {
                QCOMPARE(raw[c], recordersim::slotWaveValue(4279 + 9 * k, c));
            }
            offset = nextRecordOffset(loaded.history, offset, 1);
        }

        // A later upload of the run offers the file of the last one.
        prompter_.queueSaveFile(nextFile());
        d.setRange(at(9, 59), at(10));
        d.clickLoad();
        QCOMPARE(prompter_.fileRequests().last().fileName, path);
    }

    void stopDuringTheTransfer() {
        Dialog d(*session_, prompter_, clock_);
        const QString path = nextFile();
        prompter_.queueSaveFile(path);
        d.setRange(at(7), at(10));  // 1080 records: well over ten seconds unless stopped
        const int statusBefore = sim_.logLines().filter(" 00 43 03 02 ").size();
        bool sawTransferLook = false;
        // A second press during the first pause must not start another upload.
        QTimer::singleShot(50, &d.form, [&] { d.form.ButtonLoadHistrDataClick(); });
        whenBlocksArrived(d, [&] {
            auto* label = d.get<QLabel>("LabelCurrTranTime");
            sawTransferLook =
                textColor(label, QPalette::WindowText) == Qt::red &&
                textColor(d.picker("DateTimePickerEndTime"), QPalette::Text) == Qt::red &&
                textColor(d.picker("DateTimePickerEndDate")->calendarWidget(), QPalette::Base) ==
                    Qt::red &&
                !d.get<QPushButton>("ButtonLoadHistrData")->isEnabled();
            QTest::mouseClick(d.get<QPushButton>("ButtonStopTran"), Qt::LeftButton);
        });
        d.clickLoad();

        QVERIFY(sawTransferLook);
        QCOMPARE(sim_.logLines().filter(" 00 43 03 02 ").size(), statusBefore + 1);
        QCOMPARE(prompter_.texts(), QStringList{"数据上传完成！"});
        const UploadReport& report = d.form.lastReport();
        QVERIFY(report.stopped);
        QVERIFY(report.recordsWritten > 1);
        QVERIFY(report.recordsWritten < 200);
        const RecorderLoadResult loaded = loadRecorderHistory(path);
        QCOMPARE(loaded.status, RecorderLoadStatus::Loaded);
        QCOMPARE(loaded.history.recordCount(), report.recordsWritten);
        QCOMPARE(oleDateToSeconds(loaded.history.endTime),
                 seconds(at(7)) + (report.recordsWritten - 1) * 10);
        QVERIFY(textColor(d.get<QLabel>("LabelCurrTranTime"), QPalette::WindowText) != Qt::red);
    }

    void escapeNeitherClosesNorStops() {
        Dialog d(*session_, prompter_, clock_);
        const QString path = nextFile();
        prompter_.queueSaveFile(path);
        d.setRange(at(7), at(10));
        bool goesOnAfterEscape = false;
        std::int64_t progressAtEscape = 0;
        whenBlocksArrived(d, [&] {
            QTest::keyClick(&d.form, Qt::Key_Escape);
            goesOnAfterEscape = d.form.isVisible() && d.form.uploading();
            progressAtEscape = d.get<TCGauge>("CGaugeLoadHistrData")->progress();
            QTimer::singleShot(400, &d.form, [&] {
                QTest::mouseClick(d.get<QPushButton>("ButtonStopTran"), Qt::LeftButton);
            });
        });
        d.clickLoad();
        QVERIFY(goesOnAfterEscape);
        QVERIFY(d.form.lastReport().recordsWritten > progressAtEscape + 7);
        // Nor does it close the idle dialog.
        QTest::keyClick(&d.form, Qt::Key_Escape);
        QVERIFY(d.form.isVisible());
        QCOMPARE(prompter_.texts(), QStringList{"数据上传完成！"});
    }

    void closingDuringTheTransferFinishesFirst() {
        Dialog d(*session_, prompter_, clock_);
        const QString path = nextFile();
        prompter_.queueSaveFile(path);
        d.setRange(at(7), at(10));
        bool stillOpenAfterClose = false;
        whenBlocksArrived(d, [&] {
            d.form.close();
            stillOpenAfterClose = d.form.isVisible() && d.form.uploading();
        });
        d.clickLoad();
        QVERIFY(stillOpenAfterClose);
        QVERIFY(!d.form.isVisible());
        QCOMPARE(d.form.result(), int(QDialog::Rejected));
        QVERIFY(d.form.lastReport().stopped);
        QCOMPARE(loadRecorderHistory(path).history.recordCount(),
                 d.form.lastReport().recordsWritten);
    }

    void startAfterEndLeavesThePickers() {
        Dialog d(*session_, prompter_, clock_);
        const auto fileDialogsBefore = prompter_.fileRequests().size();
        d.setRange(at(9, 30), at(9));
        d.clickLoad();
        QCOMPARE(prompter_.texts(), QStringList{"开始时间不能大于结束时间！"});
        QCOMPARE(prompter_.boxes().first().caption, QString("ERR"));
        QCOMPARE(d.picker("DateTimePickerBeginTime")->time(), QTime(9, 30));
        QCOMPARE(d.picker("DateTimePickerEndDate")->dateTime(), at(9));
        QCOMPARE(prompter_.fileRequests().size(), fileDialogsBefore);
    }

    void endLaterThanTheNewestIsCut() {
        Dialog d(*session_, prompter_, clock_);
        prompter_.queueSaveFile(nextFile());
        d.setRange(at(9, 59), at(10, 45));
        d.clickLoad();
        QCOMPARE(d.form.lastReport().endSeconds, seconds(at(10)));
        QCOMPARE(d.picker("DateTimePickerBeginTime")->time(), QTime(9, 59));
        // The end pickers showed 10:00 before the transfer moved them on.
        QCOMPARE(d.form.lastReport().plannedRecords, 6);
    }

    void nonNumericAddressShowsTheConversionError() {
        Dialog d(*session_, prompter_, clock_);
        d.get<QLineEdit>("EditMeterAddr")->setText("abc");
        d.clickLoad();
        QCOMPARE(prompter_.boxes().size(), 1);
        QVERIFY(prompter_.boxes().first().isError);
        QVERIFY(prompter_.boxes().first().text.contains("abc"));
        QVERIFY(!d.form.uploading());
    }

    void portThatCannotBeOpened() {
        QFile notAPort(work_.filePath("COM2"));
        QVERIFY(notAPort.open(QIODevice::WriteOnly));
        notAPort.close();
        Dialog d(*session_, prompter_, clock_);
        d.get<QComboBox>("ComboBoxComNum")->setCurrentIndex(1);
        d.clickLoad();
        QCOMPARE(prompter_.texts(), QStringList{"串口打开失败！"});
        QCOMPARE(prompter_.boxes().first().caption, QString("oh"));
        QVERIFY(!session_->port().isOpen());
    }

    void gaugeKeepsItsOwnRange() {
        TCGauge gauge;
        gauge.setMinValue(0);
        gauge.setMaxValue(0);
        gauge.setProgress(0);
        QVERIFY(gauge.maximum() > gauge.minimum());  // never the busy indicator
        QCOMPARE(gauge.value(), gauge.minimum());
        gauge.setMaxValue(5'000'000'000LL);
        gauge.setProgress(2'500'000'000LL);
        QCOMPARE(gauge.value(), (gauge.minimum() + gauge.maximum()) / 2);
        gauge.setMaxValue(180);
        gauge.setProgress(183);  // a transfer may fetch up to six records more than asked
        QCOMPARE(gauge.value(), gauge.maximum());
        gauge.setHint("records");
        QCOMPARE(gauge.toolTip(), QString("records"));
    }

    void mainWindowMenuOpensTheDialog() {
        TForm1 form(prompter_, clock_);
        QCOMPARE(form.objectName(), QString("Form1"));
        QCOMPARE(form.windowTitle(), QString("无纸记录仪数据分析软件   V1.4"));
        QCOMPARE(form.menuBar()->objectName(), QString("MainMenu"));
        auto* n1 = form.findChild<QMenu*>("N1");
        QVERIFY(n1);
        QCOMPARE(n1->title(), QString("文件"));
        const QList<QAction*> items = n1->actions();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0]->objectName(), QString("N2"));
        QCOMPARE(items[0]->text(), QString(" "));
        QCOMPARE(items[1]->objectName(), QString("N3"));
        QCOMPARE(items[1]->text(), QString("从串口上传历史数据......."));
        QCOMPARE(items[2]->objectName(), QString("Excel1"));
        QCOMPARE(items[2]->text(), QString());
        auto* n4 = form.findChild<QAction*>("N4");
        QVERIFY(n4);
        QCOMPARE(n4->text(), QString("查看"));

        form.show();
        QString seenName;
        bool seenModal = false;
        QTimer::singleShot(0, &form, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal) {
                seenName = modal->objectName();
                seenModal = modal->isModal();
                modal->close();
            }
        });
        items[1]->trigger();
        QCOMPARE(seenName, QString("FormLoadHistrData"));
        QVERIFY(seenModal);
        QVERIFY(form.findChildren<TFormLoadHistrData*>().isEmpty());  // destroyed on close
        QVERIFY(prompter_.boxes().isEmpty());
    }
};

QTEST_MAIN(TestUploadDialog)
#include "tst_uploaddialog.moc"
