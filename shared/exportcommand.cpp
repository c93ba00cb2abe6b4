#include "exportcommand.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace tamlo {
namespace {

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

CommandLine usageError(const QString& error) {
    CommandLine c;
    c.kind = CommandLine::Kind::UsageError;
    c.error = error;
    return c;
}

}  // namespace

std::optional<OleDate> parseCommandTime(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    int v[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = m.captured(i + 1).toInt();
    }
    if (!QDate::isValid(v[0], v[1], v[2]) || !QTime::isValid(v[3], v[4], v[5])) {
        return std::nullopt;
    }
    return oleDateFromParts(v[0], v[1], v[2], v[3], v[4], v[5]);
}

CommandLine parseCommandLine(const QStringList& arguments, bool withStep) {
    CommandLine c;
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        c.kind = CommandLine::Kind::Help;
        return c;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        c.kind = CommandLine::Kind::Version;
        return c;
    }
    if (!arguments.contains(QStringLiteral("--export"))) {
        if (arguments.size() > 1 || (arguments.size() == 1 && arguments[0].startsWith('-'))) {
            return usageError(QStringLiteral("unexpected arguments: ") + arguments.join(' '));
        }
        c.openFile = arguments.value(0);
        return c;
    }
    c.kind = CommandLine::Kind::Export;
    bool haveFrom = false;
    bool haveTo = false;
    bool haveStep = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        const bool known = option == QStringLiteral("--export") ||
                           option == QStringLiteral("--from") || option == QStringLiteral("--to") ||
                           option == QStringLiteral("--output") ||
                           option == QStringLiteral("--format") ||
                           (withStep && option == QStringLiteral("--step"));
        if (!known) {
            return usageError(QStringLiteral("unknown argument: ") + option);
        }
        if (i + 1 >= arguments.size()) {
            return usageError(option + QStringLiteral(" needs a value"));
        }
        const QString value = arguments[++i];
        if (option == QStringLiteral("--export")) {
            c.input = value;
        } else if (option == QStringLiteral("--output")) {
            c.output = value;
        } else if (option == QStringLiteral("--format")) {
            c.format = exportFormatFromName(value);
            if (!c.format) {
                return usageError(QStringLiteral("--format needs xls, csv or xlsx: ") + value);
            }
        } else if (option == QStringLiteral("--step")) {
            bool ok = false;
            c.choice.step = value.trimmed().toInt(&ok);
            if (!ok) {
                return usageError(QStringLiteral("--step needs a whole number: ") + value);
            }
            haveStep = true;
        } else {
            const std::optional<OleDate> t = parseCommandTime(value);
            if (!t) {
                return usageError(option + QStringLiteral(" needs \"YYYY-MM-DD HH:MM:SS\": ") +
                                  value);
            }
            (option == QStringLiteral("--from") ? c.choice.from : c.choice.to) = *t;
            (option == QStringLiteral("--from") ? haveFrom : haveTo) = true;
        }
    }
    if (c.input.isEmpty() || c.output.isEmpty() || !haveFrom || !haveTo) {
        return usageError(QStringLiteral("--export needs FILE, --from, --to and --output"));
    }
    if (!haveStep) {
        c.choice.step = 1;
    }
    return c;
}

QString commandUsage(const QString& program, const QString& inputPattern, bool withStep) {
    QString text;
    text += QStringLiteral("Usage:\n");
    text += QStringLiteral("  %1 [%2]\n      open the window, with the file if one is named\n")
                .arg(program, inputPattern);
    text += QStringLiteral(
                "  %1 --export %2 --from \"YYYY-MM-DD HH:MM:SS\" --to \"YYYY-MM-DD "
                "HH:MM:SS\"%3 [--format xls|csv|xlsx] --output OUT.xls\n")
                .arg(program, inputPattern, withStep ? QStringLiteral(" [--step n]") : QString());
    text += QStringLiteral(
        "      export the records of that time range, the same bytes as "
        "the export dialog writes;\n");
    if (withStep) {
        text += QStringLiteral("      --step n writes every n-th record (n >= 1, default 1);\n");
    }
    text += QStringLiteral(
        "      --format csv writes CSV (UTF-8, four-digit years), --format xlsx an Excel workbook\n"
        "      (at most 1048575 records); without --format an output name ending in .csv or\n"
        "      .xlsx chooses that format, any other the tab-separated text;\n");
    text += QStringLiteral(
        "      prints the number of data lines written; a refused export prints its message on "
        "standard error,\n      writes nothing and exits with status 1; a usage error exits with "
        "status 2\n");
    text += QStringLiteral("  %1 --help\n      this text\n").arg(program);
    text += QStringLiteral("  %1 --version\n      the version\n").arg(program);
    return text;
}

int runExportCommand(const CommandLine& command, const ExportJobOpener& open, std::FILE* out,
                     std::FILE* err) {
    auto opened = open(command.input);
    if (const QString* refused = std::get_if<QString>(&opened)) {
        print(err, *refused + QLatin1Char('\n'));
        return 1;
    }
    ExportJob& job = *std::get<std::unique_ptr<ExportJob>>(opened);
    const ExportFormat format = command.format.value_or(
        exportFormatOfFileName(command.output).value_or(ExportFormat::Text));
    const ExportOutcome outcome = runExport(job, command.choice, command.output, nullptr, format);
    switch (outcome.status) {
        case ExportOutcome::Status::Done:
            print(out, QString::number(outcome.lines) + QLatin1Char('\n'));
            return 0;
        case ExportOutcome::Status::InputUnreadable:
            print(err, QStringLiteral("无法打开文件：%1\n").arg(command.input));
            return 1;
        case ExportOutcome::Status::Refused:
        case ExportOutcome::Status::WriteFailed:
            break;
    }
    print(err, outcome.message + QLatin1Char('\n'));
    return 1;
}

std::optional<int> handleCommandLine(const CommandLine& command, const QString& program,
                                     const QString& inputPattern, bool withStep,
                                     const ExportJobOpener& open) {
    switch (command.kind) {
        case CommandLine::Kind::Window:
            return std::nullopt;
        case CommandLine::Kind::Help:
            print(stdout, commandUsage(program, inputPattern, withStep));
            return 0;
        case CommandLine::Kind::Version:
            print(stdout, program + QStringLiteral(" " TAMLO_VERSION "\n"));
            return 0;
        case CommandLine::Kind::UsageError:
            print(stderr, command.error + QLatin1Char('\n') +
                              commandUsage(program, inputPattern, withStep));
            return 2;
        case CommandLine::Kind::Export:
            break;
    }
    return runExportCommand(command, open, stdout, stderr);
}

}  // namespace tamlo
