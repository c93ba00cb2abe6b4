// The history curve panel built with another program's control names (the station's real-time
// page: range edits among the operations, no track bar and no readout), and its value boxes
// without a window source.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "chart/tchart.h"
#include "scriptedprompter.h"
#include "shared/historychartpanel.h"

using namespace tamlo;

class TestHistoryChartPanel : public QObject {
    Q_OBJECT

private slots:
    void namesOfTheRealTimePage() {
        HistoryChartNames names;
        names.column = "Panel8";
        names.topGroup = "GroupBox5";
        names.rangeLabel = "Label19";
        names.rangeDown = "ME_real_down";
        names.rangeUp = "ME_real_up";
        names.rangeButton = "But_real_modarang";
        names.colorCombo = "Combox_realch_color";
        names.colorSwatch = "Pnl_real_color";
        names.backLabel = "Label20";
        names.rowsBox = "ScrollBox2";
        names.allCheck = "CheckBox_realch_all";
        names.splitter = "Splitter1";
        names.operationsBox = "ScrollBox3";
        names.operationsGroup = "GroupBox1";
        names.printButton = "But_real_prinview";
        names.zoomInButton = "But_real_zoomout";
        names.zoomOutButton = "But_real_zommin";
        names.unzoomButton = "But_real_unzoom";
        names.chart = "Chart1";
        HistoryChartOptions options;
        options.topGroupTitle = "色彩配置";
        options.chartTitle = "实时曲线";
        options.rangeInOperations = true;
        options.rowsBoxHeight = 224;
        options.trackBar = false;
        options.readout = false;
        tamlo::test::ScriptedPrompter prompter;
        QWidget window;
        HistoryChartPanel panel(prompter, names, options, &window);
        panel.chartSide()->setParent(&window);

        QCOMPARE(panel.objectName(), QString("Panel8"));
        QCOMPARE(window.findChild<QGroupBox*>("GroupBox5")->title(), QString("色彩配置"));
        auto* operations = window.findChild<QGroupBox*>("GroupBox1");
        QVERIFY(operations->findChild<QLineEdit*>("ME_real_up"));
        QVERIFY(operations->findChild<QPushButton*>("But_real_zoomout"));
        QVERIFY(window.findChild<QComboBox*>("Combox_realch_color"));
        QVERIFY(window.findChild<ColorSwatch*>("Pnl_real_color"));
        QVERIFY(window.findChild<QCheckBox*>("CheckBox_realch_all"));
        QCOMPARE(panel.chart()->objectName(), QString("Chart1"));
        QCOMPARE(panel.chart()->title(), QString("实时曲线"));
        QVERIFY(window.findChildren<QSlider*>().isEmpty());
        QVERIFY(!window.findChild<QWidget*>("Label_histr_oncross"));

        // Series, rows and the range through the station's controls.
        panel.rebuildSeries(3, false);
        panel.buildRows({"TT101", "PT202", "FT303"});
        QCOMPARE(panel.rowCount(), 3);
        QCOMPARE(panel.rowSwatch(2)->color(), QColor(255, 255, 0));
        window.findChild<QLineEdit*>("ME_real_down")->setText("-50");
        window.findChild<QLineEdit*>("ME_real_up")->setText("50");
        window.findChild<QPushButton*>("But_real_modarang")->click();
        QCOMPARE(panel.chart()->leftAxis()->minimum(), -50.0);
        QCOMPARE(panel.chart()->leftAxis()->maximum(), 50.0);
        window.findChild<QPushButton*>("But_real_zoomout")->click();
        QCOMPARE(panel.chart()->leftAxis()->minimum(), -35.0);
        QVERIFY(prompter.boxes().isEmpty());
    }

    // A curve's box and "全选" act on their state whichever way it changes: Space, a screen
    // reader's toggle action (no click), or code.
    void curveBoxesFollowTheirState_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("Space") << 0;
        QTest::newRow("toggle action") << 1;
        QTest::newRow("setChecked") << 2;
    }
    void curveBoxesFollowTheirState() {
        QFETCH(int, way);
        tamlo::test::ScriptedPrompter prompter;
        QWidget window;
        HistoryChartPanel panel(prompter, {}, {}, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        panel.rebuildSeries(3, false);
        panel.buildRows({"A", "B", "C"});
        panel.allCheckBox()->setEnabled(true);
        const auto toggle = [way](QCheckBox* box) {
            if (way == 0) {
                box->setFocus();
                QTest::keyClick(box, Qt::Key_Space);
            } else if (way == 1) {
                QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(
                    QAccessibleActionInterface::toggleAction());
            } else {
                box->setChecked(!box->isChecked());
            }
        };
        const auto shown = [&] {
            QString s;
            for (int i = 0; i < 3; ++i) s += panel.chart()->series(i)->isVisible() ? '1' : '0';
            return s;
        };
        toggle(panel.rowCheckBox(1));
        QCOMPARE(shown(), QString("101"));
        toggle(panel.allCheckBox());
        QCOMPARE(shown(), QString("000"));
        toggle(panel.allCheckBox());
        QCOMPARE(shown(), QString("111"));
        QVERIFY(panel.rowCheckBox(1)->isChecked());
    }

    // Without a window shown through a source (the station), the value boxes show the curves'
    // values: -30000 is a value like any other. The same cross-hair point rule as the history
    // windows.
    void readoutWithoutNoDataText() {
        tamlo::test::ScriptedPrompter prompter;
        QWidget window;
        window.resize(900, 600);
        HistoryChartPanel panel(prompter, {}, {}, &window);
        panel.chartSide()->setParent(&window);
        panel.chartSide()->setGeometry(201, 0, 699, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        panel.rebuildSeries(2, false);
        panel.buildRows({"A", "B"});
        for (int j = 0; j < 100; ++j) {
            panel.chart()->series(0)->addXY(j, j == 50 ? -30000 : j);
            panel.chart()->series(1)->addXY(j, 123456.0 + j);
        }
        panel.setWindowCount(100);
        panel.setBusy(false);
        QCoreApplication::processEvents();
        const int x = panel.chart()->bottomAxis()->pixelOf(50.2);
        const int y = panel.chart()->plotRect().center().y();
        panel.Chart2MouseMove(x, y);
        QCOMPARE(panel.rowValueBox(0)->text(), QString("-30000"));
        QCOMPARE(panel.rowValueBox(1)->text(), QString("1.2351E+005"));
    }
};

QTEST_MAIN(TestHistoryChartPanel)
#include "tst_historychartpanel.moc"
