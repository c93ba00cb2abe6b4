#include <QDir>
#include <cstdio>
#include <cstring>

#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"
#include "shared/translations.h"
#include "station/tform1.h"

namespace {

constexpr char kUsage[] = R"(Usage: tamlo_pro [--help | --version]

The station NorvikDCS: polls the panel meters of its device table over one serial line, shows
their live values and appends them to station history files at the record interval.

It works in the directory it is started in: config.dat (the device table and settings), the
history files <yy>年<mm>月/<dd>日<hh>时<nn>分<ss>秒.nv and the ports: COMn is an entry named COMn
there (a link to /dev/ttyUSB0, or to a simulator), else /dev/ttyS<n-1>. Changes to the device
table need the setup password (first start: 583174).

With a file mqtt.ini there, the station also publishes its records to an MQTT broker; records
wait in the folder mqtt-queue while the broker cannot be reached (docs/mqtt.md).

Options:
  --help       show this text
  --version    show the version
)";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window exists, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tamlo_pro %s\n", TAMLO_VERSION);
            return 0;
        }
    }
    tamlo::WidgetPrompter prompter(QStringLiteral("NorvikDCS"));
    tamlo::GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(QStringLiteral("tamlo_pro"));
    tamlo::installQtTranslations(app);
    if (!tamlo::checkGbkCodec(prompter, tamlo::gbkAvailable())) {
        return 1;
    }
    tamlo::SystemClock clock;
    tamlo::station::TForm1 form(QDir::currentPath(), prompter, clock);
    tamlo::StopSignals stopSignals(&tamlo::StopSignals::closeAllAndQuit);
    form.show();
    return app.exec();
}
