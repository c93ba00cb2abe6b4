#pragma once

// Helpers for the upload tests: a recorder answering in the test's own process (the simulator's
// logic behind a ByteLink) and a view that records what the dialog would have shown.

#include <QDateTime>
#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>
#include <deque>
#include <functional>

#include "analysis/recorderupload.h"
#include "recorderdevice.h"
#include "shared/crc16.h"
#include "shared/datetime.h"

namespace tamlo::analysis::test {

// Seconds since 1899-12-30 of a local wall-clock time.
inline std::int64_t wallSeconds(int year, int month, int day, int hour, int minute = 0,
                                int second = 0) {
    return oleDateToSeconds(oleDateFromParts(year, month, day, hour, minute, second));
}

inline QString hex(const std::uint8_t* data, int count) {
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

// The recorder simulator's device, answering in-process: every request is kept, replies are
// ready for the next read. Faults: the next `silentRequests` requests get no answer.
class InProcessRecorder final : public PortLine, public ByteLink {
public:
    explicit InProcessRecorder(recordersim::RecorderConfig config) : device(std::move(config)) {}

    PortOpenResult open(int portIndex, std::int32_t baudRate) override {
        ++opens;
        lastPortIndex = portIndex;
        lastBaudRate = baudRate;
        open_ = openResult == PortOpenResult::Opened;
        return openResult;
    }
    void close() override {
        if (open_)
            ++closes;
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    ByteLink& link() override { return *this; }

    bool purgeInput() override {
        pending_.clear();
        return open_;
    }
    int write(const std::uint8_t* data, int count) override {
        if (!open_)
            return -1;
        requests << hex(data, count);
        if (!crc16Matches(data, static_cast<std::size_t>(count)))
            return count;
        if (silentRequests > 0) {
            --silentRequests;
            return count;
        }
        const sim::Bytes request(data, data + count);
        const sim::Answer answer = device.answer(request, 0);
        if (answer.reply) {
            pending_ = *answer.reply;
            if (rewriteReply)
                rewriteReply(pending_);
            device.answered(request, 0);
            if (onAnswered)
                onAnswered(request);
        }
        return count;
    }
    int read(std::uint8_t* data, int count) override {
        if (!open_)
            return -1;
        const int n = std::min<int>(count, static_cast<int>(pending_.size()));
        std::copy(pending_.begin(), pending_.begin() + n, data);
        pending_.clear();
        return n;
    }

    int countRequests(const QString& prefix) const {
        int n = 0;
        for (const QString& r : requests) n += r.startsWith(prefix) ? 1 : 0;
        return n;
    }

    recordersim::RecorderDevice device;
    PortOpenResult openResult = PortOpenResult::Opened;
    int silentRequests = 0;
    int opens = 0;
    int closes = 0;
    int lastPortIndex = -1;
    std::int32_t lastBaudRate = 0;
    QStringList requests;
    std::function<void(const sim::Bytes&)> onAnswered;
    // Changes a reply before it goes out (the CRC is the rewriter's business).
    std::function<void(sim::Bytes&)> rewriteReply;

private:
    bool open_ = false;
    sim::Bytes pending_;
};

// Everything the upload shows, in order; waits are noted (and slept when `realWaits`).
class RecordingView final : public UploadView {
public:
    struct Message {
        QString text;
        QString caption;
    };

    void showMessage(const QString& text, const QString& caption) override {
        messages << Message{text, caption};
        events << QStringLiteral("message ") + text;
    }
    void setSamplingStepText(const QString& text) override { stepText = text; }
    void showRange(std::int64_t start, std::int64_t end) override {
        shownStart = start;
        shownEnd = end;
        events << QStringLiteral("range");
    }
    void setProgressMaximum(std::int64_t maximum) override { progressMaximum = maximum; }
    void setProgressPosition(std::int64_t position) override {
        progress << position;
        if (onProgress)
            onProgress(position);
    }
    void showTransferTime(std::int64_t seconds) override { transferTimes << seconds; }
    void setTransferring(bool on) override {
        transferring << on;
        events << (on ? QStringLiteral("transfer on") : QStringLiteral("transfer off"));
    }
    QString askOutputFileName() override {
        events << QStringLiteral("save dialog");
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    void waitWithMessages(int hundredths) override {
        waits << hundredths;
        if (realWaits)
            QThread::msleep(static_cast<unsigned long>(hundredths) * 10);
        if (onWait)
            onWait();
    }
    bool closeRequested() const override { return closing; }

    QStringList messageTexts() const {
        QStringList out;
        for (const Message& m : messages) out << m.text;
        return out;
    }

    QList<Message> messages;
    QStringList events;
    QString stepText;
    std::int64_t shownStart = -1;
    std::int64_t shownEnd = -1;
    std::int64_t progressMaximum = -1;
    QList<std::int64_t> progress;
    QList<std::int64_t> transferTimes;
    QList<bool> transferring;
    QStringList saveAnswers;
    QList<int> waits;
    bool realWaits = false;
    bool closing = false;
    std::function<void(std::int64_t)> onProgress;
    std::function<void()> onWait;
};

}  // namespace tamlo::analysis::test
