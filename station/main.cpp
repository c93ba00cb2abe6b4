#include <QDir>

#include "shared/commandline.h"
#include "shared/datetime.h"
#include "shared/gbk.h"
#include "shared/guardedapplication.h"
#include "shared/prompter.h"
#include "shared/stopsignals.h"
#include "shared/translations.h"
#include "station/stationport.h"
#include "station/tform1.h"

namespace {

constexpr char kUsage[] = R"(Usage: tamlo_pro [-h | --help | -v | --version]

The station NorvikDCS: polls the panel meters of its device table over one serial line, shows
their live values and appends them to station history files at the record interval.

It works in the directory it is started in: config.dat (the device table and settings), the
history files <yy>年<mm>月/<dd>日<hh>时<nn>分<ss>秒.nv and the ports: COMn is an entry named COMn
there (a link to /dev/ttyUSB0, or to a simulator), else /dev/ttyS<n-1>. Changes to the device
table need the setup password (first start: 583174).

With a file mqtt.ini there, the station also publishes its records to an MQTT broker; records
wait in the folder mqtt-queue while the broker cannot be reached (docs/mqtt.md, installed
as )" TAMLO_DOC_DIR R"(/mqtt.md).

With a file modbus.ini there, the station also serves its live values and link states over
Modbus TCP, read-only (docs/modbus.md, installed as )" TAMLO_DOC_DIR R"(/modbus.md).

Options:
)";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window exists, so they work without a display.
    const QList<tamlo::CommandOption> options{tamlo::helpOption(), tamlo::versionOption()};
    const QString usage = QString::fromUtf8(kUsage) + tamlo::listCommandOptions(options);
    QCommandLineParser parser;
    std::optional<QString> error =
        tamlo::parseCommandOptions(parser, options, tamlo::commandArguments(argc, argv));
    if (!error && !parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected arguments: ") + parser.positionalArguments().join(' ');
    }
    if (error) {
        tamlo::printText(stderr, QStringLiteral("tamlo_pro: ") + *error + '\n' + usage);
        return tamlo::kExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        tamlo::printText(stdout, usage);
        return tamlo::kExitDone;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        tamlo::printText(stdout, QStringLiteral("tamlo_pro " TAMLO_VERSION "\n"));
        return tamlo::kExitDone;
    }
    tamlo::WidgetPrompter prompter(QStringLiteral("NorvikDCS"));
    tamlo::GuardedApplication app(argc, argv, prompter);
    app.setApplicationName(QStringLiteral("tamlo_pro"));
    tamlo::installQtTranslations(app);
    // Before the port opens and before any box: a stop signal while a box of the start-up is
    // open closes the port (and its lock file) as a stop at any other time does.
    tamlo::StopSignals stopSignals(&tamlo::StopSignals::closeAllAndQuit);
    if (!tamlo::checkGbkCodec(prompter, tamlo::gbkAvailable())) {
        return 1;
    }
    tamlo::SystemClock clock;
    // The session owns the station's one serial line; the window is handed the session.
    const QString directory = QDir::currentPath();
    tamlo::station::StationSession session(
        directory, clock, std::make_unique<tamlo::station::StationPort>(directory));
    tamlo::station::TForm1 form(session, prompter);
    if (stopSignals.stopRequested()) {
        form.close();
        return 0;
    }
    form.show();
    return app.exec();
}
