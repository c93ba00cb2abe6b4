// Prints how long tamlo_ana's recorder file work takes: loading a file, walking a window of
// 20000 records (what the history view reads), and the upload's own work per record with the
// line and the waits taken out (an in-process recorder answering at once).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

#include "analysis/recorderhistory.h"
#include "analysis/recorderupload.h"
#include "tests/analysis/uploadtesting.h"

using namespace tamlo;
using namespace tamlo::analysis;

namespace {

constexpr int kChannels = 16;
constexpr std::int64_t kRingRecords = 100'000;
constexpr int kWindow = 20'000;

// A wrapped ring of 16 channels, the newest record in the middle.
QString writeRing(const QString& path) {
    RecorderFileHeader header;
    header.newestTime = {26, 12, 7, 10, 0, 0};
    header.newestOffset = static_cast<std::uint32_t>(kRingRecords / 2 * 2 * kChannels);
    header.dataSize = static_cast<std::uint32_t>(kRingRecords * 2 * kChannels);
    header.channelCount = kChannels;
    ChannelRecords channels{};
    for (int c = 0; c < kChannels; ++c)
        channels[c].setDecimalsCode(static_cast<std::uint16_t>(c % 4));
    RecorderFileWriter writer;
    if (!writer.create(path, header, channels, 10))
        return {};
    std::vector<std::int16_t> values(static_cast<std::size_t>(kRingRecords * kChannels));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<std::int16_t>(i % 20000);
    writer.append(values.data(), values.size());
    writer.commit(header);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = writeRing(dir.filePath("ring.dat"));
    std::printf("ring file: %lld records x %d channels, %lld bytes\n",
                static_cast<long long>(kRingRecords), kChannels,
                static_cast<long long>(kRingRecords * 2 * kChannels + kRecorderDataOffset));

    QElapsedTimer timer;
    timer.start();
    constexpr int kLoads = 200;
    RecorderLoadResult loaded;
    for (int i = 0; i < kLoads; ++i) loaded = loadRecorderHistory(path);
    std::printf("loadRecorderHistory: %.3f ms per file\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6 / kLoads);

    const RecorderHistory& h = loaded.history;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    timer.restart();
    double sum = 0;
    std::int64_t offset = recordOffsetAt(h, addSeconds(h.startTime, 40'000 * 10));
    for (int i = 0; i < kWindow; ++i) {
        const auto values = readRecord(file, h, offset);
        sum += (*values)[0];
        offset = nextRecordOffset(h, offset, 1);
    }
    std::printf("window of %d records (readRecord each, crossing the ring's top): %.1f ms  [%g]\n",
                kWindow, static_cast<double>(timer.nsecsElapsed()) / 1e6, sum);

    // The upload without line or waits: everything it does per record besides talking.
    recordersim::RecorderConfig config;
    config.channels = kChannels;
    config.intervalSeconds = 1;
    config.records = 200'000;
    auto* recorder = new analysis::test::InProcessRecorder(config);
    UploadSession session{std::unique_ptr<PortLine>(recorder)};
    analysis::test::RecordingView view;
    view.saveAnswers << dir.filePath("upload.dat");
    RecorderUpload upload(session, view);
    UploadInput input;
    input.addressText = QStringLiteral("0");
    const std::int64_t newest = oleDateToSeconds(
        oleDateFromParts(config.newest.year, config.newest.month, config.newest.day,
                         config.newest.hour, config.newest.minute, config.newest.second));
    input.startSeconds = newest - 150'000;
    input.endSeconds = newest;
    timer.restart();
    const UploadReport report = upload.run(input);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf(
        "upload without line or waits: %lld records of %d channels in %.1f ms "
        "(%.2f us per record)\n",
        static_cast<long long>(report.recordsWritten), kChannels, ms,
        ms * 1000.0 / static_cast<double>(report.recordsWritten));
    std::printf(
        "on a line the 100 ms pause before each block of 7 records bounds an upload to "
        "70 records per second (4200 per minute)\n");
    return report.outcome == UploadOutcome::Completed ? 0 : 1;
}
