#pragma once

#include <QByteArray>
#include <memory>
#include <variant>

#include "recorderhistory.h"
#include "shared/exportjob.h"

namespace tamlo::analysis {

// The spreadsheet export of a recorder history file: a header line "time" and the channel
// names, then one line per exported record at the record's own time, "  --  " lines for the
// first record of each run whose channel 0 holds no sample; tab after every field, CR LF.
class RecorderExportJob final : public ExportJob {
public:
    explicit RecorderExportJob(RecorderHistory history) : history_(std::move(history)) {}

    QString inputPath() const override { return history_.fileName; }
    OleDate startTime() const override { return history_.startTime; }
    OleDate endTime() const override { return history_.endTime; }
    HistoryFacts facts() const override;
    // The record intervals in the range: its seconds (halves downwards) over the interval.
    std::int64_t progressMaximum(const ExportChoice& choice) const override;
    ExportOutcome write(const ExportChoice& choice, ExportWriter& out,
                        ExportProgress* progress) override;

    const RecorderHistory& history() const { return history_; }

private:
    RecorderHistory history_;
};

// The export job of a file named on the command line, or the text that refuses the file.
std::variant<std::unique_ptr<ExportJob>, QString> openRecorderExport(const QString& path);

}  // namespace tamlo::analysis
