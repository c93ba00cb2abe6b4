#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "shared/datetime.h"
#include "shared/exportjob.h"
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

// Said when the file under the opened name now has another header: another file replaced it.
QString replacedFileText(const QString& path);

// The viewer's export of a station history file: every record of the range, each line dated
// with its record's own time, values as stored in general format with 5 significant digits.
// The file is read in blocks and opened anew for the export; it ends at the last whole record.
class StationExportJob final : public ExportJob {
public:
    // The span and interval as the viewer took them when it opened the file.
    StationExportJob(QString path, OleDate fileStart, OleDate fileEnd,
                     std::uint32_t intervalSeconds);
    // The file as it is now (the command line): a job, or the text that refuses the file.
    static std::variant<std::unique_ptr<ExportJob>, QString> open(const QString& path);

    QString inputPath() const override { return path_; }
    OleDate startTime() const override { return fileStart_; }
    OleDate endTime() const override { return fileEnd_; }
    HistoryFacts facts() const override;
    std::optional<QString> refusal(const ExportChoice& choice) const override;
    std::int64_t progressMaximum(const ExportChoice& choice) const override;
    ExportOutcome write(const ExportChoice& choice, ExportWriter& out,
                        ExportProgress* progress) override;

private:
    ExportSelection select(const ExportChoice& choice) const;

    QString path_;
    OleDate fileStart_;
    OleDate fileEnd_;
    std::uint32_t intervalSeconds_;
};

}  // namespace tamlo::viewer
