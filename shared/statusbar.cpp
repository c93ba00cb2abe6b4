#include "statusbar.h"

#include <QLabel>

namespace tamlo {

PanelStatusBar::PanelStatusBar(std::initializer_list<int> widths, QWidget* parent)
    : QStatusBar(parent) {
    for (const int width : widths) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(panels_.size()));
        panel->setFixedWidth(width);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        addWidget(panel);
        panels_.push_back(panel);
    }
}

QString PanelStatusBar::panelText(int panel) const {
    return panel >= 0 && panel < panelCount() ? panels_[static_cast<std::size_t>(panel)]->text()
                                              : QString();
}

void PanelStatusBar::setPanelText(int panel, const QString& text) {
    if (panel >= 0 && panel < panelCount()) {
        panels_[static_cast<std::size_t>(panel)]->setText(text);
    }
}

}  // namespace tamlo
