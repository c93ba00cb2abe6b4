// The Modbus TCP server beside a polling station of 63 meters (in-process meters, real timers):
// the gaps between polls and the process CPU with the server idle, then with clients (in a
// process of their own) each reading every register and discrete input 10 times a second.
//   bench_modbus [seconds per phase, default 30] [clients, default 20]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <modbus/modbus.h>
#include <sys/wait.h>
#include <unistd.h>

#include "answeringmeters.h"
#include "bench/benchtiming.h"
#include "fakeclock.h"
#include "mosquittobroker.h"
#include "station/stationsession.h"

using namespace tamlo;
using namespace tamlo::station;

namespace {

struct Counts {
    long answered = 0;
    long failed = 0;
};

// The clients' side: each client reads the whole map every 100 ms for `seconds`.
Counts readForSeconds(int port, int clients, int seconds) {
    std::atomic<long> answered{0};
    std::atomic<long> failed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            modbus_set_slave(ctx, 1);
            if (modbus_connect(ctx) != 0) {
                failed += seconds * 10;
                modbus_free(ctx);
                return;
            }
            std::uint16_t registers[125];
            std::uint8_t bits[63];
            const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(5 * c);
            for (int k = 0; k < seconds * 10; ++k) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(100 * k));
                const bool ok = modbus_read_input_registers(ctx, 0, 64, registers) == 64 &&
                                modbus_read_input_registers(ctx, 64, 62, registers) == 62 &&
                                modbus_read_input_registers(ctx, 200, 63, registers) == 63 &&
                                modbus_read_input_registers(ctx, 300, 63, registers) == 63 &&
                                modbus_read_input_registers(ctx, 400, 3, registers) == 3 &&
                                modbus_read_input_bits(ctx, 0, 63, bits) == 63;
                ++(ok ? answered : failed);
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    }
    for (auto& t : threads) t.join();
    return {answered.load(), failed.load()};
}

struct Phase {
    double medianGapMs = 0;
    double p95GapMs = 0;
    double cpuPercent = 0;
};

// Runs the event loop for `seconds`, timing the polls by their answers.
Phase measure(QCoreApplication& app, StationSession& session, int seconds) {
    std::vector<double> gaps;
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    const auto connection =
        QObject::connect(&session, &StationSession::linkStateChanged, [&](int, bool) {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0)
                gaps.push_back((now - last) / 1e6);
            last = now;
        });
    const double cpu = bench::processCpuSeconds();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    Phase phase;
    phase.cpuPercent = (bench::processCpuSeconds() - cpu) / (clock.nsecsElapsed() / 1e9) * 100;
    QObject::disconnect(connection);
    phase.medianGapMs = bench::median(gaps);
    std::sort(gaps.begin(), gaps.end());
    phase.p95GapMs = gaps.empty() ? 0 : gaps[gaps.size() * 95 / 100];
    return phase;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    const int clients = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const int port = test::MosquittoBroker::freePort();

    // The clients run in a process of their own, so that their CPU is not the station's. It
    // is forked before any thread exists and waits for the word to start.
    int go[2];
    int result[2];
    if (::pipe(go) != 0 || ::pipe(result) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        char word = 0;
        if (::read(go[0], &word, 1) != 1 || word != 'g')
            ::_exit(0);
        const Counts counts = readForSeconds(port, clients, seconds);
        (void)!::write(result[1], &counts, sizeof counts);
        ::_exit(0);
    }

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    test::FakeClock clock;
    test::AnsweringMeters meters;
    QFile ini(dir.filePath(QStringLiteral("modbus.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[modbus]\nenabled = true\nport = %1\nmax_clients = %2\n")
                  .arg(port)
                  .arg(clients + 1)
                  .toLatin1());
    ini.close();
    StationSession session(dir.path(), clock, std::make_unique<test::LentLine>(meters));
    session.load();
    for (int i = 1; i <= 63; ++i) {
        DeviceEntry entry;
        entry.address = static_cast<std::uint8_t>(i);
        session.addDevice(entry);
        meters.meters[i] = {static_cast<std::int16_t>(1000 + 7 * i), 1};
    }
    StationConfig config = session.config();
    config.recordInterval = 1;
    session.save(config);
    session.resetCycles();
    session.startModbus();
    if (!session.modbus()) {
        std::printf("bench_modbus: the server did not start\n");
        return 1;
    }
    session.startPolling();
    session.startRecording();

    const Phase idle = measure(app, session, seconds);
    (void)!::write(go[1], "g", 1);
    const Phase loaded = measure(app, session, seconds);
    Counts counts;
    (void)!::read(result[0], &counts, sizeof counts);
    ::waitpid(child, nullptr, 0);
    session.close();

    std::printf("63 meters polled every 50 ms, %d s per phase:\n", seconds);
    std::printf(
        "  server idle:          poll gap median %.2f ms (95th %.2f), process CPU %.2f %%\n",
        idle.medianGapMs, idle.p95GapMs, idle.cpuPercent);
    std::printf(
        "  %2d clients x 10/s:    poll gap median %.2f ms (95th %.2f), process CPU %.2f %%\n",
        clients, loaded.medianGapMs, loaded.p95GapMs, loaded.cpuPercent);
    std::printf(
        "  median gap moved %+.2f ms (target within 1 ms), CPU added %.2f %% "
        "(target < 2 %%)\n",
        loaded.medianGapMs - idle.medianGapMs, loaded.cpuPercent - idle.cpuPercent);
    std::printf("  client passes over the whole map: %ld answered, %ld failed\n", counts.answered,
                counts.failed);
    return counts.failed == 0 ? 0 : 1;
}
