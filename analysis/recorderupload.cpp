#include "recorderupload.h"

#include <QDir>
#include <algorithm>

#include "shared/numbertext.h"

namespace tamlo::analysis {
namespace {

// The largest reply: a block of seven records of 16 channels.
constexpr int kReplyBufferSize = 256;

// Clears the running mark however the upload ends, an exception included.
class RunningMark {
public:
    explicit RunningMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningMark() { flag_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    bool& flag_;
};

}  // namespace

PortOpenResult SerialUploadPort::open(int portIndex, std::int32_t baudRate) {
    return port_.open(resolveComPort(comPortName(portIndex), QDir::currentPath()), baudRate);
}

UploadReport RecorderUpload::run(const UploadInput& input) {
    RunningMark mark(running_);
    blockRequests_ = 0;
    UploadReport report = runSteps(input);
    report.blockRequests = blockRequests_;
    return report;
}

bool RecorderUpload::fail(UploadReport& report, UploadOutcome outcome, const QString& text) {
    session_.port().close();
    report.outcome = outcome;
    if (!text.isEmpty()) {
        view_.showMessage(text, QString::fromUtf8(kErrCaption));
    }
    return false;
}

bool RecorderUpload::commFailed(UploadReport& report) {
    return view_.closeRequested()
               ? fail(report, UploadOutcome::Aborted, {})
               : fail(report, UploadOutcome::CommFailed, QString::fromUtf8(kCommFailedText));
}

bool RecorderUpload::exchangeOnce(RecorderRequest request, std::uint8_t* reply, int replyLength) {
    return exchange(session_.port().link(), request.bytes.data(), request.length, reply,
                    replyLength, WriteFailure::StopAtOnce);
}

bool RecorderUpload::requestWithRetries(const RecorderRequest& request, std::uint8_t* reply,
                                        int replyLength) {
    for (int attempt = 0; attempt < kUploadAttempts; ++attempt) {
        if (exchangeOnce(request, reply, replyLength)) {
            return true;
        }
        view_.waitWithMessages(kRetryWaitHundredths);
        if (view_.closeRequested()) {
            return false;
        }
    }
    return false;
}

bool RecorderUpload::blockWithRetries(std::uint8_t address, std::uint32_t lastWrittenOffset,
                                      int seekLength, std::uint8_t* reply, int replyLength) {
    for (int attempt = 0; attempt < kUploadAttempts; ++attempt) {
        view_.waitWithMessages(kBlockWaitHundredths);
        // A dialog that is closing does not wait for a recorder that has stopped answering.
        if (attempt > 0 && view_.closeRequested()) {
            return false;
        }
        // The recorder moves on as soon as it sends a block, even one the line damaged: asking
        // again would skip those records. Putting it back on the last record in the file makes
        // the next block start with the first record the file still lacks.
        if (attempt > 0 &&
            !exchangeOnce(seekRequest(address, lastWrittenOffset), reply, seekLength)) {
            continue;
        }
        ++blockRequests_;
        if (exchangeOnce(nextBlockRequest(address), reply, replyLength)) {
            return true;
        }
    }
    return false;
}

struct RecorderUpload::Run {
    std::uint8_t address = 0;
    int step = kMinSamplingStep;
    RecorderStatus status;
    std::int64_t recordSpacing = 0;  // seconds between the file's records: interval x step
    std::int64_t newest = 0;         // the recorder's newest record
    ChannelRecords channelRecords;
    std::vector<std::int16_t> seekValues;  // the record the seek fetched, the file's first
    RecorderFileHeader header;
    RecorderFileWriter writer;
    bool blockFailed = false;
    bool writeFailed = false;
    QString writeError;
    std::uint8_t reply[kReplyBufferSize] = {};
};

UploadReport RecorderUpload::runSteps(const UploadInput& input) {
    UploadReport report;
    Run run;
    if (handshake(input, report, run) && plan(input, report, run) && transfer(report, run)) {
        finish(report, run);
    }
    return report;
}

// Opens the port, settles the address and the sampling step, and asks the recorder's status.
bool RecorderUpload::handshake(const UploadInput& input, UploadReport& report, Run& run) {
    const PortOpenResult opened = session_.port().open(input.portIndex, input.baudRate);
    if (opened != PortOpenResult::Opened) {
        report.outcome = UploadOutcome::PortFailed;
        view_.showMessage(portOpenFailureText(opened), QString::fromUtf8(kPortMessageCaption));
        return false;
    }
    run.address = static_cast<std::uint8_t>(textToInt(input.addressText));
    const int step = textToInt(input.samplingStepText);
    run.step = std::clamp(step, kMinSamplingStep, kMaxSamplingStep);
    if (run.step != step) {
        view_.setSamplingStepText(QString::number(run.step));
    }
    if (!requestWithRetries(statusRequest(run.address, static_cast<std::uint8_t>(run.step)),
                            run.reply, kStatusReplyLength)) {
        return commFailed(report);
    }
    run.status = decodeStatusReply(run.reply);
    if (!statusIsUsable(run.status, run.step)) {
        return fail(report, UploadOutcome::UnusableStatus, QString::fromUtf8(kUnusableStatusText));
    }
    run.recordSpacing = std::int64_t{run.status.recordInterval} * run.step;
    run.newest = *recorderTimeToSeconds(run.status.newestTime);
    return true;
}

// Limits the range to what the recorder holds, reads the channel list, seeks the first record
// and asks where the file goes.
bool RecorderUpload::plan(const UploadInput& input, UploadReport& report, Run& run) {
    const RecorderStatus& status = run.status;
    const int channels = status.channelCount;
    const std::int64_t interval = status.recordInterval;
    // The ring's oldest record lies R - 1 intervals before its newest.
    const std::int64_t start =
        std::max(input.startSeconds, run.newest - interval * (status.ringRecords() - 1));
    const std::int64_t end = std::min(input.endSeconds, run.newest);
    report.startSeconds = start;
    report.endSeconds = end;
    if (start > end) {
        report.outcome = UploadOutcome::RangeError;
        view_.showMessage(QString::fromUtf8(kRangeErrorText), QString::fromUtf8(kErrCaption));
        return false;
    }
    view_.showRange(start, end);
    view_.waitWithMessages(kRetryWaitHundredths);
    if (view_.closeRequested()) {
        return fail(report, UploadOutcome::Aborted, {});
    }

    if (!requestWithRetries(channelListRequest(run.address), run.reply,
                            channelListReplyLength(channels))) {
        return commFailed(report);
    }
    run.channelRecords = decodeChannelList(run.reply, channels);

    report.plannedRecords = (end - start) / run.recordSpacing;
    view_.setProgressMaximum(report.plannedRecords);
    view_.setProgressPosition(0);

    // The record at or after the start, counted back from the newest in whole intervals.
    const std::int64_t back = (run.newest - start) / interval;
    std::int64_t ringOffset = static_cast<std::int64_t>(status.newestOffset) - back * channels * 2;
    if (ringOffset < 0) {
        ringOffset += status.ringSize;
    }
    report.seekOffset = static_cast<std::uint32_t>(ringOffset);
    // Records are labelled with the time the recorder took them, not with the time asked for.
    report.firstRecordSeconds = run.newest - back * interval;
    if (!requestWithRetries(seekRequest(run.address, report.seekOffset), run.reply,
                            seekReplyLength(channels))) {
        return commFailed(report);
    }
    run.seekValues = decodeRecordValues(run.reply, channels, 1);

    const QString chosen = view_.askOutputFileName();
    if (!chosen.isEmpty()) {
        session_.lastFileName = chosen;
    }
    if (session_.lastFileName.isEmpty()) {
        return fail(report, UploadOutcome::NoOutputFile, QString::fromUtf8(kNoOutputFileText));
    }
    report.fileName = session_.lastFileName;
    return true;
}

// Creates the file with the sought record and appends blocks until the plan is done, the
// recorder's newest record is in, the user stops, or a block or a write fails.
bool RecorderUpload::transfer(UploadReport& report, Run& run) {
    const RecorderStatus& status = run.status;
    const int channels = status.channelCount;
    RecorderFileHeader& header = run.header;
    header.formatTag = status.formatTag;
    header.dataOffset = kRecorderDataOffset;
    header.newestTime = status.newestTime;
    header.newestOffset = status.newestOffset;
    header.recorderByte = status.recorderByte;
    header.dataSize = status.ringSize;
    header.channelCount = static_cast<std::uint16_t>(channels);
    if (!run.writer.create(report.fileName, header, run.channelRecords,
                           static_cast<std::uint16_t>(run.recordSpacing))) {
        return fail(
            report, UploadOutcome::CreateFailed,
            QString::fromUtf8(kCreateFailedText).arg(QDir::toNativeSeparators(report.fileName)));
    }
    run.writeFailed = !run.writer.append(run.seekValues.data(), run.seekValues.size());
    if (run.writeFailed) {
        run.writeError = run.writer.errorString();
    }
    std::int64_t written = run.writeFailed ? 0 : 1;
    std::int64_t cursor = report.firstRecordSeconds + run.recordSpacing;
    view_.setProgressPosition(written);

    view_.setTransferring(true);
    view_.showTransferTime(cursor);
    session_.stopRequested = false;

    const int blockLength = nextBlockReplyLength(channels);
    while (!run.writeFailed && written < report.plannedRecords && cursor <= run.newest &&
           !session_.stopRequested && !view_.closeRequested()) {
        // Where the last record in the file lies in the ring: the file's records are S records
        // apart there, and the recorder wraps round after its last whole record.
        const std::int64_t recordBytes = 2 * channels;
        const std::int64_t lastWrittenOffset =
            (report.seekOffset + (written - 1) * run.step * recordBytes) %
            (status.ringRecords() * recordBytes);
        if (!blockWithRetries(run.address, static_cast<std::uint32_t>(lastWrittenOffset),
                              seekReplyLength(channels), run.reply, blockLength)) {
            run.blockFailed = !view_.closeRequested();
            break;
        }
        const std::vector<std::int16_t> values =
            decodeRecordValues(run.reply, channels, kBlockRecords);
        // A block may run past the recorder's newest record. What follows it in the ring is the
        // oldest part of the history, which would be labelled with times not reached yet.
        const std::int64_t upToNewest = (run.newest - cursor) / run.recordSpacing + 1;
        const std::int64_t keep = std::min<std::int64_t>(kBlockRecords, upToNewest);
        if (!run.writer.append(values.data(), static_cast<std::size_t>(keep * channels))) {
            run.writeFailed = true;
            run.writeError = run.writer.errorString();
            break;
        }
        cursor += keep * run.recordSpacing;
        written += keep;
        view_.setProgressPosition(written);
        view_.showTransferTime(cursor);
    }
    report.recordsWritten = written;
    report.stopped = session_.stopRequested || view_.closeRequested();
    return true;
}

// Puts the file in place, or leaves the earlier file of that name alone when a write failed,
// and tells the user how the upload ended.
void RecorderUpload::finish(UploadReport& report, Run& run) {
    const int channels = run.status.channelCount;
    const std::int64_t written = report.recordsWritten;
    // The header now describes the records that are in the file, the last one being the newest.
    // A transfer that was stopped or broke off keeps what it received; one that could not write
    // leaves the earlier file of that name alone.
    if (run.writeFailed) {
        run.writer.discard();
    } else {
        RecorderFileHeader& header = run.header;
        header.dataSize = static_cast<std::uint32_t>(written * 2 * channels);
        header.newestOffset = header.dataSize - static_cast<std::uint32_t>(2 * channels);
        header.newestTime =
            secondsToRecorderTime(report.firstRecordSeconds + (written - 1) * run.recordSpacing);
        run.writeFailed = !run.writer.commit(header);
        if (run.writeFailed) {
            run.writeError = run.writer.errorString();
        }
    }
    if (run.writeFailed) {
        report.recordsWritten = 0;
    }

    UploadOutcome outcome = UploadOutcome::Completed;
    QString text = QString::fromUtf8(kUploadDoneText);
    if (run.writeFailed) {
        outcome = UploadOutcome::WriteFailed;
        text = QString::fromUtf8(kWriteFailedText)
                   .arg(QDir::toNativeSeparators(report.fileName), run.writeError);
    } else if (run.blockFailed) {
        outcome = UploadOutcome::BlockFailed;
        text = QString::fromUtf8(kCommFailedText);
    }
    report.outcome = outcome;
    if (outcome != UploadOutcome::Completed) {
        session_.port().close();
    }
    view_.showMessage(
        text, QString::fromUtf8(outcome == UploadOutcome::Completed ? kOkCaption : kErrCaption));
    view_.setProgressPosition(0);
    view_.setTransferring(false);
}

}  // namespace tamlo::analysis
