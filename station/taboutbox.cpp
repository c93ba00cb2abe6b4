#include "taboutbox.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamlo::station {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("关于"));
    auto* layout = new QVBoxLayout(this);
    auto* productName = new QLabel(QStringLiteral("NorvikDCS 数据采集站"), this);
    productName->setObjectName(QStringLiteral("ProductName"));
    QFont big = productName->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    productName->setFont(big);
    auto* comments = new QLabel(
        QStringLiteral("轮询串口上的数字面板表，显示实时数据、概貌和实时曲线，\n"
                       "并按记录间隔保存历史数据文件（.nv）。"),
        this);
    comments->setObjectName(QStringLiteral("Comments"));
    auto* version = new QLabel(QStringLiteral("版本 %1").arg(QStringLiteral(TAMLO_VERSION)), this);
    version->setObjectName(QStringLiteral("Version"));
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    layout->addWidget(productName);
    layout->addWidget(version);
    layout->addWidget(comments);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, &QDialog::close);
    setModal(false);
}

}  // namespace tamlo::station
