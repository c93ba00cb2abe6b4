#include <QCoreApplication>

#include "analysis/recorderexport.h"
#include "analysis/tform1.h"
#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/exportcommand.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const tamlo::CommandLine command = tamlo::parseCommandLine(arguments, true);
    if (command.kind != tamlo::CommandLine::Kind::Window) {
        // Help, usage errors and exports need no window system.
        QCoreApplication app(argc, argv);
        return *tamlo::handleCommandLine(command, QStringLiteral("tamlo_ana"),
                                         QStringLiteral("FILE.dat"), true,
                                         tamlo::analysis::openRecorderExport);
    }
    tamlo::WidgetPrompter prompter;
    tamlo::GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(QStringLiteral("tamlo_ana"));
    if (!tamlo::checkGbkCodec(prompter, tamlo::gbkAvailable())) {
        return 1;
    }
    tamlo::SystemClock clock;
    tamlo::analysis::TForm1 form(prompter, clock);
    tamlo::StopSignals stopSignals(&tamlo::StopSignals::closeAllAndQuit);
    form.show();
    if (!command.openFile.isEmpty()) {
        form.openFile(command.openFile);
    }
    return app.exec();
}
