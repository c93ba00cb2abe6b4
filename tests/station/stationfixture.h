#pragma once

// A station in a temporary working directory, with config.dat written by the test, on the
// meter simulator linked as COM1 or on in-process meters.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

#include "answeringmeters.h"
#include "fakeclock.h"
#include "scriptedprompter.h"
#include "shared/datetime.h"
#include "simulatorprocess.h"
#include "station/devicetable.h"
#include "station/stationport.h"
#include "station/tform1.h"

namespace tamlo::test {

struct MeterLine {
    int address;
    int model;
    int channel;
    QString source;  // "const:1234"
    int decimals;
    QString tag;
};

class StationFixture {
public:
    StationFixture() { QVERIFY(dir.isValid()); }
    ~StationFixture() {
        form.reset();
        session.reset();
        if (sim) {
            sim->stop();
        }
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    // config.dat with these meters, COM1 at 9600 baud and the record interval.
    void writeConfig(const QList<MeterLine>& meters, int recordInterval, int baudIndex = 2) {
        QByteArray bytes(station::kConfigFileSize, '\0');
        bytes[0] = static_cast<char>(meters.size());
        bytes.replace(5, 6, "583174");
        bytes[15] = 0;
        bytes[16] = static_cast<char>(baudIndex);
        qToLittleEndian<std::uint16_t>(static_cast<std::uint16_t>(recordInterval),
                                       bytes.data() + 17);
        for (int i = 0; i < meters.size(); ++i) {
            station::DeviceEntry e;
            e.model = static_cast<std::uint8_t>(meters[i].model);
            e.address = static_cast<std::uint8_t>(meters[i].address);
            e.channel = static_cast<std::uint8_t>(meters[i].channel);
            const QByteArray tag = meters[i].tag.toLatin1().left(8);
            std::copy(tag.begin(), tag.end(), e.tag.begin());
            bytes.replace(512 + 13 * i, 13, e.toBytes());
        }
        QFile f(path(QStringLiteral("config.dat")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // Starts the meter simulator linked as COM1 with these meters and extra file lines.
    bool startSimulator(const QList<MeterLine>& meters, const QStringList& extraLines = {},
                        const QStringList& extraArguments = {}) {
        QStringList lines;
        for (const MeterLine& m : meters) {
            lines << QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(m.address)
                         .arg(m.model)
                         .arg(m.channel)
                         .arg(m.source)
                         .arg(m.decimals);
        }
        if (meters.isEmpty()) {
            lines << QStringLiteral("250 0 0 const:0 0");  // a line with nobody we ask on it
        }
        lines << extraLines;
        if (!SimulatorProcess::writeMetersFile(path(QStringLiteral("meters.txt")), lines)) {
            return false;
        }
        sim = std::make_unique<SimulatorProcess>(QStringLiteral("tamlo_meter_sim"));
        const bool ok =
            sim->start(QStringList{QStringLiteral("--link"), path(QStringLiteral("COM1")),
                                   QStringLiteral("--meters"), path(QStringLiteral("meters.txt")),
                                   QStringLiteral("--log"), path(QStringLiteral("sim.log"))} +
                       extraArguments);
        if (!ok) {
            qWarning("%s", qPrintable(sim->errorString()));
        }
        return ok;
    }

    // The station on the serial port COM1 resolves to (the simulator's link).
    station::TForm1& start() {
        auto owned = std::make_unique<station::StationPort>(dir.path());
        port = owned.get();
        return startOn(std::move(owned));
    }
    // The station on `meters`, in-process: no port, no process.
    station::TForm1& startScripted() { return startOn(std::make_unique<LentLine>(meters)); }
    station::TForm1& startOn(std::unique_ptr<PortLine> line) {
        form.reset();
        session = std::make_unique<station::StationSession>(dir.path(), clock, std::move(line));
        form = std::make_unique<station::TForm1>(*session, prompter);
        return *form;
    }

    QByteArray readFile(const QString& filePath) const {
        QFile f(filePath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Requests in the simulator's log, as hex texts ("01 43 01 00 F1 9C"), with their times.
    struct Request {
        qint64 ms;
        QString bytes;
        QString reply;
    };
    QList<Request> requests() const {
        QList<Request> out;
        for (const QString& line : sim->logLines()) {
            const qsizetype space = line.indexOf(QLatin1Char(' '));
            const qsizetype arrow = line.indexOf(QStringLiteral(" -> "));
            if (space < 0 || arrow < 0) {
                continue;
            }
            out << Request{line.left(space).toLongLong(), line.mid(space + 1, arrow - space - 1),
                           line.mid(arrow + 4)};
        }
        return out;
    }

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    FakeClock clock;
    std::unique_ptr<SimulatorProcess> sim;
    AnsweringMeters meters;
    station::StationPort* port = nullptr;  // the session's, after start()
    std::unique_ptr<station::StationSession> session;
    std::unique_ptr<station::TForm1> form;
};

}  // namespace tamlo::test
