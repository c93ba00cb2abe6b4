#include "exportjob.h"

#include <QFile>

namespace tamlo {

std::optional<QString> ExportJob::refusal(const ExportChoice& choice) const {
    // Compared in whole milliseconds: picker times and file times reach here by different sums.
    const std::int64_t from = oleDateToMs(choice.from);
    const std::int64_t to = oleDateToMs(choice.to);
    if (from > to || from < oleDateToMs(startTime()) || to > oleDateToMs(endTime())) {
        return QString::fromUtf8(kExportRangeText);
    }
    if (choice.step < 1) {
        return QString::fromUtf8(kExportStepText);
    }
    return std::nullopt;
}

ExportOutcome runExport(ExportJob& job, const ExportChoice& choice, const QString& outputPath,
                        ExportProgress* progress, ExportFormat format) {
    using Status = ExportOutcome::Status;
    if (const std::optional<QString> refused = job.refusal(choice)) {
        return {Status::Refused, *refused, 0};
    }
    if (!QFile(job.inputPath()).open(QIODevice::ReadOnly)) {
        return {Status::InputUnreadable, {}, 0};
    }
    const std::unique_ptr<ExportWriter> out = makeExportWriter(format);
    if (const std::optional<QString> refused = out->open(outputPath, job.inputPath())) {
        return {Status::Refused, *refused, 0};
    }
    ExportOutcome outcome = job.write(choice, *out, progress);
    if (outcome.status != Status::Done) {
        return outcome;
    }
    if (const std::optional<ExportWriteFailure> failed = out->finish()) {
        return {failed->refused ? Status::Refused : Status::WriteFailed, failed->message, 0};
    }
    return outcome;
}

}  // namespace tamlo
