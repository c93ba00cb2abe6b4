// The recorder history window of tamlo_ana on the offscreen platform: opening files built byte
// by byte, windows of records at their own times, the grid, the search, and the chart panel's
// cross-hair, range, track bar, visibility and colours.

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "analysis/historygrid.h"
#include "analysis/tform1.h"
#include "chart/tchart.h"
#include "datfile.h"
#include "fakeclock.h"
#include "scriptedprompter.h"
#include "shared/historychartpanel.h"
#include "shared/numbertext.h"

using namespace tamlo;
using namespace tamlo::analysis;
using tamlo::analysis::test::DatFile;
using tamlo::analysis::test::newest;
using tamlo::analysis::test::secondsBefore;

namespace {

// Records 60 s apart.
OleDate minutesBefore(double minutes) {
    return secondsBefore(minutes * 60);
}

// n records of two channels: channel 0 = k / 10 (one decimal), channel 1 = 1000 + k.
DatFile counting(int n, int channels = 2) {
    DatFile f;
    f.channels = channels;
    f.decimals = {1, 0};
    for (int k = 0; k < n; ++k) {
        std::vector<std::int16_t> r(static_cast<std::size_t>(channels));
        for (int c = 0; c < channels; ++c)
            r[c] = std::int16_t(c == 0 ? k % 30000 : 1000 + k % 20000);
        f.records.push_back(r);
    }
    return f;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

class TestHistoryView : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int files_ = 0;
    tamlo::test::ScriptedPrompter prompter_;
    tamlo::test::FakeClock clock_;
    std::unique_ptr<TForm1> form_;

    QString write(const DatFile& f) {
        const QString path = dir_.filePath(QStringLiteral("h%1.dat").arg(++files_));
        f.write(path);
        return path;
    }
    QString open(const DatFile& f) {
        const QString path = write(f);
        prompter_.queueOpenFile(path);
        form_->but_open_histr_dataClick();
        return path;
    }
    HistoryChartPanel* panel() { return form_->panel(); }
    chart::TChart* chart() { return panel()->chart(); }
    chart::TFastLineSeries* series(int i) { return chart()->series(i); }
    HistoryGridView* grid() { return form_->findChild<HistoryGridView*>("StringGrid1"); }
    template <class T>
    T* get(const char* name) {
        T* w = form_->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void search(OleDate t) {
        const QDateTime when = fromOleDate(t);
        get<QDateTimeEdit>("DateTimer_give_date")->setDateTime(when);
        get<QDateTimeEdit>("DateTimer_give_time")->setDateTime(when);
        form_->Button_searchClick();
    }

private slots:
    void init() {
        prompter_.clear();
        form_ = std::make_unique<TForm1>(prompter_, clock_);
        form_->resize(1000, 700);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup() {
        QVERIFY2(prompter_.boxes().isEmpty(), qPrintable(prompter_.texts().join(" | ")));
        form_.reset();
    }

    void startsEmptyAndInert() {
        QCOMPARE(form_->windowTitle(), QString("无纸记录仪数据分析软件   V1.4"));
        QVERIFY(!get<QPushButton>("Button_search")->isEnabled());
        QVERIFY(!get<QPushButton>("Button_expro_histr")->isEnabled());
        QVERIFY(!get<QCheckBox>("CheckBox_allhisrt_curve")->isEnabled());
        QVERIFY(!get<QSlider>("tb_histr_time")->isEnabled());
        QCOMPARE(get<QLabel>("Label_histr_oncross")->text(), QString("当前时刻： X坐标："));
        QVERIFY(panel()->busy());
        panel()->Chart2MouseMove(300, 200);  // busy: nothing drawn
        QVERIFY(!panel()->crossHairPosition());
        form_->but_open_histr_dataClick();  // cancelled
        QCOMPARE(prompter_.fileRequests().last().filter, QString("历史数据|*.dat"));
        QVERIFY(!form_->history());
    }

    // 100 records: 100 points per curve, x = 0..99, and 100 grid rows at the records' times.
    void hundredRecords() {
        const QString path = open(counting(100));
        QCOMPARE(form_->statusPanelText(0), path);
        QCOMPARE(chart()->seriesCount(), 2);
        QCOMPARE(series(0)->count(), 100);
        QCOMPARE(series(1)->count(), 100);
        QCOMPARE(series(0)->xValue(99), 99.0);
        QVERIFY(sameBits(series(0)->yValue(7), double(7.0f / 10.0f)));
        QCOMPARE(series(1)->yValue(7), 1007.0);
        QCOMPARE(series(0)->label(0), QString("04-11 08:34:52"));
        QCOMPARE(series(0)->label(99), QString("04-11 10:13:52"));
        QCOMPARE(series(1)->label(5), QString());
        QCOMPARE(get<QLabel>("lb_histr_time")->text(),
                 QString("时间范围: 07-04-11 08:34:52 至 07-04-11 10:13:52         "));
        QCOMPARE(grid()->rowCount(), 101);
        QCOMPARE(grid()->columnCount(), 3);
        QCOMPARE(grid()->cell(0, 0), QString("time"));
        QCOMPARE(grid()->cell(1, 0), QString("CH0     "));
        QCOMPARE(grid()->cell(0, 1), QString("07-04-11 08:34:52"));
        QCOMPARE(grid()->cell(1, 1), QString("0"));
        QCOMPARE(grid()->cell(1, 13), QString("1.2"));
        QCOMPARE(grid()->cell(2, 100), QString("1099"));
        QVERIFY(grid()->columnWidth(0) >= 96);  // 96, or as wide as the time texts need
        QCOMPARE(get<QComboBox>("Combox_histrch_color")->count(), 2);
        QVERIFY(get<QPushButton>("Button_search")->isEnabled());
        QVERIFY(get<QPushButton>("Button_expro_histr")->isEnabled());
        QVERIFY(get<QCheckBox>("CheckBox_allhisrt_curve")->isEnabled());
        QVERIFY(!panel()->busy());
        QCOMPARE(panel()->windowCount(), 100);
        QCOMPARE(get<QDateTimeEdit>("DateTimer_give_time")->time(), QTime(10, 13, 52));
        // Channel rows at their places.
        QCOMPARE(panel()->rowCheckBox(1)->geometry(), QRect(8, 50, 70, 20));
        QCOMPARE(panel()->rowValueBox(1)->geometry(), QRect(85, 50, 60, 20));
        QCOMPARE(panel()->rowSwatch(1)->geometry(), QRect(155, 50, 20, 20));
        QCOMPARE(panel()->rowValueBox(0)->text(), QString("0.0"));
        QCOMPARE(panel()->rowsList().size(), std::size_t(6));
    }

    // 50000 records show the first 20000; a search shows the 20000 from there; searches outside
    // the span give their messages and keep the window.
    void longFileAndSearch() {
        open(counting(50000));
        QCOMPARE(series(0)->count(), 20000);
        QCOMPARE(grid()->rowCount(), 20001);
        QCOMPARE(grid()->cell(2, 20000), QString::number(1000 + 19999 % 20000));
        const OleDate later = minutesBefore(49999 - 20000);
        search(later);
        QCOMPARE(series(0)->count(), 20000);
        QCOMPARE(series(0)->label(0), formatOleDate("MM-DD HH:NN:SS", later));
        QCOMPARE(series(0)->yValue(0), double(20000.0f / 10.0f));
        search(newest() + 1.0 / 86400);
        search(minutesBefore(50000));
        QCOMPARE(prompter_.texts(), QStringList({kAboveEndText, kBelowStartText}));
        prompter_.clear();
        QCOMPARE(series(0)->yValue(0), double(20000.0f / 10.0f));
    }

    // A window asked for between two records starts with the record after, dated with its own
    // time; the last record alone at the end time.
    void windowBetweenRecords() {
        open(counting(100));
        form_->loadWindow(minutesBefore(10.5));
        QCOMPARE(series(0)->count(), 11);
        QCOMPARE(grid()->rowCount(), 12);
        QCOMPARE(series(0)->label(0), QString("04-11 10:03:52"));
        QCOMPARE(grid()->cell(0, 1), QString("07-04-11 10:03:52"));
        QCOMPARE(series(1)->yValue(10), 1099.0);
        form_->loadWindow(newest());
        QCOMPARE(series(0)->count(), 1);
        QCOMPARE(series(1)->yValue(0), 1099.0);
        form_->loadWindow(newest() + 1);  // outside: nothing changes
        QCOMPARE(series(0)->count(), 1);
    }

    void noDataRuns() {
        DatFile f = counting(6);
        f.records[1][0] = f.records[2][0] = f.records[3][0] = -30000;
        f.records[4][1] = -30000;
        open(f);
        QCOMPARE(grid()->rowCount(), 1 + 4);
        QCOMPARE(grid()->cell(0, 2), QString("07-04-11 10:09:52"));
        QCOMPARE(grid()->cell(1, 2), QString("  --  "));
        QCOMPARE(grid()->cell(2, 2), QString("  --  "));
        QCOMPARE(grid()->cell(0, 3), QString("07-04-11 10:12:52"));
        QCOMPARE(grid()->cell(2, 3), QString("-30000"));
        QCOMPARE(series(0)->yValue(2), -30000.0);  // never divided
    }

    // The ring wrapped at slot 30 and the byte-swapped layout read into the same window.
    void wrappedAndSwappedFiles() {
        DatFile wrapped = counting(50);
        wrapped.wrapAt = 30;
        open(wrapped);
        for (int k : {0, 19, 20, 49}) QCOMPARE(series(1)->yValue(k), 1000.0 + k);
        DatFile swapped = counting(50);
        swapped.swapped = true;
        swapped.records[3][1] = -300;
        open(swapped);
        QCOMPARE(grid()->cell(1, 0), QString("   CH-00"));
        QCOMPARE(series(1)->yValue(3), -300.0);
        QCOMPARE(grid()->cell(1, 11), QString("1"));
    }

    void secondFileReplacesRows() {
        open(counting(10, 4));
        QCOMPARE(panel()->rowCount(), 4);
        open(counting(10, 2));
        QCOMPARE(panel()->rowCount(), 2);
        QCOMPARE(get<QComboBox>("Combox_histrch_color")->count(), 2);
        QCOMPARE(get<QWidget>("ScrollBox_hisrt_colorContent")->findChildren<QCheckBox*>().size(),
                 3);
        QCOMPARE(grid()->columnCount(), 3);
        QCOMPARE(chart()->seriesCount(), 2);
    }

    void wrongTypeKeepsTheFile() {
        const QString first = open(counting(10));
        DatFile bad = counting(10, 3);
        QByteArray bytes = bad.bytes();
        bytes[0] = 1;
        const QString path = dir_.filePath("bad.dat");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        prompter_.queueOpenFile(path);
        form_->but_open_histr_dataClick();
        QCOMPARE(prompter_.texts(), QStringList{"文件类型出错！"});
        prompter_.clear();
        QCOMPARE(form_->history()->fileName, first);
        QCOMPARE(panel()->rowCount(), 2);
        QCOMPARE(series(0)->count(), 10);
        QCOMPARE(form_->statusPanelText(0), path);
    }

    // A record that cannot be read whole (the file shrank since it was opened) ends the window.
    void shrunkFileEndsTheWindow() {
        const QString path = open(counting(100));
        QFile file(path);
        QVERIFY(file.resize(1524 + 40 * 4 + 3));
        search(minutesBefore(99));
        QCOMPARE(series(0)->count(), 40);
        QCOMPARE(grid()->rowCount(), 41);
    }

    void coloursSurviveASearchNotANewFile() {
        const QString path = write(counting(100));
        prompter_.queueOpenFile(path);
        form_->but_open_histr_dataClick();
        get<QComboBox>("Combox_histrch_color")->setCurrentIndex(1);
        QCOMPARE(get<ColorSwatch>("Pnl_histr_color")->color(), QColor(0, 128, 0));
        prompter_.queueColor(QColor(Qt::blue));
        panel()->Pnl_histr_colorClick();
        QCOMPARE(series(1)->color(), QColor(Qt::blue));
        QCOMPARE(panel()->rowSwatch(1)->color(), QColor(Qt::blue));
        search(minutesBefore(50));
        QCOMPARE(series(1)->color(), QColor(Qt::blue));
        QCOMPARE(series(0)->color(), QColor(Qt::red));
        prompter_.queueOpenFile(path);
        form_->but_open_histr_dataClick();
        QCOMPARE(series(1)->color(), QColor(0, 128, 0));
        QCOMPARE(panel()->rowSwatch(1)->color(), QColor(0, 128, 0));
        prompter_.queueColor(std::nullopt);  // cancelled: nothing changes
        panel()->Pnl_histr_colorClick();
        QCOMPARE(series(1)->color(), QColor(0, 128, 0));
    }

    // The cross-hair in the back colour XOR 255 (pure red on black), its readout with the left
    // axis' label format, "  --  " for the no-data value, erased when the mouse leaves.
    void crossHairAndReadout() {
        DatFile f = counting(100);
        f.records[50][1] = -30000;
        open(f);
        QCoreApplication::processEvents();
        const QRect plot = chart()->plotRect();
        const int x = chart()->bottomAxis()->pixelOf(50.2);
        const int y = plot.top() + plot.height() / 3;
        panel()->Chart2MouseMove(x, y);
        QCOMPARE(panel()->crossHairPosition(), std::optional<QPoint>(QPoint(x, y)));
        QCOMPARE(chart()->canvas()->penColor(), QColor(255, 0, 0));
        const QImage shot = chart()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(x, plot.top() + 3)), QColor(255, 0, 0));
        QCOMPARE(QColor(shot.pixel(plot.left() + 3, y)), QColor(255, 0, 0));
        const double yValue = chart()->leftAxis()->valueAt(y);
        QCOMPARE(get<QLabel>("Label_histr_oncross")->text(),
                 "当前时刻：04-11 09:24:52    Y坐标：" + chart()->leftAxis()->formatValue(yValue) +
                     "      ");
        QCOMPARE(panel()->rowValueBox(0)->text(), QString("5"));
        QCOMPARE(panel()->rowValueBox(1)->text(), QString("  --  "));

        // Outside the plotting rectangle: erased, readout kept.
        panel()->Chart2MouseMove(plot.left() - 5, y);
        QVERIFY(!panel()->crossHairPosition());
        QCOMPARE(QColor(chart()->grab().toImage().pixel(x, plot.top() + 3)), QColor(Qt::black));
        QCOMPARE(panel()->rowValueBox(0)->text(), QString("5"));

        // A new background: the pen follows it, and the repaint forgets the old cross-hair.
        prompter_.queueColor(QColor(Qt::white));
        panel()->Panel_back_colorClick();
        QCOMPARE(chart()->backColor(), QColor(Qt::white));
        QCOMPARE(get<ColorSwatch>("Panel_back_color")->color(), QColor(Qt::white));
        panel()->Chart2MouseMove(x, y);
        chart()->grab();
        QVERIFY(!panel()->crossHairPosition());
        panel()->Chart2MouseMove(x + 10, y);
        QCOMPARE(chart()->canvas()->penColor(), QColor(0, 255, 255));
        // White XOR (0, 255, 255) on the screen.
        QCOMPARE(QColor(chart()->grab().toImage().pixel(x + 10, plot.top() + 3)),
                 QColor(255, 0, 0));
    }

    void valueRange() {
        open(counting(10));
        chart::TChartAxis* left = chart()->leftAxis();
        QLineEdit* down = get<QLineEdit>("ME_histr_down");
        QLineEdit* up = get<QLineEdit>("ME_histr_up");
        down->setText("0");
        up->setText("0");
        panel()->but_mod_upClick();
        QCOMPARE(prompter_.texts(), QStringList{"上限要大于下限！"});
        prompter_.clear();
        QCOMPARE(left->maximum(), 1000.0);
        // From 500..1000: 100..200 needs the minimum first, 1200..1500 the maximum first (the
        // axis refuses an end that passes the other one).
        left->setMinimum(500);
        down->setText("100");
        up->setText("200");
        panel()->but_mod_upClick();
        QCOMPARE(left->minimum(), 100.0);
        QCOMPARE(left->maximum(), 200.0);
        left->setMaximum(1000);
        left->setMinimum(500);
        down->setText("1200");
        up->setText("1500");
        panel()->but_mod_upClick();
        QCOMPARE(left->minimum(), 1200.0);
        QCOMPARE(left->maximum(), 1500.0);
        up->setText("x");
        QVERIFY_THROWS_EXCEPTION(ConversionError, panel()->but_mod_upClick());
        QCOMPARE(left->maximum(), 1500.0);
    }

    void trackBarFollowsAndScrolls() {
        open(counting(100));
        QSlider* bar = get<QSlider>("tb_histr_time");
        QVERIFY(!bar->isEnabled());
        chart::TChartAxis* bottom = chart()->bottomAxis();
        get<QPushButton>("Button11")->click();  // 70 % of 0..99 remains: 14.85 to 84.15
        QVERIFY(bar->isEnabled());
        QCOMPARE(bar->value(), 15);
        // The second half of the window: 50; the bar at 0 shows the first half, same width.
        bottom->setMaximum(99);
        bottom->setMinimum(49.5);
        panel()->Chart2Zoom();
        QCOMPARE(bar->value(), 50);
        bar->setValue(0);
        QCOMPARE(bottom->minimum(), 0.0);
        QCOMPARE(bottom->maximum(), 49.5);
        bar->setValue(100);
        QCOMPARE(bottom->minimum(), 99.0);
        QCOMPARE(bottom->maximum(), 148.5);
        get<QPushButton>("but_unzoom")->click();
        QVERIFY(bottom->automatic());
        QVERIFY(!bar->isEnabled());
    }

    void visibility() {
        open(counting(10, 3));
        QCheckBox* all = get<QCheckBox>("CheckBox_allhisrt_curve");
        all->click();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!series(i)->isVisible());
            QVERIFY(!panel()->rowCheckBox(i)->isChecked());
        }
        panel()->rowCheckBox(1)->click();
        QVERIFY(!series(0)->isVisible());
        QVERIFY(series(1)->isVisible());
        QVERIFY(!series(2)->isVisible());
    }
};

QTEST_MAIN(TestHistoryView)
#include "tst_historyview.moc"
