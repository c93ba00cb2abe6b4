#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <cstdint>
#include <functional>

#include "shared/datetime.h"
#include "shared/stationhistory.h"

namespace tamlo::viewer {

// The records of a station history file that an export of [from, to] writes. Times are
// compared in the whole seconds they are shown in; record k stands for fileStart + k x interval.
struct ExportSelection {
    bool valid = false;       // false: the range is refused ("时间范围不正确！")
    std::uint64_t first = 0;  // the first record whose time is not earlier than from
    std::uint64_t count = 0;  // records up to the last whose time is not later than to
};

// from later than to, or outside fileStart .. fileEnd, is refused. With an interval of 0 the
// file's range is a single instant and no record is selected.
ExportSelection selectExportRecords(OleDate fileStart, OleDate fileEnd,
                                    std::uint32_t intervalSeconds, OleDate from, OleDate to);

// "时间\t" then every channel's tag as stored, each followed by a tab, then CR LF.
QByteArray exportHeaderLine(const StationHistoryHeader& header);

// Writes the header line and one line per selected record, each dated with its record's own
// time, reading the file in blocks. Stops early at the end of the file's whole records. Returns
// the number of data lines written, or -1 when writing to `out` failed.
using ExportProgress = std::function<void(std::uint64_t linesWritten)>;
std::int64_t writeViewerExport(StationHistoryReader& reader, const ExportSelection& selection,
                               QIODevice& out, const ExportProgress& progress = {});

}  // namespace tamlo::viewer
