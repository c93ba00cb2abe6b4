// Alarms in the station's window on in-process meters: the page "报警" and its acknowledgement,
// the shades of the data grid and the tiles, the bell, the start-up refusal and the two
// dialogs of the menu "系统". The alarm rules themselves are the session's.
#include <QCheckBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include "station/alarmdialogs.h"
#include "station/alarmdisplay.h"
#include "station/alarmpage.h"
#include "station/alarmtexts.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

void writeText(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// Two meters: T0 at 500 over its high limit of 400, T1 at 100 inside its limits.
TForm1& startWithTwoMeters(StationFixture& station, const QByteArray& alarmsIni,
                           int recordInterval = 60) {
    station.writeConfig(
        {{1, TM210, 0, {}, 0, QStringLiteral("T0")}, {2, TM210, 0, {}, 0, QStringLiteral("T1")}},
        recordInterval);
    if (!alarmsIni.isNull()) {
        writeText(station.path(QStringLiteral("alarms.ini")), alarmsIni);
    }
    station.meters.meters[1] = {500, 0, false};
    station.meters.meters[2] = {100, 0, false};
    return station.startScripted();
}

// Each meter polled once, and the page written.
void pollAll(TForm1& form) {
    for (int i = 0; i < form.activeTable().count; ++i) {
        form.Timer1Timer();
    }
    QCoreApplication::processEvents();
}

QColor cellColor(StringGrid* grid, int column, int row, Qt::ItemDataRole role) {
    return grid->gridModel()->data(grid->gridModel()->index(row, column), role).value<QColor>();
}

QStringList rowTexts(StringGrid* grid, int row) {
    QStringList texts;
    for (int c = 0; c < grid->columnCount(); ++c) {
        texts << grid->cell(c, row);
    }
    return texts;
}

const QByteArray kTwoLimits = "[meter 1.0]\nhigh=400\n[meter 2.0]\nlow=200\n";

}  // namespace

class StationAlarms : public QObject {
    Q_OBJECT
private slots:
    void pageListsAlarmsAndAcknowledges() {
        StationFixture station;
        TForm1& form = startWithTwoMeters(station, kTwoLimits);
        AlarmDisplay& display = form.alarmDisplay();
        QVERIFY(display.page());
        QCOMPARE(form.PageControl1->count(), 5);
        QCOMPARE(form.PageControl1->tabText(4), QStringLiteral("报警"));
        QCOMPARE(display.pageSheet()->objectName(), QStringLiteral("TabSheetAlarms"));
        QCOMPARE(form.statusPanelText(2), QStringLiteral("报警：0"));

        pollAll(form);
        StringGrid* alarms = display.page()->alarmGrid();
        QCOMPARE(alarms->rowCount(), 3);
        const QString raised = QStringLiteral("2026-12-07 10:45:18");
        QCOMPARE(rowTexts(alarms, 1),
                 (QStringList{raised, "1", "T0", "高限", "500", "400", "未确认"}));
        QCOMPARE(rowTexts(alarms, 2),
                 (QStringList{raised, "2", "T1", "低限", "100", "200", "未确认"}));
        StringGrid* events = display.page()->eventGrid();
        QCOMPARE(events->rowCount(), 3);
        QCOMPARE(rowTexts(events, 1).mid(1, 4), (QStringList{"2", "T1", "报警", "低限"}));
        QCOMPARE(form.statusPanelText(2), QStringLiteral("报警：2"));

        // Unacknowledged: the tile's red digits turn amber, the data grid's tag is red.
        const QColor red(255, 0, 0);
        const auto digits = [&form](int device) {
            return form.overviewPage().valueLabel(device)->palette().color(QPalette::WindowText);
        };
        QCOMPARE(digits(0), QColor(255, 200, 0));
        QCOMPARE(cellColor(form.StringGrid2, 1, 0, Qt::ForegroundRole), red);
        form.Timer2Timer();
        const int row = form.recordCycle().gridRow();
        QCOMPARE(cellColor(form.StringGrid2, 1, row, Qt::ForegroundRole), red);
        QCOMPARE(cellColor(form.StringGrid2, 2, row, Qt::ForegroundRole), red);
        QVERIFY(!cellColor(form.StringGrid2, 1, row, Qt::BackgroundRole).isValid());

        // "确认" with the second row selected acknowledges that alarm alone.
        alarms->selectCell(0, 2);
        display.page()->ackButton()->click();
        QCoreApplication::processEvents();
        QCOMPARE(alarms->cell(6, 1), QStringLiteral("未确认"));
        QCOMPARE(alarms->cell(6, 2), QStringLiteral("已确认"));
        QCOMPARE(events->cell(3, 1), QStringLiteral("确认"));
        QCOMPARE(form.statusPanelText(2), QStringLiteral("报警：1"));
        QCOMPARE(digits(1), red);

        // With nothing selected it acknowledges all: the shades go.
        alarms->clearSelection();
        display.page()->ackButton()->click();
        QCoreApplication::processEvents();
        QCOMPARE(alarms->cell(6, 1), QStringLiteral("已确认"));
        QCOMPARE(form.statusPanelText(2), QStringLiteral("报警：0"));
        QCOMPARE(digits(0), red);
        QVERIFY(cellColor(form.StringGrid2, 1, 0, Qt::ForegroundRole) != red);
        QVERIFY(!cellColor(form.StringGrid2, 1, row, Qt::ForegroundRole).isValid());
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void linkAlarmFillsTheTileRed() {
        StationFixture station;
        TForm1& form = startWithTwoMeters(station, "[meter 2.0]\nlink=true\n", 1);
        station.meters.meters[2].silent = true;
        for (int turn = 0; turn < 4; ++turn) {
            pollAll(form);
        }
        // The shade follows the row of this second; the rows left behind are plain.
        const int first = form.recordCycle().gridRow();
        form.Timer2Timer();
        const int second = form.recordCycle().gridRow();
        QCOMPARE(second, first + 1);
        form.Timer2Timer();
        const QColor red(255, 0, 0);
        QVERIFY(!cellColor(form.StringGrid2, 2, first, Qt::BackgroundRole).isValid());
        QCOMPARE(cellColor(form.StringGrid2, 2, second, Qt::BackgroundRole), red);
        QCOMPARE(cellColor(form.StringGrid2, 2, second, Qt::ForegroundRole), QColor(Qt::white));
        QCOMPARE(form.alarmDisplay().page()->alarmGrid()->cell(3, 1), QStringLiteral("通讯中断"));
        QLabel* value = form.overviewPage().valueLabel(1);
        QVERIFY(value->autoFillBackground());
        QCOMPARE(value->palette().color(QPalette::Window), red);
        QCOMPARE(value->palette().color(QPalette::WindowText), QColor(Qt::white));
        QVERIFY(!form.overviewPage().valueLabel(0)->autoFillBackground());
    }

    void alarmLogTroubleShowsInTheFirstPanel() {
        StationFixture station;
        // A file where the log's folder belongs: the log cannot be written.
        writeText(station.path(QStringLiteral("alarms")), "x");
        TForm1& form = startWithTwoMeters(station, kTwoLimits);
        const QString fileText = form.statusPanelText(0);
        QVERIFY(fileText.startsWith(QStringLiteral("当前文件：")));
        pollAll(form);
        QVERIFY(!station.session->alarmLogProblem().isEmpty());
        QCOMPARE(form.statusPanelText(0), station.session->alarmLogProblem());
        QVERIFY(QFile::remove(station.path(QStringLiteral("alarms"))));
        form.Timer2Timer();
        QCOMPARE(form.statusPanelText(0), fileText);
    }

    void bellRingsEachSecondWhileAnAlarmWaits() {
        for (const bool sound : {true, false}) {
            StationFixture station;
            TForm1& form = startWithTwoMeters(station, QByteArray("[alarms]\nsound=") +
                                                           (sound ? "true" : "false") +
                                                           "\n[meter 1.0]\nhigh=400\n");
            int rings = 0;
            form.alarmDisplay().setBell([&rings] { ++rings; });
            form.Timer2Timer();
            QCOMPARE(rings, 0);
            pollAll(form);
            form.Timer2Timer();
            form.Timer2Timer();
            QCOMPARE(rings, sound ? 2 : 0);
            form.alarmDisplay().page()->ackButton()->click();
            form.Timer2Timer();
            QCOMPARE(rings, sound ? 2 : 0);
        }
    }

    void unusableFileIsSaidOnceAndTheStationRunsWithout() {
        StationFixture station;
        TForm1& form = startWithTwoMeters(station, "[meter 1.0]\nhihg=400\n");
        QCOMPARE(station.prompter.boxes().size(), 1);
        QCOMPARE(station.prompter.boxes()[0].caption, QStringLiteral("NorvikDCS"));
        QVERIFY(station.prompter.boxes()[0].text.contains(QStringLiteral("hihg")));
        QCOMPARE(form.PageControl1->count(), 4);
        QVERIFY(!form.alarmDisplay().page());
        QCOMPARE(form.statusPanelText(2), QString());

        // Its settings stay read-only even in setup mode: a save would lose what it holds.
        form.N4->trigger();
        form.Edit1->setText(QStringLiteral("583174"));
        form.Button7->click();
        form.N8->trigger();
        QVERIFY(!form.alarmDisplay().settingsForm()->isEditable());
    }

    void settingsAreSavedInSetupModeOnly() {
        StationFixture station;
        TForm1& form = startWithTwoMeters(station, kTwoLimits);
        form.N8->trigger();
        TFormAlarmSettings* dialog = form.alarmDisplay().settingsForm();
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QTableWidget* grid = dialog->AlarmSettingsGrid;
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->item(0, 1)->text(), QStringLiteral("T0"));
        QCOMPARE(grid->item(0, 4)->text(), QStringLiteral("400"));
        QCOMPARE(grid->item(1, 5)->text(), QStringLiteral("200"));
        QVERIFY(!dialog->isEditable());
        QVERIFY(!dialog->ButtonSave->isEnabled());

        form.N4->trigger();
        form.Edit1->setText(QStringLiteral("583174"));
        form.Button7->click();
        QVERIFY(dialog->isEditable());
        const QByteArray before = station.readFile(station.path(QStringLiteral("alarms.ini")));

        // A value that is not a number is said, and nothing is saved.
        grid->item(0, 4)->setText(QStringLiteral("4OO"));
        dialog->ButtonSave->click();
        QCOMPARE(station.prompter.texts(),
                 QStringList{QStringLiteral("第 1 行（T0）高限：不是数字（4OO）")});
        QCOMPARE(station.readFile(station.path(QStringLiteral("alarms.ini"))), before);

        grid->item(0, 4)->setText(QStringLiteral("450"));
        dialog->CheckBoxSound->setChecked(false);
        dialog->ButtonSave->click();
        QCOMPARE(station.prompter.boxes().size(), 1);
        const AlarmSettingsLoad saved =
            loadAlarmSettings(station.path(QStringLiteral("alarms.ini")));
        QCOMPARE(saved.outcome, AlarmSettingsLoad::Outcome::Loaded);
        QVERIFY(!saved.settings.sound);
        QCOMPARE(saved.settings.find(1, 0)->high, 450.0);

        // Locked again: read-only.
        form.N5->trigger();
        QVERIFY(!dialog->ButtonSave->isEnabled());
    }

    void theMenuEntriesComeWithTheFile() {
        {
            StationFixture station;
            TForm1& form = startWithTwoMeters(station, {});
            QCOMPARE(form.PageControl1->count(), 4);
            QVERIFY(!form.N8->isVisible());
            QVERIFY(!form.N9->isVisible());
            QVERIFY(!form.N8Separator->isVisible());
        }
        // An empty file turns alarms on, so that "报警设置" can fill it.
        StationFixture station;
        TForm1& form = startWithTwoMeters(station, QByteArray(""));
        QVERIFY(form.N8->isVisible());
        QVERIFY(form.N9->isVisible());
        QCOMPARE(form.PageControl1->count(), 5);
    }

    void rowsToSettings() {
        AlarmSettings before;
        before.meters[{9, 0}].high = 1;  // a meter not in the table keeps its section
        before.meters[{2, 0}].high = 5;
        QList<AlarmSettingsRow> rows(2);
        rows[0].address = 1;
        rows[0].tag = QStringLiteral("A");
        rows[0].low = QStringLiteral(" 2.5 ");
        rows[1].address = 2;  // everything cleared: its section goes
        AlarmSettings out;
        QString error;
        QVERIFY(alarmSettingsFromRows(rows, true, before, &out, &error));
        QCOMPARE(out.meters.size(), std::size_t(2));
        QCOMPARE(out.find(1, 0)->low, 2.5);
        QVERIFY(!out.find(1, 0)->link);
        QVERIFY(std::isnan(out.find(1, 0)->high));
        QVERIFY(out.find(9, 0));

        const struct {
            int column;
            QString text;
            QString error;
        } refusals[] = {
            {0, QStringLiteral("1"), QStringLiteral("第 1 行（A）低限：高于高限")},
            {2, QStringLiteral("3"), QStringLiteral("第 1 行（A）低低限：高于低限")},
            {3, QStringLiteral("-1"), QStringLiteral("第 1 行（A）死区：不能为负")},
            {4, QStringLiteral("1.5"),
             QStringLiteral("第 1 行（A）延时：不是 0 到 86400 的整秒数（1.5）")},
        };
        for (const auto& r : refusals) {
            QList<AlarmSettingsRow> bad = rows;
            QString* fields[] = {&bad[0].high, &bad[0].low, &bad[0].lowLow, &bad[0].deadband,
                                 &bad[0].delay};
            *fields[r.column] = r.text;
            QVERIFY(!alarmSettingsFromRows(bad, true, before, &out, &error));
            QCOMPARE(error, r.error);
        }
    }

    void commStatsRefreshAndReset() {
        StationFixture station;
        TForm1& form = startWithTwoMeters(station, {});
        form.N9->trigger();
        TFormCommStats* dialog = form.alarmDisplay().commStatsForm();
        QVERIFY(dialog->isVisible());
        StringGrid* grid = dialog->CommStatsGrid;
        QCOMPARE(grid->rowCount(), 3);
        QCOMPARE(grid->cell(1, 2), QStringLiteral("T1"));
        pollAll(form);
        pollAll(form);
        form.Timer2Timer();
        QCOMPARE(grid->cell(4, 1), QStringLiteral("2"));  // requests
        QCOMPARE(grid->cell(5, 1), QStringLiteral("2"));  // answers
        QCOMPARE(grid->cell(10, 1), QStringLiteral("100.0%"));
        dialog->ButtonReset->click();
        QCOMPARE(grid->cell(4, 1), QStringLiteral("0"));
        QCOMPARE(grid->cell(10, 1), QString());
    }
};

QTEST_MAIN(StationAlarms)
#include "tst_stationalarms.moc"
