#include <QDir>

#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"
#include "station/tform1.h"

int main(int argc, char** argv) {
    tamlo::WidgetPrompter prompter(QStringLiteral("NorvikDCS"));
    tamlo::GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(QStringLiteral("tamlo_pro"));
    if (!tamlo::checkGbkCodec(prompter, tamlo::gbkAvailable())) {
        return 1;
    }
    tamlo::SystemClock clock;
    tamlo::station::TForm1 form(QDir::currentPath(), prompter, clock);
    tamlo::StopSignals stopSignals(&tamlo::StopSignals::closeAllAndQuit);
    form.show();
    return app.exec();
}
