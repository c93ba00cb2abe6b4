#pragma once

#include <QString>

namespace tamlo::station {

// The Modbus TCP server's settings: modbus.ini in the station's working directory, section
// [modbus]. Without the file, or with enabled = false, nothing is served.
//
//     [modbus]
//     enabled = true
//     listen = 192.168.10.5
//     port = 1502
//     unit_id = 1
//     max_clients = 8
struct ModbusSettings {
    bool enabled = false;
    // An IPv4 or IPv6 address, not a host name: the interface a plant chose on purpose, the
    // same at every start. 0.0.0.0 serves every interface.
    QString listen = QStringLiteral("127.0.0.1");
    int port = 1502;  // 502 needs privileges
    int unitId = 1;
    int maxClients = 8;
};

struct LoadedModbusSettings {
    ModbusSettings settings;
    // Empty: usable, or no modbus.ini (then nothing is served). Otherwise why the file cannot
    // be used, naming the file, the key and the reason.
    QString error;
};

LoadedModbusSettings loadModbusSettings(const QString& workingDirectory);

}  // namespace tamlo::station
