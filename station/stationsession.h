#pragma once

#include <QList>
#include <deque>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "alarmevaluator.h"
#include "alarmlog.h"
#include "alarms.h"
#include "commstats.h"
#include "devicetable.h"
#include "modbusserver.h"
#include "paramreader.h"
#include "pollcycle.h"
#include "recordcycle.h"
#include "shared/seriallink.h"
#include "stationpublishing.h"

namespace tamlo {
class Clock;
}

namespace tamlo::station {

// The station without its window: config.dat, the edit and active device tables, the serial
// line and the one conversation on it at a time, the live values, the poll and record cycles
// with their timers, the parameter cache, the history file and the setup mode. It shows
// nothing: what the pages show leaves by signals, and the window's handlers ask it.
class StationSession : public QObject {
    Q_OBJECT
public:
    // Locked: the device table cannot change. Unlocked: logged in with the password.
    // Configuring: the device table is being edited, polling and recording stand still.
    enum class SetupMode { Locked, Unlocked, Configuring };

    StationSession(QString workingDirectory, Clock& clock, std::unique_ptr<PortLine> line,
                   QObject* parent = nullptr);
    ~StationSession() override;

    // Start-up, in the window's order: load (or create) config.dat and the "para" directory;
    // reset the cycles; open the port and start polling; start this run's history file; once
    // the window is complete, start the one-second tick.
    void load();
    void resetCycles();
    void openPort();
    void startPolling();
    void startHistoryFile();
    void startRecording();
    // Publishing over MQTT, when mqtt.ini in the working directory asks for it. A file that
    // cannot be used is refused once (publishingRefused) and the station runs without it.
    void startPublishing();
    bool isPublishing() const { return publishing_ != nullptr; }
    const StationPublishing* publishing() const { return publishing_.get(); }
    // The broker's state for the status bar's tool tip; empty while nothing is published.
    QString publishingStatus() const;
    // The live values over Modbus TCP, when modbus.ini asks for it. A file that cannot be used
    // or a port already taken is refused once (modbusRefused) and the station runs without it.
    void startModbus();
    const ModbusServer* modbus() const { return modbus_.get(); }
    // Listening and the clients connected, for the status bar's tool tip; empty when off.
    QString modbusStatus() const;
    // Close: the timers stop, the 64 slots of the active table go to config.dat, the port is
    // closed, the broker is told the station went off line (what it has not acknowledged stays
    // queued on disk).
    void close();

    // The poll tick (one exchange) and the one-second tick. The timers' ticks: Timer1 stands
    // still while its tick runs and waits its 50 ms from the end of it.
    void pollTick();
    void secondTick();
    void pollTimerTick();
    // Timer1 (50 ms) and Timer2 (1000 ms); both stand still while devices are configured.
    QTimer& pollTimer() { return pollTimer_; }
    QTimer& secondTimer() { return secondTimer_; }

    // Reads row `row` of the shown device's parameter list from its meter, between two polls:
    // the next poll still waits its 50 ms after this exchange.
    ParameterReader::ReadOutcome readParameter(int row);
    // The parameter list of active device `device`; it becomes the one reads go to.
    QList<ParameterReader::ListRow> parameterList(int device);
    const ParameterReader& parameters() const { return parameters_; }

    // The device table as the operator edits it; each returns whether the table changed.
    bool addDevice(const DeviceEntry& entry);
    bool changeDevice(int index, const DeviceEntry& entry);
    bool deleteDevice(int index);
    // Saves the edit table with these settings and makes it the active one. False (and nothing
    // changed) when config.dat cannot be written.
    bool save(const StationConfig& settings);

    // Setup mode.
    bool logIn(const QString& password);
    // Locks again; a pause for configuring ends and the station runs on.
    void lock();
    void configure();
    enum class PasswordChange { Refused, Mismatch, Changed };
    PasswordChange changePassword(const QString& first, const QString& second);
    SetupMode setupMode() const { return mode_; }
    bool isConfiguring() const { return mode_ == SetupMode::Configuring; }
    bool isUnlocked() const { return mode_ != SetupMode::Locked; }

    // ---- Alarms and line quality ----
    // Alarms, when alarms.ini in the working directory exists. A file that cannot be used is
    // refused once (alarmsRefused) and the station runs without alarms, as without the file.
    void startAlarms();
    bool alarmsEnabled() const;
    const AlarmSettings& alarmSettings() const;
    // Saves alarms.ini (setup mode only) and judges by the new limits from the next poll on.
    bool saveAlarmSettings(const AlarmSettings& settings, QString* error);
    // Raised and not yet cleared, oldest first.
    QList<ActiveAlarm> activeAlarms() const;
    // The last 500 events, oldest first.
    QList<AlarmEvent> recentAlarmEvents() const;
    int unacknowledgedAlarms() const;
    AlarmShade alarmShade(int device) const;
    // Acknowledges (each writes an "ack" event); no password needed.
    void acknowledgeAlarm(int device, AlarmKind kind);
    void acknowledgeAllAlarms();
    // Empty while the alarm log is written; else why not (the events wait in memory).
    QString alarmLogProblem() const;

    // Per active device, since the start or the last reset.
    CommStats commStats(int device) const;
    void resetCommStats();

    const DeviceTable& editTable() const { return edit_; }
    const DeviceTable& activeTable() const { return active_; }
    const StationConfig& config() const { return config_; }
    const LiveValueTable& liveValues() const { return live_; }
    const PollCycle& pollCycle() const { return poll_; }
    const RecordCycle& recordCycle() const { return record_; }
    const HistoryLog& history() const { return history_; }
    PortLine& line() { return *line_; }
    QString workingDirectory() const { return workingDirectory_; }

signals:
    void setupModeChanged(tamlo::station::StationSession::SetupMode mode);
    // The active table changed (a save): tiles, rows and the data grid's header follow it.
    void activeTableChanged(const tamlo::station::DeviceTable& active);
    // The device asked in this poll answered, or failed its turn.
    void linkStateChanged(int device, bool answered);
    // The texts of this second: clock, data grid row, tiles and value boxes.
    void secondTicked(const tamlo::station::RecordCycle::Tick& tick);
    // A record went to the history file: one point per curve, with the record's values.
    void recordTaken(const QString& pointLabel, const QList<float>& values);
    void historyFileStarted(const QString& statusText);
    void portOpenFailed(const QString& text, const QString& caption);
    void publishingRefused(const QString& text);
    void modbusRefused(const QString& text);
    void alarmsRefused(const QString& text);
    // One raise, clear or acknowledgement, after it went to the log.
    void alarmEvent(const tamlo::station::AlarmEvent& event);
    // The active list or an acknowledgement changed: the alarm page, shades and counts follow.
    void alarmsChanged();
    // The alarm log could not be written (text), or can again (empty).
    void alarmLogProblemChanged(const QString& text);

private:
    void setMode(SetupMode mode);
    void publishModbus();
    // Judges by alarmSettings_ in the active table.
    void configureAlarms();
    // Writes the events the evaluator gave to the log, keeps them and tells of them; false when
    // there were none.
    bool publishAlarmEvents();
    void noteAlarmLogProblem(const QString& before);
    // The alarm events and the active list on their way to the broker.
    void forwardAlarmEvent(const tamlo::station::AlarmEvent& event);
    void forwardActiveAlarms();

    QString workingDirectory_;
    Clock& clock_;
    std::unique_ptr<PortLine> line_;
    ConfigFile configFile_;
    DeviceTable edit_;
    DeviceTable active_;
    StationConfig config_;
    LiveValueTable live_{};
    PollCycle poll_;
    RecordCycle record_;
    HistoryLog history_;
    ParameterReader parameters_;
    QTimer pollTimer_;
    QTimer secondTimer_;
    bool running_ = false;  // from startPolling() to close()
    SetupMode mode_ = SetupMode::Locked;
    std::unique_ptr<StationPublishing> publishing_;
    std::unique_ptr<ModbusServer> modbus_;
    std::int64_t lastAnswerSeconds_ = 0;  // of any device, for the Modbus map
    bool alarmsOn_ = false;
    AlarmSettings alarmSettings_;
    AlarmEvaluator alarms_;
    AlarmEvaluator::Events alarmBatch_;  // the events of one judgement, written then told
    AlarmLog alarmLog_;
    std::deque<AlarmEvent> recentAlarms_;
    CommStatsTable commStats_;
};

}  // namespace tamlo::station
