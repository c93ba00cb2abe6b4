#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "exporttext.h"

namespace tamlo {

// The file formats of the spreadsheet exports.
enum class ExportFormat {
    Text,  // tab-separated GBK text named .xls, two-digit years (the default)
    Csv,   // UTF-8 with a byte-order mark, RFC 4180, four-digit years
    Xlsx,  // an Excel workbook with date-time and number cells
};

// "xls", "csv", "xlsx": the extension of each format and its name on the command line.
QString exportFormatName(ExportFormat format);
std::optional<ExportFormat> exportFormatFromName(const QString& name);
// The format an output name's extension asks for, if it is one of the three.
std::optional<ExportFormat> exportFormatOfFileName(const QString& path);

// The save dialog's file types, in the order of ExportFormat.
inline constexpr char kExportFilter[] = "EXCEL 文本文件|*.xls|CSV UTF-8|*.csv|Excel 工作簿|*.xlsx";
// The format of a name chosen in the save dialog: its extension when it is one of the three
// (the file is opened by it), else the file type picked.
ExportFormat exportFormatForSaveDialog(const QString& path, int fileType);

// A worksheet's rows, the header row included.
inline constexpr std::int64_t kXlsxMaxRows = 1048576;
QString xlsxRowLimitText();

// How a writer failed: the output was refused (the workbook's row limit), or could not be
// written.
struct ExportWriteFailure {
    bool refused = false;
    QString message;
};

// One export on its way into a file of one format. The jobs read the records and hand over one
// row at a time: its time and its channels' value texts, general format with 5 significant
// digits; each format makes its own bytes of them. Nothing appears under the output name unless
// finish() succeeds.
class ExportWriter {
public:
    virtual ~ExportWriter() = default;

    // Refuses an output that is the history file being read and one that cannot be created.
    virtual std::optional<QString> open(const QString& outputPath, const QString& inputPath) = 0;
    // The time column's title in the tab-separated text ("时间" or "time", GBK) and every
    // channel's name as stored (GBK bytes). The other formats title the time column "时间".
    void header(const QByteArray& textTimeTitle, std::vector<QByteArray> names);

    // The row put together below: its time, then a cell per channel.
    void beginRow(std::int64_t secondsSinceEpoch) {
        seconds_ = secondsSinceEpoch;
        noData_ = false;
        cells_ = 0;
        used_ = 0;
    }
    // A record whose channel 0 holds no sample: "  --  " in every cell of the text, empty
    // cells elsewhere.
    void beginNoDataRow(std::int64_t secondsSinceEpoch) {
        beginRow(secondsSinceEpoch);
        noData_ = true;
    }
    // Room for kNumberTextMax characters of the next cell's text.
    char* cellText() { return text_.data() + used_; }
    // Ends the cell whose text runs from cellText() to `end`. A cell without a sample (the
    // recorder's -30000 beside a valid channel 0) keeps its text in the tab-separated text
    // only.
    void endCell(const char* end, bool hasSample = true) {
        used_ = static_cast<std::size_t>(end - text_.data());
        ends_[cells_] = static_cast<std::uint32_t>(used_);
        sample_[cells_] = hasSample ? 1 : 0;
        ++cells_;
    }
    // False when the writer takes no more rows: a write failed or the format's limit was
    // reached. finish() then says why.
    virtual bool writeRow() = 0;

    // Writes the rest and puts the file in place under its name.
    virtual std::optional<ExportWriteFailure> finish() = 0;

protected:
    virtual void writeHeader() = 0;

    std::size_t channels() const { return names_.size(); }
    // The i-th cell's text of the current row.
    const char* cellBegin(std::size_t i) const { return text_.data() + (i ? ends_[i - 1] : 0); }
    const char* cellEnd(std::size_t i) const { return text_.data() + ends_[i]; }
    bool hasSample(std::size_t i) const { return sample_[i] != 0; }

    QByteArray textTimeTitle_;
    std::vector<QByteArray> names_;
    std::int64_t seconds_ = 0;
    bool noData_ = false;

private:
    std::vector<char> text_;
    std::vector<std::uint32_t> ends_;
    std::vector<char> sample_;
    std::size_t cells_ = 0;
    std::size_t used_ = 0;
};

std::unique_ptr<ExportWriter> makeExportWriter(ExportFormat format);

// A channel's title in a CSV file's or a workbook's header row: its stored GBK name as text,
// without the blanks that pad it.
QString exportChannelTitle(const QByteArray& storedName);

}  // namespace tamlo
