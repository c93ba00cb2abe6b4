#include "tform1.h"

#include <QMenu>
#include <QMenuBar>

#include "shared/prompter.h"
#include "tformloadhistrdata.h"

namespace tamlo::analysis {

TForm1::TForm1(Prompter& prompter, Clock& clock, QWidget* parent)
    : QMainWindow(parent),
      prompter_(prompter),
      clock_(clock),
      uploadSession_(std::make_unique<SerialUploadPort>()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("无纸记录仪数据分析软件   V1.4"));
    resize(1024, 700);
    setCentralWidget(new QWidget(this));
    createMenu();
}

TForm1::~TForm1() = default;

void TForm1::createMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    N1 = bar->addMenu(QStringLiteral("文件"));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = N1->addAction(QStringLiteral(" "));
    N2->setObjectName(QStringLiteral("N2"));
    N3 = N1->addAction(QStringLiteral("从串口上传历史数据......."));
    N3->setObjectName(QStringLiteral("N3"));
    Excel1 = N1->addAction(QString());
    Excel1->setObjectName(QStringLiteral("Excel1"));
    N4 = bar->addAction(QStringLiteral("查看"));
    N4->setObjectName(QStringLiteral("N4"));
    connect(N3, &QAction::triggered, this, guarded(prompter_, this, [this] { N3Click(); }));
}

void TForm1::N3Click() {
    TFormLoadHistrData dialog(uploadSession_, prompter_, clock_, this);
    dialog.exec();
}

}  // namespace tamlo::analysis
