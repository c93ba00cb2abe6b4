#include "modbusserver.h"

#include <QByteArray>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include "recordcycle.h"

namespace tamlo::station {

namespace {

// A reply the client does not take within this time ends the connection.
constexpr int kSendTimeoutSeconds = 2;
// The rest of a request must follow its first bytes within this time.
constexpr int kByteTimeoutMicroseconds = 500000;
constexpr int kReportSeconds = 10;

void report(const QString& text) {
    std::fprintf(stderr, "tamlo_pro: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

QString endpoint(const ModbusSettings& s) {
    return s.listen.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(s.listen).arg(s.port)
                                               : QStringLiteral("%1:%2").arg(s.listen).arg(s.port);
}

}  // namespace

// ---- The register map ------------------------------------------------------------------------

ModbusSnapshot ModbusSnapshot::of(const DeviceTable& active, const LiveValueTable& live,
                                  std::int64_t lastAnswerSeconds) {
    ModbusSnapshot s;
    const int count = std::clamp(active.count, 0, kDevices);
    for (int i = 0; i < kDevices; ++i) {
        const LiveValue& value = live[static_cast<std::size_t>(i)];
        const bool linked = i < count && value.valid;
        const float shown = linked ? engineeringValue(value) : std::nanf("");
        const auto bits = std::bit_cast<std::uint32_t>(shown);
        s.registers[2 * i] = static_cast<std::uint16_t>(bits >> 16);
        s.registers[2 * i + 1] = static_cast<std::uint16_t>(bits & 0xFFFF);
        if (i < count) {
            s.registers[kRawBase + i] = static_cast<std::uint16_t>(value.raw);
            s.registers[kDecimalsBase + i] = value.decimals;
        }
        s.links[static_cast<std::size_t>(i)] = linked ? 1 : 0;
    }
    const auto seconds = static_cast<std::uint32_t>(std::max<std::int64_t>(lastAnswerSeconds, 0));
    s.registers[kCountRegister] = static_cast<std::uint16_t>(count);
    s.registers[kCountRegister + 1] = static_cast<std::uint16_t>(seconds >> 16);
    s.registers[kCountRegister + 2] = static_cast<std::uint16_t>(seconds & 0xFFFF);
    return s;
}

bool ModbusSnapshot::mapsRegisters(int address, int count) {
    static constexpr int blocks[][2] = {{0, 2 * kDevices},
                                        {kRawBase, kRawBase + kDevices},
                                        {kDecimalsBase, kDecimalsBase + kDevices},
                                        {kCountRegister, kRegisters}};
    for (const auto& block : blocks) {
        if (address >= block[0] && address + count <= block[1])
            return true;
    }
    return false;
}

// ---- The server ------------------------------------------------------------------------------

struct ModbusServer::Impl {
    struct Client {
        int fd = -1;  // -1 once closed; under clientsMutex
        std::thread thread;
        std::atomic<bool> done{false};
    };

    ModbusSettings settings;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::thread acceptor;

    std::mutex snapshotMutex;
    ModbusSnapshot snapshot = ModbusSnapshot::of(DeviceTable{}, LiveValueTable{}, 0);
    std::uint64_t generation = 1;

    std::mutex clientsMutex;
    std::list<std::unique_ptr<Client>> clients;  // changed by the acceptor only
    std::atomic<int> connected{0};

    ~Impl() {
        stopping = true;
        if (acceptor.joinable()) {
            wakeAcceptor();
            acceptor.join();
        }
        {
            std::lock_guard lock(clientsMutex);
            for (auto& client : clients) {
                if (client->fd >= 0)
                    ::shutdown(client->fd, SHUT_RDWR);
            }
        }
        for (auto& client : clients) client->thread.join();
        for (int fd : {listenFd, wake[0], wake[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    void reap() {
        for (auto it = clients.begin(); it != clients.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Accepts clients until stopped. The number connected, and newcomers closed at
    // max_clients, go to standard error when they change, at most once per kReportSeconds (a
    // client that connects for every poll would fill the log otherwise).
    void acceptLoop() {
        using Clock = std::chrono::steady_clock;
        const auto every = std::chrono::seconds(kReportSeconds);
        Clock::time_point lastReport = Clock::now() - every;
        Clock::time_point saidFull = lastReport;
        int reported = 0;
        while (!stopping) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(listenFd, &readable);
            FD_SET(wake[0], &readable);
            const auto due = std::max(Clock::duration::zero(), lastReport + every - Clock::now());
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(due).count();
            timeval wait{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
            const bool pending = connected != reported;
            if (::select(std::max(listenFd, wake[0]) + 1, &readable, nullptr, nullptr,
                         pending ? &wait : nullptr) < 0)
                continue;  // interrupted
            if (FD_ISSET(wake[0], &readable)) {
                char bytes[64];
                while (::read(wake[0], bytes, sizeof bytes) > 0) {
                }
            }
            if (FD_ISSET(listenFd, &readable) && !acceptOne() && Clock::now() >= saidFull + every) {
                saidFull = Clock::now();
                report(QStringLiteral("Modbus TCP：已有 %1 个客户端（max_clients），新连接被关闭")
                           .arg(settings.maxClients));
            }
            if (connected != reported && Clock::now() >= lastReport + every) {
                reported = connected;
                lastReport = Clock::now();
                report(QStringLiteral("Modbus TCP：%1 个客户端已连接").arg(reported));
            }
        }
    }

    // False: a newcomer past max_clients was closed.
    bool acceptOne() {
        reap();
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return true;
        // The clients already served keep their places; a newcomer past the limit is closed at
        // once rather than left waiting.
        if (connected >= settings.maxClients) {
            ::close(fd);
            return false;
        }
        const timeval sendTimeout{kSendTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto client = std::make_unique<Client>();
        client->fd = fd;
        ++connected;
        try {
            client->thread = std::thread([this, served = client.get()] { serve(*served); });
        } catch (const std::system_error&) {
            // No thread to be had: this client goes, the station and the others stay.
            ::close(fd);
            --connected;
            return true;
        }
        std::lock_guard lock(clientsMutex);
        clients.push_back(std::move(client));
        return true;
    }

    void wakeAcceptor() const {
        const char byte = 0;
        (void)!::write(wake[1], &byte, 1);
    }

    void serve(Client& client) {
        modbus_t* ctx = modbus_new_tcp_pi(settings.listen.toLatin1().constData(),
                                          QByteArray::number(settings.port).constData());
        modbus_mapping_t* map =
            modbus_mapping_new(0, ModbusSnapshot::kDevices, 0, ModbusSnapshot::kRegisters);
        if (ctx && map) {
            modbus_set_socket(ctx, client.fd);
            modbus_set_indication_timeout(ctx, kIdleSeconds, 0);
            modbus_set_byte_timeout(ctx, 0, kByteTimeoutMicroseconds);
            std::uint64_t seen = 0;
            std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            // A closed connection, a silence of kIdleSeconds, a request that does not parse or a
            // reply the client does not take: each ends the connection.
            for (;;) {
                const int length = modbus_receive(ctx, query);
                if (length < 0 || stopping)
                    break;
                if (length == 0)
                    continue;
                {
                    std::lock_guard lock(snapshotMutex);
                    if (seen != generation) {
                        std::copy(snapshot.registers.begin(), snapshot.registers.end(),
                                  map->tab_input_registers);
                        std::copy(snapshot.links.begin(), snapshot.links.end(),
                                  map->tab_input_bits);
                        seen = generation;
                    }
                }
                if (answer(ctx, map, query, length) < 0)
                    break;
            }
        }
        if (map)
            modbus_mapping_free(map);
        if (ctx)
            modbus_free(ctx);  // leaves the socket to us
        {
            std::lock_guard lock(clientsMutex);
            ::close(client.fd);
            client.fd = -1;
        }
        --connected;
        client.done = true;
        wakeAcceptor();  // for the count on standard error
    }

    // Reads of the map are answered by libmodbus; everything else is refused.
    int answer(modbus_t* ctx, modbus_mapping_t* map, const std::uint8_t* query, int length) const {
        const int offset = modbus_get_header_length(ctx);
        // Other unit ids: this server is no gateway to them.
        if (query[offset - 1] != settings.unitId)
            return modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_GATEWAY_TARGET);
        switch (query[offset]) {
            case MODBUS_FC_READ_INPUT_REGISTERS: {
                // The map has gaps between its blocks, which libmodbus's one table does not know.
                const int address = (query[offset + 1] << 8) | query[offset + 2];
                const int count = (query[offset + 3] << 8) | query[offset + 4];
                if (count >= 1 && count <= MODBUS_MAX_READ_REGISTERS &&
                    !ModbusSnapshot::mapsRegisters(address, count))
                    return modbus_reply_exception(ctx, query,
                                                  MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
                return modbus_reply(ctx, query, length, map);
            }
            // No coils, no holding registers: libmodbus refuses every address of them.
            case MODBUS_FC_READ_DISCRETE_INPUTS:
            case MODBUS_FC_READ_COILS:
            case MODBUS_FC_READ_HOLDING_REGISTERS:
                return modbus_reply(ctx, query, length, map);
            default:
                return modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        }
    }
};

ModbusServer::ModbusServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ModbusServer::~ModbusServer() = default;

ModbusServer::Started ModbusServer::start(const QString& workingDirectory) {
    const LoadedModbusSettings loaded = loadModbusSettings(workingDirectory);
    if (!loaded.error.isEmpty()) {
        const QString message = QStringLiteral("Modbus TCP 服务未启动：") + loaded.error;
        report(message);
        return {nullptr, message};
    }
    if (!loaded.settings.enabled)
        return {};
    return start(loaded.settings);
}

ModbusServer::Started ModbusServer::start(const ModbusSettings& settings) {
    auto impl = std::make_unique<Impl>();
    impl->settings = settings;
    modbus_t* listener = modbus_new_tcp_pi(settings.listen.toLatin1().constData(),
                                           QByteArray::number(settings.port).constData());
    int error = ENOMEM;
    if (listener) {
        impl->listenFd = modbus_tcp_pi_listen(listener, 32);
        error = errno;
        modbus_free(listener);  // the socket stays open
    }
    if (impl->listenFd < 0 || ::pipe2(impl->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const QString message =
            QStringLiteral("Modbus TCP 服务未启动：无法在 %1 监听（%2）")
                .arg(endpoint(settings), QString::fromLocal8Bit(modbus_strerror(error)));
        report(message);
        return {nullptr, message};
    }
    Impl* raw = impl.get();
    raw->acceptor = std::thread([raw] { raw->acceptLoop(); });
    std::unique_ptr<ModbusServer> server(new ModbusServer(std::move(impl)));
    report(server->statusText());
    return {std::move(server), {}};
}

void ModbusServer::publish(const ModbusSnapshot& snapshot) {
    std::lock_guard lock(impl_->snapshotMutex);
    impl_->snapshot = snapshot;
    ++impl_->generation;
}

int ModbusServer::clientCount() const {
    return impl_->connected.load();
}

QString ModbusServer::statusText() const {
    return QStringLiteral("Modbus TCP：在 %1 监听，%2 个客户端已连接")
        .arg(endpoint(impl_->settings))
        .arg(clientCount());
}

}  // namespace tamlo::station
