#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "paramreader.h"
#include "shared/stringgrid.h"

namespace tamlo::station {

class StationSession;

// The lower part of the device page's right-hand panel: the heading Label16, the parameter list
// StringGrid3 and Panel5 with the editor controls and the read and modify buttons. It shows the
// list of one device of the active table and has the session read parameters from the meters.
class ParamListPanel : public QWidget {
    Q_OBJECT
public:
    explicit ParamListPanel(StationSession& session, QWidget* parent = nullptr);

    QLabel* Label16;
    StringGrid* StringGrid3;
    QFrame* Panel5;
    QLabel* Label15;
    QLineEdit* meter_para_editer;
    QComboBox* meter_para_box;
    QPushButton* read_para;
    QPushButton* mod_para;

    // Start-up: 2 columns and 41 rows, the editors over each other and hidden, mod_para off for
    // the whole run.
    void prepare();
    // Shows the parameter list of active device `device`.
    void fill(int device);

    void StringGrid3Click();
    void StringGrid3DblClick();
    void read_paraClick();

    const ParameterReader& reader() const;

private:
    StationSession& session_;
};

}  // namespace tamlo::station
