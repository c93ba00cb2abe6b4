#pragma once

#include <QLabel>
#include <QStatusBar>
#include <initializer_list>
#include <vector>

namespace tamlo {

// A sunken status bar panel of a set width. A text wider than that widens it; when the window is
// narrower than the panels add up to, the panel gives way down to its text, never into it.
class StatusPanel final : public QLabel {
public:
    StatusPanel(int width, QWidget* parent);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    int width_;
};

// A status bar of sunken text panels of fixed widths, addressed by index like the programs'
// StatusBar1 panels (panel i is named "StatusPanel<i>").
class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    PanelStatusBar(std::initializer_list<int> widths, QWidget* parent = nullptr);

    int panelCount() const { return static_cast<int>(panels_.size()); }
    // Out-of-range panels read as empty and ignore writes.
    QString panelText(int panel) const;
    QLabel* panel(int panel) const { return panels_.at(static_cast<std::size_t>(panel)); }
    void setPanelText(int panel, const QString& text);

private:
    std::vector<QLabel*> panels_;
};

}  // namespace tamlo
