#include "analysis/tform1.h"
#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"

int main(int argc, char** argv) {
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
    return app.exec();
}
