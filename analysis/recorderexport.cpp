#include "recorderexport.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <vector>

#include "historywindow.h"
#include "shared/exporttext.h"

namespace tamlo::analysis {

std::variant<std::unique_ptr<ExportJob>, QString> openRecorderExport(const QString& path) {
    RecorderLoadResult loaded = loadRecorderHistory(path);
    switch (loaded.status) {
        case RecorderLoadStatus::Loaded:
            return std::make_unique<RecorderExportJob>(std::move(loaded.history));
        case RecorderLoadStatus::WrongType:
            return QString::fromUtf8(kWrongFileTypeText);
        case RecorderLoadStatus::CannotOpen:
            break;
    }
    return QStringLiteral("无法打开文件：%1").arg(path);
}

std::int64_t RecorderExportJob::progressMaximum(const ExportChoice& choice) const {
    const double seconds = (choice.to - choice.from) * 86400.0;
    const double up = std::ceil(seconds);
    const double rounded = (up - 0.5 >= seconds) ? std::floor(seconds) : up;
    return static_cast<std::int64_t>(rounded) / history_.recordInterval;
}

HistoryFacts RecorderExportJob::facts() const {
    HistoryFacts facts;
    facts.kind = QStringLiteral("recorder history");
    for (int c = 0; c < history_.channelCount(); ++c) {
        // Without the spaces that pad the name to its eight characters.
        QString name = channelName(history_.channels[static_cast<std::size_t>(c)]);
        while (name.endsWith(QLatin1Char(' '))) {
            name.chop(1);
        }
        facts.channels << name;
    }
    facts.intervalSeconds = history_.recordInterval;
    facts.records = history_.recordCount();
    facts.firstRecord = history_.startTime;
    facts.lastRecord = history_.endTime;
    return facts;
}

ExportOutcome RecorderExportJob::write(const ExportChoice& choice, ExportWriter& out,
                                       ExportProgress* progress) {
    QFile file(history_.fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {ExportOutcome::Status::InputUnreadable, {}, 0};
    }
    if (progress) {
        progress->setMaximum(progressMaximum(choice));
        progress->setPosition(0);
    }
    const int channels = history_.channelCount();
    std::vector<QByteArray> names;
    for (int c = 0; c < channels; ++c) {
        names.push_back(channelNameBytes(history_.channels[static_cast<std::size_t>(c)]));
    }
    out.header(QByteArrayLiteral("time"), std::move(names));

    std::array<int, kRecorderMaxChannels> decimals{};
    for (int c = 0; c < channels; ++c) {
        decimals[c] = decimalsOfDivisor(history_.divisors[c]);
    }
    // Whole seconds from the record at or after `from`, each line at its record's own time.
    const std::int64_t stepSeconds = std::int64_t(choice.step) * history_.recordInterval;
    std::int64_t seconds = recordSecondsBack(history_, recordsBackAt(history_, choice.from));
    const std::int64_t lastMs = oleDateToMs(choice.to);
    std::int64_t offset = recordOffsetAt(history_, choice.from);
    RecordBlockReader reader(file, history_);
    std::array<std::int16_t, kRecorderMaxChannels> raw{};
    std::int64_t lines = 0;
    std::int64_t position = 0;
    bool run = true;
    while (seconds * 1000 <= lastMs) {
        if (!reader.rawValues(offset, raw.data())) {
            break;  // the file ends before this record: the lines so far stay
        }
        const bool hasSample = raw[0] != kNoDataRaw;
        if (hasSample || run) {
            if (hasSample) {
                out.beginRow(seconds);
                for (int c = 0; c < channels; ++c) {
                    char* p = out.cellText();
                    p = raw[c] == kNoDataRaw || decimals[c] < 0
                            ? writeRecorderValue(p, raw[c], history_.divisors[c])
                            : writeScaled(p, raw[c], decimals[c]);
                    out.endCell(p, raw[c] != kNoDataRaw);
                }
            } else {
                out.beginNoDataRow(seconds);
            }
            if (!out.writeRow()) {
                break;  // finish() says why
            }
            ++lines;
        }
        run = hasSample;
        if (progress) {
            progress->setPosition(++position);
        }
        seconds += stepSeconds;
        offset = nextRecordOffset(history_, offset, choice.step);
    }
    return {ExportOutcome::Status::Done, {}, lines};
}

}  // namespace tamlo::analysis
