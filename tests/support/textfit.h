#pragma once

#include <QStringList>

class QWidget;

namespace tamlo::test {

// Texts of a window that its controls cut: every visible label, button, check box, group box
// title, edit and combo box text, date-time box, tab title, grid header and grid cell is
// measured with its own font against the room its control gives it, and every control must lie
// inside its parent. Each tab page is visited in turn. One line per fault, naming the control,
// the text and the pixels it needs and has.
QStringList clippedTexts(QWidget* window);

}  // namespace tamlo::test
