#include "mqttconnection.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <mosquitto.h>

#include "mqttsettings.h"

namespace tamlo::mqtt {

namespace {

int setUpTls(mosquitto* mosq, const Settings& settings) {
    const QByteArray ca = QFile::encodeName(settings.tlsCa);
    const QByteArray cert = QFile::encodeName(settings.tlsCert);
    const QByteArray key = QFile::encodeName(settings.tlsKey);
    // Without tls_ca the system's certificate authorities vouch for the broker.
    int rc = mosquitto_tls_set(mosq, ca.isEmpty() ? nullptr : ca.constData(),
                               ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                               cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_tls_opts_set(mosq, 1, nullptr, nullptr);  // verify the peer
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_tls_insecure_set(mosq, false);  // and its host name
    return rc;
}

}  // namespace

mosquitto* newClient(const Settings& settings, const QByteArray& statusTopic, int window,
                     void* owner, int* rc) {
    mosquitto* mosq = mosquitto_new(settings.clientId.toUtf8().constData(), true, owner);
    if (!mosq) {
        *rc = MOSQ_ERR_NOMEM;
        return nullptr;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, static_cast<unsigned>(window));
    const QByteArray offline("offline");
    *rc = mosquitto_will_set(mosq, statusTopic.constData(), int(offline.size()),
                             offline.constData(), settings.qos, true);
    if (*rc == MOSQ_ERR_SUCCESS && !settings.user.isEmpty()) {
        const QByteArray password = settings.password.toUtf8();
        const bool hasPassword = !settings.passwordFile.isEmpty() || !password.isEmpty();
        *rc = mosquitto_username_pw_set(mosq, settings.user.toUtf8().constData(),
                                        hasPassword ? password.constData() : nullptr);
    }
    if (*rc == MOSQ_ERR_SUCCESS && settings.tls())
        *rc = setUpTls(mosq, settings);
    if (*rc != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(mosq);
        return nullptr;
    }
    return mosq;
}

QString connectionError(int rc, int systemError, const QString& host, const QString& detail,
                        bool wasConnected, int keepAlive) {
    const QString more = detail.isEmpty() ? QString() : QStringLiteral("：") + detail;
    switch (rc) {
        case MOSQ_ERR_KEEPALIVE:  // libmosquitto 2.0.11 has no text for it
            return QStringLiteral("连接中断：broker 在保活时间（%1 秒）内没有应答").arg(keepAlive);
        case MOSQ_ERR_EAI:
            return QStringLiteral("找不到主机 %1").arg(host);
        case MOSQ_ERR_ERRNO:
            return QStringLiteral("%1：%2").arg(
                wasConnected ? QStringLiteral("连接中断") : QStringLiteral("无法连接"),
                QString::fromLocal8Bit(std::strerror(systemError)));
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_TLS_HANDSHAKE:
            return detail.contains(QLatin1String("certificate verify failed"))
                       ? QStringLiteral("TLS 握手失败（证书不被信任或主机名不符）") + more
                       : QStringLiteral("TLS 握手失败") + more;
        case MOSQ_ERR_CONN_LOST:
            return wasConnected ? QStringLiteral("连接中断") : QStringLiteral("连接被关闭") + more;
        default:
            return QString::fromUtf8(mosquitto_strerror(rc)) + more;
    }
}

bool mayBeTlsOnOneSide(int rc, int systemError, const QString& detail, bool stationTls) {
    const bool closed = rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_PROTOCOL ||
                        (rc == MOSQ_ERR_ERRNO && systemError == ECONNRESET);
    if (!stationTls)
        return closed;
    return closed || ((rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) &&
                      !detail.contains(QLatin1String("certificate verify failed")));
}

bool brokerAnswers(const Settings& settings, bool tls, int timeoutMs) {
    mosquitto* mosq = mosquitto_new(nullptr, true, nullptr);
    if (!mosq)
        return false;
    bool answered = false;
    mosquitto_user_data_set(mosq, &answered);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(
        mosq, [](mosquitto*, void* flag, int) { *static_cast<bool*>(flag) = true; });
    int rc = MOSQ_ERR_SUCCESS;
    if (tls) {
        // Only whether it speaks TLS at all counts here: any certificate will do.
        rc = mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(mosq, 0, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_insecure_set(mosq, true);
    }
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect_async(mosq, settings.host.toUtf8().constData(), settings.port, 60);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (rc == MOSQ_ERR_SUCCESS && !answered && std::chrono::steady_clock::now() < deadline)
        rc = mosquitto_loop(mosq, 50, 1);
    mosquitto_destroy(mosq);
    return answered;
}

QString tlsOnOneSideText(const Settings& settings) {
    return settings.tls()
               ? QStringLiteral(
                     "只有本站使用 TLS：broker 在端口 %1 不用 TLS，去掉 mqtt.ini 的 "
                     "tls_ 项或改用 broker 的 TLS 端口")
                     .arg(settings.port)
               : QStringLiteral("broker 要求 TLS，本站却未用 TLS：在 mqtt.ini 中设 tls_ca");
}

QString refusalText(int connackCode) {
    const QString library = QString::fromUtf8(mosquitto_connack_string(connackCode));
    switch (connackCode) {
        case 4:  // bad user name or password
        case 5:  // not authorised: what Mosquitto answers to a wrong password
            return QStringLiteral("用户名或密码错误（%1）").arg(library);
        default:
            return QStringLiteral("broker 拒绝连接（%1）").arg(library);
    }
}

}  // namespace tamlo::mqtt
