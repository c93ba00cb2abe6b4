#include "tform1.h"

#include <QHBoxLayout>

#include "shared/datetime.h"
#include "shared/prompter.h"

namespace tamlo::viewer {

TForm1::TForm1(Prompter& prompter, Clock& clock, QWidget* parent)
    : QMainWindow(parent), prompter_(prompter), clock_(clock) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("NorvikDCS"));
    resize(932, 780);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    setCentralWidget(PageControl1);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral("历史曲线"));
}

}  // namespace tamlo::viewer
