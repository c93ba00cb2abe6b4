#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "devicetable.h"
#include "modbussettings.h"
#include "pollcycle.h"

namespace tamlo::station {

// What the server answers from: the register map filled from the live values.
//   input registers 0-125    device k (1 to 63) at 2(k-1): its shown value as a float32, high
//                            word first; NaN without a good reading
//   input registers 200-262  device k at 200+k-1: the meter's raw reading, signed 16 bit
//   input registers 300-362  device k at 300+k-1: its decimals
//   input register 400       the number of active devices
//   input registers 401-402  seconds since 1970 of the last poll answer, high word first
//   discrete inputs 0-62     input k-1 is 1 while device k's link is good
struct ModbusSnapshot {
    static constexpr int kDevices = kDeviceSlots - 1;  // 63
    static constexpr int kRawBase = 200;
    static constexpr int kDecimalsBase = 300;
    static constexpr int kCountRegister = 400;
    static constexpr int kRegisters = 403;

    std::array<std::uint16_t, kRegisters> registers{};
    std::array<std::uint8_t, kDevices> links{};

    // Devices past the active count read as never answered.
    static ModbusSnapshot of(const DeviceTable& active, const LiveValueTable& live,
                             std::int64_t lastAnswerSeconds);
    // Whether input registers [address, address + count) lie in one block of the map.
    static bool mapsRegisters(int address, int count);
};

// A read-only Modbus TCP server of the station's live values, on libmodbus. One thread accepts
// connections; each client is served on a thread of its own, so a client that stalls, sends
// garbage or reads nothing stalls only itself. The session hands in snapshots; handing one in
// only copies it under a lock the serving threads hold for a copy too, never while they wait
// for a client.
class ModbusServer {
public:
    // A client that sends no request for this long is disconnected.
    static constexpr int kIdleSeconds = 60;

    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    struct Started {
        std::unique_ptr<ModbusServer> server;  // null: off, or refused
        QString message;                       // why it was refused; empty when off
    };
    // Reads modbus.ini in the working directory and, when it asks for it, listens at once: a
    // busy port is refused here, with the file's own faults.
    static Started start(const QString& workingDirectory);
    static Started start(const ModbusSettings& settings);

    void publish(const ModbusSnapshot& snapshot);

    int clientCount() const;
    // "Modbus TCP 服务：在 127.0.0.1:1502 监听，2 个客户端已连接"
    QString statusText() const;

private:
    struct Impl;
    explicit ModbusServer(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> impl_;
};

}  // namespace tamlo::station
