#include "prompter.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include "numbertext.h"

namespace tamlo {

QString toQtFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

QString describeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ConversionError& e) {
        return e.text();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("未知错误。");
    }
}

QString WidgetPrompter::plainCaption() const {
    return plainCaption_.isEmpty() ? QApplication::applicationName() : plainCaption_;
}

void WidgetPrompter::message(QWidget* parent, const QString& text, const QString& caption) {
    const QString title = caption.isEmpty() ? plainCaption() : caption;
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void WidgetPrompter::error(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, plainCaption(), text, QMessageBox::Ok, parent);
    box.exec();
}

namespace {

// The extension of a filter's first pattern: "csv" of "CSV UTF-8 (*.csv)".
QString filterSuffix(const QString& filter) {
    const qsizetype dot = filter.indexOf(QStringLiteral("*."));
    if (dot < 0) {
        return {};
    }
    QString suffix = filter.mid(dot + 2);
    const qsizetype end = suffix.indexOf(QRegularExpression(QStringLiteral("[ ;)]")));
    return end < 0 ? suffix : suffix.left(end);
}

SaveFileAnswer runFileDialog(QWidget* parent, const FileDialogRequest& request, bool save) {
    QFileDialog dialog(parent, request.title, request.directory, toQtFilter(request.filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(request.defaultSuffix);
        // A name typed without an extension gets the one of the file type picked.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& filter) {
                             const QString suffix = filterSuffix(filter);
                             if (!suffix.isEmpty()) {
                                 dialog.setDefaultSuffix(suffix);
                             }
                         });
    }
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    const int type = static_cast<int>(toQtFilter(request.filter)
                                          .split(QStringLiteral(";;"))
                                          .indexOf(dialog.selectedNameFilter()));
    return {dialog.selectedFiles().constFirst(), std::max(type, 0)};
}

}  // namespace

QString WidgetPrompter::openFileName(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, false).path;
}

QString WidgetPrompter::saveFileName(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, true).path;
}

SaveFileAnswer WidgetPrompter::saveFileAndType(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, true);
}

std::optional<QColor> WidgetPrompter::chooseColor(QWidget* parent, const QColor& initial) {
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid()) {
        return std::nullopt;
    }
    return chosen;
}

}  // namespace tamlo
