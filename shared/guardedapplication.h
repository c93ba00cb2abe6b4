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

// The start-up check of the three programs: shows why the program cannot run when this Qt has
// no GBK codec and returns false.
bool checkGbkCodec(Prompter& prompter, bool available);
QString gbkMissingText();

}  // namespace tamlo
