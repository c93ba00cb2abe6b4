#pragma once

#include <QCoreApplication>
#include <QStringList>

#include "shared/datetime.h"
#include "shared/exportcommand.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"
#include "shared/translations.h"

namespace tamlo {

// What sets the two history programs (tamlo_ana, tamlo_view) apart at start-up.
struct HistoryProgram {
    QString name;          // "tamlo_ana"
    QString inputPattern;  // "FILE.dat", for the usage text
    bool withStep;         // the export takes --step
    QString boxCaption;    // caption of the plain message box; empty: the program's name
    ExportJobOpener openExport;
};

// The start-up both history programs share: help, usage errors and exports run without a
// window system; otherwise the main window opens, with the file named on the command line.
template <class Form>
int runHistoryProgram(int argc, char** argv, const HistoryProgram& program) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine command = parseCommandLine(arguments, program.withStep);
    if (command.kind != CommandLine::Kind::Window) {
        QCoreApplication core(argc, argv);
        // A write past the file size limit fails and is reported; the half file goes away.
        StopSignals::ignoreFileSizeSignal();
        return *handleCommandLine(command, program.name, program.inputPattern, program.withStep,
                                  program.openExport);
    }
    WidgetPrompter prompter(program.boxCaption);
    GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(program.name);
    installQtTranslations(app);
    if (!checkGbkCodec(prompter, gbkAvailable())) {
        return 1;
    }
    SystemClock clock;
    Form form(prompter, clock);
    StopSignals stopSignals(&StopSignals::closeAllAndQuit);
    form.show();
    if (!command.openFile.isEmpty()) {
        form.openFile(command.openFile);
    }
    return app.exec();
}

}  // namespace tamlo
