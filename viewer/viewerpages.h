#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "shared/datetime.h"
#include "shared/historysource.h"
#include "shared/stationhistory.h"

namespace tamlo::viewer {

// Records per page: the viewer never holds more of a file at once.
inline constexpr int PAGE_RECORDS = 20000;

// The records of one page as read from the file: record by record, channel 0 first.
struct HistoryPage final : HistoryWindowSource {
    std::uint32_t channelCount = 0;
    int recordCount = 0;
    std::vector<float> values;
    // Where the page lies in the file, for its records' times.
    OleDate fileStart = 0.0;
    std::uint32_t intervalSeconds = 1;
    std::uint64_t firstRecord = 0;

    float value(int record, int channel) const {
        return values[static_cast<std::size_t>(record) * channelCount +
                      static_cast<std::size_t>(channel)];
    }

    // The curve panel's view: the values, the records' own times as labels, value texts in
    // general format.
    int count() const override { return recordCount; }
    double valueAt(int record, int channel) const override { return value(record, channel); }
    QString labelAt(int record) const override;
    QString valueText(int record, int channel) const override;
};

// Where the viewer stands in a file. The shown page always starts at record
// (pageNumber - 1) x PAGE_RECORDS, so offsets and times are derived from that record's index in
// whole seconds rather than carried forward from page to page.
struct ViewerPageState {
    QString fileName;
    StationHistoryHeader header;
    OleDate fileStart = 0.0;
    OleDate fileEnd = 0.0;
    std::uint64_t fileRecordCount = 0;  // whole records when the file was opened
    int pageCount = 0;
    int pageNumber = 0;
    std::uint64_t pageStartRecord = 0;
    // Shared with the curve panel while it shows the page.
    std::shared_ptr<const HistoryPage> page = std::make_shared<const HistoryPage>();

    std::uint64_t pageStartOffset() const;
    std::uint64_t nextPageOffset() const;
    OleDate pageStartTime() const;
    OleDate nextPageStartTime() const;
    // Nominal time of point j of the shown page.
    OleDate pointTime(int j) const;
};

// The page model of the viewer: opening a file and stepping through it a page at a time. The
// file is opened anew for every page and closed at once, so the station may go on appending to
// it; a page read later holds the records appended since. A torn record at the end is never
// part of a page.
class ViewerPages {
public:
    // Called while a page is read: records read so far, and records to read in all.
    using Progress = std::function<void(int done, int total)>;

    enum class Outcome {
        Loaded,
        NotOpenable,  // the file could not be opened: nothing changes, no message
        Refused,      // not a history file the viewer can show: nothing changes, error() says why
    };

    // Reads the header and page 1 of `path`.
    Outcome open(const QString& path, const Progress& progress = {});
    // The page after / before the shown one. Refused when the button would be disabled.
    Outcome next(const Progress& progress = {});
    Outcome back(const Progress& progress = {});

    bool isOpen() const { return !state_.fileName.isEmpty(); }
    const ViewerPageState& state() const { return state_; }
    const HistoryPage& page() const { return *state_.page; }
    std::shared_ptr<const HistoryPage> sharedPage() const { return state_.page; }
    QString error() const { return error_; }

    bool canGoBack() const { return isOpen() && state_.pageStartOffset() > kHistoryHeaderSize; }
    bool canGoNext() const { return isOpen() && state_.page->recordCount == PAGE_RECORDS; }

    // "共3页 第1页"
    QString pageLabel() const;
    // "时间范围: 26-12-07 10:00:00 至 26-12-07 12:00:00         "
    QString rangeText() const;

private:
    Outcome loadPage(std::uint64_t startRecord, int pageNumber, const Progress& progress);

    ViewerPageState state_;
    QString error_;
};

// "共" + pages + "页 第" + page + "页"
QString pageCountText(int pageCount, int pageNumber);

}  // namespace tamlo::viewer
