#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <memory>
#include <variant>

#include "exportjob.h"

namespace tamlo {

// The programs' command line:
//   prog [FILE]                    the window, FILE opened at start-up
//   prog --export FILE --from "YYYY-MM-DD HH:MM:SS" --to "YYYY-MM-DD HH:MM:SS" [--step n]
//        [--format xls|csv|xlsx] --output OUT   the export without a window
//   prog --help
//   prog --version
struct CommandLine {
    enum class Kind { Window, Help, Version, Export, UsageError };
    Kind kind = Kind::Window;
    QString openFile;  // Window: the file to open at start-up, if any
    QString input;     // Export
    QString output;
    ExportChoice choice;
    std::optional<ExportFormat> format;  // Export: --format; absent, the output's name decides
    QString error;                       // UsageError
};

// `arguments` without the program name. `withStep` allows --step.
CommandLine parseCommandLine(const QStringList& arguments, bool withStep);
QString commandUsage(const QString& program, const QString& inputPattern, bool withStep);

// Opens the history file of an export: a job, or the text that refuses the file.
using ExportJobOpener =
    std::function<std::variant<std::unique_ptr<ExportJob>, QString>(const QString&)>;

// Runs an export command: the number of data lines written goes to `out`; a refusal's text goes
// to `err` with exit status 1 and nothing written.
int runExportCommand(const CommandLine& command, const ExportJobOpener& open, std::FILE* out,
                     std::FILE* err);

// Handles Help, Version, Export and UsageError command lines and gives their exit status; empty
// for a window command line, which the program goes on to show.
std::optional<int> handleCommandLine(const CommandLine& command, const QString& program,
                                     const QString& inputPattern, bool withStep,
                                     const ExportJobOpener& open);

// "YYYY-MM-DD HH:MM:SS" as a date-time value; empty when it is not such a time.
std::optional<OleDate> parseCommandTime(const QString& text);

}  // namespace tamlo
