#pragma once

#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

namespace tamlo {

// Exit statuses of every program's command line.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;  // refused or failed; the reason is on standard error
inline constexpr int kExitUsage = 2;

// One option of a program's command line, as parsed and as --help lists it.
struct CommandOption {
    QStringList names;    // {"o", "output"}: one-letter names take one dash, the others two
    QString valueName;    // empty for an option without a value
    QString description;  // may hold line breaks
};

// -h/--help and -v/--version, which every program takes.
CommandOption helpOption();
CommandOption versionOption();

// Parses `arguments` (without the program's name) against `options`. An unknown option, a
// missing value and an option given twice (under any of its names) are refused: the text that
// says so comes back. Otherwise `parser` holds the options and the positional arguments.
std::optional<QString> parseCommandOptions(QCommandLineParser& parser,
                                           const QList<CommandOption>& options,
                                           const QStringList& arguments);

// The arguments of main() without the program's name.
QStringList commandArguments(int argc, char** argv);

// The lines of an "Options:" section: names and value at the left, descriptions beside them.
QString listCommandOptions(const QList<CommandOption>& options);

// Writes UTF-8 text and flushes.
void printText(std::FILE* stream, const QString& text);

// Runs a mode of a command line that has no window: an exception that escapes it is printed on
// `err` with the program's name and ends the program with kExitFailed, never an abort.
template <class Run>
int runCommandMode(const QString& program, std::FILE* err, Run&& run) noexcept {
    try {
        return run();
    } catch (const std::exception& e) {
        printText(err, program + QStringLiteral(": ") + QString::fromUtf8(e.what()) + '\n');
    } catch (...) {
        printText(err, program + QStringLiteral(": unexpected failure\n"));
    }
    return kExitFailed;
}

}  // namespace tamlo
