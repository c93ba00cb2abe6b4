#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include "exportjob.h"

namespace tamlo {

// The history programs' command line (the options are listed in one table in the .cpp):
//   prog [FILE]                    the window, FILE opened at start-up
//   prog --info FILE               what the file holds, one "key: value" a line
//   prog --export FILE [--from "YYYY-MM-DD HH:MM:SS"] [--to "YYYY-MM-DD HH:MM:SS"] [--step n]
//        [--format xls|csv|xlsx] --output OUT   the export without a window
//   prog --help
//   prog --version
struct CommandLine {
    enum class Kind { Window, Help, Version, Info, Export, UsageError };
    Kind kind = Kind::Window;
    QString openFile;  // Window: the file to open at start-up, if any
    QString input;     // Info, Export
    QString output;
    ExportChoice choice;  // from and to only where given: the file's first and last record else
    bool fromGiven = false;
    bool toGiven = false;
    std::optional<ExportFormat> format;  // --format; absent, the output's name decides
    QString error;                       // UsageError
};

// `arguments` without the program name. `withStep` allows --step.
CommandLine parseCommandLine(const QStringList& arguments, bool withStep);
QString commandUsage(const QString& program, const QString& inputPattern, bool withStep);

// Opens the history file of an export: a job, or the text that refuses the file.
using ExportJobOpener =
    std::function<std::variant<std::unique_ptr<ExportJob>, QString>(const QString&)>;

// Runs an export command: the number of data lines written goes to `out` (to `err` when the
// data itself went to standard output); a refusal's text goes to `err` with exit status 1.
int runExportCommand(const CommandLine& command, const ExportJobOpener& open, std::FILE* out,
                     std::FILE* err);
// Prints what --info tells of the file to `out`; a refused file's text to `err`, status 1.
int runInfoCommand(const CommandLine& command, const ExportJobOpener& open, std::FILE* out,
                   std::FILE* err);

// Handles Help, Version, Info, Export and UsageError command lines and gives their exit status;
// empty for a window command line, which the program goes on to show. No exception escapes: one
// is printed on `err` and gives status 1.
std::optional<int> handleCommandLine(const CommandLine& command, const QString& program,
                                     const QString& inputPattern, bool withStep,
                                     const ExportJobOpener& open, std::FILE* out = stdout,
                                     std::FILE* err = stderr);

// "YYYY-MM-DD HH:MM:SS" of the years 100 to 9999 as a date-time value; empty when it is not
// such a time.
std::optional<OleDate> parseCommandTime(const QString& text);
// A date-time as the command line takes it: "YYYY-MM-DD HH:MM:SS".
QString commandTimeText(OleDate value);

}  // namespace tamlo
