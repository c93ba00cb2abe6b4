// The overview tiles and the real-time curves: placement, texts, the lines' points, colours,
// range, zoom and visibility, and what a save of the device table leaves of both pages.
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>

#include "shared/historychartpanel.h"
#include "stationfixture.h"

using namespace tamlo;
using namespace tamlo::station;
using namespace tamlo::test;

namespace {

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

QLabel* tileControl(const OverviewPage& page, int index) {
    return qobject_cast<QLabel*>(page.tileList().at(index));
}

void logIn(TForm1& form) {
    form.N4->trigger();
    form.Edit1->setText(QStringLiteral("583174"));
    form.Button7->click();
}

void clickRow(StringGrid* grid, int row) {
    grid->selectCell(0, row);
    emit grid->cellClicked();
}

QList<MeterLine> meters(int count) {
    QList<MeterLine> list;
    for (int i = 0; i < count; ++i) {
        list << MeterLine{i + 1, TM210,
                          0,     QStringLiteral("const:%1").arg(100 * (i + 1)),
                          0,     QStringLiteral("T%1").arg(i)};
    }
    return list;
}

// A page under a plain parent, as the form builds it.
struct CurvePage {
    QWidget sheet;
    ScriptedPrompter prompter;
    RealTimePage page{&sheet, prompter};
    template <class T>
    T* control(const char* name) {
        T* found = sheet.findChild<T*>(QString::fromLatin1(name));
        if (!found) {
            qWarning("no control %s", name);
        }
        return found;
    }
    chart::TChartAxis* left() { return page.chart()->leftAxis(); }
    void setRange(const QString& up, const QString& down) {
        control<QLineEdit>("ME_real_up")->setText(up);
        control<QLineEdit>("ME_real_down")->setText(down);
        control<QPushButton>("But_real_modarang")->click();
    }
};

}  // namespace

class StationPages : public QObject {
    Q_OBJECT
private slots:
    void tilesFourToARowWithTheirTexts() {
        QTemporaryDir dir;
        QWidget sheet;
        OverviewPage page(&sheet, dir.path());
        QStringList tags;
        QStringList units;
        for (int n = 0; n < 18; ++n) {
            tags << (n == 2 ? QString() : QStringLiteral("TI-%1").arg(n));
            units << QStringLiteral("℃");
        }
        page.build(tags.mid(0, 5), units.mid(0, 5));
        QCOMPARE(page.tileList().size(), 20);
        QCOMPARE(tileControl(page, 4 * 3)->pos(), QPoint(700, 10));
        QCOMPARE(tileControl(page, 4 * 4)->pos(), QPoint(10, 130));
        QCOMPARE(tileControl(page, 4 * 4)->size(), QSize(217, 104));
        QCOMPARE(tileControl(page, 4 * 2 + 1)->text(), QStringLiteral(" "));
        QCOMPARE(tileControl(page, 4 * 1 + 1)->text(), QStringLiteral(" TI-1"));
        QCOMPARE(tileControl(page, 4 * 1 + 2)->text(), QStringLiteral(" ℃"));
        QCOMPARE(tileControl(page, 4 * 1 + 2)->pos(), QPoint(230 + 200, 28));
        QCOMPARE(tileControl(page, 4 * 1 + 2)->palette().color(QPalette::WindowText),
                 QColor(0, 0, 255));
        QLabel* value = page.valueLabel(1);
        QCOMPARE(value, tileControl(page, 4 * 1 + 3));
        QVERIFY(value->text().isEmpty());
        QCOMPARE(value->font().pointSize(), 30);
        QCOMPARE(value->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        // The value grows to the left and keeps its right edge.
        const int right = value->geometry().right();
        page.setValueText(1, QStringLiteral("1234.5"));
        QCOMPARE(value->text(), QStringLiteral("1234.5"));
        QCOMPARE(value->geometry().right(), right);
        QVERIFY(value->width() > 40);

        // No meter.BMP: every tile shows the drawn face, never an empty hole.
        const QImage drawn = OverviewPage::drawnMeterFace().toImage();
        QCOMPARE(tileControl(page, 0)->pixmap().toImage(), drawn);
        QVERIFY(drawn.pixelColor(100, 70) != drawn.pixelColor(100, 30));

        // The eighteenth device sits in column 1 of row 4; a rebuild leaves nothing of before.
        QImage bitmap(30, 20, QImage::Format_RGB32);
        bitmap.fill(QColor(10, 200, 30));
        QVERIFY(bitmap.save(dir.filePath(QStringLiteral("meter.BMP")), "BMP"));
        page.remove();
        QVERIFY(page.content()->findChildren<QWidget*>().isEmpty());
        page.build(tags, units);
        QCOMPARE(page.tileList().size(), 72);
        QCOMPARE(tileControl(page, 4 * 17)->pos(), QPoint(240, 490));
        QCOMPARE(page.content()->findChildren<QWidget*>().size(), 72);
        // The bitmap is drawn at its own size from the top-left corner.
        QCOMPARE(tileControl(page, 4 * 17)->pixmap().size(), QSize(30, 20));
        QCOMPARE(tileControl(page, 4 * 17)->pixmap().toImage().pixelColor(0, 0),
                 QColor(10, 200, 30));
        QCOMPARE(tileControl(page, 4 * 17)->size(), QSize(217, 104));
    }

    void linesStartFlatInTheirColours() {
        CurvePage p;
        p.page.buildSeries(3);
        p.page.buildRows({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
        chart::TChart* chart = p.page.chart();
        QCOMPARE(chart->objectName(), QStringLiteral("Chart1"));
        QCOMPARE(chart->title(), QStringLiteral("实时曲线"));
        QCOMPARE(chart->seriesCount(), 3);
        const std::array<QColor, 3> colours{QColor(255, 0, 0), QColor(0, 128, 0),
                                            QColor(255, 255, 0)};
        for (int k = 0; k < 3; ++k) {
            chart::TFastLineSeries* s = chart->series(k);
            QCOMPARE(s->count(), 600);
            for (int i = 0; i < 600; ++i) {
                QVERIFY(sameBits(s->yValue(i), 0.0));
                QVERIFY(sameBits(s->xValue(i), i));
                QCOMPARE(s->label(i), QStringLiteral(" "));
            }
            QCOMPARE(s->color(), colours[static_cast<std::size_t>(k)]);
            QCOMPARE(p.page.panel()->rowSwatch(k)->color(), colours[static_cast<std::size_t>(k)]);
            QCOMPARE(p.page.curveList().at(3 * k + 1)->geometry(), QRect(85, 22 * k + 28, 60, 20));
        }
        QCOMPARE(p.control<ColorSwatch>("Pnl_real_color")->color(), QColor(255, 0, 0));
        QCOMPARE(p.control<ColorSwatch>("Panel_back_color")->color(), QColor(0, 0, 0));
        QCOMPARE(p.control<QComboBox>("Combox_realch_color")->count(), 3);
        QVERIFY(sameBits(p.left()->minimum(), 0) && sameBits(p.left()->maximum(), 1000));
        QVERIFY(!p.left()->automatic());
        for (const char* name :
             {"Panel8", "GroupBox5", "Label20", "ScrollBox2", "CheckBox_realch_all", "Splitter1",
              "ScrollBox3", "GroupBox1", "Label18", "Label19", "But_real_prinview",
              "But_real_zommin", "But_real_unzoom"}) {
            QVERIFY2(p.control<QWidget>(name), name);
        }
        QVERIFY(p.control<QLabel>("Label_real_time")->parent() == chart);

        // Records drop the oldest point; the newest carries the time of its tick.
        const std::array<float, 3> values{1.5f, -2.25f, 7.0f};
        p.page.appendRecord(values.data(), 3, QStringLiteral("26-07-12 10:45:23"));
        for (int k = 0; k < 3; ++k) {
            chart::TFastLineSeries* s = chart->series(k);
            QCOMPARE(s->count(), 600);
            QVERIFY(sameBits(s->xValue(0), 1) && sameBits(s->xValue(599), 600));
            QVERIFY(sameBits(s->yValue(599), values[static_cast<std::size_t>(k)]));
            QCOMPARE(s->label(599), QStringLiteral("26-07-12 10:45:23"));
        }
    }

    void rangeZoomColoursAndVisibility() {
        CurvePage p;
        p.page.buildSeries(4);
        p.page.buildRows(
            {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")});
        p.setRange(QStringLiteral("100"), QStringLiteral("100"));
        QCOMPARE(p.prompter.texts(), QStringList{QStringLiteral("上限要大于下限！")});
        QVERIFY(sameBits(p.left()->minimum(), 0) && sameBits(p.left()->maximum(), 1000));
        p.prompter.clear();
        p.setRange(QStringLiteral("50"), QStringLiteral("-50"));
        QVERIFY(sameBits(p.left()->minimum(), -50) && sameBits(p.left()->maximum(), 50));
        p.setRange(QStringLiteral("1000"), QStringLiteral("0"));
        p.setRange(QStringLiteral("-10"), QStringLiteral("-20"));
        QVERIFY(sameBits(p.left()->minimum(), -20) && sameBits(p.left()->maximum(), -10));
        QVERIFY(p.prompter.boxes().isEmpty());

        p.setRange(QStringLiteral("1000"), QStringLiteral("0"));
        p.control<QPushButton>("But_real_zoomout")->click();
        QVERIFY(sameBits(p.left()->minimum(), 150) && sameBits(p.left()->maximum(), 850));
        p.page.But_real_zoomoutClick();
        QVERIFY(sameBits(p.left()->minimum(), 255) && sameBits(p.left()->maximum(), 745));
        p.control<QPushButton>("But_real_unzoom")->click();
        QVERIFY(sameBits(p.left()->minimum(), 0) && sameBits(p.left()->maximum(), 1000));
        QVERIFY(p.page.chart()->bottomAxis()->automatic());
        p.control<QPushButton>("But_real_zommin")->click();
        QVERIFY(sameBits(p.left()->minimum(), -150) && sameBits(p.left()->maximum(), 1150));
        p.page.But_real_unzoomClick();

        // Unchecking row 2 hides line 2 only; "全选" twice hides, then shows and re-checks all.
        HistoryChartPanel* panel = p.page.panel();
        chart::TChart* chart = p.page.chart();
        panel->rowCheckBox(2)->click();
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(chart->series(k)->isVisible(), k != 2);
        }
        auto* all = p.control<QCheckBox>("CheckBox_realch_all");
        all->click();
        for (int k = 0; k < 4; ++k) {
            QVERIFY(!chart->series(k)->isVisible());
            QVERIFY(!panel->rowCheckBox(k)->isChecked());
        }
        all->click();
        for (int k = 0; k < 4; ++k) {
            QVERIFY(chart->series(k)->isVisible());
            QVERIFY(panel->rowCheckBox(k)->isChecked());
        }

        // The colour of the chosen channel: line, row swatch and Pnl_real_color; cancel keeps it.
        p.control<QComboBox>("Combox_realch_color")->setCurrentIndex(3);
        QCOMPARE(p.control<ColorSwatch>("Pnl_real_color")->color(), QColor(0, 0, 255));
        p.prompter.queueColor(QColor(1, 2, 3));
        emit p.control<ColorSwatch>("Pnl_real_color")->clicked();
        QCOMPARE(chart->series(3)->color(), QColor(1, 2, 3));
        QCOMPARE(panel->rowSwatch(3)->color(), QColor(1, 2, 3));
        QCOMPARE(chart->series(2)->color(), QColor(255, 255, 0));
        p.page.Pnl_real_colorClick();  // cancelled
        QCOMPARE(chart->series(3)->color(), QColor(1, 2, 3));
        p.prompter.queueColor(QColor(Qt::white));
        p.page.Panel_back_colorClick();
        QCOMPARE(chart->backColor(), QColor(Qt::white));
        QCOMPARE(p.control<ColorSwatch>("Panel_back_color")->color(), QColor(Qt::white));
    }

    // Start-up, ticks and saves through the window, with the fake clock and the ticks driven by
    // hand; in-process meters answer devices 1 to 6 with their constant values.
    void bothPagesFollowTheStation() {
        StationFixture station;
        station.writeConfig(meters(6), 5);
        for (int address : {1, 3, 4, 5, 6}) {  // device 1 is configured but nobody answers it
            station.meters.meters[address] = {static_cast<std::int16_t>(100 * address), 0};
        }
        TForm1& form = station.startScripted();
        form.Timer2->stop();
        OverviewPage& tiles = form.overviewPage();
        RealTimePage& curves = form.realTimePage();
        QCOMPARE(tiles.tileList().size(), 24);
        QVERIFY(tiles.valueLabel(0)->text().isEmpty());
        QCOMPARE(curves.curveList().size(), 18);
        QCOMPARE(form.Chart1->seriesCount(), 6);

        // Every device polled (device 1 fails), then a tick: grid, tile and value box agree.
        for (int tick = 0; tick < 8; ++tick) {
            form.Timer1Timer();
        }
        QCOMPARE(form.StringGrid1->cell(5, 6), QStringLiteral("......"));
        QCOMPARE(form.StringGrid1->cell(5, 2), QStringLiteral("失败！"));
        form.Timer1->stop();
        station.clock.advanceSeconds(1);
        form.Timer2Timer();
        for (int i = 0; i < 6; ++i) {
            const QString text = form.StringGrid2->cell(i + 1, 1);
            QCOMPARE(text, i == 1 ? QStringLiteral("Err") : QString::number(100 * (i + 1)));
            QCOMPARE(tiles.valueLabel(i)->text(), text);
            QCOMPARE(curves.panel()->rowValueBox(i)->text(), text);
        }
        // A 5-second interval: one point per record, labelled with the tick's time.
        chart::TFastLineSeries* first = form.Chart1->series(0);
        for (int s = 2; s <= 5; ++s) {
            QCOMPARE(first->label(599), QStringLiteral(" "));
            station.clock.advanceSeconds(1);
            form.Timer2Timer();
        }
        QCOMPARE(first->label(599), QStringLiteral("26-07-12 10:45:23"));
        QVERIFY(sameBits(first->yValue(599), 100) && sameBits(first->yValue(598), 0));
        QVERIFY(sameBits(form.Chart1->series(5)->yValue(599), 600));
        for (int record = 2; record <= 600; ++record) {
            for (int s = 0; s < 5; ++s) {
                station.clock.advanceSeconds(1);
                form.Timer2Timer();
            }
        }
        for (int k = 0; k < 6; ++k) {
            chart::TFastLineSeries* s = form.Chart1->series(k);
            QCOMPARE(s->count(), 600);
            QVERIFY(s->label(0) != QStringLiteral(" "));
            QVERIFY(sameBits(s->xValue(0), 600));
        }
        QCOMPARE(first->label(0), QStringLiteral("26-07-12 10:45:23"));

        // Save 6 -> 4: four tiles, rows and series; the first four keep points and colours.
        form.Chart1->series(3)->setColor(QColor(9, 9, 9));
        logIn(form);
        form.N3->trigger();
        for (int n = 0; n < 2; ++n) {
            clickRow(form.StringGrid1, 5);
            form.Button3->click();
        }
        form.Button4->click();
        QCOMPARE(form.activeTable().count, 4);
        QCOMPARE(tiles.tileList().size(), 16);
        QCOMPARE(tiles.content()->findChildren<QWidget*>().size(), 16);
        QCOMPARE(tiles.valueLabel(3)->text(), QString());
        QCOMPARE(curves.curveList().size(), 12);
        QCOMPARE(form.Chart1->seriesCount(), 4);
        QCOMPARE(form.Chart1->series(3)->color(), QColor(9, 9, 9));
        QCOMPARE(form.Chart1->series(0), first);
        QCOMPARE(first->label(0), QStringLiteral("26-07-12 10:45:23"));
        QVERIFY(sameBits(form.Chart1->series(3)->yValue(599), 400));

        // Save 4 -> 6: two flat series lined up with the others; then 6 -> 3 tiles.
        for (int n = 0; n < 2; ++n) {
            form.MaskEdit1->setText(QString::number(7 + n));
            form.Button1->click();
        }
        form.Button4->click();
        QCOMPARE(form.Chart1->seriesCount(), 6);
        QCOMPARE(curves.curveList().size(), 18);
        for (int k = 4; k < 6; ++k) {
            chart::TFastLineSeries* s = form.Chart1->series(k);
            QCOMPARE(s->count(), 600);
            QVERIFY(sameBits(s->xValue(0), first->xValue(0)));
            QVERIFY(sameBits(s->xValue(599), first->xValue(599)));
            QVERIFY(sameBits(s->yValue(599), 0));
            QCOMPARE(s->label(599), QStringLiteral(" "));
        }
        for (int n = 0; n < 3; ++n) {
            clickRow(form.StringGrid1, 1);
            form.Button3->click();
        }
        form.Button4->click();
        QCOMPARE(tiles.tileList().size(), 12);
        QCOMPARE(tiles.content()->findChildren<QWidget*>().size(), 12);
        QCOMPARE(form.Chart1->seriesCount(), 3);

        // The first tick after a save records at once: exactly the active devices get a point.
        form.N5->trigger();
        form.Timer2->stop();
        const double lastX = form.Chart1->series(0)->xValue(599);
        station.clock.advanceSeconds(1);
        form.Timer2Timer();
        for (int k = 0; k < 3; ++k) {
            QVERIFY(sameBits(form.Chart1->series(k)->xValue(599), lastX + 1));
        }
    }
};

QTEST_MAIN(StationPages)
#include "tst_stationpages.moc"
