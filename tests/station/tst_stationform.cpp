// The station's window on in-process meters and the fake clock: first start, the port message,
// setup mode and password, and the device table as the operator edits it. The rules behind the
// controls are the session's (tst_stationsession); here, that each control reaches it.
#include <QDirIterator>
#include <QInputMethodEvent>
#include <QTest>

#include "station/taboutbox.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

// A click with the mouse on the row's second cell.
void clickRow(StringGrid* grid, int row) {
    const QRect cell = grid->visualRect(grid->gridModel()->index(row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

void logIn(TForm1& form, const QString& password) {
    form.N4->trigger();
    form.Edit1->setText(password);
    form.Button7->click();
}

void fillEdits(TForm1& form, int model, const QString& address, const QString& tag,
               const QString& channel, int unit = 0) {
    form.ComboBox1->setCurrentIndex(model);
    form.MaskEdit1->setText(address);
    form.MaskEdit2->setText(tag);
    form.MaskEdit3->setText(channel);
    form.unit_combobox->setCurrentIndex(unit);
}

// Text as an input method delivers it (Chinese is typed that way): the field's validator decides.
void typeText(QLineEdit* edit, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(edit, &event);
}

QStringList historyFiles(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, {QStringLiteral("*.nv")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << QDir(dir).relativeFilePath(it.next());
    }
    files.sort();
    return files;
}

}  // namespace

class StationForm : public QObject {
    Q_OBJECT
private slots:
    void firstStartInAnEmptyDirectory() {
        StationFixture station;
        TForm1& form = station.startScripted();
        QCOMPARE(form.windowTitle(), QStringLiteral("NorvikDCS"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.size(), QSize(776, 578));
        QCOMPARE(form.PageControl1->count(), 4);
        QCOMPARE(form.PageControl1->currentIndex(), 0);

        QByteArray expected(1344, '\0');
        expected.replace(5, 6, "583174");
        QCOMPARE(station.readFile(station.path(QStringLiteral("config.dat"))), expected);
        QVERIFY(QFileInfo(station.path(QStringLiteral("para"))).isDir());

        // The fake clock reads 7 December 2026, 10:45:18.
        QCOMPARE(historyFiles(station.dir.path()), QStringList{QStringLiteral("26年12月/07日10时45分18秒.nv")});
        const QString file = station.path(QStringLiteral("26年12月/07日10时45分18秒.nv"));
        StationHistoryReader reader;
        QVERIFY(!reader.open(file));  // no channels: nothing to read
        const QByteArray bytes = station.readFile(file);
        QCOMPARE(bytes.size(), 1176);
        const StationHistoryHeader header = decodeHistoryHeader(bytes);
        QCOMPARE(header.startTime, oleDateFromParts(2026, 12, 7, 10, 45, 18));
        QCOMPARE(header.intervalSeconds, 0u);
        QCOMPARE(header.channelCount, 0u);
        QCOMPARE(form.statusPanelText(0),
                 QStringLiteral("当前文件：") + QDir::toNativeSeparators(file));

        QCOMPARE(form.StringGrid1->rowCount(), 2);
        QCOMPARE(form.StringGrid1->cell(0, 0), QStringLiteral("  序号"));
        QCOMPARE(form.StringGrid1->cell(5, 0), QStringLiteral("  通讯状态"));
        QCOMPARE(form.StringGrid1->cell(6, 0), QStringLiteral("  单位"));
        for (int c = 0; c < 9; ++c) {
            QVERIFY(form.StringGrid1->cell(c, 1).isEmpty());
        }
        QCOMPARE(form.StringGrid2->cell(0, 0), QStringLiteral("时间"));
        QCOMPARE(form.ComboBox3->currentText(), QStringLiteral("9600"));
        QVERIFY(!form.Button4->isEnabled());
        QVERIFY(!form.rec_time->isEnabled());
        QVERIFY(form.N4->isEnabled());
        QVERIFY(!form.N3->isEnabled());
        QVERIFY(station.session->line().isOpen());
        QVERIFY2(station.prompter.boxes().isEmpty(), qPrintable(station.prompter.texts().join('|')));

        // The about box opens without blocking the window and closes with its one button.
        form.N7->trigger();
        QVERIFY(form.aboutBox()->isVisible());
        QVERIFY(!form.aboutBox()->isModal());
        form.aboutBox()->findChild<QPushButton*>()->click();
        QVERIFY(!form.aboutBox()->isVisible());

        // The clock shows year, day, month.
        form.Timer2Timer();
        QCOMPARE(form.Label_real_time->text(), QStringLiteral("时间：26-07-12 10:45:18    "));
        QCOMPARE(form.statusPanelText(1), form.Label_real_time->text());
    }

    void historyFilesWithinOneSecondAndAtTheMonthsTurn() {
        StationFixture station;
        station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("A")}}, 0);
        station.clock.set(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)));
        const QString name = QStringLiteral("26年12月/31日23时59分59秒.nv");
        station.startScripted();
        QCOMPARE(historyFiles(station.dir.path()), QStringList{name});

        // A second start in the same second rewrites that file with its own header.
        station.form.reset();
        station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("B")}}, 0);
        station.startScripted();
        QCOMPARE(historyFiles(station.dir.path()), QStringList{name});
        QByteArray bytes = station.readFile(station.path(name));
        QCOMPARE(bytes.size(), 1176);
        QCOMPARE(bytes.mid(20, 9), QByteArray("B\0\0\0\0\0\0\0\0", 9));

        // One that already holds records is kept, and the new file takes the next second.
        station.form.reset();
        {
            QFile file(station.path(name));
            QVERIFY(file.open(QIODevice::Append));
            file.write(QByteArray(4, '\x01'));
        }
        bytes = station.readFile(station.path(name));
        TForm1& form = station.startScripted();
        QCOMPARE(station.readFile(station.path(name)), bytes);
        QCOMPARE(form.history().path(),
                 station.path(QStringLiteral("27年01月/01日00时00分00秒.nv")));

        // A start in a new month makes its month folder; the old month's files stay.
        station.form.reset();
        station.clock.set(QDateTime(QDate(2027, 1, 1), QTime(0, 0, 5)));
        station.startScripted();
        QCOMPARE(historyFiles(station.dir.path()),
                 (QStringList{name, QStringLiteral("27年01月/01日00时00分00秒.nv"),
                              QStringLiteral("27年01月/01日00时00分05秒.nv")}));
    }

    void missingPortIsReportedOnceAndStartUpCompletes() {
        StationFixture station;
        station.meters.openResult = PortOpenResult::OpenFailed;
        station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("A")}}, 0);
        TForm1& form = station.startScripted();
        QCOMPARE(station.prompter.boxes().size(), 1);
        QCOMPARE(station.prompter.boxes()[0].text, QStringLiteral("串口打开失败！"));
        QCOMPARE(station.prompter.boxes()[0].caption, QStringLiteral("oh"));
        QVERIFY(!historyFiles(station.dir.path()).isEmpty());
        // The device fails its turn; the silent reopening shows nothing more.
        for (int tick = 0; tick < 6; ++tick) {
            form.Timer1Timer();
        }
        QCOMPARE(form.StringGrid1->cell(5, 1), QStringLiteral("失败！"));
        QCOMPARE(station.prompter.boxes().size(), 1);
    }

    void setupModePassword() {
        StationFixture station;
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174 "));
        QVERIFY(form.Panel2->isVisibleTo(&form));
        QCOMPARE(form.Label13->text(), QStringLiteral("错误!"));
        QVERIFY(form.Edit1->text().isEmpty());
        QVERIFY(!form.N4->isEnabled());
        QVERIFY(!form.N3->isEnabled());

        form.Edit1->setText(QStringLiteral("583174"));
        form.Button7->click();
        QVERIFY(!form.Panel2->isVisibleTo(&form));
        for (QAction* item : {form.N4, form.N2, form.N3, form.N5}) {
            QVERIFY(item->isEnabled());
        }

        form.N2->trigger();
        QVERIFY(form.Panel3->isVisibleTo(&form));
        form.Edit2->setText(QStringLiteral("abcdefgh"));
        form.Edit3->setText(QStringLiteral("abcdefgX"));
        form.Button9->click();
        QCOMPARE(form.Label12->text(), QStringLiteral("错误!"));
        QVERIFY(form.Edit2->text().isEmpty());
        form.Edit2->setText(QStringLiteral("abcdefgh"));
        form.Edit3->setText(QStringLiteral("abcdefgh"));
        form.Button9->click();
        QVERIFY(!form.Panel3->isVisibleTo(&form));
        const QByteArray config = station.readFile(station.path(QStringLiteral("config.dat")));
        QCOMPARE(config.mid(5, 8), QByteArray("abcdefgh"));
        QCOMPARE(config.at(13), '\0');

        // Cancelling a later log-in locks the setup items again.
        form.N4->trigger();
        form.Button8->click();
        QVERIFY(form.N4->isEnabled());
        QVERIFY(!form.N2->isEnabled());
        QVERIFY(!form.N3->isEnabled());
        QVERIFY(!form.N5->isEnabled());

        // The next start accepts the new password and refuses the old one.
        station.form.reset();
        TForm1& again = station.startScripted();
        logIn(again, QStringLiteral("583174"));
        QCOMPARE(again.Label13->text(), QStringLiteral("错误!"));
        again.Edit1->setText(QStringLiteral("abcdefgh"));
        again.Button7->click();
        QVERIFY(again.N3->isEnabled());
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void thePasswordPanelActsOnlyWhileUnlocked() {
        StationFixture station;
        TForm1& form = station.startScripted();
        const QByteArray before = station.readFile(station.path(QStringLiteral("config.dat")));
        // Leaving setup closes a password panel opened while unlocked; its OK then does nothing.
        logIn(form, QStringLiteral("583174"));
        form.N2->trigger();
        QVERIFY(form.Panel3->isVisibleTo(&form));
        form.N5->trigger();
        QVERIFY(!form.Panel3->isVisibleTo(&form));
        form.Edit2->setText(QStringLiteral("1"));
        form.Edit3->setText(QStringLiteral("1"));
        form.Button9->click();
        // Cancelling a log-in closes it as well.
        logIn(form, QStringLiteral("583174"));
        form.N2->trigger();
        form.N4->trigger();
        form.Button8->click();
        QVERIFY(!form.Panel3->isVisibleTo(&form));
        form.Edit2->setText(QStringLiteral("2"));
        form.Edit3->setText(QStringLiteral("2"));
        form.Button9->click();
        QCOMPARE(station.readFile(station.path(QStringLiteral("config.dat"))), before);
        logIn(form, QStringLiteral("583174"));
        QVERIFY(form.N3->isEnabled());
    }

    void aChinesePasswordHoldsThroughARestart() {
        StationFixture station;
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174"));
        form.N2->trigger();
        // Each field takes what 8 GBK bytes hold: four Chinese characters, no fifth.
        for (QLineEdit* edit : {form.Edit2, form.Edit3}) {
            typeText(edit, QStringLiteral("中文密码"));
            typeText(edit, QStringLiteral("五"));
            QCOMPARE(edit->text(), QStringLiteral("中文密码"));
            QCOMPARE(edit->displayText(), QStringLiteral("####"));
        }
        form.Button9->click();
        QVERIFY(!form.Panel3->isVisibleTo(&form));
        const QByteArray config = station.readFile(station.path(QStringLiteral("config.dat")));
        QCOMPARE(config.mid(5, 9), QByteArray("\xD6\xD0\xCE\xC4\xC3\xDC\xC2\xEB\0", 9));

        station.form.reset();
        TForm1& again = station.startScripted();
        again.N4->trigger();
        typeText(again.Edit1, QStringLiteral("中文密码五"));
        QVERIFY(again.Edit1->text().isEmpty());
        typeText(again.Edit1, QStringLiteral("中文密码"));
        QCOMPARE(again.Edit1->displayText(), QStringLiteral("####"));
        again.Button7->click();
        QCOMPARE(again.Label13->text(), QStringLiteral("      "));
        QVERIFY(again.N3->isEnabled());
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void aTagTakesWhatItsEightBytesHold() {
        StationFixture station;
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174"));
        form.N3->trigger();
        fillEdits(form, TM210, QStringLiteral("1"), QString(), QStringLiteral("0"));
        typeText(form.MaskEdit2, QStringLiteral("一二三四五六七八"));
        QVERIFY(form.MaskEdit2->text().isEmpty());
        typeText(form.MaskEdit2, QStringLiteral("一二三四"));
        typeText(form.MaskEdit2, QStringLiteral("五"));
        QCOMPARE(form.MaskEdit2->text(), QStringLiteral("一二三四"));
        form.Button1->click();
        QCOMPARE(form.StringGrid1->cell(3, 1), QStringLiteral("一二三四"));
        // A longer text put there by other means is refused with a message, not cut.
        form.MaskEdit2->setText(QStringLiteral("一二三四五"));
        form.Button2->click();
        QCOMPARE(station.prompter.take().size(), 1);
        QCOMPARE(form.StringGrid1->cell(3, 1), QStringLiteral("一二三四"));

        // The header row is never taken for a device: change and delete then act on the device.
        clickRow(form.StringGrid1, 1);
        form.StringGrid1->selectCell(0, 0);
        clickRow(form.StringGrid1, 0);
        QTest::keyClick(form.StringGrid1, Qt::Key_Up);
        QCOMPARE(form.StringGrid1->row(), 1);
        form.MaskEdit2->setText(QStringLiteral("NEW"));
        form.Button2->click();
        QCOMPARE(form.StringGrid1->cell(3, 1), QStringLiteral("NEW"));
        QCOMPARE(form.StringGrid1->cell(3, 0), QStringLiteral("  工位号"));
        form.Button3->click();
        QCOMPARE(form.editTable().count, 0);
        QCOMPARE(form.StringGrid1->cell(3, 0), QStringLiteral("  工位号"));
    }

    void configuringPausesPollingAndLeavingRestoresTheSavedSettings() {
        StationFixture station;
        station.writeConfig({{1, TM210, 0, {}, 0, QStringLiteral("A")}}, 1);
        station.meters.meters[1] = {5, 0};
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174"));
        form.N3->trigger();
        QVERIFY(form.Button4->isEnabled());
        QVERIFY(form.ComboBox3->isEnabled());
        QVERIFY(!form.Timer1->isActive());
        QVERIFY(!form.Timer2->isActive());
        const QString fileBefore = form.history().path();
        const int requestsBefore = station.meters.requests;
        form.ComboBox3->setCurrentIndex(6);
        form.rec_time->setText(QStringLiteral("77"));

        station.clock.advanceSeconds(5);
        form.N5->trigger();
        QCOMPARE(form.ComboBox3->currentText(), QStringLiteral("9600"));
        QCOMPARE(form.rec_time->text(), QStringLiteral("1"));
        QVERIFY(!form.ComboBox3->isEnabled());
        QVERIFY(form.Timer1->isActive());
        QVERIFY(form.Timer2->isActive());
        // Recording resumes in a new file, whose records stand at their own times.
        QVERIFY(form.history().path() != fileBefore);
        QCOMPARE(form.statusPanelText(0), QStringLiteral("当前文件：") +
                                              QDir::toNativeSeparators(station.path(
                                                  QStringLiteral("26年12月/07日10时45分23秒.nv"))));
        form.Timer1Timer();
        QVERIFY(station.meters.requests > requestsBefore);
    }

    void cancellingTheLogInWhileConfiguringLocksTheStationAgain() {
        StationFixture station;
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174"));
        form.N3->trigger();
        form.N4->trigger();
        form.Button8->click();
        QVERIFY(!form.Button4->isEnabled());
        QVERIFY(!form.Button1->isEnabled());
        QVERIFY(form.Timer1->isActive());
        QVERIFY(form.Timer2->isActive());
        QVERIFY(!form.isConfiguring());
    }

    void editingTheDeviceTable() {
        StationFixture station;
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174"));
        form.N3->trigger();

        fillEdits(form, TM250, QStringLiteral("300"), QStringLiteral("TI-10101"), QStringLiteral("99"), 3);
        form.Button1->click();
        QCOMPARE(form.editTable().count, 1);
        QCOMPARE(form.StringGrid1->rowCount(), 3);
        QCOMPARE(form.StringGrid1->cell(1, 1), QStringLiteral("TM250"));
        QCOMPARE(form.StringGrid1->cell(2, 1), QStringLiteral("44"));
        QCOMPARE(form.StringGrid1->cell(3, 1), QStringLiteral("TI-10101"));
        QCOMPARE(form.StringGrid1->cell(4, 1), QStringLiteral("99"));
        QCOMPARE(form.StringGrid1->cell(6, 1), QStringLiteral("KHz"));
        QCOMPARE(form.StringGrid1->row(), 1);

        // A bad number is shown in the error box and changes nothing.
        const QByteArray configBefore = station.readFile(station.path(QStringLiteral("config.dat")));
        fillEdits(form, TM210, QString(), QStringLiteral("B"), QStringLiteral("1"));
        form.Button1->click();
        QCOMPARE(form.editTable().count, 1);
        clickRow(form.StringGrid1, 1);
        form.MaskEdit3->setText(QString());
        form.ComboBox1->setCurrentIndex(TM610);
        form.Button2->click();
        QCOMPARE(form.editTable().entries[0].model, TM250);
        QCOMPARE(form.editTable().entries[0].channel, 99);
        form.rec_time->setText(QString());
        form.Button4->click();
        QCOMPARE(station.readFile(station.path(QStringLiteral("config.dat"))), configBefore);
        QCOMPARE(form.activeTable().count, 0);
        const QList<ScriptedPrompter::Box> errors = station.prompter.take();
        QCOMPARE(errors.size(), 3);
        for (const auto& box : errors) {
            QVERIFY(box.isError);
        }
        QVERIFY(errors[0].text.contains(QStringLiteral("“”")));

        // Five devices, delete the second, save: the stale fifth slot goes to the file as it is.
        clickRow(form.StringGrid1, 1);
        for (int i = 2; i <= 5; ++i) {
            fillEdits(form, TM210, QString::number(i), QStringLiteral("D%1").arg(i), QStringLiteral("0"));
            form.Button1->click();
        }
        QCOMPARE(form.editTable().count, 5);
        QCOMPARE(form.StringGrid1->rowCount(), 7);
        clickRow(form.StringGrid1, 2);
        QCOMPARE(form.MaskEdit2->text(), QStringLiteral("D2"));
        form.Button3->click();
        QCOMPARE(form.editTable().count, 4);
        QCOMPARE(form.StringGrid1->rowCount(), 6);
        QCOMPARE(form.StringGrid1->cell(3, 2), QStringLiteral("D3"));
        QVERIFY(form.StringGrid1->cell(3, 5).isEmpty());
        // Clicking the header or the trailing empty row changes nothing.
        form.MaskEdit2->setText(QStringLiteral("keep"));
        clickRow(form.StringGrid1, 0);
        clickRow(form.StringGrid1, 5);
        QCOMPARE(form.MaskEdit2->text(), QStringLiteral("keep"));

        // The number fields take digits only, without blanks in between.
        for (QLineEdit* edit : {form.MaskEdit1, form.MaskEdit3, form.rec_time}) {
            edit->clear();
            QTest::keyClicks(edit, QStringLiteral("3 x-0"));
            QCOMPARE(edit->text(), QStringLiteral("30"));
            QCOMPARE(edit->displayText(), QStringLiteral("30"));
        }
        QTest::keyClicks(form.rec_time, QStringLiteral("12345"));
        QCOMPARE(form.rec_time->text(), QStringLiteral("30123"));
        form.rec_time->setText(QStringLiteral("5"));
        form.Button4->click();
        const QByteArray config = station.readFile(station.path(QStringLiteral("config.dat")));
        QCOMPARE(config.at(0), char(4));
        QCOMPARE(config.mid(512 + 13 * 4 + 3, 2), QByteArray("D5"));
        QCOMPARE(config.mid(512 + 3, 8), QByteArray("TI-10101"));
        QCOMPARE(form.activeTable().count, 4);
        QCOMPARE(form.StringGrid2->cell(1, 0), QStringLiteral("TI-10101"));
        QCOMPARE(form.StringGrid2->cell(4, 0), QStringLiteral("D5"));
        QVERIFY(form.StringGrid2->cell(5, 0).isEmpty());

        // Edits after the save are lost at close; the file keeps the saved records.
        clickRow(form.StringGrid1, 1);
        form.MaskEdit2->setText(QStringLiteral("CHANGED"));
        form.Button2->click();
        form.close();
        const QByteArray closed = station.readFile(station.path(QStringLiteral("config.dat")));
        QCOMPARE(closed.mid(512 + 3, 8), QByteArray("TI-10101"));
        QCOMPARE(closed.at(0), char(4));
        QVERIFY(station.prompter.boxes().isEmpty());
    }

    void sixtyThreeDevicesAtMost() {
        StationFixture station;
        QList<MeterLine> meters;
        for (int i = 0; i < 63; ++i) {
            meters << MeterLine{i + 1, TM210, 0, {}, 0, QStringLiteral("M%1").arg(i)};
        }
        station.writeConfig(meters, 0);
        TForm1& form = station.startScripted();
        logIn(form, QStringLiteral("583174"));
        form.N3->trigger();
        fillEdits(form, TM210, QStringLiteral("64"), QStringLiteral("X"), QStringLiteral("0"));
        form.Button1->click();
        QCOMPARE(form.editTable().count, 63);
        QCOMPARE(form.StringGrid1->rowCount(), 65);
    }
};

QTEST_MAIN(StationForm)
#include "tst_stationform.moc"
