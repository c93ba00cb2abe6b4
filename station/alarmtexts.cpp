#include "alarmtexts.h"

#include <cmath>

#include "shared/numbertext.h"

namespace tamlo::station {

QString alarmKindText(AlarmKind kind) {
    switch (kind) {
        case AlarmKind::High:
            return QStringLiteral("高限");
        case AlarmKind::HighHigh:
            return QStringLiteral("高高限");
        case AlarmKind::Low:
            return QStringLiteral("低限");
        case AlarmKind::LowLow:
            return QStringLiteral("低低限");
        case AlarmKind::Link:
            return QStringLiteral("通讯中断");
    }
    return {};
}

QString alarmEventText(AlarmEventType type) {
    switch (type) {
        case AlarmEventType::Raise:
            return QStringLiteral("报警");
        case AlarmEventType::Clear:
            return QStringLiteral("恢复");
        case AlarmEventType::Ack:
            return QStringLiteral("确认");
    }
    return {};
}

QString alarmTimeText(const QDateTime& time) {
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QString();
}

QString alarmNumberText(double value) {
    return std::isfinite(value) ? formatGeneral(value) : QString();
}

QList<AlarmSettingsRow> alarmSettingsRows(const DeviceTable& active,
                                          const AlarmSettings& settings) {
    QList<AlarmSettingsRow> rows;
    for (int i = 0; i < active.count; ++i) {
        const DeviceEntry& e = active.entries[static_cast<std::size_t>(i)];
        AlarmSettingsRow row;
        row.address = e.address;
        row.channel = e.channel;
        row.tag = e.tagText();
        if (const AlarmLimits* limits = settings.find(e.address, e.channel)) {
            row.high = alarmNumberText(limits->high);
            row.low = alarmNumberText(limits->low);
            row.highHigh = alarmNumberText(limits->highHigh);
            row.lowLow = alarmNumberText(limits->lowLow);
            row.deadband = alarmNumberText(limits->deadband);
            row.delay = QString::number(limits->delaySeconds);
            row.link = limits->link;
        }
        rows << row;
    }
    return rows;
}

namespace {

constexpr int kLongestDelaySeconds = 24 * 3600;  // what alarms.ini takes

// A limit's text: empty is no limit.
bool readNumber(const QString& text, double* value) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *value = kNoLimit;
        return true;
    }
    bool ok = false;
    *value = t.toDouble(&ok);
    return ok && std::isfinite(*value);
}

bool above(double a, double b) {
    return !std::isnan(a) && !std::isnan(b) && a > b;
}

}  // namespace

bool alarmSettingsFromRows(const QList<AlarmSettingsRow>& rows, bool sound,
                           const AlarmSettings& before, AlarmSettings* out, QString* error) {
    AlarmSettings settings = before;
    settings.sound = sound;
    for (int i = 0; i < rows.size(); ++i) {
        const AlarmSettingsRow& row = rows[i];
        const auto refuse = [&](const QString& column, const QString& why) {
            *error = QStringLiteral("第 %1 行（%2）%3：%4").arg(i + 1).arg(row.tag, column, why);
            return false;
        };
        AlarmLimits limits;
        const std::pair<const QString*, double*> numbers[] = {{&row.high, &limits.high},
                                                              {&row.low, &limits.low},
                                                              {&row.highHigh, &limits.highHigh},
                                                              {&row.lowLow, &limits.lowLow},
                                                              {&row.deadband, &limits.deadband}};
        static const QString kColumns[] = {QStringLiteral("高限"), QStringLiteral("低限"),
                                           QStringLiteral("高高限"), QStringLiteral("低低限"),
                                           QStringLiteral("死区")};
        for (int k = 0; k < 5; ++k) {
            if (!readNumber(*numbers[k].first, numbers[k].second)) {
                return refuse(kColumns[k],
                              QStringLiteral("不是数字（%1）").arg(numbers[k].first->trimmed()));
            }
        }
        if (std::isnan(limits.deadband)) {
            limits.deadband = 0;
        } else if (limits.deadband < 0) {
            return refuse(kColumns[4], QStringLiteral("不能为负"));
        }
        const QString delay = row.delay.trimmed();
        bool delayOk = true;
        limits.delaySeconds = delay.isEmpty() ? 0 : delay.toInt(&delayOk);
        if (!delayOk || limits.delaySeconds < 0 || limits.delaySeconds > kLongestDelaySeconds) {
            return refuse(
                QStringLiteral("延时"),
                QStringLiteral("不是 0 到 %1 的整秒数（%2）").arg(kLongestDelaySeconds).arg(delay));
        }
        // The limits stand in order, low_low <= low <= high <= high_high, as alarms.ini must.
        const double ordered[] = {limits.lowLow, limits.low, limits.high, limits.highHigh};
        const int orderedColumns[] = {3, 1, 0, 2};
        for (int a = 0; a < 4; ++a) {
            for (int b = a + 1; b < 4; ++b) {
                if (above(ordered[a], ordered[b])) {
                    return refuse(kColumns[orderedColumns[a]],
                                  QStringLiteral("高于%1").arg(kColumns[orderedColumns[b]]));
                }
            }
        }
        limits.link = row.link;
        const auto key = std::pair{row.address, row.channel};
        const bool watched = row.link || limits.delaySeconds != 0 || limits.deadband != 0 ||
                             !std::isnan(limits.high) || !std::isnan(limits.low) ||
                             !std::isnan(limits.highHigh) || !std::isnan(limits.lowLow);
        if (watched) {
            settings.meters[key] = limits;
        } else {
            settings.meters.erase(key);
        }
    }
    *out = std::move(settings);
    return true;
}

QStringList commStatsTexts(const CommStats& stats) {
    return {QString::number(stats.requests),
            QString::number(stats.answers),
            QString::number(stats.timeouts),
            QString::number(stats.refused),
            QString::number(stats.retries),
            alarmTimeText(stats.lastAnswer),
            stats.requests == 0
                ? QString()
                : QStringLiteral("%1%").arg(100.0 * stats.answeredLastHour, 0, 'f', 1)};
}

}  // namespace tamlo::station
