#include "viewerexport.h"

#include <QDate>
#include <algorithm>
#include <vector>

#include "shared/gbk.h"
#include "shared/numbertext.h"

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

// "YY-MM-DD HH:NN:SS" for whole seconds since the date epoch; the date part is formatted once
// per day.
class LineTime {
public:
    void append(QByteArray& out, std::int64_t seconds) {
        const std::int64_t day = floorDiv(seconds, kSecondsPerDay);
        if (day != day_) {
            day_ = day;
            const QDate date = QDate(1899, 12, 30).addDays(day);
            datePart_ = QStringLiteral("%1-%2-%3 ")
                            .arg(date.year() % 100, 2, 10, QLatin1Char('0'))
                            .arg(date.month(), 2, 10, QLatin1Char('0'))
                            .arg(date.day(), 2, 10, QLatin1Char('0'))
                            .toLatin1();
        }
        const int sod = static_cast<int>(seconds - day * kSecondsPerDay);
        const int fields[3] = {sod / 3600, sod / 60 % 60, sod % 60};
        out += datePart_;
        for (int i = 0; i < 3; ++i) {
            if (i > 0) {
                out += ':';
            }
            out += static_cast<char>('0' + fields[i] / 10);
            out += static_cast<char>('0' + fields[i] % 10);
        }
    }

private:
    std::int64_t day_ = INT64_MIN;
    QByteArray datePart_;
};

void appendValue(QByteArray& out, float value) {
    out += formatGeneral(value, 5).toLatin1();
}

constexpr std::uint64_t kBlockRecords = 4096;
constexpr qsizetype kFlushBytes = 1 << 20;

}  // namespace

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

QByteArray exportHeaderLine(const StationHistoryHeader& header) {
    QByteArray line = stringToGbk(QStringLiteral("时间")) + '\t';
    const int channels = static_cast<int>(std::min(header.channelCount, kHistoryMaxChannels));
    for (int i = 0; i < channels; ++i) {
        line += header.tagBytes(i) + '\t';
    }
    return line + "\r\n";
}

std::int64_t writeViewerExport(StationHistoryReader& reader, const ExportSelection& selection,
                               QIODevice& out, const ExportProgress& progress) {
    const StationHistoryHeader& header = reader.header();
    QByteArray text = exportHeaderLine(header);
    text.reserve(kFlushBytes + 4096);
    const auto flush = [&] {
        const bool ok = out.write(text) == text.size();
        text.clear();
        return ok;
    };
    std::uint64_t written = 0;
    if (selection.valid && selection.count > 0 && reader.seekRecord(selection.first)) {
        const std::uint32_t channels = header.channelCount;
        const std::int64_t base = shownSecond(header.startTime);
        std::vector<float> block(kBlockRecords * channels);
        LineTime lineTime;
        while (written < selection.count) {
            const std::uint64_t want = std::min(kBlockRecords, selection.count - written);
            const std::uint64_t got = reader.readRecords(block.data(), want);
            for (std::uint64_t r = 0; r < got; ++r) {
                const std::uint64_t k = selection.first + written + r;
                lineTime.append(text, base + static_cast<std::int64_t>(k * header.intervalSeconds));
                text += '\t';
                const float* values = block.data() + r * channels;
                for (std::uint32_t c = 0; c < channels; ++c) {
                    appendValue(text, values[c]);
                    text += '\t';
                }
                text += "\r\n";
                if (text.size() >= kFlushBytes && !flush()) {
                    return -1;
                }
            }
            written += got;
            if (progress) {
                progress(written);
            }
            if (got < want) {
                break;  // the file ends before `to`: the whole records so far are the export
            }
        }
    }
    if (!flush()) {
        return -1;
    }
    return static_cast<std::int64_t>(written);
}

}  // namespace tamlo::viewer
