#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "datetime.h"
#include "exportwriter.h"

namespace tamlo {

inline constexpr char kExportRangeText[] = "时间范围不正确！";
inline constexpr char kExportDoneText[] = "数据导出完成！";
inline constexpr char kExportStepText[] = "取样间隔必须是大于0的整数！";

// What the operator chose for an export: the time range and every step-th record.
struct ExportChoice {
    OleDate from = 0;
    OleDate to = 0;
    int step = 1;
};

// Where a running export reports how far it got.
class ExportProgress {
public:
    virtual ~ExportProgress() = default;
    virtual void setMaximum(std::int64_t maximum) = 0;
    virtual void setPosition(std::int64_t position) = 0;
};

struct ExportOutcome {
    enum class Status {
        Done,
        Refused,          // the choice or the output was refused; `message` says why
        InputUnreadable,  // the history file cannot be opened
        WriteFailed,      // `message` names the output
    };
    Status status = Status::Done;
    QString message;
    std::int64_t lines = 0;  // data lines written (the header line not counted)
};

// What `--info` tells of a history file.
struct HistoryFacts {
    QString kind;
    QStringList channels;  // the names, decoded
    std::int64_t intervalSeconds = 0;
    std::int64_t records = 0;
    OleDate firstRecord = 0;  // both meaningful when there are records
    OleDate lastRecord = 0;
};

// The export of one history file, the same for the dialog and the command line.
class ExportJob {
public:
    virtual ~ExportJob() = default;

    virtual QString inputPath() const = 0;
    virtual OleDate startTime() const = 0;
    virtual OleDate endTime() const = 0;
    // Reads what it needs of the file anew.
    virtual HistoryFacts facts() const = 0;

    // The refusal text of a choice, before anything is read or asked: a range that is reversed
    // or leaves the file's span, a step below 1.
    virtual std::optional<QString> refusal(const ExportChoice& choice) const;
    // The gauge's maximum for a choice.
    virtual std::int64_t progressMaximum(const ExportChoice& choice) const = 0;
    // Hands the header and the data rows to `out`; reports progress if asked.
    virtual ExportOutcome write(const ExportChoice& choice, ExportWriter& out,
                                ExportProgress* progress) = 0;
};

// Checks the choice, opens the output beside its name, writes it in `format` and puts the file
// in place. Nothing is left under the output name unless the export completed.
ExportOutcome runExport(ExportJob& job, const ExportChoice& choice, const QString& outputPath,
                        ExportProgress* progress = nullptr,
                        ExportFormat format = ExportFormat::Text);

}  // namespace tamlo
