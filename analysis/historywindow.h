#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "recorderhistory.h"
#include "shared/historysource.h"

namespace tamlo::analysis {

inline constexpr int kWindowRecords = 20000;

// A window of consecutive records of a recorder history file, as the chart and the grid show
// it: raw values as stored (host order), each record with its own time.
struct HistoryWindow final : HistoryWindowSource {
    std::int64_t firstSeconds = 0;  // own time of record 0, seconds since 1899-12-30
    std::int32_t interval = 1;      // seconds between records
    int channelCount = 0;
    std::array<std::int16_t, kRecorderMaxChannels> divisors{};
    std::vector<std::int16_t> raw;  // count() x channelCount, record-major

    // Grid rows: the record each row shows; a no-data row (channel 0 without a sample, the first
    // of a run) is stored as -1 - record.
    std::vector<int> gridRows;

    int count() const override {
        return channelCount == 0 ? 0 : static_cast<int>(raw.size()) / channelCount;
    }
    std::int16_t rawValue(int record, int channel) const {
        return raw[static_cast<std::size_t>(record) * channelCount + channel];
    }
    float value(int record, int channel) const {
        return physicalValue(rawValue(record, channel), divisors[channel]);
    }
    std::int64_t secondsOf(int record) const {
        return firstSeconds + std::int64_t(record) * interval;
    }

    // The curve panel's view: physical values, "MM-DD HH:NN:SS" labels, and value texts in
    // general format with "  --  " for a record without a sample.
    double valueAt(int record, int channel) const override { return value(record, channel); }
    QString labelAt(int record) const override;
    QString valueText(int record, int channel) const override;
};

// The window that starts with the record for time t (the record at or after t): that record and
// up to 19999 more, while their own times are not later than the file's end. Empty when t lies
// outside the file's span or the file cannot be opened; a record that cannot be read whole ends
// the window.
std::shared_ptr<const HistoryWindow> loadHistoryWindow(const RecorderHistory& history, OleDate t);

// Grid rows of a window: every record whose channel 0 holds a sample, and the first record of
// each run without one.
std::vector<int> windowGridRows(const HistoryWindow& window);

// Texts of the window's grid and labels, formatted when asked for.
QString windowTimeText(const HistoryWindow& window, int record);   // "YY-MM-DD HH:NN:SS"
QString windowLabelText(const HistoryWindow& window, int record);  // "MM-DD HH:NN:SS"
QString windowValueText(const HistoryWindow& window, int record, int channel);

// The window model of tamlo_ana: the open recorder history file and the window of it that is
// shown. The file is opened anew for every window and closed at once.
class HistoryWindows {
public:
    enum class Outcome {
        Loaded,
        NotOpenable,  // the file could not be opened: nothing changes, no message
        WrongType,    // not a recorder history file: nothing changes, the caller says so
    };
    // Reads the header and channel description of `path`; no window is shown until load().
    Outcome open(const QString& path);

    // Whether load(t) shows a window: a file is open, t lies within its span and the file can
    // be opened.
    bool canLoad(OleDate t) const;
    // Drops the shown window, then reads the one that starts with the record for time t. The
    // window stays empty when the file cannot be read.
    std::shared_ptr<const HistoryWindow> load(OleDate t);

    enum class Place { Inside, AfterEnd, BeforeStart };
    // Where a time to search for lies against the file's span, to the millisecond.
    Place place(OleDate t) const;

    const std::optional<RecorderHistory>& history() const { return history_; }
    const std::shared_ptr<const HistoryWindow>& window() const { return window_; }
    // The channels' names, one per curve and grid column.
    QStringList channelNames() const;
    // "时间范围: 26-12-07 10:00:00 至 26-12-07 12:00:00         "
    QString rangeText() const;

private:
    std::optional<RecorderHistory> history_;
    std::shared_ptr<const HistoryWindow> window_;
};

// The value text of an export or grid cell: raw / divisor in general format with 5 significant
// digits, the no-data value -30000 undivided.
char* writeRecorderValue(char* out, std::int16_t raw, std::int16_t divisor);

}  // namespace tamlo::analysis
