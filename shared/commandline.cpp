#include "commandline.h"

#include <QHash>

namespace tamlo {

CommandOption helpOption() {
    return {{QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("show this text")};
}

CommandOption versionOption() {
    return {
        {QStringLiteral("v"), QStringLiteral("version")}, {}, QStringLiteral("show the version")};
}

std::optional<QString> parseCommandOptions(QCommandLineParser& parser,
                                           const QList<CommandOption>& options,
                                           const QStringList& arguments) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    QHash<QString, int> optionOf;
    for (int i = 0; i < options.size(); ++i) {
        const CommandOption& o = options[i];
        parser.addOption(QCommandLineOption(o.names, o.description, o.valueName));
        for (const QString& name : o.names) {
            optionOf.insert(name, i);
        }
    }
    // parse() skips the first word, the program's name.
    if (!parser.parse(QStringList{QString()} + arguments)) {
        return parser.errorText();
    }
    // The parser takes a repeated option's values in a list; a repeated option is a mistake
    // (which of two outputs was meant?) and is refused.
    QList<int> seen;
    for (const QString& name : parser.optionNames()) {
        const int i = optionOf.value(name, -1);
        if (seen.contains(i)) {
            const QString& longName = options[i].names.last();
            return QStringLiteral("the option --%1 is given more than once").arg(longName);
        }
        seen << i;
    }
    return std::nullopt;
}

QStringList commandArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

QString listCommandOptions(const QList<CommandOption>& options) {
    constexpr int kColumn = 30;
    QString text;
    for (const CommandOption& o : options) {
        QStringList names;
        for (const QString& name : o.names) {
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        }
        QString left = QStringLiteral("  ") +
                       (o.names.first().size() == 1 ? QString() : QStringLiteral("    ")) +
                       names.join(QStringLiteral(", "));
        if (!o.valueName.isEmpty()) {
            left += QLatin1Char(' ') + o.valueName;
        }
        const QStringList lines = o.description.split(QLatin1Char('\n'));
        if (left.size() + 2 > kColumn) {
            text += left + QLatin1Char('\n');
            left.clear();
        }
        for (const QString& line : lines) {
            text += left.leftJustified(kColumn) + line + QLatin1Char('\n');
            left.clear();
        }
    }
    return text;
}

void printText(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace tamlo
