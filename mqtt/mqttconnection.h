#pragma once

#include <QByteArray>
#include <QString>

struct mosquitto;

namespace tamlo::mqtt {

struct Settings;

// A fresh libmosquitto client for one connection attempt: MQTT 3.1.1, a clean session (so the
// library never resends its own copies behind the queue's back), at most `window` messages in
// flight, the retained last will "offline" on `statusTopic`, user and password, and TLS that
// verifies the broker's certificate and host name. Null, with `rc` set, when the library
// refuses a setting.
mosquitto* newClient(const Settings& settings, const QByteArray& statusTopic, int window,
                     void* owner, int* rc);

// What went wrong, for the status line: a failed attempt or a lost connection (`rc` a
// libmosquitto error, `systemError` errno right after it, `detail` the library's last error
// message).
QString connectionError(int rc, int systemError, const QString& host, const QString& detail,
                        bool wasConnected);
// The broker's refusal in its CONNACK.
QString refusalText(int connackCode);

}  // namespace tamlo::mqtt
