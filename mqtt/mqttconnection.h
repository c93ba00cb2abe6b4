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
// message, `keepAlive` the seconds a connected broker may stay silent).
QString connectionError(int rc, int systemError, const QString& host, const QString& detail,
                        bool wasConnected, int keepAlive);

// Whether an attempt that failed this way may have met TLS on one side only: the broker closed
// before its answer, or (with TLS) the handshake failed for another reason than a certificate.
bool mayBeTlsOnOneSide(int rc, int systemError, const QString& detail, bool stationTls);
// Whether a broker answers at the settings' host and port with TLS (`tls`) or without, whatever
// it then says to an anonymous client. Waits at most `timeoutMs`.
bool brokerAnswers(const Settings& settings, bool tls, int timeoutMs);
// The cause when the broker answers only the other way.
QString tlsOnOneSideText(const Settings& settings);
// The broker's refusal in its CONNACK.
QString refusalText(int connackCode);

}  // namespace tamlo::mqtt
