#include "shared/datetime.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "viewer/tform1.h"

int main(int argc, char** argv) {
    tamlo::WidgetPrompter prompter;
    tamlo::GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(QStringLiteral("tamlo_view"));
    app.setApplicationDisplayName(QStringLiteral("NorvikDCS"));
    tamlo::SystemClock clock;
    tamlo::viewer::TForm1 form(prompter, clock);
    form.show();
    return app.exec();
}
