#pragma once

#include <QColor>
#include <QString>
#include <exception>
#include <optional>
#include <utility>

class QWidget;

namespace tamlo {

struct FileDialogRequest {
    QString title;
    QString filter;         // "历史数据文件|*.dat" style: description|pattern pairs
    QString defaultSuffix;  // "dat"
    QString directory;
    QString fileName;
};

// The answer of a save dialog with several file types: the name, and which type was picked (the
// index of its description|pattern pair in the request's filter).
struct SaveFileAnswer {
    QString path;  // empty when cancelled
    int type = 0;
};

// Every modal question the programs ask goes through here, so that tests can answer them.
class Prompter {
public:
    virtual ~Prompter() = default;
    // A box with one OK button. An empty caption gives the plain box titled with the program.
    virtual void message(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    // The standard error box for an exception that escaped a handler.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // Empty when cancelled.
    virtual QString openFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString saveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    // The save dialog when the file type matters; a prompter that cannot tell answers the first.
    virtual SaveFileAnswer saveFileAndType(QWidget* parent, const FileDialogRequest& request) {
        return {saveFileName(parent, request), 0};
    }
    virtual std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) = 0;
};

// The real dialogs. A box without a caption of its own is titled `plainCaption` (the
// program's title), or the application name when that is empty. The caption goes to the window
// system exactly: the programs set no application display name, which Qt would append to it.
class WidgetPrompter final : public Prompter {
public:
    explicit WidgetPrompter(QString plainCaption = {}) : plainCaption_(std::move(plainCaption)) {}
    void message(QWidget* parent, const QString& text, const QString& caption = {}) override;
    void error(QWidget* parent, const QString& text) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
    QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
    SaveFileAnswer saveFileAndType(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;

private:
    QString plainCaption() const;
    QString plainCaption_;
};

// "desc|*.ext|desc2|*.ext2" -> "desc (*.ext);;desc2 (*.ext2)"
QString toQtFilter(const QString& pipeFilter);

// The text of the standard error box for whatever was thrown.
QString describeException(std::exception_ptr error);

// Runs `handler`; an exception that escapes it is shown in the standard error box and the
// program goes on. Every event handler of the forms runs through this.
template <class Handler>
void runGuarded(Prompter& prompter, QWidget* parent, Handler&& handler) {
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        prompter.error(parent, describeException(std::current_exception()));
    }
}

// A slot that runs `handler` guarded: connect(button, &QPushButton::clicked, this,
// guarded(prompter, this, [this] { Button4Click(); })).
template <class Handler>
auto guarded(Prompter& prompter, QWidget* parent, Handler handler) {
    return [&prompter, parent, handler = std::move(handler)](auto&&...) {
        runGuarded(prompter, parent, handler);
    };
}

}  // namespace tamlo
