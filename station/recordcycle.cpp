#include "recordcycle.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>

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
    QString reason;
    if (!startFile(now, interval, deviceCount, table, &reason)) {
        fail(reason);
        return false;
    }
    recover();
    return true;
}

bool HistoryLog::startFile(const QDateTime& now, std::uint16_t interval, int deviceCount,
                           const DeviceTable& table, QString* error) {
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
    if (!working.mkpath(monthDirectoryName(stampTime))) {
        *error = qt_error_string(errno);
        return false;
    }

    header_ = StationHistoryHeader{};
    header_.startTime = toOleDate(now);
    header_.intervalSeconds = interval;
    header_.channelCount = static_cast<std::uint32_t>(std::max(deviceCount, 0));
    for (int i = 0; i < kDeviceSlots; ++i) {
        header_.tags[static_cast<std::size_t>(i)] = table.entries[static_cast<std::size_t>(i)].tag;
    }
    records_ = 0;
    return createHistoryFile(path_, header_, error);
}

bool HistoryLog::append(const float* values, int count, QString* error) {
    if (path_.isEmpty() || count != static_cast<int>(header_.channelCount)) {
        return false;  // never write a record of another width than the header states
    }
    if (!appendHistoryRecord(path_, values, count, error)) {
        return false;
    }
    ++records_;
    return true;
}

QDateTime HistoryLog::lastRecordTime() const {
    return fromOleDate(
        historyRecordTime(header_.startTime, header_.intervalSeconds, records_ ? records_ - 1 : 0));
}

bool HistoryLog::record(const QDateTime& now, std::uint16_t interval, const DeviceTable& active,
                        const float* values) {
    QString reason;
    if (!failing_ && describes(interval, active.count, active)) {
        if (append(values, active.count, &reason)) {
            return false;
        }
        fail(reason);
    }
    // A new file whose first record is this one: no record is dated by a shifted position.
    if (startFile(now, interval, active.count, active, &reason) &&
        append(values, active.count, &reason)) {
        recover();
        return true;
    }
    if (QFileInfo(path_).size() <= kHistoryHeaderSize) {
        QFile::remove(path_);  // a header without its first record: the retry makes another
    }
    ++lostRecords_;
    fail(reason);
    return true;
}

void HistoryLog::fail(const QString& reason) {
    const bool news = !failing_ || reason != error_;
    failing_ = true;
    error_ = reason;
    if (news) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(statusText()));
        std::fflush(stderr);
    }
}

void HistoryLog::recover() {
    if (failing_) {
        failing_ = false;
        std::fprintf(
            stderr, "%s\n",
            qUtf8Printable(QStringLiteral("记录恢复（丢失 %1 条记录）：").arg(lostRecords_) +
                           QDir::toNativeSeparators(path_)));
        std::fflush(stderr);
    }
    error_.clear();
    lostRecords_ = 0;
}

bool HistoryLog::describes(std::uint16_t interval, int deviceCount,
                           const DeviceTable& table) const {
    if (path_.isEmpty() || header_.intervalSeconds != interval ||
        header_.channelCount != static_cast<std::uint32_t>(deviceCount)) {
        return false;
    }
    for (int i = 0; i < deviceCount; ++i) {
        if (header_.tags[static_cast<std::size_t>(i)] !=
            table.entries[static_cast<std::size_t>(i)].tag) {
            return false;
        }
    }
    return true;
}

QString HistoryLog::statusText() const {
    if (failing_) {
        return QStringLiteral("记录失败：无法写入“%1”：%2（已丢失 %3 条记录，下一记录时重试）")
            .arg(QDir::toNativeSeparators(path_), error_)
            .arg(lostRecords_);
    }
    return QStringLiteral("当前文件：") + QDir::toNativeSeparators(path_);
}

}  // namespace tamlo::station
