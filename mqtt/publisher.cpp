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

// Alarm events wait in a queue of their own: their sequence runs by itself, and a flood of
// records during a long outage never pushes an alarm out. A tenth of the records' bound, at
// least 1 MB (some 3000 events).
qint64 alarmQueueBytes(int queueMb) {
    return std::max<qint64>(qint64(1) << 20, qint64(queueMb) * 1024 * 1024 / 10);
}

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
          records_(QDir(workingDirectory).filePath(RecordQueue::directoryName()),
                   static_cast<qint64>(settings_.queueMb) * 1024 * 1024,
                   settings_.topic(QStringLiteral("record")).toUtf8()),
          alarms_(QDir(workingDirectory).filePath(RecordQueue::alarmDirectoryName()),
                  alarmQueueBytes(settings_.queueMb),
                  settings_.topic(QStringLiteral("alarm")).toUtf8()),
          queue_(records_.queue),
          statusTopic_(settings_.topic(QStringLiteral("status")).toUtf8()),
          liveTopic_(settings_.topic(QStringLiteral("live")).toUtf8()),
          activeTopic_(settings_.topic(QStringLiteral("alarms/active")).toUtf8()),
          statsTopic_(settings_.topic(QStringLiteral("stats")).toUtf8()) {}

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
        QString notes[4];
        if (!records_.queue.open(error, &notes[0], &notes[1]) ||
            !alarms_.queue.open(error, &notes[2], &notes[3]))
            return false;
        for (const QString& text : notes) {
            if (!text.isEmpty())
                printLine(QStringLiteral("MQTT：") + text);
        }
        notice_ = notes[1].isEmpty() || notes[3].isEmpty() ? notes[1] + notes[3]
                                                           : notes[1] + u'\n' + notes[3];
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

    void publishAlarm(const AlarmMessage& alarm) {
        if (!started_)
            return;
        RecordQueue& queue = alarms_.queue;
        const RecordQueue::Appended appended =
            queue.append(alarmPayload(settings_.station, alarm, queue.nextSequence()));
        if (!appended.ok) {
            setError(QStringLiteral("报警 %1 未能存入发送队列：%2")
                         .arg(appended.sequence)
                         .arg(appended.error));
        } else if (appended.dropped > 0) {
            setError(QStringLiteral("报警发送队列已满，丢弃了最早的 %1 条报警（本次运行共 %2 条）")
                         .arg(appended.dropped)
                         .arg(queue.dropped()));
        }
    }

    void publishActiveAlarms(const QDateTime& time, const std::vector<ActiveAlarmMessage>& list) {
        QByteArray payload = activeAlarmsPayload(settings_.station, time, list);
        std::lock_guard lock(mutex_);
        active_ = std::move(payload);
        activePending_ = true;
    }

    void publishStats(const QDateTime& time, const std::vector<MeterStats>& meters) {
        {
            std::lock_guard lock(mutex_);
            if (!connected_)
                return;
        }
        QByteArray payload = statsPayload(settings_.station, time, meters);
        std::lock_guard lock(mutex_);
        stats_ = std::move(payload);
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
        s.alarmsWaiting = alarms_.queue.waiting();
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

    // A queue on disk and what of it is on its way to the broker.
    struct Stream {
        Stream(const QString& directory, qint64 maxBytes, QByteArray topicName)
            : queue(directory, maxBytes), topic(std::move(topicName)) {}
        RecordQueue queue;
        const QByteArray topic;
        quint64 sendNext = 0;  // the worker's
        std::deque<InFlight> inFlight;
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
            records_.queue.sync();
            alarms_.queue.sync();
            if (connected()) {
                // Alarms first: few and urgent; records fill the rest of the window.
                send(alarms_);
                send(records_);
                sendLatest();
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
                advanceHeads();
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
        records_.inFlight.clear();
        alarms_.inFlight.clear();
        mids_.clear();
        {
            std::lock_guard lock(mutex_);
            live_.reset();
            stats_.reset();
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
        for (Stream* stream : {&records_, &alarms_}) {
            stream->inFlight.clear();
            stream->sendNext = stream->queue.head();
        }
        mids_.clear();
        const QByteArray online("online");
        mosquitto_publish(mosq_, nullptr, statusTopic_.constData(), int(online.size()),
                          online.constData(), settings_.qos, true);
        {
            std::lock_guard lock(mutex_);
            for (const auto& link : links_) pendingLinks_.insert(link.first);
            // A broker that restarted without its store lost the retained list.
            activePending_ = !active_.isEmpty();
        }
        setState(true, QString());
    }

    void published(int mid) {
        if (mid == offlineMid_)
            offlineSent_ = true;
        const auto found = mids_.find(mid);
        if (found == mids_.end())
            return;
        const auto [stream, sequence] = found->second;
        mids_.erase(found);
        auto& inFlight = stream->inFlight;
        const auto entry =
            std::lower_bound(inFlight.begin(), inFlight.end(), sequence,
                             [](const InFlight& f, quint64 s) { return f.sequence < s; });
        if (entry != inFlight.end() && entry->sequence == sequence)
            entry->acknowledged = true;
    }

    int inFlightCount() const {
        return static_cast<int>(records_.inFlight.size() + alarms_.inFlight.size());
    }

    void send(Stream& stream) {
        while (inFlightCount() < kWindow) {
            QString problem;
            const auto entries =
                stream.queue.read(stream.sendNext, kWindow - inFlightCount(), kReadBytes, &problem);
            if (!problem.isEmpty())
                setError(problem);
            if (entries.empty())
                return;
            for (const RecordQueue::Entry& e : entries) {
                int mid = 0;
                if (mosquitto_publish(mosq_, &mid, stream.topic.constData(), int(e.payload.size()),
                                      e.payload.constData(), settings_.qos,
                                      false) != MOSQ_ERR_SUCCESS)
                    return;
                mids_[mid] = {&stream, e.sequence};
                stream.inFlight.push_back({e.sequence, false});
                stream.sendNext = e.sequence + 1;
            }
        }
    }

    // The messages of which only the latest counts: link states, the active alarms, live values
    // and statistics.
    void sendLatest() {
        std::vector<QByteArray> links;
        std::optional<QByteArray> live;
        std::optional<QByteArray> stats;
        std::optional<QByteArray> active;
        std::vector<int> indexes;
        {
            std::lock_guard lock(mutex_);
            for (int index : pendingLinks_) {
                indexes.push_back(index);
                links.push_back(links_[index].payload);
            }
            pendingLinks_.clear();
            live.swap(live_);
            stats.swap(stats_);
            if (activePending_)
                active = active_;
            activePending_ = false;
        }
        if (active)
            mosquitto_publish(mosq_, nullptr, activeTopic_.constData(), int(active->size()),
                              active->constData(), settings_.qos, true);
        if (stats)
            mosquitto_publish(mosq_, nullptr, statsTopic_.constData(), int(stats->size()),
                              stats->constData(), 0, false);
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

    // Each head moves over the acknowledged entries at its front, never past a gap.
    void advanceHeads() {
        for (Stream* stream : {&records_, &alarms_}) {
            auto& inFlight = stream->inFlight;
            while (!inFlight.empty() && inFlight.front().acknowledged) inFlight.pop_front();
            stream->queue.acknowledge(inFlight.empty() ? stream->sendNext
                                                       : inFlight.front().sequence);
        }
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
            while ((!offlineSent_ || inFlightCount() > 0) && Clock::now() < deadline &&
                   mosquitto_loop(mosq_, kLoopMs, 1) == MOSQ_ERR_SUCCESS)
                advanceHeads();
            advanceHeads();
            mosquitto_disconnect(mosq_);
            mosquitto_loop(mosq_, kLoopMs, 1);
        }
        if (mosq_)
            mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        for (Stream* stream : {&records_, &alarms_}) {
            stream->queue.sync();
            stream->queue.saveState();
        }
    }

    const Settings settings_;
    Stream records_;
    Stream alarms_;
    RecordQueue& queue_;  // the records'
    const QByteArray statusTopic_;
    const QByteArray liveTopic_;
    const QByteArray activeTopic_;
    const QByteArray statsTopic_;
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
    std::optional<QByteArray> stats_;
    QByteArray active_;  // the latest list of active alarms, sent again on every connection
    bool activePending_ = false;

    // The worker's own.
    mosquitto* mosq_ = nullptr;
    Clock::time_point nextAttempt_;
    Clock::time_point connectStarted_;
    int retryMs_ = 1000;
    std::unordered_map<int, std::pair<Stream*, quint64>> mids_;
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

void Publisher::publishAlarm(const AlarmMessage& alarm) {
    worker_->publishAlarm(alarm);
}

void Publisher::publishActiveAlarms(const QDateTime& time,
                                    const std::vector<ActiveAlarmMessage>& alarms) {
    worker_->publishActiveAlarms(time, alarms);
}

void Publisher::publishStats(const QDateTime& time, const std::vector<MeterStats>& meters) {
    worker_->publishStats(time, meters);
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
    if (s.alarmsWaiting > 0)
        text += QStringLiteral("、%1 条报警").arg(s.alarmsWaiting);
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
