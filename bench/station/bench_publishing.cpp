// Publishing the station's records over MQTT, against a local Mosquitto broker started here:
//  1. The CPU that publishing adds to a station of 63 meters recording once a second: the same
//     headless station (in-process meters, the fake clock) run with and without mqtt.ini, its
//     process CPU time per second of station time, publishing included until the broker has
//     every record.
//  2. Twenty stations' record cycles in one process publishing to one broker: a subscriber must
//     receive every record of every station, in order per station.
//   bench_publishing [seconds of station time, default 600] [stations, default 20]
#include <sys/resource.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <cstdio>
#include <cstring>
#include <map>

#include "answeringmeters.h"
#include "bench/benchtiming.h"
#include "fakeclock.h"
#include "mosquittobroker.h"
#include "station/devicetable.h"
#include "station/stationsession.h"

using namespace tamlo;
using namespace tamlo::station;

namespace {

void writeConfig(const QString& directory, int devices) {
    QByteArray bytes(kConfigFileSize, '\0');
    bytes[0] = static_cast<char>(devices);
    bytes.replace(5, 6, "583174");
    bytes[16] = 6;
    qToLittleEndian<std::uint16_t>(1, bytes.data() + 17);  // a record every second
    for (int i = 0; i < devices; ++i) {
        DeviceEntry e;
        e.address = static_cast<std::uint8_t>(i + 1);
        const QByteArray tag = QByteArray("TI") + QByteArray::number(100 + i);
        std::copy(tag.begin(), tag.end(), e.tag.begin());
        bytes.replace(512 + 13 * i, 13, e.toBytes());
    }
    QFile f(QDir(directory).filePath("config.dat"));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

struct Station {
    QTemporaryDir dir;
    test::FakeClock clock;
    test::AnsweringMeters meters;
    std::unique_ptr<StationSession> session;

    void start(int devices) {
        writeConfig(dir.path(), devices);
        for (int i = 1; i <= devices; ++i) {
            meters.meters[i] = {static_cast<std::int16_t>(1000 + 7 * i), 1};
        }
        session = std::make_unique<StationSession>(dir.path(), clock,
                                                   std::make_unique<test::LentLine>(meters));
        session->load();
        session->resetCycles();
        session->openPort();
        session->startHistoryFile();
        session->startPublishing();
    }
    // One second of station time: a turn of polls, then the one-second tick.
    void second(int devices) {
        for (int i = 0; i < devices; ++i) {
            session->pollTick();
        }
        clock.advanceSeconds(1);
        session->secondTick();
    }
    // Waits until the broker has every record.
    bool drained(int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (!session->isPublishing() || session->publishing()->status().waiting == 0) {
                return true;
            }
            QThread::msleep(5);
        }
        return false;
    }
};

// Process CPU seconds of `seconds` seconds of station time with 63 meters.
double stationCpu(int seconds, int port) {
    Station s;
    if (port) {
        test::writeMqttIni(s.dir.path(), port, QStringLiteral("cpu"));
    }
    s.start(63);
    const double before = bench::processCpuSeconds();
    for (int t = 0; t < seconds; ++t) {
        s.second(63);
    }
    if (!s.drained(60000)) {
        std::printf("  the broker did not get every record\n");
    }
    return bench::processCpuSeconds() - before;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(60, std::atoi(argv[1])) : 600;
    const int stations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    if (test::MosquittoBroker::executable().isEmpty()) {
        std::printf("bench_publishing: the mosquitto broker is not installed\n");
        return 1;
    }
    QTemporaryDir brokerDir;
    test::MosquittoBroker broker(brokerDir.path());
    if (!broker.start()) {
        std::printf("bench_publishing: %s\n", qPrintable(broker.errorString()));
        return 1;
    }

    // 1. CPU added per second of station time (best of three runs each way).
    double off = 1e9;
    double on = 1e9;
    for (int run = 0; run < 3; ++run) {
        off = std::min(off, stationCpu(seconds, 0));
        on = std::min(on, stationCpu(seconds, broker.port()));
    }
    const double added = (on - off) / seconds;
    std::printf("63 meters, a record a second, %d s of station time:\n", seconds);
    std::printf("  station CPU without publishing: %.3f s, with: %.3f s\n", off, on);
    std::printf("  publishing adds %.1f us per record = %.4f %% CPU (target < 0.2 %%)\n",
                added * 1e6, added * 100.0);

    // 2. Twenty stations, one broker, one subscriber.
    test::MqttSubscriber subscriber;
    QString error;
    if (!subscriber.subscribe(broker.port(), QStringLiteral("tamlo/+/record"), &error)) {
        std::printf("bench_publishing: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<std::unique_ptr<Station>> plant;
    for (int i = 0; i < stations; ++i) {
        plant.push_back(std::make_unique<Station>());
        test::writeMqttIni(plant.back()->dir.path(), broker.port(),
                           QStringLiteral("s%1").arg(i + 1, 2, 10, QLatin1Char('0')));
        plant.back()->start(16);
    }
    const int records = std::min(seconds, 300);
    QElapsedTimer wall;
    wall.start();
    for (int t = 0; t < records; ++t) {
        for (auto& s : plant) {
            s->second(16);
        }
    }
    const double handed = wall.elapsed() / 1000.0;
    const int expected = records * stations;
    while (subscriber.count() < expected && wall.elapsed() < 120000) {
        QThread::msleep(10);
    }
    const double received = wall.elapsed() / 1000.0;
    std::map<QString, std::vector<qint64>> perStation;
    for (const auto& m : subscriber.messages()) {
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        perStation[o["station"].toString()].push_back(o["seq"].toInteger());
    }
    int complete = 0;
    int ordered = 0;
    for (const auto& [name, seqs] : perStation) {
        bool inOrder = true;
        for (std::size_t k = 1; k < seqs.size(); ++k) {
            inOrder = inOrder && seqs[k] == seqs[k - 1] + 1;
        }
        complete += static_cast<int>(seqs.size()) == records;
        ordered += inOrder;
    }
    std::printf("%d stations x %d records of 16 meters to one broker:\n", stations, records);
    std::printf("  handed over in %.2f s, all received after %.2f s: %d of %d messages\n", handed,
                received, subscriber.count(), expected);
    std::printf("  stations complete: %d of %d, in order without gaps: %d of %d\n", complete,
                stations, ordered, stations);
    return complete == stations && ordered == stations ? 0 : 1;
}
