#include <QCoreApplication>

#include "shared/datetime.h"
#include "shared/exportcommand.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"
#include "viewer/tform1.h"
#include "viewer/viewerexport.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const tamlo::CommandLine command = tamlo::parseCommandLine(arguments, false);
    if (command.kind != tamlo::CommandLine::Kind::Window) {
        // The export without a window: no display is needed.
        QCoreApplication core(argc, argv);
        return *tamlo::handleCommandLine(command, QStringLiteral("tamlo_view"),
                                         QStringLiteral("FILE.nv"), false,
                                         &tamlo::viewer::StationExportJob::open);
    }
    tamlo::WidgetPrompter prompter(QStringLiteral("NorvikDCS"));
    tamlo::GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(QStringLiteral("tamlo_view"));
    if (!tamlo::checkGbkCodec(prompter, tamlo::gbkAvailable())) {
        return 1;
    }
    tamlo::SystemClock clock;
    tamlo::viewer::TForm1 form(prompter, clock);
    tamlo::StopSignals stopSignals(&tamlo::StopSignals::closeAllAndQuit);
    form.show();
    if (!command.openFile.isEmpty()) {
        form.openFile(command.openFile);
    }
    return app.exec();
}
