// Qt's own dialogs speak the programs' Chinese once their translations are installed.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "chart/tchart.h"
#include "chart/tchartprintpreview.h"
#include "shared/translations.h"

namespace {

// The visible label and button texts in Latin letters alone: English left untranslated.
QStringList englishTexts(QWidget* dialog) {
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]{2}"));
    static const QRegularExpression chinese(QStringLiteral("[\\x{4E00}-\\x{9FFF}]"));
    QStringList texts;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
        }
        if (w->isVisible() && text.contains(latin) && !text.contains(chinese)) {
            texts << text;
        }
    }
    return texts;
}

}  // namespace

class QtTranslationsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(tamlo::installQtTranslations(*QCoreApplication::instance())); }

    void fileDialog() {
        QFileDialog dialog(nullptr, QString(), QDir::tempPath(), QStringLiteral("历史数据 (*.dat)"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.show();
        QCOMPARE(englishTexts(&dialog), QStringList());
    }

    // The printer set-up that the print preview's "Setup..." opens.
    void printPreviewSetup() {
        tamlo::chart::TChart chart;
        tamlo::chart::TChartPrintPreview preview(&chart);
        QStringList english{QStringLiteral("no set-up dialog")};
        QTimer::singleShot(0, [&english] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                english = englishTexts(dialog);
                dialog->close();
            }
        });
        preview.findChild<QPushButton*>(QStringLiteral("SetupButton"))->click();
        QCOMPARE(english, QStringList());
    }

    void messageBoxButton() {
        QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("数据导出完成！"),
                        QMessageBox::Ok);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    }
};

QTEST_MAIN(QtTranslationsTest)
#include "tst_qttranslations.moc"
