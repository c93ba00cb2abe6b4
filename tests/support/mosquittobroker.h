#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <mutex>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace tamlo::test {

// A real Mosquitto broker that a test starts on a local port, with its own configuration in a
// directory the test owns (a QTemporaryDir):
//
//     MosquittoBroker broker(dir.path());
//     if (MosquittoBroker::executable().isEmpty())
//         QSKIP("the mosquitto broker is not installed");
//     broker.addUser("station", "secret");      // optional: password_file, no anonymous clients
//     QVERIFY2(broker.start(), qPrintable(broker.errorString()));
//     ... broker.kill(); ... QVERIFY(broker.restart());   // same port
//
// The broker gets SIGTERM when the test process dies.
class MosquittoBroker {
public:
    explicit MosquittoBroker(QString directory);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // The broker program, empty when it is not installed.
    static QString executable();
    // A TCP port on 127.0.0.1 that nothing listens on right now.
    static int freePort();

    // Before start(): a user of the password file (anonymous clients are then refused), a TLS
    // listener, extra lines for the configuration.
    bool addUser(const QString& user, const QString& password);
    void setTls(const QString& caFile, const QString& certFile, const QString& keyFile);
    void addConfigLine(const QString& line) { extraLines_ << line; }
    // Keeps sessions, subscriptions and queued messages across a restart, even after kill():
    // a subscriber with a persistent session then misses nothing while the broker is down.
    void setPersistent(bool persistent) { persistent_ = persistent; }

    // Starts on `port` (0: a free one) and waits until it accepts connections.
    bool start(int port = 0, int timeoutMs = 10000);
    // Starts again on the same port.
    bool restart(int timeoutMs = 10000) { return start(port_, timeoutMs); }
    void stop();  // SIGTERM, then waits
    void kill();  // SIGKILL, then waits
    // SIGSTOP: connections stay open but nothing is answered (kill() still ends it).
    void pause();
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    int port() const { return port_; }
    QString errorString() const { return errorString_; }
    QString log() const;  // what the broker wrote

private:
    QString directory_;
    QProcess process_;
    int port_ = 0;
    bool passwords_ = false;
    bool persistent_ = false;
    QString caFile_, certFile_, keyFile_;
    QStringList extraLines_;
    QString errorString_;
};

// Certificates the test makes with the openssl command: a CA, a server certificate for
// localhost and 127.0.0.1 signed by it, one for another host name signed by it too, and a
// second CA that has nothing to do with them.
struct TestCertificates {
    QString ca, serverCert, serverKey, otherCa;
    QString otherHostCert, otherHostKey;  // for elsewhere.example
    bool make(const QString& directory, QString* error);
};

// A subscriber in the test process, on libmosquitto's own thread, that keeps every message.
class MqttSubscriber {
public:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        int qos = 0;
        bool retained = false;
    };

    MqttSubscriber();
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Connects to 127.0.0.1:`port` and subscribes to `filter`; returns once the broker has
    // confirmed the subscription. With a `clientId` the session is persistent: after the
    // broker went down and came back, the subscriber reconnects by itself and gets what was
    // published meanwhile.
    struct Options {
        int qos = 1;
        QString user, password;
        QString clientId;
        bool keep = true;  // false: only count the messages (benchmarks)
    };
    bool subscribe(int port, const QString& filter, QString* error, const Options& options);
    bool subscribe(int port, const QString& filter, QString* error) {
        return subscribe(port, filter, error, Options());
    }
    void disconnect();

    std::vector<Message> messages() const;
    // The payloads that came on `topic`, in order.
    QList<QByteArray> payloads(const QByteArray& topic) const;
    int count() const;
    void clear();

private:
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onSubscribe(mosquitto*, void* self, int, int, const int*);

    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable subscribed_;
    bool confirmed_ = false;
    bool keep_ = true;
    int count_ = 0;
    std::vector<Message> messages_;
};

// The sequence numbers ("seq") of record payloads, in order of arrival.
QList<quint64> sequences(const QList<QByteArray>& recordPayloads);

// mqtt.ini in a station's working directory: publishing on, to 127.0.0.1:`port`, as `station`.
bool writeMqttIni(const QString& directory, int port, const QString& station);

}  // namespace tamlo::test
