#include "guardedapplication.h"

#include <QWidget>

#include "prompter.h"

namespace tamlo {

GuardedApplication::GuardedApplication(int& argc, char** argv, Prompter& prompter)
    : QApplication(argc, argv), prompter_(prompter) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        prompter_.error(activeWindow(), describeException(std::current_exception()));
        return false;
    }
}

}  // namespace tamlo
