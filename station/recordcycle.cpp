#include "recordcycle.h"

#include <QDir>
#include <QFileInfo>

#include "shared/datetime.h"
#include "shared/numbertext.h"

namespace tamlo::station {

float engineeringValue(const LiveValue& value) {
    static constexpr std::int16_t divisors[] = {1, 10, 100, 1000};
    return static_cast<float>(value.raw) / static_cast<float>(divisors[value.decimals & 3]);
}

RecordCycle::Tick RecordCycle::tick(const QDateTime& now, const LiveValueTable& live,
                                    int activeCount, std::uint16_t recordInterval) {
    Tick out;
    out.clockText = QStringLiteral("时间：") +
                    formatDateTime(QStringLiteral("YY-DD-MM HH:NN:SS"), now) +
                    QStringLiteral("    ");
    if (activeCount <= 0) {
        return out;
    }
    out.hasDevices = true;
    out.row = gridRow_;
    out.rowTime = formatDateTime(QStringLiteral("hh':'nn':'ss"), now);
    for (int i = 0; i < activeCount; ++i) {
        const LiveValue& value = live[static_cast<std::size_t>(i)];
        if (value.valid) {
            const float v = engineeringValue(value);
            recordBuffer_[static_cast<std::size_t>(i)] = v;
            out.texts << formatGeneral(v, 5);
        } else {
            out.texts << QString::fromLatin1(kErrText);
        }
    }
    if (recordInterval != 0) {
        ++recordTick_;
    }
    if (recordInterval != 0 && recordTick_ >= recordInterval) {
        ++gridRow_;
        if (gridRow_ > kDataGridLastRow) {
            gridRow_ = 1;
        }
        recordTick_ = 0;
        out.recorded = true;
        out.bandStart = gridRow_;
        out.pointLabel = formatDateTime(QStringLiteral("YY-DD-MM HH:NN:SS"), now);
    }
    return out;
}

QString HistoryLog::monthDirectoryName(const QDateTime& t) {
    return formatDateTime(QStringLiteral("yy'年'mm'月'"), t);
}

QString HistoryLog::fileStampName(const QDateTime& t) {
    return formatDateTime(QStringLiteral("dd'日'hh'时'nn'分'ss'秒'"), t);
}

bool HistoryLog::start(const QDateTime& now, std::uint16_t interval, int deviceCount,
                       const DeviceTable& table) {
    const QDir working(workingDirectory_);
    // A file of the same name is truncated only while it holds no record (a second start in the
    // same second); one with records (the clock was set back) is kept, and this file takes the
    // next free second in its name, in that second's month folder.
    QDateTime stampTime = now;
    for (int tries = 0; tries < 3600; ++tries) {
        monthDirectory_ = working.filePath(monthDirectoryName(stampTime));
        fileStamp_ = fileStampName(stampTime);
        path_ = QDir(monthDirectory_).filePath(fileStamp_ + QStringLiteral(".nv"));
        if (QFileInfo(path_).size() <= kHistoryHeaderSize) {
            break;
        }
        stampTime = stampTime.addSecs(1);
    }
    working.mkpath(monthDirectoryName(stampTime));

    header_ = StationHistoryHeader{};
    header_.startTime = toOleDate(now);
    header_.intervalSeconds = interval;
    header_.channelCount = static_cast<std::uint32_t>(std::max(deviceCount, 0));
    for (int i = 0; i < kDeviceSlots; ++i) {
        header_.tags[static_cast<std::size_t>(i)] = table.entries[static_cast<std::size_t>(i)].tag;
    }
    return createHistoryFile(path_, header_);
}

bool HistoryLog::append(const float* values, int count) {
    if (path_.isEmpty() || count != static_cast<int>(header_.channelCount)) {
        return false;  // never write a record of another width than the header states
    }
    return appendHistoryRecord(path_, values, count);
}

bool HistoryLog::record(const QDateTime& now, std::uint16_t interval, const DeviceTable& active,
                        const float* values) {
    if (describes(interval, active.count, active) && append(values, active.count)) {
        return false;
    }
    start(now, interval, active.count, active);
    append(values, active.count);
    return true;
}

bool HistoryLog::describes(std::uint16_t interval, int deviceCount,
                           const DeviceTable& table) const {
    if (path_.isEmpty() || header_.intervalSeconds != interval ||
        header_.channelCount != static_cast<std::uint32_t>(deviceCount)) {
        return false;
    }
    for (int i = 0; i < deviceCount; ++i) {
        if (header_.tags[static_cast<std::size_t>(i)] != table.entries[static_cast<std::size_t>(i)].tag) {
            return false;
        }
    }
    return true;
}

QString HistoryLog::statusText() const {
    return QStringLiteral("当前文件：") + QDir::toNativeSeparators(path_);
}

}  // namespace tamlo::station
