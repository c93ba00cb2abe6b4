#include "historyprogram.h"

#include <QFile>

namespace tamlo {

bool canOpenStartupFile(const QString& program, const QString& path, std::FILE* err) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        return true;
    }
    printText(err,
              QStringLiteral("%1: cannot open %2: %3\n").arg(program, path, file.errorString()));
    return false;
}

}  // namespace tamlo
