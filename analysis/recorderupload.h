#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "recorderhistory.h"
#include "recorderprotocol.h"
#include "shared/seriallink.h"

namespace tamlo::analysis {

inline constexpr char kCommFailedText[] =
    "通讯失败，找不到下位机，请检查接线、波特率、下位机地址等！";
inline constexpr char kRangeErrorText[] = "开始时间不能大于结束时间！";
inline constexpr char kUploadDoneText[] = "数据上传完成！";
inline constexpr char kUnusableStatusText[] =
    "通讯失败！下位机的应答无法使用（数据格式、通道数、记录间隔或存储区无效），数据未上传！";
inline constexpr char kNoOutputFileText[] = "没有选择保存数据的文件，数据未上传！";
// %1: the file name.
inline constexpr char kCreateFailedText[] = "无法创建文件“%1”，数据未上传！";
// %2: the system's reason. The file is written aside and put in place only when complete.
inline constexpr char kWriteFailedText[] =
    "写文件“%1”出错：%2\n上传中止，该文件名下的内容没有改变。";
inline constexpr char kErrCaption[] = "ERR";
inline constexpr char kOkCaption[] = "OK";

inline constexpr int kUploadAttempts = 7;
inline constexpr int kRetryWaitHundredths = 20;
inline constexpr int kBlockWaitHundredths = 10;
inline constexpr int kMinSamplingStep = 1;
inline constexpr int kMaxSamplingStep = 9;

// COM1 and COM2 of this machine: an entry COMn in the current directory when there is one (a
// recorder simulator's link), else the system's port.
class SerialUploadPort final : public PortLine {
public:
    PortOpenResult open(int portIndex, std::int32_t baudRate) override;
    void close() override { port_.close(); }
    bool isOpen() const override { return port_.isOpen(); }
    ByteLink& link() override { return port_; }

private:
    SerialPort port_;
};

// What every upload dialog of one run shares: the port, the stop flag and the name of the last
// output file (used again when a later save dialog is cancelled).
class UploadSession {
public:
    explicit UploadSession(std::unique_ptr<PortLine> port) : port_(std::move(port)) {}
    PortLine& port() { return *port_; }
    bool stopRequested = false;
    QString lastFileName;

private:
    std::unique_ptr<PortLine> port_;
};

// The dialog as the upload sees it.
class UploadView {
public:
    virtual ~UploadView() = default;
    virtual void showMessage(const QString& text, const QString& caption) = 0;
    // The sampling step edit, after a value outside 1..9 was corrected.
    virtual void setSamplingStepText(const QString& text) = 0;
    // Both begin pickers get the start, both end pickers the end.
    virtual void showRange(std::int64_t startSeconds, std::int64_t endSeconds) = 0;
    virtual void setProgressMaximum(std::int64_t maximum) = 0;
    virtual void setProgressPosition(std::int64_t position) = 0;
    // The end pickers follow the record being fetched.
    virtual void showTransferTime(std::int64_t seconds) = 0;
    // Red label and end pickers, load button disabled while on.
    virtual void setTransferring(bool transferring) = 0;
    // Empty when the user cancelled.
    virtual QString askOutputFileName() = 0;
    // Waits on the wall clock while the window goes on handling its messages.
    virtual void waitWithMessages(int hundredths) = 0;
    // The dialog is being closed: a transfer ends like a stop, a preparation ends at once.
    virtual bool closeRequested() const = 0;
};

// What the dialog's fields say when the load button is pressed. Times are whole seconds since
// 1899-12-30 00:00 local time.
struct UploadInput {
    int portIndex = 0;
    std::int32_t baudRate = 57600;
    QString addressText = QStringLiteral("0");
    QString samplingStepText = QStringLiteral("1");
    std::int64_t startSeconds = 0;
    std::int64_t endSeconds = 0;
};

enum class UploadOutcome {
    Completed,       // the file is finished (all records, or up to a stop)
    PortFailed,      // the port would not open or take its settings
    CommFailed,      // status, channel list or seek went unanswered
    UnusableStatus,  // the recorder's status cannot be worked with
    RangeError,      // start after end once limited to what the recorder holds
    NoOutputFile,    // the save dialog was cancelled and no earlier name exists
    CreateFailed,    // the output file could not be created
    BlockFailed,     // a block went unanswered: the file holds what came before it
    WriteFailed,     // the disk refused a block: the file holds what came before it
    Aborted,         // the dialog closed before the transfer began
};

// What one upload did, for the dialog and for tests.
struct UploadReport {
    UploadOutcome outcome = UploadOutcome::Aborted;
    QString fileName;
    std::int64_t startSeconds = 0;  // the range after limiting
    std::int64_t endSeconds = 0;
    std::int64_t firstRecordSeconds = 0;  // the time of the record the seek fetched
    std::int64_t plannedRecords = 0;      // M
    std::int64_t recordsWritten = 0;      // n
    int blockRequests = 0;
    std::uint32_t seekOffset = 0;
    bool stopped = false;
};

// The upload of a time range from a recorder into a recorder history file, in the order the
// recorder expects it: status, channel list, seek, then blocks of seven records. Runs on the
// calling thread; the view's waits are where the user can stop it.
class RecorderUpload {
public:
    RecorderUpload(UploadSession& session, UploadView& view) : session_(session), view_(view) {}

    // Non-numeric address or sampling step texts throw ConversionError (the port stays open).
    UploadReport run(const UploadInput& input);

    bool running() const { return running_; }

private:
    // Status, channel list and seek: seven attempts, 200 ms after each failure.
    bool requestWithRetries(const RecorderRequest& request, std::uint8_t* reply, int replyLength);
    // Next block: seven attempts, each after 100 ms; a closing dialog ends the retries. Every
    // attempt after the first seeks the record at `lastWrittenOffset` first.
    bool blockWithRetries(std::uint8_t address, std::uint32_t lastWrittenOffset, int seekLength,
                          std::uint8_t* reply, int replyLength);
    bool exchangeOnce(RecorderRequest request, std::uint8_t* reply, int replyLength);
    // Closes the port, sets the outcome and shows `text` unless it is empty. False, so that a
    // step can end the run with it.
    bool fail(UploadReport& report, UploadOutcome outcome, const QString& text);
    // A request went unanswered: aborted when the dialog is closing, else a failed line.
    bool commFailed(UploadReport& report);

    // What one run learns on its way, handed from step to step beside the report.
    struct Run;
    UploadReport runSteps(const UploadInput& input);
    // The steps of a run, in order. Each but the last returns false when the run ends there,
    // with the report saying why.
    bool handshake(const UploadInput& input, UploadReport& report, Run& run);
    bool plan(const UploadInput& input, UploadReport& report, Run& run);
    bool transfer(UploadReport& report, Run& run);
    void finish(UploadReport& report, Run& run);

    UploadSession& session_;
    UploadView& view_;
    bool running_ = false;
    int blockRequests_ = 0;
};

}  // namespace tamlo::analysis
