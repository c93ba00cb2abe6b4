#include "exportcommand.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

#include "commandline.h"
#include "exportfile.h"

namespace tamlo {
namespace {

// One option of the history programs, as --help lists it and as it is taken into the command
// line; `take` gives the text that refuses a value. Adding an option is adding a row here.
struct HistoryOption {
    CommandOption option;  // "%1" in the value name or description stands for the input pattern
    enum class Use { Always, Export, Step } use;
    std::optional<QString> (*take)(CommandLine&, const QString& value);
};

std::optional<QString> takeTime(const QString& option, const QString& value, OleDate& into,
                                bool& given) {
    const std::optional<OleDate> t = parseCommandTime(value);
    if (!t) {
        return QStringLiteral(
                   "--%1 needs a time \"YYYY-MM-DD HH:MM:SS\" of the years 100 to 9999, not "
                   "\"%2\"")
            .arg(option, value);
    }
    into = *t;
    given = true;
    return std::nullopt;
}

// --info and --export: the mode and the file it reads.
template <CommandLine::Kind mode>
std::optional<QString> takeMode(CommandLine& c, const QString& file) {
    c.kind = mode;
    c.input = file;
    return std::nullopt;
}

const QList<HistoryOption>& historyOptions() {
    using Use = HistoryOption::Use;
    static const QList<HistoryOption> options{
        {helpOption(), Use::Always, nullptr},
        {versionOption(), Use::Always, nullptr},
        {{{QStringLiteral("info")},
          QStringLiteral("%1"),
          QStringLiteral("print what the file holds, one \"key: value\" a line: kind,\n"
                         "channels and their names, interval, first and last record\n"
                         "time, record count")},
         Use::Always,
         &takeMode<CommandLine::Kind::Info>},
        {{{QStringLiteral("export")},
          QStringLiteral("%1"),
          QStringLiteral("export the records of a time range (the same bytes as the\n"
                         "export dialog writes) and print the number of data lines\n"
                         "written")},
         Use::Always,
         &takeMode<CommandLine::Kind::Export>},
        {{{QStringLiteral("from")},
          QStringLiteral("TIME"),
          QStringLiteral("the export's first time (default: the file's first record)")},
         Use::Export,
         [](CommandLine& c, const QString& v) {
             return takeTime(QStringLiteral("from"), v, c.choice.from, c.fromGiven);
         }},
        {{{QStringLiteral("to")},
          QStringLiteral("TIME"),
          QStringLiteral("the export's last time (default: the file's last record)")},
         Use::Export,
         [](CommandLine& c, const QString& v) {
             return takeTime(QStringLiteral("to"), v, c.choice.to, c.toGiven);
         }},
        {{{QStringLiteral("step")},
          QStringLiteral("n"),
          QStringLiteral("write every n-th record (n >= 1, default 1)")},
         Use::Step,
         [](CommandLine& c, const QString& v) -> std::optional<QString> {
             bool ok = false;
             c.choice.step = v.trimmed().toInt(&ok);
             if (!ok) {
                 return QStringLiteral("--step needs a whole number, not \"%1\"").arg(v);
             }
             return std::nullopt;
         }},
        {{{QStringLiteral("format")},
          QStringLiteral("xls|csv|xlsx"),
          QStringLiteral("the file's format: tab-separated text (xls), CSV in UTF-8 with\n"
                         "four-digit years (csv), an Excel workbook of at most 1048575\n"
                         "records (xlsx); default: csv or xlsx for an output name ending\n"
                         "so, else xls")},
         Use::Export,
         [](CommandLine& c, const QString& v) -> std::optional<QString> {
             c.format = exportFormatFromName(v);
             if (!c.format) {
                 return QStringLiteral("--format needs xls, csv or xlsx, not \"%1\"").arg(v);
             }
             return std::nullopt;
         }},
        {{{QStringLiteral("output")},
          QStringLiteral("OUT"),
          QStringLiteral("where the export goes: a file is written beside its name and\n"
                         "renamed over it when complete; a pipe, a character device or a\n"
                         "socket is written into as a stream; - is standard output (the\n"
                         "number of lines then goes to standard error)")},
         Use::Export,
         [](CommandLine& c, const QString& v) -> std::optional<QString> {
             c.output = v;
             return std::nullopt;
         }},
    };
    return options;
}

QList<CommandOption> commandOptions(const QString& inputPattern, bool withStep) {
    QList<CommandOption> list;
    for (const HistoryOption& o : historyOptions()) {
        if (o.use != HistoryOption::Use::Step || withStep) {
            CommandOption option = o.option;
            option.valueName.replace(QStringLiteral("%1"), inputPattern);
            list << option;
        }
    }
    return list;
}

CommandLine usageError(const QString& error) {
    CommandLine c;
    c.kind = CommandLine::Kind::UsageError;
    c.error = error;
    return c;
}

// The refusal of a range names the span the file accepts.
QString withSpan(const QString& message, const ExportJob& job) {
    if (message != QString::fromUtf8(kExportRangeText)) {
        return message;
    }
    return message + QStringLiteral("（有效时间范围：%1 至 %2）")
                         .arg(commandTimeText(job.startTime()), commandTimeText(job.endTime()));
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
    // Earlier years have no date-time value.
    if (v[0] < 100 || !QDate::isValid(v[0], v[1], v[2]) || !QTime::isValid(v[3], v[4], v[5])) {
        return std::nullopt;
    }
    return oleDateFromParts(v[0], v[1], v[2], v[3], v[4], v[5]);
}

QString commandTimeText(OleDate value) {
    return formatOleDate(QStringLiteral("yyyy-mm-dd hh:nn:ss"), value);
}

CommandLine parseCommandLine(const QStringList& arguments, bool withStep) {
    QCommandLineParser parser;
    if (const auto error = parseCommandOptions(
            parser, commandOptions(QStringLiteral("FILE"), withStep), arguments)) {
        return usageError(*error);
    }
    CommandLine c;
    if (parser.isSet(QStringLiteral("help"))) {
        c.kind = CommandLine::Kind::Help;
        return c;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        c.kind = CommandLine::Kind::Version;
        return c;
    }
    if (parser.isSet(QStringLiteral("info")) && parser.isSet(QStringLiteral("export"))) {
        return usageError(QStringLiteral("--info and --export cannot be given together"));
    }
    const bool exporting = parser.isSet(QStringLiteral("export"));
    for (const HistoryOption& o : historyOptions()) {
        const QString& name = o.option.names.last();
        if (!o.take || (o.use == HistoryOption::Use::Step && !withStep) || !parser.isSet(name)) {
            continue;
        }
        if (o.use != HistoryOption::Use::Always && !exporting) {
            return usageError(QStringLiteral("--%1 belongs to --export").arg(name));
        }
        if (const auto refused = o.take(c, parser.value(name))) {
            return usageError(*refused);
        }
    }
    const QStringList files = parser.positionalArguments();
    if (c.kind == CommandLine::Kind::Window && files.size() <= 1) {
        c.openFile = files.value(0);
        return c;
    }
    if (!files.isEmpty()) {
        return usageError(QStringLiteral("unexpected arguments: ") + files.join(' '));
    }
    if (exporting && c.output.isEmpty()) {
        return usageError(QStringLiteral("--export needs --output"));
    }
    return c;
}

QString commandUsage(const QString& program, const QString& inputPattern, bool withStep) {
    QString text;
    text += QStringLiteral("Usage: %1 [%2]\n").arg(program, inputPattern);
    text += QStringLiteral("  or:  %1 --info %2\n").arg(program, inputPattern);
    text += QStringLiteral(
                "  or:  %1 --export %2 [--from TIME] [--to TIME]%3 [--format xls|csv|xlsx] "
                "--output OUT\n")
                .arg(program, inputPattern, withStep ? QStringLiteral(" [--step n]") : QString());
    text += QStringLiteral(
        "\nWithout options, opens the window, with the file if one is named. The other forms "
        "run\nwithout a window. TIME is \"YYYY-MM-DD HH:MM:SS\".\n\nOptions:\n");
    text += listCommandOptions(commandOptions(inputPattern, withStep));
    text += QStringLiteral(
        "\nExit status:\n"
        "  0  done\n"
        "  1  the file or the export refused (its message on standard error, nothing written),\n"
        "     or a write failed\n"
        "  2  a usage error (the message and this text on standard error)\n");
    return text;
}

int runExportCommand(const CommandLine& command, const ExportJobOpener& open, std::FILE* out,
                     std::FILE* err) {
    auto opened = open(command.input);
    if (const QString* refused = std::get_if<QString>(&opened)) {
        printText(err, *refused + QLatin1Char('\n'));
        return kExitFailed;
    }
    ExportJob& job = *std::get<std::unique_ptr<ExportJob>>(opened);
    ExportChoice choice = command.choice;
    if (!command.fromGiven) {
        choice.from = job.startTime();
    }
    if (!command.toGiven) {
        choice.to = job.endTime();
    }
    const ExportFormat format = command.format.value_or(
        exportFormatOfFileName(command.output).value_or(ExportFormat::Text));
    const ExportOutcome outcome = runExport(job, choice, command.output, nullptr, format);
    switch (outcome.status) {
        case ExportOutcome::Status::Done:
            // Data on standard output keeps its lines to itself.
            printText(isStandardOutput(command.output) ? err : out,
                      QString::number(outcome.lines) + QLatin1Char('\n'));
            return kExitDone;
        case ExportOutcome::Status::InputUnreadable:
            printText(err, QStringLiteral("无法打开文件：%1\n").arg(command.input));
            return kExitFailed;
        case ExportOutcome::Status::Refused:
        case ExportOutcome::Status::WriteFailed:
            break;
    }
    printText(err, withSpan(outcome.message, job) + QLatin1Char('\n'));
    return kExitFailed;
}

int runInfoCommand(const CommandLine& command, const ExportJobOpener& open, std::FILE* out,
                   std::FILE* err) {
    auto opened = open(command.input);
    if (const QString* refused = std::get_if<QString>(&opened)) {
        printText(err, *refused + QLatin1Char('\n'));
        return kExitFailed;
    }
    const HistoryFacts facts = std::get<std::unique_ptr<ExportJob>>(opened)->facts();
    QString text;
    const auto line = [&text](const QString& key, const QString& value) {
        text += key + QStringLiteral(": ") + value + QLatin1Char('\n');
    };
    line(QStringLiteral("file"), command.input);
    line(QStringLiteral("kind"), facts.kind);
    line(QStringLiteral("channels"), QString::number(facts.channels.size()));
    for (int i = 0; i < facts.channels.size(); ++i) {
        line(QStringLiteral("channel %1").arg(i + 1), facts.channels[i]);
    }
    line(QStringLiteral("interval"), QStringLiteral("%1 s").arg(facts.intervalSeconds));
    line(QStringLiteral("first record"),
         facts.records > 0 ? commandTimeText(facts.firstRecord) : QString());
    line(QStringLiteral("last record"),
         facts.records > 0 ? commandTimeText(facts.lastRecord) : QString());
    line(QStringLiteral("records"), QString::number(facts.records));
    printText(out, text);
    return kExitDone;
}

std::optional<int> handleCommandLine(const CommandLine& command, const QString& program,
                                     const QString& inputPattern, bool withStep,
                                     const ExportJobOpener& open, std::FILE* out, std::FILE* err) {
    if (command.kind == CommandLine::Kind::Window) {
        return std::nullopt;
    }
    return runCommandMode(program, err, [&] {
        switch (command.kind) {
            case CommandLine::Kind::Help:
                printText(out, commandUsage(program, inputPattern, withStep));
                return kExitDone;
            case CommandLine::Kind::Version:
                printText(out, program + QStringLiteral(" " TAMLO_VERSION "\n"));
                return kExitDone;
            case CommandLine::Kind::UsageError:
                printText(err, program + QStringLiteral(": ") + command.error + QLatin1Char('\n') +
                                   commandUsage(program, inputPattern, withStep));
                return kExitUsage;
            case CommandLine::Kind::Info:
                return runInfoCommand(command, open, out, err);
            case CommandLine::Kind::Export:
            case CommandLine::Kind::Window:
                break;
        }
        return runExportCommand(command, open, out, err);
    });
}

}  // namespace tamlo
