// The upload sequence without a window: against the recorder simulator's logic in-process (every
// frame, retry and failure path, fast), and against the simulator over a pseudo-terminal.

#include <sys/resource.h>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <csignal>

#include "analysis/recorderhistory.h"
#include "analysis/recorderupload.h"
#include "shared/numbertext.h"
#include "simulatorprocess.h"
#include "uploadtesting.h"

using namespace tamlo;
using namespace tamlo::analysis;
using namespace tamlo::analysis::test;

namespace {

recordersim::RecorderConfig fourChannels() {
    recordersim::RecorderConfig config;
    config.address = 1;
    config.channels = 4;
    config.intervalSeconds = 10;
    config.records = 2000;
    config.newest = *recordersim::RecorderTime::parse("2026-12-07 10:00:00");
    config.names = {"TEMP1", "TEMP2", "PRESS", "FLOW"};
    config.decimals = {1, 1, 2, 0};
    return config;
}

UploadInput inputFor(std::int64_t start, std::int64_t end, const QString& step = "1") {
    UploadInput input;
    input.portIndex = 1;
    input.baudRate = 19200;
    input.addressText = QStringLiteral("1");
    input.samplingStepText = step;
    input.startSeconds = start;
    input.endSeconds = end;
    return input;
}

// An upload against an in-process recorder, with a file name ready in the save dialog.
struct Bench {
    explicit Bench(recordersim::RecorderConfig config = fourChannels())
        : recorder(new InProcessRecorder(std::move(config))),
          session(std::unique_ptr<PortLine>(recorder)),
          upload(session, view) {}

    InProcessRecorder* recorder;
    UploadSession session;
    RecordingView view;
    RecorderUpload upload;
};

// The loaded file's records, raw, oldest first.
std::vector<std::vector<std::int16_t>> fileRecords(const RecorderHistory& history) {
    QFile file(history.fileName);
    std::vector<std::vector<std::int16_t>> records;
    if (!file.open(QIODevice::ReadOnly))
        return records;
    std::int64_t offset = recordOffsetAt(history, history.startTime);
    for (std::int64_t i = 0; i < history.recordCount(); ++i) {
        records.push_back(*readRawRecord(file, history, offset));
        offset = nextRecordOffset(history, offset, 1);
    }
    return records;
}

// True when record k of the file holds slot firstSlot + k x slotStep of the recorder.
bool recordsMatchRecorder(const RecorderHistory& history, const recordersim::RecorderDevice& device,
                          std::int64_t firstSlot, std::int64_t slotStep) {
    const auto records = fileRecords(history);
    for (std::size_t k = 0; k < records.size(); ++k) {
        const std::int64_t slot =
            (firstSlot + static_cast<std::int64_t>(k) * slotStep) % device.config().records;
        for (int c = 0; c < history.channelCount(); ++c) {
            if (records[k][static_cast<std::size_t>(c)] != device.value(slot, c)) {
                qWarning("record %zu channel %d differs", k, c);
                return false;
            }
        }
    }
    return !records.empty();
}

// An upload over the real port, with the real waits.
struct PortUpload {
    PortUpload() { view.realWaits = true; }
    UploadSession session{std::make_unique<SerialUploadPort>()};
    RecordingView view;
    RecorderUpload upload{session, view};
};

// The simulator's arguments for the recorder of fourChannels() on COM2 of `work`, logging there.
QStringList fourChannelSimulator(const QTemporaryDir& work) {
    return {"--link",     work.filePath("COM2"),
            "--address",  "1",
            "--channels", "4",
            "--interval", "10",
            "--records",  "2000",
            "--newest",   "2026-12-07 10:00:00",
            "--log",      work.filePath("requests.log")};
}

}  // namespace

class TestRecorderUpload : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int fileCounter_ = 0;
    // The recorder's newest record (not a global: the date helpers are ready only once main runs).
    const std::int64_t kNewest = wallSeconds(2026, 12, 7, 10);

    QString nextFile() { return dir_.filePath(QStringLiteral("up%1.dat").arg(++fileCounter_)); }

private slots:
    void oneHourWithSamplingStepTwo() {
        Bench bench;
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t start = wallSeconds(2026, 12, 7, 8);
        const UploadReport report =
            bench.upload.run(inputFor(start, wallSeconds(2026, 12, 7, 9), "2"));

        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(report.plannedRecords, 180);
        QCOMPARE(report.blockRequests, 26);
        QCOMPARE(report.recordsWritten, 183);
        QCOMPARE(bench.recorder->countRequests("01 43 01 04"), 26);
        QCOMPARE(bench.recorder->lastPortIndex, 1);
        QCOMPARE(bench.recorder->lastBaudRate, 19200);
        QCOMPARE(bench.recorder->requests.first(), QString("01 43 03 02 02 07 A5 23"));
        QCOMPARE(bench.recorder->closes, 0);  // the port stays open until the dialog closes
        QCOMPARE(bench.view.messages.size(), 1);
        QCOMPARE(bench.view.messages[0].text, QString("数据上传完成！"));
        QCOMPARE(bench.view.messages[0].caption, QString("OK"));
        QCOMPARE(bench.view.events, (QStringList{"range", "save dialog", "transfer on",
                                                 "message 数据上传完成！", "transfer off"}));
        QCOMPARE(bench.view.progressMaximum, 180);
        QCOMPARE(bench.view.progress.first(), 0);
        QCOMPARE(bench.view.progress.at(bench.view.progress.size() - 2), 183);
        QCOMPARE(bench.view.progress.last(), 0);
        QCOMPARE(bench.view.transferTimes.last(), start + 183 * 20);
        QCOMPARE(bench.view.waits.first(), 20);
        QCOMPARE(bench.view.waits.count(10), 26);

        const RecorderLoadResult loaded = loadRecorderHistory(path);
        QCOMPARE(loaded.status, RecorderLoadStatus::Loaded);
        const RecorderHistory& h = loaded.history;
        QCOMPARE(h.header.dataSize, 1464u);
        QCOMPARE(h.header.newestOffset, 1456u);
        QCOMPARE(h.header.recorderByte, std::uint8_t(0));
        QCOMPARE(h.recordCount(), 183);
        QCOMPARE(h.recordInterval, 20);
        QCOMPARE(oleDateToSeconds(h.endTime), start + 182 * 20);
        QCOMPARE(oleDateToSeconds(h.startTime), start);  // the first record reads back at start
        QCOMPARE(channelName(h.channels[0]), QString("TEMP1   "));
        QCOMPARE(channelName(h.channels[3]), QString("FLOW    "));
        QCOMPARE(h.divisors[2], std::int16_t(100));
        QCOMPARE(h.divisors[3], std::int16_t(1));
        // Two hours before the newest record: slot 1999 - 720.
        QCOMPARE(report.seekOffset, 1279u * 8);
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 1279, 2));
    }

    void workedFrames() {
        Bench bench;
        bench.view.saveAnswers << nextFile();
        // Slot 1250 is ring offset 10000: 749 records before the newest.
        const std::int64_t start = kNewest - 749 * 10;
        bench.upload.run(inputFor(start, start + 100));
        const QStringList& r = bench.recorder->requests;
        QCOMPARE(r.size(), 5);
        QCOMPARE(r[0], QString("01 43 03 02 01 07 A5 D3"));
        QCOMPARE(r[1], QString("01 43 01 05 31 9F"));
        QCOMPARE(r[2], QString("01 43 05 03 10 27 00 00 03 9D"));
        QCOMPARE(r[3], QString("01 43 01 04 F0 5F"));
        QCOMPARE(r[4], QString("01 43 01 04 F0 5F"));
    }

    void addressTakenModulo256() {
        Bench bench;
        UploadInput input = inputFor(kNewest, kNewest);
        input.addressText = " 257 ";
        bench.view.saveAnswers << nextFile();
        QCOMPARE(bench.upload.run(input).outcome, UploadOutcome::Completed);
        QVERIFY(bench.recorder->requests.first().startsWith("01 43"));

        input.addressText = "-1";  // 255: nobody answers
        QCOMPARE(bench.upload.run(input).outcome, UploadOutcome::CommFailed);
        QVERIFY(bench.recorder->requests.last().startsWith("FF 43"));
    }

    void samplingStepClamped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("statusRequest");
        QTest::newRow("12") << "12"
                            << "9"
                            << "01 43 03 02 09 07";
        QTest::newRow("0") << "0"
                           << "1"
                           << "01 43 03 02 01 07";
        QTest::newRow("-3") << "-3"
                            << "1"
                            << "01 43 03 02 01 07";
        QTest::newRow("5") << "5"
                           << ""
                           << "01 43 03 02 05 07";
    }

    void samplingStepClamped() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, statusRequest);
        Bench bench;
        bench.view.saveAnswers << nextFile();
        bench.upload.run(inputFor(kNewest - 100, kNewest, typed));
        QCOMPARE(bench.view.stepText, shown);
        QVERIFY(bench.recorder->requests.first().startsWith(statusRequest));
    }

    void endCutToNewestAndStartToOldest() {
        Bench bench;
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const UploadReport report = bench.upload.run(
            inputFor(wallSeconds(2026, 12, 1, 0), wallSeconds(2026, 12, 8, 0), "9"));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        // The ring holds 2000 records: the oldest is 1999 intervals before the newest.
        const std::int64_t oldest = kNewest - 1999 * 10;
        QCOMPARE(report.endSeconds, kNewest);
        QCOMPARE(report.startSeconds, oldest);
        QCOMPARE(bench.view.shownEnd, kNewest);
        QCOMPARE(bench.view.shownStart, oldest);
        QCOMPARE(report.seekOffset, 0u);  // the oldest record of an unwrapped ring
        const RecorderHistory h = loadRecorderHistory(path).history;
        QCOMPARE(oleDateToSeconds(h.startTime), oldest);
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 0, 9));
        // The last block stops at the newest record: nothing from the other end of the ring is
        // labelled with a time after it. 1999 intervals of 10 s hold 222 steps of 90 s.
        QCOMPARE(h.recordCount(), 223);
        QCOMPARE(report.recordsWritten, 223);
        QCOMPARE(oleDateToSeconds(h.endTime), oldest + 222 * 90);
        QVERIFY(oleDateToSeconds(h.endTime) <= kNewest);
    }

    void startEqualToEndWritesTheSeekRecord() {
        Bench bench;
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t t = kNewest - 3600;
        const UploadReport report = bench.upload.run(inputFor(t, t));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(report.plannedRecords, 0);
        QCOMPARE(report.blockRequests, 0);
        QCOMPARE(bench.recorder->countRequests("01 43 01 04"), 0);
        const RecorderHistory h = loadRecorderHistory(path).history;
        QCOMPARE(h.recordCount(), 1);
        QCOMPARE(h.header.dataSize, 8u);
        QCOMPARE(h.header.newestOffset, 0u);
        QCOMPARE(oleDateToSeconds(h.endTime), t);
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 1999 - 360, 1));
    }

    void startAfterEnd() {
        Bench bench;
        bench.view.saveAnswers << nextFile();
        const UploadReport report = bench.upload.run(inputFor(kNewest - 10, kNewest - 20));
        QCOMPARE(report.outcome, UploadOutcome::RangeError);
        QCOMPARE(bench.view.messages.size(), 1);
        QCOMPARE(bench.view.messages[0].text, QString("开始时间不能大于结束时间！"));
        QCOMPARE(bench.view.messages[0].caption, QString("ERR"));
        QCOMPARE(bench.view.shownStart, -1);  // pickers unchanged
        QCOMPARE(bench.recorder->requests.size(), 1);
        QVERIFY(bench.recorder->isOpen());
        QVERIFY(!bench.view.events.contains("save dialog"));
    }

    void startBetweenRecordsLabelsTheRecordsOwnTime() {
        Bench bench;
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t start = kNewest - 1000 - 5;  // halfway between two records
        const UploadReport report = bench.upload.run(inputFor(start, kNewest - 500));
        QCOMPARE(report.firstRecordSeconds, kNewest - 1000);
        const RecorderHistory h = loadRecorderHistory(path).history;
        QCOMPARE(oleDateToSeconds(h.startTime), kNewest - 1000);
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 1999 - 100, 1));
    }

    void seekWrapsRoundTheRing() {
        recordersim::RecorderConfig config = fourChannels();
        config.channels = 2;
        config.intervalSeconds = 1;
        config.records = 1000;  // 4000 bytes
        config.newestOffset = 100;
        Bench bench(config);
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const UploadReport report = bench.upload.run(inputFor(kNewest - 60, kNewest - 30));
        QCOMPARE(report.seekOffset, 3860u);
        QCOMPARE(bench.recorder->requests[2].left(23), QString("01 43 05 03 14 0F 00 00"));
        const RecorderHistory h = loadRecorderHistory(path).history;
        QCOMPARE(h.recordCount(), 36);  // 1 + 7 x ceil(29 / 7)
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 965, 1));
    }

    void silentRecorder() {
        Bench bench;
        bench.recorder->silentRequests = 1000;
        bench.view.saveAnswers << nextFile();
        const UploadReport report = bench.upload.run(inputFor(kNewest - 100, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::CommFailed);
        QCOMPARE(bench.recorder->requests.size(), 7);
        QCOMPARE(bench.recorder->countRequests("01 43 03 02"), 7);
        QCOMPARE(bench.view.waits, (QList<int>{20, 20, 20, 20, 20, 20, 20}));
        QCOMPARE(bench.view.messages.size(), 1);
        QCOMPARE(bench.view.messages[0].text, QString(kCommFailedText));
        QCOMPARE(bench.view.messages[0].caption, QString("ERR"));
        QVERIFY(!bench.recorder->isOpen());
        QVERIFY(!bench.view.events.contains("save dialog"));
        QVERIFY(!QFile::exists(bench.view.saveAnswers.first()));
    }

    void answersOnTheSeventhAttempt() {
        Bench bench;
        bench.recorder->silentRequests = 6;
        bench.view.saveAnswers << nextFile();
        const UploadReport report = bench.upload.run(inputFor(kNewest - 100, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(bench.recorder->countRequests("01 43 03 02"), 7);
    }

    void channelListAndSeekFailures_data() {
        QTest::addColumn<int>("answeredBeforeSilence");
        QTest::addColumn<QString>("failingRequest");
        QTest::newRow("channel list") << 1 << "01 43 01 05";
        QTest::newRow("seek") << 2 << "01 43 05 03";
    }

    void channelListAndSeekFailures() {
        QFETCH(int, answeredBeforeSilence);
        QFETCH(QString, failingRequest);
        Bench bench;
        int answered = 0;
        bench.recorder->onAnswered = [&](const sim::Bytes&) {
            if (++answered == answeredBeforeSilence)
                bench.recorder->silentRequests = 1000;
        };
        bench.view.saveAnswers << nextFile();
        QCOMPARE(bench.upload.run(inputFor(kNewest - 100, kNewest)).outcome,
                 UploadOutcome::CommFailed);
        QCOMPARE(bench.recorder->countRequests(failingRequest), 7);
        QCOMPARE(bench.view.messageTexts(), QStringList{kCommFailedText});
        QVERIFY(!bench.recorder->isOpen());
        QVERIFY(!QFile::exists(bench.view.saveAnswers.first()));
    }

    void blockAnsweredAfterRetries() {
        Bench bench;
        int blocks = 0;
        bench.recorder->onAnswered = [&](const sim::Bytes& request) {
            if (request[3] == 0x04 && ++blocks == 1)
                bench.recorder->silentRequests = 3;
        };
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t start = kNewest - 600;
        const UploadReport report = bench.upload.run(inputFor(start, start + 200));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        // 20 records: three blocks, the second retried. The silence takes the first request of
        // the second block and the seeks back of its next two attempts.
        QCOMPARE(report.blockRequests, 3 + 1);
        QCOMPARE(bench.recorder->countRequests("01 43 05 03"), 1 + 3);
        QCOMPARE(bench.view.waits.count(10), 6);
        QVERIFY(recordsMatchRecorder(loadRecorderHistory(path).history, bench.recorder->device,
                                     1999 - 60, 1));
    }

    // The recorder has moved on when it sends a block the line then damages: the retry must not
    // take the block after it.
    void damagedBlockIsFetchedAgainFromTheSameRecord() {
        Bench bench;
        int blocks = 0;
        bench.recorder->rewriteReply = [&](sim::Bytes& reply) {
            if (reply.size() == 14 * 4 + 5 && ++blocks == 2)
                reply[10] ^= 0x01;
        };
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t start = kNewest - 600;
        const UploadReport report = bench.upload.run(inputFor(start, start + 200, "2"));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(report.blockRequests, 2 + 1);  // the second block asked for twice
        // The first seek, then the one before the retry: back to the file's eighth record.
        QCOMPARE(bench.recorder->countRequests("01 43 05 03"), 2);
        const std::uint32_t eighth = report.seekOffset + 7 * 2 * 4 * 2;
        QCOMPARE(bench.recorder->requests.filter("01 43 05 03").last().left(23),
                 QStringLiteral("01 43 05 03 %1 %2 00 00")
                     .arg(eighth & 0xFF, 2, 16, QLatin1Char('0'))
                     .arg(eighth >> 8, 2, 16, QLatin1Char('0'))
                     .toUpper());
        const RecorderHistory h = loadRecorderHistory(path).history;
        QCOMPARE(h.recordCount(), 15);
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 1999 - 60, 2));
    }

    void blockFailureFinishesTheFile() {
        Bench bench;
        int blocks = 0;
        bench.recorder->onAnswered = [&](const sim::Bytes& request) {
            if (request[3] == 0x04 && ++blocks == 2)
                bench.recorder->silentRequests = 1000;
        };
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t start = kNewest - 3000;
        const UploadReport report = bench.upload.run(inputFor(start, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::BlockFailed);
        QCOMPARE(report.recordsWritten, 15);
        // Each retry seeks back first; with the recorder silent, no seek gets through.
        QCOMPARE(report.blockRequests, 2 + 1);
        QCOMPARE(bench.recorder->countRequests("01 43 05 03"), 1 + 6);
        QCOMPARE(bench.view.messageTexts(), QStringList{kCommFailedText});
        QCOMPARE(bench.view.messages[0].caption, QString("ERR"));
        QVERIFY(!bench.recorder->isOpen());
        QCOMPARE(bench.view.transferring.last(), false);
        const RecorderLoadResult loaded = loadRecorderHistory(path);
        QCOMPARE(loaded.status, RecorderLoadStatus::Loaded);
        QCOMPARE(loaded.history.recordCount(), 15);
        QCOMPARE(oleDateToSeconds(loaded.history.endTime), start + 14 * 10);
        QVERIFY(recordsMatchRecorder(loaded.history, bench.recorder->device, 1999 - 300, 1));
    }

    void stopAfterAFewBlocks() {
        Bench bench;
        bench.view.onProgress = [&](std::int64_t position) {
            if (position >= 15)
                bench.session.stopRequested = true;
        };
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const std::int64_t start = kNewest - 3000;
        const UploadReport report = bench.upload.run(inputFor(start, kNewest, "3"));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QVERIFY(report.stopped);
        QCOMPARE(report.recordsWritten, 15);
        QCOMPARE(bench.view.messageTexts(), QStringList{kUploadDoneText});
        const RecorderHistory h = loadRecorderHistory(path).history;
        QCOMPARE(h.recordCount(), 15);
        QCOMPARE(oleDateToSeconds(h.endTime), start + 14 * 30);
        QVERIFY(recordsMatchRecorder(h, bench.recorder->device, 1999 - 300, 3));
        // The next upload clears the flag again.
        bench.view.onProgress = nullptr;
        bench.view.saveAnswers << nextFile();
        QCOMPARE(bench.upload.run(inputFor(start, start + 140)).recordsWritten, 15);
    }

    void closingDuringTransferFinishesTheFile() {
        Bench bench;
        bench.view.onProgress = [&](std::int64_t position) {
            if (position >= 8)
                bench.view.closing = true;
        };
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const UploadReport report = bench.upload.run(inputFor(kNewest - 3000, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(report.recordsWritten, 8);
        QCOMPARE(loadRecorderHistory(path).history.recordCount(), 8);
    }

    void closingDuringBlockRetriesFinishesAtOnce() {
        Bench bench;
        int blocks = 0;
        bench.recorder->onAnswered = [&](const sim::Bytes& request) {
            if (request[3] == 0x04 && ++blocks == 1)
                bench.recorder->silentRequests = 1000;
        };
        bench.view.onWait = [&] {
            // The third attempt at the second block: two seeks back after the first seek.
            if (bench.recorder->countRequests("01 43 05 03") == 1 + 2)
                bench.view.closing = true;
        };
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        const UploadReport report = bench.upload.run(inputFor(kNewest - 3000, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(report.blockRequests, 2);
        QCOMPARE(bench.view.messageTexts(), QStringList{kUploadDoneText});
        QCOMPARE(loadRecorderHistory(path).history.recordCount(), 8);
    }

    void closingDuringPreparationEndsQuietly() {
        Bench bench;
        bench.view.onWait = [&] { bench.view.closing = true; };
        bench.view.saveAnswers << nextFile();
        const UploadReport report = bench.upload.run(inputFor(kNewest - 3000, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::Aborted);
        QVERIFY(bench.view.messages.isEmpty());
        QVERIFY(!bench.recorder->isOpen());
        QCOMPARE(bench.recorder->countRequests("01 43 01 05"), 0);
        QVERIFY(!QFile::exists(bench.view.saveAnswers.first()));
    }

    void unusableStatus_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("step");
        QTest::newRow("no channels") << "channels"
                                     << "0"
                                     << "1";
        QTest::newRow("17 channels") << "channels"
                                     << "17"
                                     << "1";
        QTest::newRow("interval 0") << "interval"
                                    << "0"
                                    << "1";
        QTest::newRow("ring of no record") << "ring"
                                           << "7"
                                           << "1";
        QTest::newRow("newest offset outside the ring") << "ring"
                                                        << "16"
                                                        << "1";
        QTest::newRow("interval x step beyond 16 bits") << "interval"
                                                        << "10000"
                                                        << "7";
    }

    void unusableStatus() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, step);
        Bench bench;
        QCOMPARE(
            bench.recorder->device.command({"status", field.toStdString(), value.toStdString()}),
            std::string());
        bench.view.saveAnswers << nextFile();
        const UploadReport report = bench.upload.run(inputFor(kNewest - 100, kNewest, step));
        QCOMPARE(report.outcome, UploadOutcome::UnusableStatus);
        QCOMPARE(bench.view.messages.size(), 1);
        QCOMPARE(bench.view.messages[0].text, QString(kUnusableStatusText));
        QCOMPARE(bench.view.messages[0].caption, QString("ERR"));
        QCOMPARE(bench.recorder->requests.size(), 1);
        QVERIFY(!bench.recorder->isOpen());
        QVERIFY(!QFile::exists(bench.view.saveAnswers.first()));
    }

    void statusFormatTagsTheReaderCannotReadBackAreRefused_data() {
        QTest::addColumn<std::uint32_t>("tag");
        QTest::newRow("300301") << 300301u;
        QTest::newRow("byte-swapped 300300") << 0x080E0300u;
        QTest::newRow("zero") << 0u;
    }
    void statusFormatTagsTheReaderCannotReadBackAreRefused() {
        QFETCH(std::uint32_t, tag);
        Bench bench;
        bench.recorder->rewriteReply = [tag](sim::Bytes& reply) {
            if (reply.size() == 27) {
                qToLittleEndian(tag, reply.data() + 3);
                appendCrc16(reply.data(), 25);
            }
        };
        bench.view.saveAnswers << nextFile();
        const UploadReport report = bench.upload.run(inputFor(kNewest - 100, kNewest, "1"));
        QCOMPARE(report.outcome, UploadOutcome::UnusableStatus);
        QCOMPARE(bench.view.messageTexts(), QStringList{QString(kUnusableStatusText)});
        QVERIFY(bench.view.messages[0].text.startsWith(QStringLiteral("通讯失败！")));
        QCOMPARE(bench.view.messages[0].caption, QString("ERR"));
        QCOMPARE(bench.recorder->requests.size(), 1);
        QVERIFY(!bench.recorder->isOpen());
        QVERIFY(!QFile::exists(bench.view.saveAnswers.first()));
    }

    void outputFileNames() {
        Bench bench;
        // Cancelled on the first upload of the run: nothing to write to.
        UploadReport report = bench.upload.run(inputFor(kNewest - 100, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::NoOutputFile);
        QCOMPARE(bench.view.messageTexts(), QStringList{kNoOutputFileText});
        QCOMPARE(bench.view.messages[0].caption, QString("ERR"));
        QVERIFY(!bench.recorder->isOpen());
        QCOMPARE(bench.recorder->countRequests("01 43 01 04"), 0);

        // A chosen name is used again when a later save dialog is cancelled.
        const QString path = nextFile();
        bench.view.saveAnswers << path;
        QCOMPARE(bench.upload.run(inputFor(kNewest - 100, kNewest)).fileName, path);
        QVERIFY(QFile::remove(path));
        report = bench.upload.run(inputFor(kNewest - 50, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(report.fileName, path);
        // The records of the last 50 s, up to the newest: six, none from beyond it.
        QCOMPARE(loadRecorderHistory(path).history.recordCount(), 6);

        // A file that cannot be created.
        bench.view.messages.clear();
        bench.view.saveAnswers << dir_.filePath("missing/dir/x.dat");
        report = bench.upload.run(inputFor(kNewest - 100, kNewest));
        QCOMPARE(report.outcome, UploadOutcome::CreateFailed);
        QCOMPARE(bench.view.messages.size(), 1);
        QVERIFY(bench.view.messages[0].text.startsWith("无法创建文件"));
        QVERIFY(!bench.recorder->isOpen());
    }

    // A disk that refuses a block (here: the file size limit) ends the upload with the system's
    // reason; the earlier file of that name stays as it was and no temporary file is left.
    void diskRefusesABlock() {
        Bench bench;
        const QString path = nextFile();
        const QByteArray earlier("an earlier upload\r\n");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(earlier);
        }
        const QStringList before = QDir(QFileInfo(path).path()).entryList(QDir::Files);
        bench.view.saveAnswers << path;
        // Files of this process may not grow past 1600 bytes: the second block does not fit.
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = 1600;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const UploadReport report = bench.upload.run(inputFor(kNewest - 3000, kNewest));
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(report.outcome, UploadOutcome::WriteFailed);
        QCOMPARE(report.recordsWritten, 0);
        QCOMPARE(bench.view.messageTexts(),
                 QStringList{
                     QString("写文件“%1”出错：File too large\n上传中止，该文件名下的内容没有改变。")
                         .arg(QDir::toNativeSeparators(path))});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), earlier);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), before);
        QVERIFY(!bench.recorder->isOpen());
    }

    void portFailures_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("open") << int(PortOpenResult::OpenFailed) << "串口打开失败！";
        QTest::newRow("settings") << int(PortOpenResult::SettingsFailed) << "串口状态设置失败！";
    }

    void portFailures() {
        QFETCH(int, result);
        QFETCH(QString, text);
        Bench bench;
        bench.recorder->openResult = static_cast<PortOpenResult>(result);
        QCOMPARE(bench.upload.run(inputFor(kNewest - 100, kNewest)).outcome,
                 UploadOutcome::PortFailed);
        QCOMPARE(bench.view.messageTexts(), QStringList{text});
        QCOMPARE(bench.view.messages[0].caption, QString("oh"));
        QVERIFY(bench.recorder->requests.isEmpty());
    }

    void nonNumericFieldsRaiseTheConversionError() {
        Bench bench;
        UploadInput input = inputFor(kNewest - 100, kNewest);
        input.addressText = "abc";
        QVERIFY_THROWS_EXCEPTION(ConversionError, bench.upload.run(input));
        QVERIFY(!bench.upload.running());
        QVERIFY(bench.recorder->isOpen());  // opened before the fields are read
        input.addressText = "1";
        input.samplingStepText = "";
        QVERIFY_THROWS_EXCEPTION(ConversionError, bench.upload.run(input));
        QVERIFY(bench.recorder->requests.isEmpty());
    }

    // Over a pseudo-terminal, with the real port and the real waits.
    void oneHourFromTheSimulator() {
        QTemporaryDir work;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        tamlo::test::SimulatorProcess sim("tamlo_recorder_sim");
        QVERIFY2(sim.start(fourChannelSimulator(work)), qPrintable(sim.errorString()));

        PortUpload line;
        auto& [session, view, upload] = line;
        const QString path = work.filePath("hour.dat");
        view.saveAnswers << path;
        const std::int64_t start = wallSeconds(2026, 12, 7, 8);
        const UploadReport report = upload.run(inputFor(start, wallSeconds(2026, 12, 7, 9), "2"));
        QCOMPARE(report.outcome, UploadOutcome::Completed);
        QCOMPARE(view.messageTexts(), QStringList{kUploadDoneText});

        const QStringList log = sim.logLines();
        QCOMPARE(log.filter(" 01 43 01 04 F0 5F -> ").size(), 26);
        QCOMPARE(log.filter(" 01 43 03 02 02 07 A5 23 -> ").size(), 1);
        QCOMPARE(log.filter(" 01 43 01 05 31 9F -> ").size(), 1);
        QCOMPARE(log.filter(" 01 43 05 03 F8 27 00 00 ").size(), 1);  // offset 10232

        const RecorderLoadResult loaded = loadRecorderHistory(path);
        QCOMPARE(loaded.status, RecorderLoadStatus::Loaded);
        QCOMPARE(loaded.history.recordCount(), 183);
        QCOMPARE(loaded.history.header.dataSize, 1464u);
        QCOMPARE(loaded.history.header.newestOffset, 1456u);
        QCOMPARE(oleDateToSeconds(loaded.history.endTime), start + 182 * 20);
        QCOMPARE(oleDateToSeconds(loaded.history.startTime), start);
        recordersim::RecorderConfig config = fourChannels();
        config.names.clear();
        config.decimals.clear();
        QVERIFY(recordsMatchRecorder(loaded.history, recordersim::RecorderDevice(config), 1279, 2));
        session.port().close();
        QVERIFY(sim.stop());
        QVERIFY(QDir::setCurrent(previous));
    }

    // Line noise costs retries, never records: the file is the one a clean line gives.
    void noisyLineGivesTheSameFile() {
        const auto uploadHour = [this](const QStringList& noise, QByteArray& bytes,
                                       QStringList& log) {
            QTemporaryDir work;
            const QString previous = QDir::currentPath();
            QVERIFY(QDir::setCurrent(work.path()));
            tamlo::test::SimulatorProcess sim("tamlo_recorder_sim");
            QVERIFY2(sim.start(fourChannelSimulator(work) + noise), qPrintable(sim.errorString()));
            PortUpload line;
            auto& [session, view, upload] = line;
            const QString path = work.filePath("hour.dat");
            view.saveAnswers << path;
            const UploadReport report =
                upload.run(inputFor(wallSeconds(2026, 12, 7, 8), wallSeconds(2026, 12, 7, 9)));
            QCOMPARE(report.outcome, UploadOutcome::Completed);
            QCOMPARE(report.recordsWritten, 365);
            session.port().close();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            bytes = file.readAll();
            log = sim.logLines();
            QVERIFY(sim.stop());
            QVERIFY(QDir::setCurrent(previous));
        };
        QByteArray clean;
        QStringList cleanLog;
        uploadHour({}, clean, cleanLog);
        QByteArray noisy;
        QStringList noisyLog;
        uploadHour({"--noise", "0.05,7"}, noisy, noisyLog);
        // The seed damages some block replies the recorder had already moved past.
        const QStringList blocks = noisyLog.filter(" 01 43 01 04 F0 5F -> ");
        QVERIFY(blocks.filter("[noise cut]").size() + blocks.filter("[noise flip]").size() > 0);
        QCOMPARE(noisy.size(), clean.size());
        QVERIFY(noisy == clean);
    }

    void silentSimulatorGivesSevenStatusAttempts() {
        QTemporaryDir work;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        tamlo::test::SimulatorProcess sim("tamlo_recorder_sim");
        QVERIFY2(sim.start({"--link", work.filePath("COM1"), "--address", "1", "--log",
                            work.filePath("requests.log")}),
                 qPrintable(sim.errorString()));
        QCOMPARE(sim.command("fault 1 silent"), QString("ok"));

        PortUpload line;
        auto& [session, view, upload] = line;
        view.saveAnswers << work.filePath("never.dat");
        UploadInput input = inputFor(kNewest - 100, kNewest);
        input.portIndex = 0;
        QCOMPARE(upload.run(input).outcome, UploadOutcome::CommFailed);
        QCOMPARE(view.messageTexts(), QStringList{kCommFailedText});
        QCOMPARE(view.messages[0].caption, QString("ERR"));
        QVERIFY(!QFile::exists(work.filePath("never.dat")));

        const QStringList log = sim.logLines();
        QCOMPARE(log.size(), 7);
        for (int i = 0; i < log.size(); ++i) {
            QVERIFY(log[i].contains(" 01 43 03 02 01 07 A5 D3 -> none"));
            if (i > 0) {
                const qint64 gap = log[i].section(' ', 0, 0).toLongLong() -
                                   log[i - 1].section(' ', 0, 0).toLongLong();
                QVERIFY2(gap >= 200, qPrintable(QString::number(gap)));
            }
        }
        QVERIFY(sim.stop());
        QVERIFY(QDir::setCurrent(previous));
    }
};

QTEST_GUILESS_MAIN(TestRecorderUpload)
#include "tst_recorderupload.moc"
