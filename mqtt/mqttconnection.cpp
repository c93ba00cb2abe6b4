#include "mqttconnection.h"

#include <QFile>
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
                        bool wasConnected) {
    const QString more = detail.isEmpty() ? QString() : QStringLiteral("：") + detail;
    switch (rc) {
        case MOSQ_ERR_EAI:
            return QStringLiteral("找不到主机 %1").arg(host);
        case MOSQ_ERR_ERRNO:
            return QStringLiteral("%1：%2").arg(
                wasConnected ? QStringLiteral("连接中断") : QStringLiteral("无法连接"),
                QString::fromLocal8Bit(std::strerror(systemError)));
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_TLS_HANDSHAKE:
            return QStringLiteral("TLS 握手失败（证书不被信任或主机名不符）") + more;
        case MOSQ_ERR_CONN_LOST:
            return wasConnected ? QStringLiteral("连接中断") : QStringLiteral("连接被关闭") + more;
        default:
            return QString::fromUtf8(mosquitto_strerror(rc)) + more;
    }
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
