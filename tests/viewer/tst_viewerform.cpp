// The viewer's main window: its start-up state, opening files, paging on the chart, the channel
// panel across pages and files, and the cross-hair readout without a no-data value.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "chart/tchart.h"
#include "fakeclock.h"
#include "nvbytes.h"
#include "scriptedprompter.h"
#include "shared/datetime.h"
#include "shared/historychartpanel.h"
#include "shared/statusbar.h"
#include "shared/tcgauge.h"
#include "viewer/tform1.h"

using namespace tamlo;
using namespace tamlo::viewer;

namespace {

const OleDate kStart = nvbytes::kPagesStart;

float valueAt(int k, int c) {
    return nvbytes::countingValue(k, c);
}

QString makeFile(const QTemporaryDir& dir, const QString& name, int records, int channels,
                 quint32 interval = 10) {
    return nvbytes::writeCountingFile(dir.filePath(name), records, channels, interval);
}

struct Viewer {
    test::ScriptedPrompter prompter;
    test::FakeClock clock;
    TForm1 form{prompter, clock};

    Viewer() {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    chart::TChart* chart() const { return form.panel()->chart(); }
    int points(int series = 0) const { return chart()->series(series)->count(); }
    void open(const QString& path) {
        prompter.queueOpenFile(path);
        form.but_open_histr_dataClick();
    }
};

}  // namespace

class ViewerFormTest : public QObject {
    Q_OBJECT
private slots:
    void startsEmptyWithItsControls() {
        Viewer v;
        TForm1& f = v.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("NorvikDCS"));
        QCOMPARE(f.size(), QSize(932, 780));
        QCOMPARE(f.PageControl1->tabText(0), QStringLiteral("历史曲线"));
        QCOMPARE(f.but_open_histr_data->text(), QStringLiteral("打开历史数据......."));
        QCOMPARE(f.Label_histr_pagecount->text(), QStringLiteral("共 页 第 页     "));
        QCOMPARE(f.lb_histr_time->text(), QStringLiteral("时间范围："));
        QCOMPARE(f.Button_expro_histr->text(), QStringLiteral("导出EXCEL文件......"));
        for (const char* name : {"Button_histr_back", "Button_histr_next", "Button_expro_histr",
                                 "CheckBox_allhisrt_curve"}) {
            auto* w = f.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(w && !w->isEnabled(), name);
        }
        for (const char* name :
             {"but_open_histr_data", "ME_histr_down", "ME_histr_up", "but_mod_up",
              "Combox_histrch_color", "Pnl_histr_color", "Panel_back_color",
              "ScrollBox_hisrt_color", "Button5", "Button11", "Button12", "but_unzoom", "Chart2",
              "Label_histr_oncross", "CGauge1", "tb_histr_time", "StatusBar1"}) {
            QVERIFY2(f.findChild<QWidget*>(QString::fromLatin1(name)), name);
        }
        QVERIFY(f.Panel_histread_progress->isHidden());
        QCOMPARE(v.chart()->seriesCount(), 0);
        QVERIFY(f.panel()->busy());
        QCOMPARE(v.chart()->backColor(), QColor(Qt::black));

        // A cancelled open dialog changes nothing and says nothing.
        f.but_open_histr_dataClick();
        QCOMPARE(v.prompter.fileRequests().last().filter, QStringLiteral("历史数据|*.nv"));
        QCOMPARE(f.Label_histr_pagecount->text(), QStringLiteral("共 页 第 页     "));
        QVERIFY(v.prompter.boxes().isEmpty());
    }

    void headerOnlyFileOpensEmpty() {
        QTemporaryDir dir;
        Viewer v;
        const QString path = makeFile(dir, "empty.nv", 0, 2);
        v.open(path);
        QCOMPARE(v.form.Label_histr_pagecount->text(), QStringLiteral("共1页 第1页"));
        QCOMPARE(v.chart()->seriesCount(), 2);
        QCOMPARE(v.points(), 0);
        QVERIFY(!v.form.Button_histr_next->isEnabled());
        QVERIFY(!v.form.Button_histr_back->isEnabled());
        QVERIFY(v.form.Button_expro_histr->isEnabled());
        QCOMPARE(v.form.lb_histr_time->text(),
                 QStringLiteral("时间范围: 26-12-07 10:00:00 至 26-12-07 10:00:00         "));
        QCOMPARE(v.form.StatusBar1->panelText(0), path);
        QVERIFY(!v.form.panel()->busy());
    }

    void pagesOnTheChart() {
        QTemporaryDir dir;
        Viewer v;
        v.open(makeFile(dir, "long.nv", 45000, 3));
        TForm1& f = v.form;
        QCOMPARE(f.Label_histr_pagecount->text(), QStringLiteral("共3页 第1页"));
        QCOMPARE(v.points(2), 20000);
        QCOMPARE(f.CGauge1->maxValue(), 20000);
        QCOMPARE(f.CGauge1->hint(), QStringLiteral("正在读取历史数据请稍后！"));
        QCOMPARE(v.chart()->series(0)->label(0), QStringLiteral("12-07 10:00:00"));
        QVERIFY(v.chart()->series(1)->label(0).isEmpty());
        QVERIFY(f.Button_histr_next->isEnabled() && !f.Button_histr_back->isEnabled());

        f.Button_histr_next->click();
        QCOMPARE(f.Label_histr_pagecount->text(), QStringLiteral("共3页 第2页"));
        // Record 20000, 200000 s after the start.
        QCOMPARE(v.chart()->series(0)->label(0), QStringLiteral("12-09 17:33:20"));
        QCOMPARE(v.chart()->series(0)->label(19999), QStringLiteral("12-12 01:06:30"));
        QCOMPARE(v.chart()->series(2)->yValue(0), double(valueAt(20000, 2)));
        QCOMPARE(v.chart()->series(2)->xValue(19999), 19999.0);
        QVERIFY(f.Button_histr_next->isEnabled() && f.Button_histr_back->isEnabled());

        f.Button_histr_next->click();
        QCOMPARE(v.points(), 5000);
        QCOMPARE(f.CGauge1->maxValue(), 5000);
        QCOMPARE(f.panel()->windowCount(), 5000);
        QVERIFY(!f.Button_histr_next->isEnabled() && f.Button_histr_back->isEnabled());
        f.Button_histr_back->click();
        f.Button_histr_back->click();
        QCOMPARE(f.Label_histr_pagecount->text(), QStringLiteral("共3页 第1页"));
        QCOMPARE(v.chart()->series(0)->label(0), QStringLiteral("12-07 10:00:00"));
        QVERIFY(f.Button_histr_next->isEnabled() && !f.Button_histr_back->isEnabled());
        QVERIFY(f.Panel_histread_progress->isHidden());
    }

    void exportButtonOpensTheDialogOnTheFilesSpan() {
        QTemporaryDir dir;
        Viewer v;
        v.open(makeFile(dir, "span.nv", 100, 2));
        QString label;
        QString caption;
        QSize size;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (dialog) {
                caption = dialog->windowTitle();
                size = dialog->size();
                label = dialog->findChild<QLabel*>("Label_histr_timerange")->text();
                QVERIFY(!dialog->findChild<QWidget*>("Edit_sampling"));
                dialog->close();
            }
        });
        v.form.Button_expro_histr->click();
        QCOMPARE(caption, QStringLiteral("输入时间范围"));
        // 305 x 157, wider where the font needs it to show the span and the dates whole.
        QVERIFY(size.width() >= 305);
        QCOMPARE(size.height(), 157);
        QCOMPARE(label,
                 QStringLiteral("有效时间范围：26-12-07 10:00:00 至 26-12-07 10:16:40         "));
    }

    void exactlyOnePageLeavesAnEmptySecond() {
        QTemporaryDir dir;
        Viewer v;
        v.open(makeFile(dir, "full.nv", 20000, 2));
        QCOMPARE(v.form.Label_histr_pagecount->text(), QStringLiteral("共2页 第1页"));
        QVERIFY(v.form.Button_histr_next->isEnabled());
        v.form.Button_histr_next->click();
        QCOMPARE(v.form.Label_histr_pagecount->text(), QStringLiteral("共2页 第2页"));
        QCOMPARE(v.points(), 0);
        QVERIFY(!v.form.Button_histr_next->isEnabled());
    }

    void channelPanelAcrossFilesAndPages() {
        QTemporaryDir dir;
        Viewer v;
        HistoryChartPanel* panel = v.form.panel();
        v.open(makeFile(dir, "eight.nv", 100, 8));
        QCOMPARE(panel->rowCount(), 8);
        v.open(makeFile(dir, "three.nv", 25000, 3));
        QCOMPARE(panel->rowCount(), 3);
        QCOMPARE(panel->rowsList().size(), 9u);
        QCOMPARE(v.form.findChild<QComboBox*>("Combox_histrch_color")->count(), 3);
        QCOMPARE(panel->rowCheckBox(2)->text(), QStringLiteral("CH2"));

        // A colour chosen for channel 1 stays on the next page's curve.
        v.form.findChild<QComboBox*>("Combox_histrch_color")->setCurrentIndex(1);
        v.prompter.queueColor(QColor(10, 200, 30));
        panel->Pnl_histr_colorClick();
        // Row 0 unticked: its curve is hidden until the page changes.
        panel->rowCheckBox(0)->click();
        QVERIFY(!v.chart()->series(0)->isVisible());
        v.form.Button_histr_next->click();
        QCOMPARE(v.chart()->series(1)->color(), QColor(10, 200, 30));
        QVERIFY(v.chart()->series(0)->isVisible());
        QVERIFY(!panel->rowCheckBox(0)->isChecked());
        // The next click on any row applies the ticks again.
        panel->rowCheckBox(2)->click();
        panel->rowCheckBox(2)->click();
        QVERIFY(!v.chart()->series(0)->isVisible());
        QVERIFY(v.chart()->series(2)->isVisible());
    }

    void refusedFileLeavesTheShownOne() {
        QTemporaryDir dir;
        Viewer v;
        const QString good = makeFile(dir, "good.nv", 100, 4);
        v.open(good);
        const QString bad = dir.filePath("bad.nv");
        nvbytes::write(bad, nvbytes::header(kStart, 10, 200) + QByteArray(800, '\0'));
        v.open(bad);
        QCOMPARE(v.prompter.texts().size(), 1);
        QVERIFY(v.prompter.texts().first().contains("200"));
        QCOMPARE(v.form.panel()->rowCount(), 4);
        QCOMPARE(v.points(), 100);
        QCOMPARE(v.form.pages().state().fileName, good);
        v.prompter.clear();
        v.open(dir.filePath("missing.nv"));  // cannot be opened: no message
        QVERIFY(v.prompter.boxes().isEmpty());
        QCOMPARE(v.form.pages().state().fileName, good);
    }

    void growingFileShowsWholeRecordsOnly() {
        QTemporaryDir dir;
        Viewer v;
        const QString path = makeFile(dir, "growing.nv", 20000, 2);
        v.open(path);
        const QByteArray more = nvbytes::records(20000, 11, 2, valueAt);
        QVERIFY(nvbytes::append(path, more.left(more.size() - 3)));
        v.form.Button_histr_next->click();
        QCOMPARE(v.points(), 10);
        QCOMPARE(v.chart()->series(1)->yValue(9), double(valueAt(20009, 1)));
    }

    void crossHairShowsStoredValues() {
        QTemporaryDir dir;
        Viewer v;
        const QString path = dir.filePath("values.nv");
        const float values[3] = {-30000.0f, 0.0f, 123.456f};
        nvbytes::write(path,
                       nvbytes::header(kStart, 10, 3, {"A", "B", "C"}) +
                           nvbytes::records(0, 100, 3, [&](int, int c) { return values[c]; }));
        v.open(path);
        chart::TChart* chart = v.chart();
        chart->repaint();
        const QRect plot = chart->plotRect();
        QTest::mouseMove(chart, plot.center());
        v.form.panel()->Chart2MouseMove(plot.center().x(), plot.center().y());
        HistoryChartPanel* panel = v.form.panel();
        QCOMPARE(panel->rowValueBox(0)->text(), QStringLiteral("-30000"));
        QCOMPARE(panel->rowValueBox(1)->text(), QStringLiteral("0"));
        QCOMPARE(panel->rowValueBox(2)->text(), QStringLiteral("123.46"));
        QVERIFY(v.form.findChild<QLabel*>("Label_histr_oncross")
                    ->text()
                    .startsWith(QStringLiteral("当前时刻：12-07 10:0")));
    }
};

QTEST_MAIN(ViewerFormTest)
#include "tst_viewerform.moc"
