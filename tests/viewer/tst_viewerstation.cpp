// A file that tamlo_pro records from tamlo_meter_sim, opened by the viewer while the station is
// still appending to it: the curves and the export show the simulator's values at their times.
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QTest>

#include "../station/stationfixture.h"
#include "chart/tchart.h"
#include "shared/historychartpanel.h"
#include "shared/stationhistory.h"
#include "viewer/tform1.h"
#include "viewer/tform2.h"
#include "viewer/viewerexport.h"

using namespace tamlo;
using namespace tamlo::test;

class ViewerStation : public QObject {
    Q_OBJECT
private slots:
    void recordedFileShowsTheSimulatorsValues() {
        const QList<MeterLine> meters = {
            {1, station::TM210, 0, QStringLiteral("const:1234"), 1, QStringLiteral("TT101")},
            {2, station::TM250, 2, QStringLiteral("const:-200"), 2, QStringLiteral("PT202")}};
        StationFixture station;
        station.writeConfig(meters, 1);
        QVERIFY(station.startSimulator(meters));
        station::TForm1& pro = station.start();
        const QString file = pro.history().path();
        const auto records = [&] { return (QFileInfo(file).size() - 1176) / 8; };
        QTRY_VERIFY_WITH_TIMEOUT(records() >= 3, 10000);
        QCOMPARE(station.sim->command(QStringLiteral("set 1 0 const:777")), QStringLiteral("ok"));
        const qint64 before = records();
        QTRY_VERIFY_WITH_TIMEOUT(records() >= before + 3, 10000);

        ScriptedPrompter prompter;
        FakeClock clock;
        viewer::TForm1 view(prompter, clock);
        view.show();
        prompter.queueOpenFile(file);
        view.but_open_histr_dataClick();
        QVERIFY(prompter.boxes().isEmpty());
        chart::TChart* chart = view.panel()->chart();
        QCOMPARE(view.panel()->rowCheckBox(1)->text(), QStringLiteral("PT202"));
        const int n = chart->series(0)->count();
        QVERIFY(n >= before + 3);
        // Record k is labelled with the station's start (the fake clock's 10:45:18) plus k
        // seconds; channel 0 reads 123.4 until the simulator changed, then 77.7 to the end.
        int changedAt = -1;
        for (int k = 0; k < n; ++k) {
            QCOMPARE(chart->series(0)->label(k),
                     QStringLiteral("12-07 ") + QTime(10, 45, 18).addSecs(k).toString("hh:mm:ss"));
            QCOMPARE(chart->series(1)->yValue(k), double(-200.0f / 100.0f));
            const double v = chart->series(0)->yValue(k);
            if (changedAt < 0 && v != double(1234.0f / 10.0f)) {
                changedAt = k;
            }
            QCOMPARE(v, double(changedAt < 0 ? 1234.0f / 10.0f : 777.0f / 10.0f));
        }
        QVERIFY(changedAt >= 3);

        // The export of the page's first three records, while the station goes on writing.
        const viewer::ViewerPageState& s = view.pages().state();
        viewer::StationExportJob job(s.fileName, s.fileStart, s.fileEnd, s.header.intervalSeconds);
        const QString out = station.path(QStringLiteral("out.xls"));
        prompter.queueSaveFile(out);
        viewer::TForm2 dialog(prompter, job);
        const QDateTime last(QDate(2026, 12, 7), QTime(10, 45, 20));
        dialog.findChild<QDateTimeEdit*>(QStringLiteral("DateTimePicker_histr_enddate"))
            ->setDateTime(last);
        dialog.findChild<QDateTimeEdit*>(QStringLiteral("DateTimePicker_histr_endtime"))
            ->setDateTime(last);
        dialog.Button1Click();
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("数据导出完成！")});
        QCOMPARE(station.readFile(out), QByteArray("\xca\xb1\xbc\xe4\tTT101\tPT202\t\r\n"
                                                   "26-12-07 10:45:18\t123.4\t-2\t\r\n"
                                                   "26-12-07 10:45:19\t123.4\t-2\t\r\n"
                                                   "26-12-07 10:45:20\t123.4\t-2\t\r\n"));
    }
};

QTEST_MAIN(ViewerStation)
#include "tst_viewerstation.moc"
