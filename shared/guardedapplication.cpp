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

QString gbkMissingText() {
    return QStringLiteral(
        "本程序的工位号和通道名按 GBK 编码保存，但当前的 Qt 库没有 GBK 编码器"
        "（需要带 ICU 的 Qt 6）。程序不能运行，将退出。");
}

bool checkGbkCodec(Prompter& prompter, bool available) {
    if (!available) {
        prompter.error(nullptr, gbkMissingText());
    }
    return available;
}

}  // namespace tamlo
