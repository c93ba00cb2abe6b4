#include "viewerexport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "shared/exporttext.h"
#include "shared/gbk.h"

namespace tamlo::viewer {
namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The whole second a date-time is shown in ("YY-MM-DD HH:NN:SS" drops the milliseconds).
std::int64_t shownSecond(OleDate t) {
    return floorDiv(oleDateToMs(t), 1000);
}

constexpr std::uint64_t kBlockRecords = 4096;

// The texts of a channel's recent values. A station stores 16-bit readings divided by a power
// of ten and repeats a value until its device reads another, so a channel's values recur: most
// of a long export is texts written before.
class ValueTexts {
public:
    // Writes the text of `value` at `out`, which has room for kNumberTextMax characters.
    char* write(char* out, float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        Entry& e = entries_[(bits ^ (bits >> 15)) % kEntries];
        if (e.length >= 0 && e.bits == bits) {
            std::memcpy(out, e.text, sizeof e.text);  // a fixed-size copy is a single move
            return out + e.length;
        }
        char* end = writeGeneral(out, value);
        if (end - out <= static_cast<std::ptrdiff_t>(sizeof e.text)) {
            e.bits = bits;
            e.length = static_cast<int>(end - out);
            std::memcpy(e.text, out, sizeof e.text);
        }
        return end;
    }

private:
    static constexpr std::uint32_t kEntries = 64;
    struct Entry {
        std::uint32_t bits = 0;
        int length = -1;
        char text[16];
    };
    std::array<Entry, kEntries> entries_{};
};

}  // namespace

QString replacedFileText(const QString& path) {
    return QStringLiteral("文件“%1”已被另一个文件替换，请重新打开。").arg(path);
}

ExportSelection selectExportRecords(OleDate fileStart, OleDate fileEnd,
                                    std::uint32_t intervalSeconds, OleDate from, OleDate to) {
    const std::int64_t start = shownSecond(fileStart);
    const std::int64_t end = shownSecond(fileEnd);
    const std::int64_t a = shownSecond(from);
    const std::int64_t b = shownSecond(to);
    ExportSelection s;
    if (a > b || a < start || b > end) {
        return s;
    }
    s.valid = true;
    if (intervalSeconds == 0) {
        return s;  // a single instant without records: the header line only
    }
    const std::int64_t step = intervalSeconds;
    const std::int64_t first = (a - start + step - 1) / step;  // ceiling, a >= start
    const std::int64_t last = (b - start) / step;              // floor, b >= start
    s.first = static_cast<std::uint64_t>(first);
    s.count = last >= first ? static_cast<std::uint64_t>(last - first + 1) : 0;
    return s;
}

StationExportJob::StationExportJob(QString path, OleDate fileStart, OleDate fileEnd,
                                   std::uint32_t intervalSeconds)
    : path_(std::move(path)),
      fileStart_(fileStart),
      fileEnd_(fileEnd),
      intervalSeconds_(intervalSeconds) {}

std::variant<std::unique_ptr<ExportJob>, QString> StationExportJob::open(const QString& path) {
    StationHistoryReader reader;
    if (!reader.open(path)) {
        return reader.error();
    }
    return std::make_unique<StationExportJob>(path, reader.header().startTime, reader.endTime(),
                                              reader.header().intervalSeconds);
}

HistoryFacts StationExportJob::facts() const {
    HistoryFacts facts;
    facts.kind = QStringLiteral("station history");
    StationHistoryReader reader;
    if (!reader.open(path_)) {
        return facts;
    }
    const StationHistoryHeader& header = reader.header();
    for (std::uint32_t c = 0; c < header.channelCount; ++c) {
        facts.channels << header.tag(static_cast<int>(c));
    }
    facts.intervalSeconds = header.intervalSeconds;
    facts.records = static_cast<std::int64_t>(reader.recordCount());
    if (facts.records > 0) {
        facts.firstRecord = reader.recordTime(0);
        facts.lastRecord = reader.recordTime(reader.recordCount() - 1);
    }
    return facts;
}

ExportSelection StationExportJob::select(const ExportChoice& choice) const {
    return selectExportRecords(fileStart_, fileEnd_, intervalSeconds_, choice.from, choice.to);
}

std::optional<QString> StationExportJob::refusal(const ExportChoice& choice) const {
    if (!select(choice).valid) {
        return QString::fromUtf8(kExportRangeText);
    }
    return std::nullopt;
}

std::int64_t StationExportJob::progressMaximum(const ExportChoice& choice) const {
    return static_cast<std::int64_t>(select(choice).count);
}

ExportOutcome StationExportJob::write(const ExportChoice& choice, ExportWriter& out,
                                      ExportProgress* progress) {
    StationHistoryReader reader;
    if (!reader.open(path_)) {
        return {ExportOutcome::Status::InputUnreadable, reader.error(), 0};
    }
    const StationHistoryHeader& header = reader.header();
    // The header is written once; another one means another file under the same name, whose
    // records would not stand at the times the range was chosen from.
    if (header.intervalSeconds != intervalSeconds_ ||
        oleDateToMs(header.startTime) != oleDateToMs(fileStart_)) {
        return {ExportOutcome::Status::Refused, replacedFileText(path_), 0};
    }
    const std::uint32_t channels = header.channelCount;
    std::vector<QByteArray> tags;
    for (std::uint32_t c = 0; c < channels; ++c) {
        tags.push_back(header.tagBytes(static_cast<int>(c)));
    }
    out.header(stringToGbk(QStringLiteral("时间")), std::move(tags));
    const ExportSelection selection = select(choice);
    if (progress) {
        progress->setMaximum(static_cast<std::int64_t>(selection.count));
        progress->setPosition(0);
    }
    std::uint64_t written = 0;
    if (selection.count > 0 && reader.seekRecord(selection.first)) {
        const std::int64_t base = shownSecond(header.startTime);
        std::vector<float> block(kBlockRecords * channels);
        std::vector<ValueTexts> texts(channels);
        bool writing = true;
        while (writing && written < selection.count) {
            const std::uint64_t want = std::min(kBlockRecords, selection.count - written);
            const std::uint64_t got = reader.readRecords(block.data(), want);
            for (std::uint64_t r = 0; r < got; ++r) {
                const std::uint64_t k = selection.first + written;
                out.beginRow(base + static_cast<std::int64_t>(k * header.intervalSeconds));
                const float* values = block.data() + r * channels;
                for (std::uint32_t c = 0; c < channels; ++c) {
                    out.endCell(texts[c].write(out.cellText(), values[c]));
                }
                if (!out.writeRow()) {
                    writing = false;  // finish() says why
                    break;
                }
                ++written;
            }
            if (progress) {
                progress->setPosition(static_cast<std::int64_t>(written));
            }
            if (got < want) {
                break;  // the file ends before `to`: the whole records so far are the export
            }
        }
    }
    return {ExportOutcome::Status::Done, {}, static_cast<std::int64_t>(written)};
}

}  // namespace tamlo::viewer
