// Every window and dialog of the three programs, with files, devices and times in them, shows
// each of its texts whole in the fonts the package installs.
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "analysis/tform1.h"
#include "shared/historychartpanel.h"
#include "station/alarmdialogs.h"
#include "station/alarmdisplay.h"
#include "station/alarmpage.h"
#include "station/tform1.h"
#include "tests/analysis/datfile.h"
#include "tests/station/stationfixture.h"
#include "tests/viewer/nvbytes.h"
#include "textfit.h"
#include "viewer/tform1.h"

using namespace tamlo;

namespace {

// The texts the modal dialog that `open` runs cuts; the dialog is closed again.
QStringList clippedInDialog(const std::function<void()>& open) {
    QStringList found{QStringLiteral("no dialog opened")};
    QTimer::singleShot(0, [&found] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            found = test::clippedTexts(dialog);
            dialog->close();
        }
    });
    open();
    return found;
}

// A fault names its control and text; all of a program's faults are shown at once.
#define VERIFY_WHOLE(clipped)                                                          \
    do {                                                                               \
        const QStringList faults = (clipped);                                          \
        QVERIFY2(faults.isEmpty(), qPrintable(QLatin1Char('\n') + faults.join('\n'))); \
    } while (false)

void printPreview(HistoryChartPanel* panel) {
    for (QPushButton* b : panel->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("打印预览......")) {
            b->click();
        }
    }
}

// A history program's window with the file open, its export dialog and its print preview.
template <class Form>
QStringList clippedInHistoryProgram(const QString& path,
                                    const std::function<void(Form&)>& more = {}) {
    test::ScriptedPrompter prompter;
    test::FakeClock clock;
    Form form(prompter, clock);
    form.openFile(path);
    QStringList all = test::clippedTexts(&form);
    all << clippedInDialog([&] { form.Button_expro_histrClick(); });
    all << clippedInDialog([&] { printPreview(form.panel()); });
    if (more) {
        all << clippedInDialog([&] { more(form); });
    }
    return all;
}

}  // namespace

class WindowTextsTest : public QObject {
    Q_OBJECT
private slots:
    void station() {
        test::StationFixture s;
        const QList<test::MeterLine> meters{{1, 0, 0, QStringLiteral("const:12345"), 1,
                                             QStringLiteral("TEMP0001")},
                                            {2, 0, 0, QStringLiteral("const:-1234"), 3,
                                             QStringLiteral("PT202")}};
        s.writeConfig(meters, 1);
        // Alarms on, both meters in alarm: the page "报警" and the dialogs of "系统".
        QFile ini(s.path(QStringLiteral("alarms.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[meter 1.0]\nhigh = 1000\n[meter 2.0]\nlow = 0\n");
        ini.close();
        QVERIFY(s.startSimulator(meters));
        station::TForm1& form = s.start();
        QStringList all;
        QTRY_VERIFY(form.StringGrid1->cell(5, 2) == QStringLiteral("......"));
        form.Timer2Timer();  // the clock, the tiles' values
        all << test::clippedTexts(&form);
        form.N4Click();  // the login panel
        all << test::clippedTexts(&form);
        form.Edit1->setText(QStringLiteral("583174"));
        form.Button7Click();
        form.N2Click();  // the password panel
        all << test::clippedTexts(&form);
        form.PageControl1->setCurrentWidget(form.alarmDisplay().pageSheet());
        QTRY_VERIFY(form.alarmDisplay().page()->alarmGrid()->rowCount() == 3);
        all << test::clippedTexts(&form);
        form.PageControl1->setCurrentIndex(0);
        form.N8Click();
        all << test::clippedTexts(form.alarmDisplay().settingsForm());
        form.N9Click();
        all << test::clippedTexts(form.alarmDisplay().commStatsForm());
        form.N7Click();
        QWidget* about = form.findChild<QDialog*>(QStringLiteral("AboutBox"));
        all << test::clippedTexts(about);
        VERIFY_WHOLE(all);
    }

    void viewer() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("08日15时32分07秒.nv"));
        nvbytes::write(path, nvbytes::header(nvbytes::kPagesStart, 10, 3,
                                             {"TEMP0001", "PT202", "FLOW-003"}) +
                                 nvbytes::records(0, 500, 3, nvbytes::countingValue));
        VERIFY_WHOLE(clippedInHistoryProgram<viewer::TForm1>(path));
    }

    void analysis() {
        QTemporaryDir dir;
        analysis::test::DatFile dat;
        dat.channels = 3;
        dat.names = {"TEMP0001", "PT202", "FLOW-003"};
        dat.decimals = {1, 3, 0};
        for (int k = 0; k < 300; ++k) {
            dat.records.push_back({std::int16_t(k), std::int16_t(-k), std::int16_t(30000 - k)});
        }
        const QString path = dir.filePath(QStringLiteral("recorder.dat"));
        QVERIFY(dat.write(path));
        VERIFY_WHOLE(clippedInHistoryProgram<analysis::TForm1>(
            path, [](analysis::TForm1& form) { form.N3Click(); }));  // and the upload dialog
    }
};

QTEST_MAIN(WindowTextsTest)
#include "tst_windowtexts.moc"
