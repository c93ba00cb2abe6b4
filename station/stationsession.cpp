#include "stationsession.h"

#include <QDir>

#include "shared/datetime.h"
#include "shared/gbk.h"

namespace tamlo::station {

namespace {

// The value as the data grid shows it: the raw reading with its decimals applied.
double shownValue(const LiveValue& value) {
    static constexpr double kScale[4] = {1, 10, 100, 1000};
    return value.raw / kScale[value.decimals & 3];
}

constexpr int kPollIntervalMs = 50;
constexpr int kSecondIntervalMs = 1000;
constexpr std::size_t kRecentAlarmEvents = 500;
// Room for the events of one judgement of the whole table: a clear and a raise per meter.
constexpr std::size_t kAlarmBatch = 4 * kDeviceSlots;
}  // namespace

StationSession::StationSession(QString workingDirectory, Clock& clock,
                               std::unique_ptr<PortLine> line, QObject* parent)
    : QObject(parent),
      workingDirectory_(std::move(workingDirectory)),
      clock_(clock),
      line_(std::move(line)),
      configFile_(QDir(workingDirectory_).filePath(QStringLiteral("config.dat"))),
      history_(workingDirectory_),
      alarmLog_(workingDirectory_) {
    alarmBatch_.reserve(kAlarmBatch);
    pollTimer_.setObjectName(QStringLiteral("Timer1"));
    pollTimer_.setInterval(kPollIntervalMs);
    // A parameter read runs between two poll ticks; the next poll still waits its 50 ms after it
    // (a precise timer: a coarse one may fire a few milliseconds early).
    pollTimer_.setTimerType(Qt::PreciseTimer);
    secondTimer_.setObjectName(QStringLiteral("Timer2"));
    secondTimer_.setInterval(kSecondIntervalMs);
    connect(&pollTimer_, &QTimer::timeout, this, &StationSession::pollTimerTick);
    connect(&secondTimer_, &QTimer::timeout, this, &StationSession::secondTick);
}

StationSession::~StationSession() = default;

// ---- Start-up and close ----------------------------------------------------------------------

void StationSession::load() {
    const LoadedConfig loaded = configFile_.load();
    edit_ = loaded.table;
    config_ = loaded.config;
    for (DeviceEntry& entry : edit_.entries) {
        entry.retries = 0;
    }
    active_ = edit_;
    QDir(workingDirectory_).mkpath(QStringLiteral("para"));
    parameters_.clear(active_.count);
}

void StationSession::resetCycles() {
    poll_.restart();
    record_.reset();
}

void StationSession::openPort() {
    const PortOpenResult result = line_->open(config_.portIndex, baudRate(config_.baudIndex));
    if (result != PortOpenResult::Opened) {
        emit portOpenFailed(portOpenFailureText(result), QString::fromLatin1(kPortMessageCaption));
    }
}

void StationSession::startHistoryFile() {
    history_.start(clock_.now(), config_.recordInterval, active_.count, active_);
    emit historyFileStarted(history_.statusText());
}

void StationSession::startPolling() {
    running_ = true;
    pollTimer_.start();
}

void StationSession::startRecording() {
    secondTimer_.start();
}

void StationSession::startPublishing() {
    StationPublishing::Started started = StationPublishing::start(workingDirectory_);
    publishing_ = std::move(started.publishing);
    if (!started.message.isEmpty()) {
        emit publishingRefused(started.message);
    }
    if (publishing_) {
        connect(this, &StationSession::alarmEvent, this, &StationSession::forwardAlarmEvent,
                Qt::UniqueConnection);
        connect(this, &StationSession::alarmsChanged, this, &StationSession::forwardActiveAlarms,
                Qt::UniqueConnection);
        // The broker may still retain the list of the last run, which died with alarms on.
        forwardActiveAlarms();
    }
}

void StationSession::forwardAlarmEvent(const AlarmEvent& event) {
    if (publishing_) {
        publishing_->alarmEvent(event);
    }
}

void StationSession::forwardActiveAlarms() {
    if (publishing_ && alarmsEnabled()) {
        publishing_->activeAlarms(clock_.now(), active_, activeAlarms());
    }
}

QString StationSession::publishingStatus() const {
    return publishing_ ? publishing_->statusText() : QString();
}

void StationSession::startModbus() {
    ModbusServer::Started started = ModbusServer::start(workingDirectory_);
    modbus_ = std::move(started.server);
    if (!started.message.isEmpty()) {
        emit modbusRefused(started.message);
    }
    publishModbus();
}

QString StationSession::modbusStatus() const {
    return modbus_ ? modbus_->statusText() : QString();
}

void StationSession::publishModbus() {
    if (modbus_) {
        modbus_->publish(ModbusSnapshot::of(active_, live_, lastAnswerSeconds_));
    }
}

void StationSession::close() {
    running_ = false;
    pollTimer_.stop();
    secondTimer_.stop();
    configFile_.writeSlots(active_);
    line_->close();
    publishing_.reset();
    modbus_.reset();
}

// ---- Ticks -----------------------------------------------------------------------------------

void StationSession::pollTick() {
    if (active_.count == 0) {
        return;
    }
    line_->maintain();
    const PollCycle::TickResult result = poll_.tick(line_->link(), active_, live_);
    const qint64 nowMs = clock_.now().toMSecsSinceEpoch();
    commStats_.count(result, nowMs);
    if (result.state != PollCycle::LinkState::Unchanged) {
        const bool answered = result.state == PollCycle::LinkState::Answered;
        emit linkStateChanged(result.device, answered);
        if (alarmsOn_) {
            if (answered) {
                const LiveValue& value = live_[static_cast<std::size_t>(result.device)];
                alarms_.answered(result.device, shownValue(value), nowMs, alarmBatch_);
            } else {
                alarms_.linkLost(result.device, nowMs, alarmBatch_);
            }
            publishAlarmEvents();
        }
        if (publishing_) {
            publishing_->linkChanged(result.device, active_, answered, clock_.now());
        }
        // Modbus clients see each answer at once.
        if (answered) {
            lastAnswerSeconds_ = clock_.now().toSecsSinceEpoch();
        }
        publishModbus();
    }
}

void StationSession::pollTimerTick() {
    if (isConfiguring()) {
        return;  // a tick that was already due when configuring began
    }
    pollTimer_.stop();
    pollTimer_.setInterval(kPollIntervalMs);
    pollTick();
    // A close or a pause for configuring meanwhile keeps the timer stopped.
    if (running_ && !isConfiguring()) {
        pollTimer_.start();
    }
}

ParameterReader::ReadOutcome StationSession::readParameter(int row) {
    line_->maintain();
    const ParameterReader::ReadOutcome outcome = parameters_.read(line_->link(), active_, row);
    if (outcome.asked && pollTimer_.isActive()) {
        pollTimer_.start();  // the 50 ms count again from this exchange
    }
    return outcome;
}

QList<ParameterReader::ListRow> StationSession::parameterList(int device) {
    return parameters_.fill(active_, device);
}

void StationSession::secondTick() {
    if (isConfiguring()) {
        return;
    }
    const QDateTime now = clock_.now();
    const RecordCycle::Tick tick = record_.tick(now, live_, active_.count, config_.recordInterval);
    emit secondTicked(tick);
    if (tick.recorded) {
        // A file that cannot take the record (another shape of record, or the file went away)
        // gives way to a new one.
        if (history_.record(now, config_.recordInterval, active_, record_.recordBuffer().data())) {
            emit historyFileStarted(history_.statusText());
        }
        const float* values = record_.recordBuffer().data();
        emit recordTaken(tick.pointLabel, QList<float>(values, values + active_.count));
        if (publishing_) {
            // Dated as the history file dates it; a record the file could not take, by the clock.
            const QDateTime time = history_.failing() ? now : history_.lastRecordTime();
            publishing_->record(time, config_.recordInterval, active_,
                                record_.recordBuffer().data(), tick.texts);
        }
    }
    if (publishing_) {
        publishing_->secondTicked(now, active_, live_);
        // Line statistics go out with the alarms: without alarms.ini the broker sees what it
        // always saw.
        if (publishing_->countStatsSecond() && alarmsOn_) {
            std::vector<CommStats> stats;
            stats.reserve(static_cast<std::size_t>(active_.count));
            for (int i = 0; i < active_.count; ++i) {
                stats.push_back(commStats(i));
            }
            publishing_->stats(now, active_, stats);
        }
    }
    if (alarmsOn_) {
        alarms_.tick(now.toMSecsSinceEpoch(), alarmBatch_);
        publishAlarmEvents();
    }
    if (alarmLog_.waiting() > 0) {
        const QString before = alarmLog_.problem();
        alarmLog_.retry();
        noteAlarmLogProblem(before);
    }
}

// ---- Device table ----------------------------------------------------------------------------

bool StationSession::addDevice(const DeviceEntry& entry) {
    return edit_.count < kMaxDevices && station::addDevice(edit_, entry);
}

bool StationSession::changeDevice(int index, const DeviceEntry& entry) {
    return station::changeDevice(edit_, index, entry);
}

bool StationSession::deleteDevice(int index) {
    return station::deleteDevice(edit_, index);
}

bool StationSession::save(const StationConfig& settings) {
    StationConfig saved = config_;
    saved.portIndex = settings.portIndex;
    saved.baudIndex = settings.baudIndex;
    saved.recordInterval = settings.recordInterval;
    if (!configFile_.save(edit_, saved)) {
        return false;  // config.dat cannot be opened: nothing changes
    }
    config_ = saved;
    commStats_.remap(active_, edit_);
    // The first tick after a save records at once.
    record_.setRecordTick(config_.recordInterval);
    active_ = edit_;
    emit activeTableChanged(active_);
    publishModbus();
    if (alarmsOn_) {
        configureAlarms();  // alarms follow their meters by address and channel
    }
    openPort();
    poll_.restart();
    // While recording runs, a new shape of record goes to a new file at once (in setup mode,
    // leaving it starts the new file).
    if (!isConfiguring() && !history_.describes(config_.recordInterval, active_.count, active_)) {
        startHistoryFile();
    }
    return true;
}

// ---- Setup mode ------------------------------------------------------------------------------

void StationSession::setMode(SetupMode mode) {
    const bool resumed = mode_ == SetupMode::Configuring && mode != SetupMode::Configuring;
    mode_ = mode;
    // Devices are configured with polling and recording at rest.
    if (isConfiguring()) {
        pollTimer_.stop();
        secondTimer_.stop();
    } else if (running_) {
        if (!pollTimer_.isActive()) {
            pollTimer_.start();
        }
        if (!secondTimer_.isActive()) {
            secondTimer_.start();
        }
    }
    emit setupModeChanged(mode_);
    // Records after a pause would not stand at the times their positions give: a new file.
    if (resumed) {
        startHistoryFile();
    }
}

bool StationSession::logIn(const QString& password) {
    if (stringToGbk(password) != config_.password) {
        return false;
    }
    setMode(mode_ == SetupMode::Locked ? SetupMode::Unlocked : mode_);
    return true;
}

void StationSession::lock() {
    setMode(SetupMode::Locked);
}

void StationSession::configure() {
    if (mode_ != SetupMode::Locked) {
        setMode(SetupMode::Configuring);
    }
}

StationSession::PasswordChange StationSession::changePassword(const QString& first,
                                                              const QString& second) {
    // The password changes only after a log-in, whatever a stale panel or a click may do.
    if (mode_ == SetupMode::Locked) {
        return PasswordChange::Refused;
    }
    // A text that config.dat cannot hold whole would lock the operator out after a restart.
    if (first != second || !fitsGbk(first, kPasswordBytes)) {
        return PasswordChange::Mismatch;
    }
    config_.password = stringToGbk(first);
    configFile_.writePassword(config_.password);
    return PasswordChange::Changed;
}

// ---- Alarms and line quality ---------------------------------------------------------------

void StationSession::startAlarms() {
    const AlarmSettingsLoad load =
        loadAlarmSettings(QDir(workingDirectory_).filePath(QStringLiteral("alarms.ini")));
    if (load.outcome == AlarmSettingsLoad::Outcome::Refused) {
        emit alarmsRefused(load.message);
    }
    if (load.outcome != AlarmSettingsLoad::Outcome::Loaded) {
        return;
    }
    alarmSettings_ = load.settings;
    alarmsOn_ = true;
    configureAlarms();
}

void StationSession::configureAlarms() {
    alarms_.configure(alarmSettings_, active_, clock_.now().toMSecsSinceEpoch(), alarmBatch_);
    if (!publishAlarmEvents()) {
        emit alarmsChanged();
    }
}

bool StationSession::alarmsEnabled() const {
    return alarmsOn_;
}

const AlarmSettings& StationSession::alarmSettings() const {
    return alarmSettings_;
}

bool StationSession::saveAlarmSettings(const AlarmSettings& settings, QString* error) {
    if (mode_ == SetupMode::Locked) {
        if (error != nullptr) {
            *error = QStringLiteral("报警设置只能在设置模式下保存");
        }
        return false;
    }
    if (!station::saveAlarmSettings(QDir(workingDirectory_).filePath(QStringLiteral("alarms.ini")),
                                    settings, error)) {
        return false;
    }
    alarmSettings_ = settings;
    alarmsOn_ = true;
    configureAlarms();
    return true;
}

QList<ActiveAlarm> StationSession::activeAlarms() const {
    return alarms_.activeAlarms();
}

QList<AlarmEvent> StationSession::recentAlarmEvents() const {
    return QList<AlarmEvent>(recentAlarms_.begin(), recentAlarms_.end());
}

int StationSession::unacknowledgedAlarms() const {
    return alarms_.unacknowledged();
}

AlarmShade StationSession::alarmShade(int device) const {
    return alarms_.shade(device);
}

void StationSession::acknowledgeAlarm(int device, AlarmKind kind) {
    if (alarms_.acknowledge(device, kind, clock_.now().toMSecsSinceEpoch(), alarmBatch_)) {
        publishAlarmEvents();
    }
}

void StationSession::acknowledgeAllAlarms() {
    alarms_.acknowledgeAll(clock_.now().toMSecsSinceEpoch(), alarmBatch_);
    publishAlarmEvents();
}

QString StationSession::alarmLogProblem() const {
    return alarmLog_.problem();
}

bool StationSession::publishAlarmEvents() {
    if (alarmBatch_.empty()) {
        return false;
    }
    const QString before = alarmLog_.problem();
    // Taken out first: a slot that acknowledges from its signal judges into an empty batch.
    AlarmEvaluator::Events batch;
    batch.swap(alarmBatch_);
    alarmBatch_.reserve(kAlarmBatch);
    for (const AlarmEvent& event : batch) {
        alarmLog_.append(event);
        if (recentAlarms_.size() == kRecentAlarmEvents) {
            recentAlarms_.pop_front();
        }
        recentAlarms_.push_back(event);
    }
    noteAlarmLogProblem(before);
    for (const AlarmEvent& event : batch) {
        emit alarmEvent(event);
    }
    emit alarmsChanged();
    return true;
}

void StationSession::noteAlarmLogProblem(const QString& before) {
    if (alarmLog_.problem() != before) {
        emit alarmLogProblemChanged(alarmLog_.problem());
    }
}

CommStats StationSession::commStats(int device) const {
    return device < active_.count ? commStats_.stats(device, clock_.now().toMSecsSinceEpoch())
                                  : CommStats{};
}

void StationSession::resetCommStats() {
    commStats_.reset();
}

}  // namespace tamlo::station
