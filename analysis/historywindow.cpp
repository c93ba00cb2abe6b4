#include "historywindow.h"

#include <QFile>

#include "shared/chartinteraction.h"
#include "shared/exporttext.h"

namespace tamlo::analysis {

char* writeRecorderValue(char* out, std::int16_t raw, std::int16_t divisor) {
    if (raw == kNoDataRaw) {
        return writeScaled(out, raw, 0);
    }
    const int decimals = decimalsOfDivisor(divisor);
    if (decimals >= 0) {
        return writeScaled(out, raw, decimals);
    }
    return writeGeneral(out, physicalValue(raw, divisor));
}

std::shared_ptr<const HistoryWindow> loadHistoryWindow(const RecorderHistory& history, OleDate t) {
    if (t > history.endTime || t < history.startTime) {
        return nullptr;
    }
    QFile file(history.fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    auto window = std::make_shared<HistoryWindow>();
    const std::int64_t back = recordsBackAt(history, t);
    window->firstSeconds = recordSecondsBack(history, back);
    window->interval = history.recordInterval;
    window->channelCount = history.channelCount();
    window->divisors = history.divisors;
    // The record at t and the newer ones up to the newest, at most a window's worth.
    const std::int64_t count = std::min<std::int64_t>(back + 1, kWindowRecords);
    const int channels = window->channelCount;
    window->raw.resize(static_cast<std::size_t>(count * channels));
    RecordBlockReader reader(file, history);
    std::int64_t offset = recordOffsetAt(history, t);
    std::int64_t read = 0;
    for (; read < count; ++read) {
        if (!reader.rawValues(offset, window->raw.data() + read * channels)) {
            break;
        }
        offset = nextRecordOffset(history, offset, 1);
    }
    window->raw.resize(static_cast<std::size_t>(read * channels));
    window->gridRows = windowGridRows(*window);
    return window;
}

std::vector<int> windowGridRows(const HistoryWindow& window) {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(window.count()));
    bool run = true;
    for (int r = 0; r < window.count(); ++r) {
        if (window.rawValue(r, 0) != kNoDataRaw) {
            rows.push_back(r);
            run = true;
        } else if (run) {
            rows.push_back(-1 - r);
            run = false;
        }
    }
    return rows;
}

QString windowTimeText(const HistoryWindow& window, int record) {
    char text[kNumberTextMax];
    return QString::fromLatin1(text, writeRecordTime(text, window.secondsOf(record)) - text);
}

QString windowLabelText(const HistoryWindow& window, int record) {
    char text[kNumberTextMax];
    const char* end = writeRecordTime(text, window.secondsOf(record));
    return QString::fromLatin1(end - 14, 14);  // "MM-DD HH:NN:SS" without the year
}

QString HistoryWindow::labelAt(int record) const {
    return windowLabelText(*this, record);
}

QString HistoryWindow::valueText(int record, int channel) const {
    if (rawValue(record, channel) == kNoDataRaw) {
        return QString::fromUtf8(kNoDataText);
    }
    char text[kNumberTextMax];
    return QString::fromLatin1(text, writeGeneral(text, value(record, channel)) - text);
}

HistoryWindows::Outcome HistoryWindows::open(const QString& path) {
    RecorderLoadResult loaded = loadRecorderHistory(path);
    switch (loaded.status) {
        case RecorderLoadStatus::Loaded:
            break;
        case RecorderLoadStatus::WrongType:
            return Outcome::WrongType;
        case RecorderLoadStatus::CannotOpen:
            return Outcome::NotOpenable;
    }
    history_ = std::move(loaded.history);
    window_.reset();
    return Outcome::Loaded;
}

bool HistoryWindows::canLoad(OleDate t) const {
    return history_ && t <= history_->endTime && t >= history_->startTime &&
           QFile(history_->fileName).open(QIODevice::ReadOnly);
}

std::shared_ptr<const HistoryWindow> HistoryWindows::load(OleDate t) {
    // The old window goes first: two windows of 20000 records need not be held at once.
    window_.reset();
    if (history_) {
        window_ = loadHistoryWindow(*history_, t);
    }
    return window_;
}

HistoryWindows::Place HistoryWindows::place(OleDate t) const {
    if (!history_) {
        return Place::Inside;
    }
    if (oleDateToMs(t) > oleDateToMs(history_->endTime)) {
        return Place::AfterEnd;
    }
    if (oleDateToMs(t) < oleDateToMs(history_->startTime)) {
        return Place::BeforeStart;
    }
    return Place::Inside;
}

QStringList HistoryWindows::channelNames() const {
    QStringList names;
    if (history_) {
        for (int c = 0; c < history_->channelCount(); ++c) {
            names << channelName(history_->channels[static_cast<std::size_t>(c)]);
        }
    }
    return names;
}

QString HistoryWindows::rangeText() const {
    if (!history_) {
        return {};
    }
    const QString pattern = QStringLiteral("YY-MM-DD HH:NN:SS");
    return QStringLiteral("时间范围: ") + formatOleDate(pattern, history_->startTime) +
           QStringLiteral(" 至 ") + formatOleDate(pattern, history_->endTime) +
           QStringLiteral("         ");
}

QString windowValueText(const HistoryWindow& window, int record, int channel) {
    char text[kNumberTextMax];
    const char* end =
        writeRecorderValue(text, window.rawValue(record, channel), window.divisors[channel]);
    return QString::fromLatin1(text, end - text);
}

}  // namespace tamlo::analysis
