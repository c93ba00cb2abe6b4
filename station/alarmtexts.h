#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "alarms.h"
#include "devicetable.h"

namespace tamlo::station {

// The window's words for alarms: 高限, 高高限, 低限, 低低限, 通讯中断; 报警, 恢复, 确认.
QString alarmKindText(AlarmKind kind);
QString alarmEventText(AlarmEventType type);
// "2026-12-08 14:03:07": an alarm list is read across days and months.
QString alarmTimeText(const QDateTime& time);
// A value or limit in general number format; empty where there is none (a link alarm).
QString alarmNumberText(double value);

// One row of the alarm settings grid: a device of the active table and its section of
// alarms.ini as texts (empty where a limit is not set).
struct AlarmSettingsRow {
    std::uint8_t address = 0;
    std::uint8_t channel = 0;
    QString tag;
    QString high, low, highHigh, lowLow, deadband, delay;
    // A meter without a section is not watched at all: its link box shows unticked.
    bool link = false;
};

QList<AlarmSettingsRow> alarmSettingsRows(const DeviceTable& active, const AlarmSettings& settings);

// The settings the rows say. Sections of meters not in the rows are kept as they were; a row
// left without any limit, delay, deadband or link alarm gets no section. False, and the reason
// naming the row's 序号 and the column, when a text is not a number or the limits contradict
// each other; `out` is then left alone.
bool alarmSettingsFromRows(const QList<AlarmSettingsRow>& rows, bool sound,
                           const AlarmSettings& before, AlarmSettings* out, QString* error);

// The line-quality grid's texts of one device: requests, answers, time-outs, refused,
// retries, last answer and the share answered over the last hour.
QStringList commStatsTexts(const CommStats& stats);

}  // namespace tamlo::station
