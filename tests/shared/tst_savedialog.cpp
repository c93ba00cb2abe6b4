// The real save dialog of the exports: the file type picked comes back, and a name typed
// without an extension gets that type's.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "shared/exportwriter.h"
#include "shared/prompter.h"

using namespace tamlo;

class TestSaveDialog : public QObject {
    Q_OBJECT
private slots:
    void typePickedAndItsExtension() {
        QTemporaryDir dir;
        FileDialogRequest request;
        request.filter = QString::fromUtf8(kExportFilter);
        request.defaultSuffix = "xls";
        request.directory = dir.path();
        QTimer::singleShot(300, [] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->selectNameFilter(dialog->nameFilters().value(2));
            emit dialog->filterSelected(dialog->nameFilters().value(2));
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText("day");
            static_cast<QDialog*>(dialog)->accept();
        });
        WidgetPrompter prompter;
        const SaveFileAnswer answer = prompter.saveFileAndType(nullptr, request);
        QCOMPARE(answer.type, 2);
        QCOMPARE(answer.path, dir.filePath("day.xlsx"));
    }
};

QTEST_MAIN(TestSaveDialog)
#include "tst_savedialog.moc"
