#include "statusbar.h"

namespace tamlo {

StatusPanel::StatusPanel(int width, QWidget* parent) : QLabel(parent), width_(width) {
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
}

QSize StatusPanel::sizeHint() const {
    const QSize text = QLabel::sizeHint();
    return {std::max(width_, text.width()), text.height()};
}

QSize StatusPanel::minimumSizeHint() const {
    return text().isEmpty() ? QSize(0, QLabel::minimumSizeHint().height())
                            : QLabel::minimumSizeHint();
}

PanelStatusBar::PanelStatusBar(std::initializer_list<int> widths, QWidget* parent)
    : QStatusBar(parent) {
    for (const int width : widths) {
        auto* panel = new StatusPanel(width, this);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(panels_.size()));
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
