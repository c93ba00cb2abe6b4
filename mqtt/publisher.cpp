#include "publisher.h"

#include <QDir>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>

#include <mosquitto.h>

#include "mqttconnection.h"
#include "recordqueue.h"

namespace tamlo::mqtt {

namespace {

using Clock = std::chrono::steady_clock;

// Records in flight at once: enough to keep a local link busy, few enough to resend quickly.
constexpr int kWindow = 256;
constexpr qint64 kReadBytes = 1024 * 1024;
constexpr int kLoopMs = 50;  // how often the worker looks for new records while connected
constexpr auto kOfflineWait = std::chrono::seconds(2);
constexpr int kProbeMs = 3000;  // the longest a look at the broker's TLS may take

void printLine(const QString& text) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

}  // namespace

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

class Publisher::Worker {
public:
    Worker(QString workingDirectory, Settings settings)
        : settings_(std::move(settings)),
          queue_(QDir(workingDirectory).filePath(RecordQueue::directoryName()),
                 static_cast<qint64>(settings_.queueMb) * 1024 * 1024),
          recordTopic_(settings_.topic(QStringLiteral("record")).toUtf8()),
          statusTopic_(settings_.topic(QStringLiteral("status")).toUtf8()),
          liveTopic_(settings_.topic(QStringLiteral("live")).toUtf8()) {}

    ~Worker() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                stopping_ = true;
            }
            wake_.notify_all();
            thread_.join();
        }
    }

    bool start(QString* error) {
        initLibrary();
        QString note;
        if (!queue_.open(error, &note, &notice_))
            return false;
        for (const QString& text : {note, notice_}) {
            if (!text.isEmpty())
                printLine(QStringLiteral("MQTT：") + text);
        }
        started_ = true;
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void publishRecord(const Record& record) {
        if (!started_)
            return;
        const RecordQueue::Appended appended =
            queue_.append(recordPayload(settings_.station, record, queue_.nextSequence()));
        if (!appended.ok) {
            setError(QStringLiteral("记录 %1 未能存入发送队列：%2")
                         .arg(appended.sequence)
                         .arg(appended.error));
        } else if (appended.dropped > 0) {
            setError(
                QStringLiteral("发送队列超过 %1 MB，丢弃了最早的 %2 条记录（本次运行共 %3 条）")
                    .arg(settings_.queueMb)
                    .arg(appended.dropped)
                    .arg(queue_.dropped()));
        }
    }

    void publishLinkState(int index, const QString& tag, bool linked, const QDateTime& time) {
        std::lock_guard lock(mutex_);
        Link& link = links_[index];
        // Every answered poll reports the link; only a change goes out, dated when it changed.
        if (!link.payload.isEmpty() && link.linked == linked && link.tag == tag)
            return;
        link = {tag, linked, linkPayload(settings_.station, index, tag, linked, time)};
        pendingLinks_.insert(index);
    }

    void publishLive(const QDateTime& time, const std::vector<DeviceValue>& devices) {
        if (!settings_.live)
            return;
        {
            std::lock_guard lock(mutex_);
            if (!connected_)
                return;
        }
        QByteArray payload = livePayload(settings_.station, time, devices);
        std::lock_guard lock(mutex_);
        live_ = std::move(payload);
    }

    Status status() const {
        Status s;
        {
            std::lock_guard lock(mutex_);
            s.connected = connected_;
            s.lastError = lastError_;
        }
        s.broker = settings_.broker();
        s.waiting = queue_.waiting();
        s.nextSequence = queue_.nextSequence();
        s.dropped = queue_.dropped();
        s.notice = notice_;
        return s;
    }

    int firstRetryMs_ = 1000;
    int maxRetryMs_ = 30000;
    int connectTimeoutMs_ = 10000;
    int keepAliveSeconds_ = 30;

private:
    struct InFlight {
        quint64 sequence;
        bool acknowledged;
    };

    void run() {
        retryMs_ = firstRetryMs_;
        nextAttempt_ = Clock::now();
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                if (stopping_)
                    break;
                if (!mosq_ && Clock::now() < nextAttempt_) {
                    wake_.wait_until(lock, nextAttempt_, [this] { return stopping_; });
                    continue;
                }
            }
            if (!mosq_) {
                connect();
                continue;
            }
            queue_.sync();
            if (connected()) {
                sendRecords();
                sendLinksAndLive();
            }
            const int rc = mosquitto_loop(mosq_, kLoopMs, 1);
            if (!refusal_.isEmpty()) {
                fail(refusal_);
            } else if (rc != MOSQ_ERR_SUCCESS) {
                fail(errorText(rc));
            } else if (!connected() && Clock::now() - connectStarted_ >
                                           std::chrono::milliseconds(connectTimeoutMs_)) {
                fail(QStringLiteral("连接超时（%1 秒内 broker 没有应答）")
                         .arg(connectTimeoutMs_ / 1000.0));
            } else if (connected()) {
                advanceHead();
            }
        }
        shutDown();
    }

    bool connected() const {
        std::lock_guard lock(mutex_);
        return connected_;
    }

    void connect() {
        refusal_.clear();
        libraryError_.clear();
        int rc = MOSQ_ERR_SUCCESS;
        mosq_ = newClient(settings_, statusTopic_, kWindow, this, &rc);
        if (mosq_) {
            mosquitto_connect_callback_set(mosq_, onConnect);
            mosquitto_publish_callback_set(mosq_, onPublish);
            mosquitto_log_callback_set(mosq_, onLog);
            connectStarted_ = Clock::now();
            rc = mosquitto_connect_async(mosq_, settings_.host.toUtf8().constData(), settings_.port,
                                         keepAliveSeconds_);
        }
        if (rc != MOSQ_ERR_SUCCESS)
            fail(errorText(rc));
    }

    QString errorText(int rc) {
        const int systemError = errno;
        const bool wasConnected = connected();
        const QString text = connectionError(rc, systemError, settings_.host, libraryError_,
                                             wasConnected, keepAliveSeconds_);
        if (wasConnected || !mayBeTlsOnOneSide(rc, systemError, libraryError_, settings_.tls()))
            return text;
        // The library only sees a closed connection or a failed handshake: asking the broker
        // the other way tells whether TLS is on one side only. Once per kind of failure.
        if (text != probedFailure_) {
            probedFailure_ = text;
            probedCause_ = brokerAnswers(settings_, !settings_.tls(), kProbeMs)
                               ? tlsOnOneSideText(settings_)
                               : text;
        }
        return probedCause_;
    }

    // Drops the client; the next attempt comes after the back-off.
    void fail(const QString& reason) {
        if (mosq_) {
            mosquitto_destroy(mosq_);
            mosq_ = nullptr;
        }
        inFlight_.clear();
        mids_.clear();
        {
            std::lock_guard lock(mutex_);
            live_.reset();
        }
        setState(false, reason);
        nextAttempt_ = Clock::now() + std::chrono::milliseconds(retryMs_);
        retryMs_ = std::min(retryMs_ * 2, maxRetryMs_);
    }

    // Any thread.
    void setError(const QString& error) {
        {
            std::lock_guard lock(mutex_);
            if (lastError_ == error)
                return;
            lastError_ = error;
        }
        printLine(statusText(status()));
    }

    // Prints the status line on each change of the connection or the error, not on each retry.
    void setState(bool connected, const QString& error) {
        {
            std::lock_guard lock(mutex_);
            if (connected_ == connected && lastError_ == error)
                return;
            connected_ = connected;
            lastError_ = error;
        }
        printLine(statusText(status()));
    }

    static void onConnect(mosquitto*, void* self, int rc) {
        static_cast<Worker*>(self)->connack(rc);
    }
    static void onPublish(mosquitto*, void* self, int mid) {
        static_cast<Worker*>(self)->published(mid);
    }
    static void onLog(mosquitto*, void* self, int level, const char* text) {
        if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
            static_cast<Worker*>(self)->libraryError_ = QString::fromUtf8(text);
    }

    void connack(int rc) {
        if (rc != 0) {
            refusal_ = refusalText(rc);
            return;
        }
        retryMs_ = firstRetryMs_;
        probedFailure_.clear();  // the broker may be set up otherwise by the next failure
        inFlight_.clear();
        mids_.clear();
        sendNext_ = queue_.head();
        const QByteArray online("online");
        mosquitto_publish(mosq_, nullptr, statusTopic_.constData(), int(online.size()),
                          online.constData(), settings_.qos, true);
        {
            std::lock_guard lock(mutex_);
            for (const auto& link : links_)
                pendingLinks_.insert(link.first);
        }
        setState(true, QString());
    }

    void published(int mid) {
        if (mid == offlineMid_)
            offlineSent_ = true;
        const auto found = mids_.find(mid);
        if (found == mids_.end())
            return;
        const quint64 sequence = found->second;
        mids_.erase(found);
        const auto entry =
            std::lower_bound(inFlight_.begin(), inFlight_.end(), sequence,
                             [](const InFlight& f, quint64 s) { return f.sequence < s; });
        if (entry != inFlight_.end() && entry->sequence == sequence)
            entry->acknowledged = true;
    }

    void sendRecords() {
        while (static_cast<int>(inFlight_.size()) < kWindow) {
            QString problem;
            const auto entries =
                queue_.read(sendNext_, kWindow - int(inFlight_.size()), kReadBytes, &problem);
            if (!problem.isEmpty())
                setError(problem);
            if (entries.empty())
                return;
            for (const RecordQueue::Entry& e : entries) {
                int mid = 0;
                if (mosquitto_publish(mosq_, &mid, recordTopic_.constData(), int(e.payload.size()),
                                      e.payload.constData(), settings_.qos,
                                      false) != MOSQ_ERR_SUCCESS)
                    return;
                mids_[mid] = e.sequence;
                inFlight_.push_back({e.sequence, false});
                sendNext_ = e.sequence + 1;
            }
        }
    }

    void sendLinksAndLive() {
        std::vector<QByteArray> links;
        std::optional<QByteArray> live;
        std::vector<int> indexes;
        {
            std::lock_guard lock(mutex_);
            for (int index : pendingLinks_) {
                indexes.push_back(index);
                links.push_back(links_[index].payload);
            }
            pendingLinks_.clear();
            live.swap(live_);
        }
        for (std::size_t i = 0; i < links.size(); ++i) {
            const QByteArray topic =
                settings_.topic(QStringLiteral("link/%1").arg(indexes[i])).toUtf8();
            mosquitto_publish(mosq_, nullptr, topic.constData(), int(links[i].size()),
                              links[i].constData(), settings_.qos, true);
        }
        if (live)
            mosquitto_publish(mosq_, nullptr, liveTopic_.constData(), int(live->size()),
                              live->constData(), 0, false);
    }

    // The head moves over the acknowledged records at the front, never past a gap.
    void advanceHead() {
        while (!inFlight_.empty() && inFlight_.front().acknowledged) inFlight_.pop_front();
        queue_.acknowledge(inFlight_.empty() ? sendNext_ : inFlight_.front().sequence);
    }

    void shutDown() {
        if (mosq_ && connected()) {
            const QByteArray offline("offline");
            offlineSent_ = false;
            offlineMid_ = -1;
            mosquitto_publish(mosq_, &offlineMid_, statusTopic_.constData(), int(offline.size()),
                              offline.constData(), settings_.qos, true);
            // Acknowledgements still on their way save resending those records next time.
            const auto deadline = Clock::now() + kOfflineWait;
            while ((!offlineSent_ || !inFlight_.empty()) && Clock::now() < deadline &&
                   mosquitto_loop(mosq_, kLoopMs, 1) == MOSQ_ERR_SUCCESS)
                advanceHead();
            advanceHead();
            mosquitto_disconnect(mosq_);
            mosquitto_loop(mosq_, kLoopMs, 1);
        }
        if (mosq_)
            mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        queue_.sync();
        queue_.saveState();
    }

    const Settings settings_;
    RecordQueue queue_;
    const QByteArray recordTopic_;
    const QByteArray statusTopic_;
    const QByteArray liveTopic_;
    bool started_ = false;
    QString notice_;  // set before the thread starts
    std::thread thread_;

    // Shared with the window thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool connected_ = false;
    QString lastError_;
    struct Link {
        QString tag;
        bool linked = false;
        QByteArray payload;
    };
    std::map<int, Link> links_;
    std::set<int> pendingLinks_;
    std::optional<QByteArray> live_;

    // The worker's own.
    mosquitto* mosq_ = nullptr;
    Clock::time_point nextAttempt_;
    Clock::time_point connectStarted_;
    int retryMs_ = 1000;
    quint64 sendNext_ = 0;
    std::deque<InFlight> inFlight_;
    std::unordered_map<int, quint64> mids_;
    QString refusal_;
    QString libraryError_;
    QString probedFailure_;  // the last failure that asked the broker the other way
    QString probedCause_;    // and what it found
    int offlineMid_ = -1;
    bool offlineSent_ = false;
};

Publisher::Publisher(QString workingDirectory, Settings settings)
    : worker_(std::make_unique<Worker>(std::move(workingDirectory), std::move(settings))) {}

Publisher::~Publisher() = default;

bool Publisher::start(QString* error) {
    return worker_->start(error);
}

void Publisher::publishRecord(const Record& record) {
    worker_->publishRecord(record);
}

void Publisher::publishLinkState(int index, const QString& tag, bool linked,
                                 const QDateTime& time) {
    worker_->publishLinkState(index, tag, linked, time);
}

void Publisher::publishLive(const QDateTime& time, const std::vector<DeviceValue>& devices) {
    worker_->publishLive(time, devices);
}

Publisher::Status Publisher::status() const {
    return worker_->status();
}

QString Publisher::statusText() const {
    return statusText(status());
}

QString Publisher::statusText(const Status& s) {
    QString text =
        s.connected
            ? QStringLiteral("MQTT：已连接 %1").arg(s.broker)
            : QStringLiteral("MQTT：未连接 %1（%2）")
                  .arg(s.broker, s.lastError.isEmpty() ? QStringLiteral("正在连接") : s.lastError);
    text += QStringLiteral("，待发送 %1 条记录").arg(s.waiting);
    if (s.dropped > 0)
        text += QStringLiteral("，已丢弃 %1 条").arg(s.dropped);
    if (s.connected && !s.lastError.isEmpty())
        text += QStringLiteral("（%1）").arg(s.lastError);
    return text;
}

void Publisher::setRetryDelays(int firstMs, int maxMs) {
    worker_->firstRetryMs_ = firstMs;
    worker_->maxRetryMs_ = maxMs;
}

void Publisher::setConnectTimeout(int ms) {
    worker_->connectTimeoutMs_ = ms;
}

void Publisher::setKeepAlive(int seconds) {
    worker_->keepAliveSeconds_ = seconds;
}

}  // namespace tamlo::mqtt
