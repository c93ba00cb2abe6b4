#include "paramlistpanel.h"

#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "namedcontrols.h"
#include "stationsession.h"

namespace tamlo::station {

ParamListPanel::ParamListPanel(StationSession& session, QWidget* parent)
    : QWidget(parent), session_(session) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    Label16 = named(new QLabel(QStringLiteral("设备参数列表："), this), "Label16");
    Label16->setFixedHeight(26);
    layout->addWidget(Label16);

    StringGrid3 = named(new StringGrid(this), "StringGrid3");
    StringGrid3->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid3->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(StringGrid3, 1);

    Panel5 = named(new QFrame(this), "Panel5");
    Panel5->setFixedHeight(84);
    Label15 = named(new QLabel(Panel5), "Label15");
    Label15->move(16, 16);
    meter_para_box = named(new QComboBox(Panel5), "meter_para_box");
    meter_para_box->setEditable(false);
    meter_para_box->setGeometry(16, 40, 81, meter_para_box->sizeHint().height());
    meter_para_editer = named(new QLineEdit(Panel5), "meter_para_editer");
    // Typing is held to four characters: 0 to 9999, or a minus and up to three digits. A digit
    // mask would drop the sign of a value shown here (-50 would read 50), so the box takes any
    // 16-bit value whole.
    meter_para_editer->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("-?[0-9]{0,3}|[0-9]{4}")), meter_para_editer));
    meter_para_editer->setMaxLength(6);
    read_para = named(new QPushButton(QStringLiteral("刷  新"), Panel5), "read_para");
    read_para->setGeometry(144, 16, 75, 25);
    mod_para = named(new QPushButton(QStringLiteral("修  改"), Panel5), "mod_para");
    mod_para->setGeometry(144, 48, 75, 25);
    layout->addWidget(Panel5);

    connect(StringGrid3, &StringGrid::cellClicked, this, &ParamListPanel::StringGrid3Click);
    connect(StringGrid3, &StringGrid::cellDoubleClicked, this,
            &ParamListPanel::StringGrid3DblClick);
    connect(read_para, &QPushButton::clicked, this, &ParamListPanel::read_paraClick);
    // mod_para has no action: the station never writes a parameter to a meter.
}

const ParameterReader& ParamListPanel::reader() const {
    return session_.parameters();
}

void ParamListPanel::prepare() {
    StringGrid3->setSize(2, kParameterListRows);
    StringGrid3->setFixed(0, 1);
    StringGrid3->setColumnWidths({100, 100});
    meter_para_editer->setGeometry(meter_para_box->geometry());
    meter_para_editer->hide();
    meter_para_box->hide();
    Label15->hide();
    mod_para->setEnabled(false);
}

void ParamListPanel::fill(int device) {
    for (int r = 0; r < StringGrid3->rowCount(); ++r) {
        for (int c = 0; c < StringGrid3->columnCount(); ++c) {
            StringGrid3->setCell(c, r, QString());
        }
    }
    StringGrid3->setCell(0, 0, QStringLiteral("参数名称"));
    StringGrid3->setCell(1, 0, QStringLiteral("参数值"));
    const QList<ParameterReader::ListRow> rows = session_.parameterList(device);
    for (int j = 0; j < rows.size(); ++j) {
        StringGrid3->setCell(0, j + 1, rows[j].name);
        StringGrid3->setCell(1, j + 1, rows[j].value);
    }
}

void ParamListPanel::StringGrid3Click() {
    const int r = StringGrid3->row();
    const std::optional<ParameterReader::Selection> selection =
        reader().select(session_.activeTable(), r, StringGrid3->cell(0, r));
    if (!selection) {
        return;
    }
    Label15->setText(selection->label);
    Label15->adjustSize();
    Label15->show();
    if (!selection->choice) {
        meter_para_box->hide();
        meter_para_editer->show();
        meter_para_editer->setText(StringGrid3->cell(1, r));
        return;
    }
    meter_para_editer->hide();
    meter_para_box->show();
    meter_para_box->clear();
    meter_para_box->addItems(selection->options);
    meter_para_box->setCurrentIndex(selection->selected);
}

void ParamListPanel::StringGrid3DblClick() {
    read_paraClick();
}

void ParamListPanel::read_paraClick() {
    const int r = StringGrid3->row();
    const ParameterReader::ReadOutcome outcome = session_.readParameter(r);
    if (outcome.cell) {
        StringGrid3->setCell(1, r, *outcome.cell);
    }
}

}  // namespace tamlo::station
