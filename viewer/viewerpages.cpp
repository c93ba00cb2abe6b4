#include "viewerpages.h"

#include <QFile>
#include <algorithm>

#include "shared/exporttext.h"
#include "viewerexport.h"

namespace tamlo::viewer {
namespace {

// Records read per block: large enough to cost one system call per block, small enough for the
// gauge to advance a few times per page.
constexpr std::uint64_t kBlockRecords = 2000;

bool sameLayout(const StationHistoryHeader& a, const StationHistoryHeader& b) {
    return a.channelCount == b.channelCount && a.intervalSeconds == b.intervalSeconds &&
           oleDateToMs(a.startTime) == oleDateToMs(b.startTime);
}

}  // namespace

QString HistoryPage::labelAt(int record) const {
    return formatOleDate(QStringLiteral("MM-DD HH:NN:SS"),
                         historyRecordTime(fileStart, intervalSeconds,
                                           firstRecord + static_cast<std::uint64_t>(record)));
}

QString HistoryPage::valueText(int record, int channel) const {
    char text[kNumberTextMax];
    return QString::fromLatin1(text, writeGeneral(text, value(record, channel)) - text);
}

std::uint64_t ViewerPageState::pageStartOffset() const {
    return historyRecordOffset(pageStartRecord, header.channelCount);
}

std::uint64_t ViewerPageState::nextPageOffset() const {
    return historyRecordOffset(pageStartRecord + static_cast<std::uint64_t>(page->recordCount),
                               header.channelCount);
}

OleDate ViewerPageState::pageStartTime() const {
    return historyRecordTime(header.startTime, header.intervalSeconds, pageStartRecord);
}

OleDate ViewerPageState::nextPageStartTime() const {
    return pointTime(page->recordCount);
}

OleDate ViewerPageState::pointTime(int j) const {
    return historyRecordTime(header.startTime, header.intervalSeconds,
                             pageStartRecord + static_cast<std::uint64_t>(std::max(j, 0)));
}

QString pageCountText(int pageCount, int pageNumber) {
    return QStringLiteral("共%1页 第%2页").arg(pageCount).arg(pageNumber);
}

QString ViewerPages::pageLabel() const {
    return pageCountText(state_.pageCount, state_.pageNumber);
}

QString ViewerPages::rangeText() const {
    const QString pattern = QStringLiteral("YY-MM-DD HH:NN:SS");
    return QStringLiteral("时间范围: ") + formatOleDate(pattern, state_.fileStart) +
           QStringLiteral(" 至 ") + formatOleDate(pattern, state_.fileEnd) + QString(9, u' ');
}

ViewerPages::Outcome ViewerPages::open(const QString& path, const Progress& progress) {
    error_.clear();
    if (QFile probe(path); !probe.open(QIODevice::ReadOnly)) {
        return Outcome::NotOpenable;
    }
    StationHistoryReader reader;
    if (!reader.open(path)) {
        error_ = reader.error();
        return Outcome::Refused;
    }
    ViewerPages opened;
    ViewerPageState& s = opened.state_;
    s.fileName = path;
    s.header = reader.header();
    s.fileRecordCount = reader.recordCount();
    s.fileStart = s.header.startTime;
    s.fileEnd = reader.endTime();
    s.pageCount = static_cast<int>(s.fileRecordCount / PAGE_RECORDS + 1);
    reader.close();
    const Outcome outcome = opened.loadPage(0, 1, progress);
    if (outcome != Outcome::Loaded) {
        error_ = opened.error_;
        return outcome;
    }
    *this = std::move(opened);
    return Outcome::Loaded;
}

ViewerPages::Outcome ViewerPages::next(const Progress& progress) {
    error_.clear();
    if (!canGoNext()) {
        return Outcome::Refused;
    }
    return loadPage(state_.pageStartRecord + PAGE_RECORDS, state_.pageNumber + 1, progress);
}

ViewerPages::Outcome ViewerPages::back(const Progress& progress) {
    error_.clear();
    if (!canGoBack()) {
        return Outcome::Refused;
    }
    return loadPage(state_.pageStartRecord - PAGE_RECORDS, state_.pageNumber - 1, progress);
}

ViewerPages::Outcome ViewerPages::loadPage(std::uint64_t startRecord, int pageNumber,
                                           const Progress& progress) {
    if (QFile probe(state_.fileName); !probe.open(QIODevice::ReadOnly)) {
        return Outcome::NotOpenable;
    }
    StationHistoryReader reader;
    if (!reader.open(state_.fileName)) {
        error_ = reader.error();
        return Outcome::Refused;
    }
    // The header is written once; another one means another file under the same name, whose
    // records would not fit the rows and times shown.
    if (!sameLayout(reader.header(), state_.header)) {
        error_ = replacedFileText(state_.fileName);
        return Outcome::Refused;
    }
    const std::uint64_t available =
        reader.recordCount() > startRecord ? reader.recordCount() - startRecord : 0;
    const int total = static_cast<int>(std::min<std::uint64_t>(available, PAGE_RECORDS));

    auto shared = std::make_shared<HistoryPage>();
    HistoryPage& page = *shared;
    page.channelCount = state_.header.channelCount;
    page.fileStart = state_.header.startTime;
    page.intervalSeconds = state_.header.intervalSeconds;
    page.firstRecord = startRecord;
    page.values.resize(static_cast<std::size_t>(PAGE_RECORDS) * page.channelCount);
    if (progress) {
        progress(0, total);
    }
    // Read to the end of the file as it is now, not as it was counted: records appended while
    // the page is read belong to it too.
    if (reader.seekRecord(startRecord)) {
        while (page.recordCount < PAGE_RECORDS) {
            const std::uint64_t want = std::min<std::uint64_t>(
                kBlockRecords, static_cast<std::uint64_t>(PAGE_RECORDS - page.recordCount));
            const std::uint64_t got = reader.readRecords(
                page.values.data() + static_cast<std::size_t>(page.recordCount) * page.channelCount,
                want);
            page.recordCount += static_cast<int>(got);
            if (progress) {
                progress(page.recordCount, std::max(total, page.recordCount));
            }
            if (got < want) {
                break;
            }
        }
    }
    page.values.resize(static_cast<std::size_t>(page.recordCount) * page.channelCount);
    page.values.shrink_to_fit();
    state_.page = std::move(shared);
    state_.pageStartRecord = startRecord;
    state_.pageNumber = pageNumber;
    return Outcome::Loaded;
}

}  // namespace tamlo::viewer
