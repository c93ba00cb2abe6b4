#include "mosquittobroker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>

#include <mosquitto.h>

#include "mqtt/publisher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <csignal>
#endif

namespace tamlo::test {

namespace {

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool run(const QString& program, const QStringList& arguments, QString* error) {
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("%1 %2 failed: %3%4")
                     .arg(program, arguments.join(' '), process.errorString(),
                          QString::fromLocal8Bit(process.readAllStandardError()));
    return false;
}

}  // namespace

MosquittoBroker::MosquittoBroker(QString directory) : directory_(std::move(directory)) {
#ifdef Q_OS_LINUX
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
}

MosquittoBroker::~MosquittoBroker() {
    stop();
}

QString MosquittoBroker::executable() {
    QString path = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                              {"/usr/sbin", "/usr/local/sbin"});
    return path;
}

int MosquittoBroker::freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool MosquittoBroker::addUser(const QString& user, const QString& password) {
    const QString file = QDir(directory_).filePath(QStringLiteral("broker-passwords"));
    QStringList arguments = {QStringLiteral("-b")};
    if (!passwords_)
        arguments << QStringLiteral("-c");
    arguments << file << user << password;
    passwords_ = run(QStringLiteral("mosquitto_passwd"), arguments, &errorString_) || passwords_;
    return passwords_;
}

void MosquittoBroker::setTls(const QString& caFile, const QString& certFile,
                             const QString& keyFile) {
    caFile_ = caFile;
    certFile_ = certFile;
    keyFile_ = keyFile;
}

QString MosquittoBroker::log() const {
    QFile file(QDir(directory_).filePath(QStringLiteral("broker.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool MosquittoBroker::start(int port, int timeoutMs) {
    errorString_.clear();
    stop();
    port_ = port > 0 ? port : freePort();
    QDir dir(directory_);
    QStringList lines = {QStringLiteral("listener %1 127.0.0.1").arg(port_),
                         QStringLiteral("persistence %1").arg(persistent_ ? "true" : "false"),
                         QStringLiteral("log_dest file %1").arg(dir.filePath("broker.log")),
                         QStringLiteral("log_type all"),
                         QStringLiteral("max_queued_messages 1000000")};
    if (persistent_)
        lines << QStringLiteral("persistence_location %1/").arg(directory_)
              << QStringLiteral("autosave_interval 1")
              << QStringLiteral("autosave_on_changes true");
    if (::geteuid() == 0)
        lines << QStringLiteral("user root");  // otherwise it would become "mosquitto"
    if (passwords_) {
        lines << QStringLiteral("allow_anonymous false")
              << QStringLiteral("password_file %1").arg(dir.filePath("broker-passwords"));
    } else {
        lines << QStringLiteral("allow_anonymous true");
    }
    if (!caFile_.isEmpty())
        lines << QStringLiteral("cafile %1").arg(caFile_)
              << QStringLiteral("certfile %1").arg(certFile_)
              << QStringLiteral("keyfile %1").arg(keyFile_);
    lines << extraLines_;
    const QString config = dir.filePath(QStringLiteral("broker.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write((lines.join('\n') + '\n').toUtf8()) < 0) {
        errorString_ = QStringLiteral("cannot write %1").arg(config);
        return false;
    }
    file.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(executable(), {QStringLiteral("-c"), config});
    if (!process_.waitForStarted(timeoutMs)) {
        errorString_ = QStringLiteral("mosquitto did not start: %1").arg(process_.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!accepts(port_)) {
        if (!isRunning() || deadline.hasExpired()) {
            errorString_ = QStringLiteral("mosquitto on port %1 did not come up: %2 %3")
                               .arg(port_)
                               .arg(QString::fromLocal8Bit(process_.readAll()), log());
            kill();
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

void MosquittoBroker::stop() {
    if (!isRunning())
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000))
        kill();
}

void MosquittoBroker::kill() {
    if (!isRunning())
        return;
    process_.kill();
    process_.waitForFinished(5000);
}

void MosquittoBroker::pause() {
    if (isRunning())
        ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
}

bool TestCertificates::make(const QString& directory, QString* error) {
    const QDir dir(directory);
    ca = dir.filePath(QStringLiteral("ca.crt"));
    serverCert = dir.filePath(QStringLiteral("server.crt"));
    serverKey = dir.filePath(QStringLiteral("server.key"));
    otherCa = dir.filePath(QStringLiteral("other-ca.crt"));
    otherHostCert = dir.filePath(QStringLiteral("elsewhere.crt"));
    otherHostKey = dir.filePath(QStringLiteral("elsewhere.key"));
    // The names a server certificate is for.
    const auto names = [&](const QString& file, const QByteArray& subjectAltName) {
        QFile ext(dir.filePath(file));
        if (ext.open(QIODevice::WriteOnly) && ext.write("subjectAltName=" + subjectAltName) > 0)
            return ext.fileName();
        *error = QStringLiteral("cannot write %1").arg(ext.fileName());
        return QString();
    };
    const QString extensions = names("server.ext", "DNS:localhost,IP:127.0.0.1");
    const QString otherExtensions = names("elsewhere.ext", "DNS:elsewhere.example");
    if (extensions.isEmpty() || otherExtensions.isEmpty())
        return false;
    const QString openssl = QStringLiteral("openssl");
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    const auto selfSigned = [&](const QString& name, const QString& cert, const QString& key) {
        return run(
            openssl,
            QStringList{"req", "-x509"} + ec +
                QStringList{"-keyout", key, "-out", cert, "-days", "3", "-subj", "/CN=" + name},
            error);
    };
    const auto signedByCa = [&](const QString& name, const QString& cert, const QString& key,
                                const QString& extensionFile) {
        const QString csr = cert + QStringLiteral(".csr");
        return run(openssl,
                   QStringList{"req"} + ec +
                       QStringList{"-keyout", key, "-out", csr, "-subj", "/CN=" + name},
                   error) &&
               run(openssl,
                   {"x509", "-req", "-in", csr, "-CA", ca, "-CAkey", dir.filePath("ca.key"),
                    "-CAcreateserial", "-out", cert, "-days", "3", "-extfile", extensionFile},
                   error);
    };
    return selfSigned("Tamlo Test CA", ca, dir.filePath("ca.key")) &&
           selfSigned("Unrelated CA", otherCa, dir.filePath("other-ca.key")) &&
           signedByCa("localhost", serverCert, serverKey, extensions) &&
           signedByCa("elsewhere.example", otherHostCert, otherHostKey, otherExtensions);
}

MqttSubscriber::MqttSubscriber() {
    mqtt::initLibrary();
}

MqttSubscriber::~MqttSubscriber() {
    disconnect();
}

bool MqttSubscriber::subscribe(int port, const QString& filter, QString* error,
                               const Options& options) {
    disconnect();
    confirmed_ = false;
    keep_ = options.keep;
    const QByteArray id = options.clientId.toUtf8();
    mosq_ = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), id.isEmpty(), this);
    mosquitto_message_callback_set(mosq_, onMessage);
    mosquitto_subscribe_callback_set(mosq_, onSubscribe);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    if (!options.user.isEmpty())
        mosquitto_username_pw_set(mosq_, options.user.toUtf8().constData(),
                                  options.password.toUtf8().constData());
    int rc = mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_subscribe(mosq_, nullptr, filter.toUtf8().constData(), options.qos);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("subscriber: %1").arg(mosquitto_strerror(rc));
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        return false;
    }
    std::unique_lock lock(mutex_);
    if (!subscribed_.wait_for(lock, std::chrono::seconds(10), [this] { return confirmed_; })) {
        *error = QStringLiteral("subscriber: no SUBACK");
        return false;
    }
    return true;
}

void MqttSubscriber::disconnect() {
    if (!mosq_)
        return;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<MqttSubscriber*>(self);
    if (!s->keep_) {
        std::lock_guard lock(s->mutex_);
        ++s->count_;
        return;
    }
    Message message{QByteArray(m->topic),
                    QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->qos,
                    m->retain};
    std::lock_guard lock(s->mutex_);
    s->messages_.push_back(std::move(message));
    ++s->count_;
}

void MqttSubscriber::onSubscribe(mosquitto*, void* self, int, int, const int*) {
    auto* s = static_cast<MqttSubscriber*>(self);
    std::lock_guard lock(s->mutex_);
    s->confirmed_ = true;
    s->subscribed_.notify_all();
}

std::vector<MqttSubscriber::Message> MqttSubscriber::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

QList<QByteArray> MqttSubscriber::payloads(const QByteArray& topic) const {
    std::lock_guard lock(mutex_);
    QList<QByteArray> list;
    for (const Message& m : messages_) {
        if (m.topic == topic)
            list << m.payload;
    }
    return list;
}

int MqttSubscriber::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void MqttSubscriber::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    count_ = 0;
}

bool writeMqttIni(const QString& directory, int port, const QString& station) {
    QFile ini(QDir(directory).filePath(QStringLiteral("mqtt.ini")));
    return ini.open(QIODevice::WriteOnly) &&
           ini.write(
               QStringLiteral("[mqtt]\nenabled = true\nhost = 127.0.0.1\nport = %1\nstation = %2\n")
                   .arg(port)
                   .arg(station)
                   .toUtf8()) > 0;
}

QList<quint64> sequences(const QList<QByteArray>& recordPayloads) {
    QList<quint64> list;
    for (const QByteArray& payload : recordPayloads)
        list << QJsonDocument::fromJson(payload).object().value("seq").toInteger();
    return list;
}

}  // namespace tamlo::test
