#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "shared/prompter.h"

namespace tamlo::test {

// Answers the programs' modal questions in tests and remembers every box shown. Tests declare
// the boxes they expect and check that nothing else was shown.
class ScriptedPrompter final : public Prompter {
public:
    struct Box {
        QString text;
        QString caption;
        bool isError = false;
    };

    void message(QWidget* parent, const QString& text, const QString& caption = {}) override;
    void error(QWidget* parent, const QString& text) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
    QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
    SaveFileAnswer saveFileAndType(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;

    // Answers for the next dialogs, first in first out; an empty queue answers "cancel".
    void queueOpenFile(const QString& path) { openAnswers_ << path; }
    // `type`: the file type picked in the save dialog, where it offers several.
    void queueSaveFile(const QString& path, int type = 0) {
        saveAnswers_ << path;
        saveTypes_ << type;
    }
    void queueColor(const std::optional<QColor>& color) { colorAnswers_ << color; }

    const QList<Box>& boxes() const { return boxes_; }
    QStringList texts() const;
    // Removes and returns the boxes shown so far.
    QList<Box> take();
    void clear() { boxes_.clear(); }

    const QList<FileDialogRequest>& fileRequests() const { return fileRequests_; }

private:
    QList<Box> boxes_;
    QStringList openAnswers_;
    QStringList saveAnswers_;
    QList<int> saveTypes_;
    QList<std::optional<QColor>> colorAnswers_;
    QList<FileDialogRequest> fileRequests_;
};

}  // namespace tamlo::test
