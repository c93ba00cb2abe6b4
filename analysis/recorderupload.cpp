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

UploadReport RecorderUpload::fail(UploadReport report, UploadOutcome outcome, const QString& text) {
    session_.port().close();
    report.outcome = outcome;
    if (!text.isEmpty()) {
        view_.showMessage(text, QString::fromUtf8(kErrCaption));
    }
    return report;
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

UploadReport RecorderUpload::runSteps(const UploadInput& input) {
    UploadReport report;
    PortLine& port = session_.port();
    const PortOpenResult opened = port.open(input.portIndex, input.baudRate);
    if (opened != PortOpenResult::Opened) {
        report.outcome = UploadOutcome::PortFailed;
        view_.showMessage(portOpenFailureText(opened), QString::fromUtf8(kPortMessageCaption));
        return report;
    }

    const auto address = static_cast<std::uint8_t>(textToInt(input.addressText));
    int step = textToInt(input.samplingStepText);
    if (step > kMaxSamplingStep) {
        step = kMaxSamplingStep;
        view_.setSamplingStepText(QString::number(step));
    } else if (step < kMinSamplingStep) {
        step = kMinSamplingStep;
        view_.setSamplingStepText(QString::number(step));
    }

    const auto commFailed = [&] {
        return view_.closeRequested()
                   ? fail(report, UploadOutcome::Aborted, {})
                   : fail(report, UploadOutcome::CommFailed, QString::fromUtf8(kCommFailedText));
    };

    std::uint8_t reply[kReplyBufferSize] = {};
    if (!requestWithRetries(statusRequest(address, static_cast<std::uint8_t>(step)), reply,
                            kStatusReplyLength)) {
        return commFailed();
    }
    const RecorderStatus status = decodeStatusReply(reply);
    if (!statusIsUsable(status, step)) {
        return fail(report, UploadOutcome::UnusableStatus, QString::fromUtf8(kUnusableStatusText));
    }
    const int channels = status.channelCount;
    const std::int64_t interval = status.recordInterval;
    const std::int64_t recordSpacing = interval * step;
    const std::int64_t newest = *recorderTimeToSeconds(status.newestTime);

    // The ring's oldest record lies R - 1 intervals before its newest.
    std::int64_t start = input.startSeconds;
    std::int64_t end = std::min(input.endSeconds, newest);
    start = std::max(start, newest - interval * (status.ringRecords() - 1));
    report.startSeconds = start;
    report.endSeconds = end;
    if (start > end) {
        report.outcome = UploadOutcome::RangeError;
        view_.showMessage(QString::fromUtf8(kRangeErrorText), QString::fromUtf8(kErrCaption));
        return report;
    }
    view_.showRange(start, end);
    view_.waitWithMessages(kRetryWaitHundredths);
    if (view_.closeRequested()) {
        return fail(report, UploadOutcome::Aborted, {});
    }

    if (!requestWithRetries(channelListRequest(address), reply, channelListReplyLength(channels))) {
        return commFailed();
    }
    const ChannelRecords channelRecords = decodeChannelList(reply, channels);

    const std::int64_t planned = (end - start) / recordSpacing;
    report.plannedRecords = planned;
    view_.setProgressMaximum(planned);
    view_.setProgressPosition(0);

    // The record at or after the start, counted back from the newest in whole intervals.
    const std::int64_t back = (newest - start) / interval;
    std::int64_t ringOffset = static_cast<std::int64_t>(status.newestOffset) - back * channels * 2;
    if (ringOffset < 0) {
        ringOffset += status.ringSize;
    }
    report.seekOffset = static_cast<std::uint32_t>(ringOffset);
    // Records are labelled with the time the recorder took them, not with the time asked for.
    const std::int64_t firstRecord = newest - back * interval;
    report.firstRecordSeconds = firstRecord;
    if (!requestWithRetries(seekRequest(address, report.seekOffset), reply,
                            seekReplyLength(channels))) {
        return commFailed();
    }
    const std::vector<std::int16_t> seekValues = decodeRecordValues(reply, channels, 1);

    const QString chosen = view_.askOutputFileName();
    if (!chosen.isEmpty()) {
        session_.lastFileName = chosen;
    }
    const QString fileName = session_.lastFileName;
    if (fileName.isEmpty()) {
        return fail(report, UploadOutcome::NoOutputFile, QString::fromUtf8(kNoOutputFileText));
    }
    report.fileName = fileName;

    RecorderFileHeader header;
    header.formatTag = status.formatTag;
    header.dataOffset = kRecorderDataOffset;
    header.newestTime = status.newestTime;
    header.newestOffset = status.newestOffset;
    header.recorderByte = status.recorderByte;
    header.dataSize = status.ringSize;
    header.channelCount = static_cast<std::uint16_t>(channels);
    RecorderFileWriter writer;
    if (!writer.create(fileName, header, channelRecords,
                       static_cast<std::uint16_t>(recordSpacing))) {
        return fail(report, UploadOutcome::CreateFailed,
                    QString::fromUtf8(kCreateFailedText).arg(QDir::toNativeSeparators(fileName)));
    }
    QString writeError;
    bool writeFailed = !writer.append(seekValues.data(), seekValues.size());
    if (writeFailed) {
        writeError = writer.errorString();
    }
    std::int64_t written = writeFailed ? 0 : 1;
    std::int64_t cursor = firstRecord + recordSpacing;
    view_.setProgressPosition(written);

    view_.setTransferring(true);
    view_.showTransferTime(cursor);
    session_.stopRequested = false;

    bool blockFailed = false;
    const int blockLength = nextBlockReplyLength(channels);
    while (!writeFailed && written < planned && cursor <= newest && !session_.stopRequested &&
           !view_.closeRequested()) {
        // Where the last record in the file lies in the ring: the file's records are S records
        // apart there, and the recorder wraps round after its last whole record.
        const std::int64_t recordBytes = 2 * channels;
        const std::int64_t lastWrittenOffset =
            (report.seekOffset + (written - 1) * step * recordBytes) %
            (status.ringRecords() * recordBytes);
        if (!blockWithRetries(address, static_cast<std::uint32_t>(lastWrittenOffset),
                              seekReplyLength(channels), reply, blockLength)) {
            blockFailed = !view_.closeRequested();
            break;
        }
        const std::vector<std::int16_t> values = decodeRecordValues(reply, channels, kBlockRecords);
        // A block may run past the recorder's newest record. What follows it in the ring is the
        // oldest part of the history, which would be labelled with times not reached yet.
        const std::int64_t upToNewest = (newest - cursor) / recordSpacing + 1;
        const std::int64_t keep = std::min<std::int64_t>(kBlockRecords, upToNewest);
        if (!writer.append(values.data(), static_cast<std::size_t>(keep * channels))) {
            writeFailed = true;
            writeError = writer.errorString();
            break;
        }
        cursor += keep * recordSpacing;
        written += keep;
        view_.setProgressPosition(written);
        view_.showTransferTime(cursor);
    }
    report.recordsWritten = written;
    report.stopped = session_.stopRequested || view_.closeRequested();

    // The header now describes the records that are in the file, the last one being the newest.
    // A transfer that was stopped or broke off keeps what it received; one that could not write
    // leaves the earlier file of that name alone.
    if (writeFailed) {
        writer.discard();
    } else {
        header.dataSize = static_cast<std::uint32_t>(written * 2 * channels);
        header.newestOffset = header.dataSize - static_cast<std::uint32_t>(2 * channels);
        header.newestTime = secondsToRecorderTime(firstRecord + (written - 1) * recordSpacing);
        writeFailed = !writer.commit(header);
        if (writeFailed) {
            writeError = writer.errorString();
        }
    }
    if (writeFailed) {
        report.recordsWritten = 0;
    }

    UploadOutcome outcome = UploadOutcome::Completed;
    QString text = QString::fromUtf8(kUploadDoneText);
    if (writeFailed) {
        outcome = UploadOutcome::WriteFailed;
        text =
            QString::fromUtf8(kWriteFailedText).arg(QDir::toNativeSeparators(fileName), writeError);
    } else if (blockFailed) {
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
    return report;
}

}  // namespace tamlo::analysis
