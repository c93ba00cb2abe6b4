#pragma once

#include <QStatusBar>
#include <initializer_list>
#include <vector>

class QLabel;

namespace tamlo {

// A status bar of sunken text panels of fixed widths, addressed by index like the programs'
// StatusBar1 panels (panel i is named "StatusPanel<i>").
class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    PanelStatusBar(std::initializer_list<int> widths, QWidget* parent = nullptr);

    int panelCount() const { return static_cast<int>(panels_.size()); }
    // Out-of-range panels read as empty and ignore writes.
    QString panelText(int panel) const;
    void setPanelText(int panel, const QString& text);

private:
    std::vector<QLabel*> panels_;
};

}  // namespace tamlo
