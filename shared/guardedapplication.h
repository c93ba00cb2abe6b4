#pragma once

#include <QApplication>

namespace tamlo {

class Prompter;

// The application object of the three programs: an exception that escapes an event handler is
// shown in the standard error box and the message loop goes on. Handlers wired through
// guarded() never let one get this far; this catches the rest.
class GuardedApplication : public QApplication {
public:
    GuardedApplication(int& argc, char** argv, Prompter& prompter);
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Prompter& prompter_;
};

}  // namespace tamlo
