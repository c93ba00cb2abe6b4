#include "scriptedprompter.h"

namespace tamlo::test {

void ScriptedPrompter::message(QWidget*, const QString& text, const QString& caption) {
    boxes_ << Box{text, caption, false};
}

void ScriptedPrompter::error(QWidget*, const QString& text) { boxes_ << Box{text, {}, true}; }

QString ScriptedPrompter::openFileName(QWidget*, const FileDialogRequest& request) {
    fileRequests_ << request;
    return openAnswers_.isEmpty() ? QString() : openAnswers_.takeFirst();
}

QString ScriptedPrompter::saveFileName(QWidget* parent, const FileDialogRequest& request) {
    return saveFileAndType(parent, request).path;
}

SaveFileAnswer ScriptedPrompter::saveFileAndType(QWidget*, const FileDialogRequest& request) {
    fileRequests_ << request;
    if (saveAnswers_.isEmpty()) {
        return {};
    }
    return {saveAnswers_.takeFirst(), saveTypes_.takeFirst()};
}

std::optional<QColor> ScriptedPrompter::chooseColor(QWidget*, const QColor&) {
    return colorAnswers_.isEmpty() ? std::nullopt : colorAnswers_.takeFirst();
}

QStringList ScriptedPrompter::texts() const {
    QStringList out;
    for (const Box& box : boxes_) {
        out << box.text;
    }
    return out;
}

QList<ScriptedPrompter::Box> ScriptedPrompter::take() {
    QList<Box> out;
    out.swap(boxes_);
    return out;
}

}  // namespace tamlo::test
