#include "alarmlog.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <cmath>

#include "mqtt/record.h"
#include "shared/gbk.h"

namespace tamlo::station {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

// A field as RFC 4180 wants it: quoted when it holds a comma, a quote or a line break.
void appendField(QByteArray& out, const QByteArray& field) {
    if (field.contains(',') || field.contains('"') || field.contains('\r') ||
        field.contains('\n')) {
        out += '"';
        for (const char c : field) {
            out += c;
            if (c == '"') {
                out += '"';
            }
        }
        out += '"';
    } else {
        out += field;
    }
}

QByteArray numberField(double v) {
    return std::isnan(v) ? QByteArray()
                         : QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

}  // namespace

AlarmLog::AlarmLog(QString workingDirectory) : workingDirectory_(std::move(workingDirectory)) {}

QString AlarmLog::pathFor(const QDateTime& time) const {
    const QDate date = time.toLocalTime().date();
    return QDir(workingDirectory_)
        .filePath(QStringLiteral("alarms/%1-%2.csv")
                      .arg(date.year(), 4, 10, QLatin1Char('0'))
                      .arg(date.month(), 2, 10, QLatin1Char('0')));
}

QByteArray AlarmLog::fileStart() {
    return QByteArray(kBom) +
           QStringLiteral("时间,序号,地址,通道,位号,单位,事件,类型,数值,限值\r\n").toUtf8();
}

QByteArray AlarmLog::line(const AlarmEvent& event) {
    QByteArray out;
    out.reserve(128);
    out += mqtt::isoTime(event.time.toLocalTime());  // 2026-12-08T14:03:07+08:00
    out += ',';
    out += QByteArray::number(event.device + 1);
    out += ',';
    out += QByteArray::number(event.address);
    out += ',';
    out += QByteArray::number(event.channel);
    out += ',';
    appendField(out, gbkToString(event.tag).toUtf8());
    out += ',';
    appendField(out, event.unit.toUtf8());
    out += ',';
    out += alarmEventName(event.type);
    out += ',';
    out += alarmKindName(event.kind);
    out += ',';
    out += numberField(event.value);
    out += ',';
    out += numberField(event.limit);
    out += "\r\n";
    return out;
}

bool AlarmLog::append(const AlarmEvent& event) {
    const QString path = pathFor(event.time);
    QByteArray text = line(event);
    if (waiting_.empty() && write(path, text)) {
        return true;
    }
    if (static_cast<int>(waiting_.size()) >= kMaxWaiting) {
        waiting_.pop_front();
        ++dropped_;
    }
    waiting_.emplace_back(path, std::move(text));
    if (waiting_.size() > 1) {
        retry();  // in order: the new line goes after those that wait
    } else {
        noteProblem(path);
    }
    return waiting_.empty();
}

bool AlarmLog::retry() {
    while (!waiting_.empty()) {
        if (!write(waiting_.front().first, waiting_.front().second)) {
            noteProblem(waiting_.front().first);
            return false;
        }
        waiting_.pop_front();
    }
    if (!problem_.isEmpty()) {
        problem_.clear();
        dropped_ = 0;
    }
    return true;
}

void AlarmLog::noteProblem(const QString& path) {
    problem_ = QStringLiteral("报警记录无法写入（%1：%2），%3 条报警事件在内存中等待写入")
                   .arg(QDir(workingDirectory_).relativeFilePath(path), lastError_)
                   .arg(waiting_.size());
    if (dropped_ > 0) {
        problem_ += QStringLiteral("，已丢弃最早的 %1 条").arg(dropped_);
    }
}

bool AlarmLog::write(const QString& path, const QByteArray& text) {
    QDir(workingDirectory_).mkpath(QStringLiteral("alarms"));
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        checkedPath_.clear();
        lastError_ = file.errorString();
        return false;
    }
    if (path != checkedPath_) {
        // A kill in the middle of a line leaves it torn: cut back to the last line end, or
        // start the file again when not even its header is whole.
        qint64 size = file.size();
        qint64 keep = 0;
        for (qint64 end = size; end > 0 && keep == 0;) {
            const qint64 from = std::max<qint64>(0, end - 4096);
            file.seek(from);
            const QByteArray chunk = file.read(end - from);
            const qsizetype at = chunk.lastIndexOf('\n');
            if (at >= 0) {
                keep = from + at + 1;
            }
            end = from;
        }
        const QByteArray start = fileStart();
        if (keep < start.size()) {
            keep = 0;
        }
        if ((keep != size && !file.resize(keep)) ||
            (keep == 0 && file.write(start) != start.size())) {
            checkedPath_.clear();
            lastError_ = file.errorString();
            return false;
        }
        checkedPath_ = path;
    }
    if (file.write(text) != text.size()) {
        // Whatever part of the line went out is cut at the next write.
        checkedPath_.clear();
        lastError_ = file.errorString();
        return false;
    }
    return true;
}

}  // namespace tamlo::station
