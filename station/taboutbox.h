#pragma once

#include <QDialog>

namespace tamlo::station {

// The station's about box: what the program is, with one button that closes it. Shown
// without blocking the main window.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace tamlo::station
