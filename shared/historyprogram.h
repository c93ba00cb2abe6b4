#pragma once

#include <QCoreApplication>
#include <QStringList>

#include "shared/commandline.h"
#include "shared/datetime.h"
#include "shared/exportcommand.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"

namespace tamlo {

// What sets the two history programs (tamlo_ana, tamlo_view) apart at start-up.
struct HistoryProgram {
    QString name;          // "tamlo_ana"
    QString inputPattern;  // "FILE.dat", for the usage text
    bool withStep;         // the export takes --step
    QString boxCaption;    // caption of the plain message box; empty: the program's name
    ExportJobOpener openExport;
};

// Says on standard error why a file named on the command line cannot be opened; the window
// then opens without it, as after a file dialog whose file cannot be read.
bool canOpenStartupFile(const QString& program, const QString& path, std::FILE* err = stderr);

// The start-up both history programs share: help, usage errors and exports run without a
// window system; otherwise the main window opens, with the file named on the command line.
template <class Form>
int runHistoryProgram(int argc, char** argv, const HistoryProgram& program) {
    const CommandLine command = parseCommandLine(commandArguments(argc, argv), program.withStep);
    if (command.kind != CommandLine::Kind::Window) {
        QCoreApplication core(argc, argv);
        // A write past the file size limit fails and is reported; the half file goes away.
        StopSignals::ignoreFileSizeSignal();
        StopSignals::ignoreBrokenPipeSignal();
        return *handleCommandLine(command, program.name, program.inputPattern, program.withStep,
                                  program.openExport);
    }
    WidgetPrompter prompter(program.boxCaption);
    GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(program.name);
    // Before any box: a stop signal during one ends the program in order.
    StopSignals stopSignals(&StopSignals::closeAllAndQuit);
    if (!checkGbkCodec(prompter, gbkAvailable())) {
        return 1;
    }
    SystemClock clock;
    Form form(prompter, clock);
    if (stopSignals.stopRequested()) {
        form.close();
        return 0;
    }
    form.show();
    if (!command.openFile.isEmpty() && canOpenStartupFile(program.name, command.openFile)) {
        form.openFile(command.openFile);
    }
    if (stopSignals.stopRequested()) {
        form.close();
        return 0;
    }
    return app.exec();
}

}  // namespace tamlo
