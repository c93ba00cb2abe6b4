#pragma once

#include <QString>

namespace tamlo::mqtt {

// The publishing settings of a station: mqtt.ini in its working directory, section [mqtt].
//
//     [mqtt]
//     enabled = true
//     host = broker.plant.local
//     tls_ca = certs/plant-ca.pem
//     user = station1
//     password_file = mqtt-password
//
// Keys: enabled, host, port, tls_ca, tls_cert, tls_key, user, password_file, client_id, prefix,
// station, qos, queue_mb, live. Relative paths are taken from the working directory.
struct Settings {
    bool enabled = false;
    QString host;
    int port = 1883;  // 8883 when any tls_* key is given and port is not
    QString tlsCa, tlsCert, tlsKey;
    QString user, passwordFile, password;  // password: the first line of password_file
    QString clientId;                      // default "tamlo-<station>"
    QString prefix = QStringLiteral("tamlo");
    QString station;  // default: the host name
    int qos = 1;
    int queueMb = 100;
    bool live = false;

    bool tls() const { return !tlsCa.isEmpty() || !tlsCert.isEmpty() || !tlsKey.isEmpty(); }
    // "<prefix>/<station>/<leaf>"
    QString topic(const QString& leaf) const;
    // "host:port"
    QString broker() const;
};

struct LoadedSettings {
    Settings settings;
    // Empty: the settings are usable, or there is no mqtt.ini (then publishing is off). Otherwise
    // why mqtt.ini cannot be used, naming the file, the key and the reason; publishing is off.
    QString error;
};

LoadedSettings loadSettings(const QString& workingDirectory);

}  // namespace tamlo::mqtt
