#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "devicetable.h"
#include "pollcycle.h"
#include "shared/stationhistory.h"

namespace tamlo::station {

inline constexpr int kDataGridColumns = 65;
inline constexpr int kDataGridRows = 640;
inline constexpr int kDataGridLastRow = 638;  // rows 1 to 638 are written in turn
inline constexpr int kBandRows = 20;
inline constexpr char kBandText[] = "*******";
inline constexpr char kErrText[] = "Err";

// The engineering value of a polled reading: raw / 10^decimals in single precision.
float engineeringValue(const LiveValue& value);

// What the one-second tick does with the live values: the texts of this second, the grid row
// they go to, and whether a record is due. The form applies it to the grid, tiles and curves.
class RecordCycle {
public:
    struct Tick {
        QString clockText;
        bool hasDevices = false;
        int row = 0;            // grid row that receives this second's values
        QString rowTime;        // "hh:nn:ss"
        QStringList texts;      // one per active device: the value text or "Err"
        bool recorded = false;  // a record is due: recordBuffer holds it
        int bandStart = 0;      // first row of the band of asterisks after a record
        QString pointLabel;     // label of the curve points of the record
    };

    Tick tick(const QDateTime& now, const LiveValueTable& live, int activeCount,
              std::uint16_t recordInterval);

    const std::array<float, kDeviceSlots>& recordBuffer() const { return recordBuffer_; }
    int gridRow() const { return gridRow_; }
    std::uint16_t recordTick() const { return recordTick_; }
    void setRecordTick(std::uint16_t tick) { recordTick_ = tick; }
    void reset() {
        gridRow_ = 1;
        recordTick_ = 0;
    }

private:
    std::array<float, kDeviceSlots> recordBuffer_{};
    int gridRow_ = 1;
    std::uint16_t recordTick_ = 0;
};

// The station's history file: where it lies, what its header says, and the appends.
//
// A record that cannot be written (disk full, file size limit, read-only or vanished folder) is
// reported in the status text and on standard error with the system's reason. The file it was
// meant for takes no further record: a record's time is its position in the file, so a record
// after a lost one would be dated too early. The next records go to a new file started at the
// first of them; while even that fails, each record retries and is counted as lost.
class HistoryLog {
public:
    explicit HistoryLog(QString workingDirectory)
        : workingDirectory_(std::move(workingDirectory)) {}

    // Creates the month directory and the file named after `now`, with a header for the given
    // interval, device count and the tags of the 64 table slots. An existing file of that name
    // is truncated. False when the file could not be created (the station runs on; the failure
    // shows in statusText() and the next record tries again).
    bool start(const QDateTime& now, std::uint16_t interval, int deviceCount,
               const DeviceTable& table);
    bool append(const float* values, int count, QString* error = nullptr);
    // Appends one record of the active devices. When the current file cannot take it (its
    // header describes another shape of record, or the file was deleted, moved or made
    // unwritable meanwhile, or its last append failed), a new file is started at `now` and the
    // record goes there. True when statusText() changed: a new file, or a failure.
    bool record(const QDateTime& now, std::uint16_t interval, const DeviceTable& active,
                const float* values);

    // True when records of this shape may go into the current file: same width, interval and
    // tags of the recorded devices.
    bool describes(std::uint16_t interval, int deviceCount, const DeviceTable& table) const;

    bool isOpen() const { return !path_.isEmpty(); }
    // True while records cannot be written; error() holds the system's reason.
    bool failing() const { return failing_; }
    QString error() const { return error_; }
    // Records lost since the writes began to fail.
    int lostRecords() const { return lostRecords_; }
    QString path() const { return path_; }
    // Records in the current file, and the time the file gives its last one (start + k x
    // interval, as every reader dates it).
    std::uint64_t recordCount() const { return records_; }
    QDateTime lastRecordTime() const;
    QString monthDirectory() const { return monthDirectory_; }
    QString fileStamp() const { return fileStamp_; }
    const StationHistoryHeader& header() const { return header_; }
    // "当前文件：" + the file's full path, for the status bar; while writes fail, the failure.
    QString statusText() const;

    static QString monthDirectoryName(const QDateTime& t);  // "yy'年'mm'月'"
    static QString fileStampName(const QDateTime& t);       // "dd'日'hh'时'nn'分'ss'秒'"

private:
    QString workingDirectory_;
    QString monthDirectory_;
    QString fileStamp_;
    QString path_;
    StationHistoryHeader header_;
    bool failing_ = false;
    QString error_;
    int lostRecords_ = 0;
    std::uint64_t records_ = 0;

    bool startFile(const QDateTime& now, std::uint16_t interval, int deviceCount,
                   const DeviceTable& table, QString* error);
    void fail(const QString& reason);
    void recover();
};

}  // namespace tamlo::station
