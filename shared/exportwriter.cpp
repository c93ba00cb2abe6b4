#include "exportwriter.h"

#include <QFileInfo>
#include <cstring>

#include "exportfile.h"
#include "exportxlsx.h"
#include "gbk.h"

namespace tamlo {

QString exportFormatName(ExportFormat format) {
    switch (format) {
        case ExportFormat::Csv:
            return QStringLiteral("csv");
        case ExportFormat::Xlsx:
            return QStringLiteral("xlsx");
        case ExportFormat::Text:
            break;
    }
    return QStringLiteral("xls");
}

std::optional<ExportFormat> exportFormatFromName(const QString& name) {
    for (const ExportFormat f : {ExportFormat::Text, ExportFormat::Csv, ExportFormat::Xlsx}) {
        if (name.compare(exportFormatName(f), Qt::CaseInsensitive) == 0) {
            return f;
        }
    }
    return std::nullopt;
}

std::optional<ExportFormat> exportFormatOfFileName(const QString& path) {
    return exportFormatFromName(QFileInfo(path).suffix());
}

ExportFormat exportFormatForSaveDialog(const QString& path, int fileType) {
    if (const std::optional<ExportFormat> byName = exportFormatOfFileName(path)) {
        return *byName;
    }
    switch (fileType) {
        case 1:
            return ExportFormat::Csv;
        case 2:
            return ExportFormat::Xlsx;
        default:
            return ExportFormat::Text;
    }
}

QString xlsxRowLimitText() {
    return QStringLiteral(
               "Excel 工作簿一张表最多 %1 行（含标题行），所选范围的记录超出此数。"
               "请缩小时间范围、加大取样间隔，或导出为 CSV 或 EXCEL 文本文件。")
        .arg(kXlsxMaxRows);
}

void ExportWriter::header(const QByteArray& textTimeTitle, std::vector<QByteArray> names) {
    textTimeTitle_ = textTimeTitle;
    names_ = std::move(names);
    text_.assign((names_.size() + 1) * kNumberTextMax, '\0');
    ends_.assign(names_.size() + 1, 0);
    sample_.assign(names_.size() + 1, 0);
    writeHeader();
}

namespace {

// The writers of text files: lines put together in the output's buffer.
class TextFileWriter : public ExportWriter {
public:
    std::optional<QString> open(const QString& outputPath, const QString& inputPath) override {
        return file_.open(outputPath, inputPath);
    }
    std::optional<ExportWriteFailure> finish() override {
        if (std::optional<QString> failed = file_.finish()) {
            return ExportWriteFailure{false, *failed};
        }
        return std::nullopt;
    }

protected:
    // Room for `size` more bytes at the end of the buffer; done() gives back what was unused.
    char* room(std::size_t size) {
        std::string& buffer = file_.buffer();
        const std::size_t used = buffer.size();
        buffer.resize(used + size);
        return buffer.data() + used;
    }
    bool done(const char* end) {
        std::string& buffer = file_.buffer();
        buffer.resize(static_cast<std::size_t>(end - buffer.data()));
        return file_.flushIfFull();
    }
    void append(const QByteArray& bytes) {
        file_.buffer().append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    std::size_t rowRoom() const { return 24 + channels() * (kNumberTextMax + 8); }

private:
    ExportFile file_;
};

// Tab after every field, CR LF, times "YY-MM-DD HH:NN:SS", names as stored.
class TabTextWriter final : public TextFileWriter {
public:
    bool writeRow() override {
        char* p = room(rowRoom());
        p = writeRecordTime(p, seconds_);
        *p++ = '\t';
        static constexpr char kNoDataCell[] = "  --  \t";
        for (std::size_t c = 0; c < channels(); ++c) {
            if (noData_) {
                std::memcpy(p, kNoDataCell, sizeof kNoDataCell - 1);
                p += sizeof kNoDataCell - 1;
                continue;
            }
            const std::size_t n = static_cast<std::size_t>(cellEnd(c) - cellBegin(c));
            std::memcpy(p, cellBegin(c), n);
            p += n;
            *p++ = '\t';
        }
        *p++ = '\r';
        *p++ = '\n';
        return done(p);
    }

protected:
    void writeHeader() override {
        QByteArray line = textTimeTitle_ + '\t';
        for (const QByteArray& name : names_) {
            line += name + '\t';
        }
        append(line + "\r\n");
    }
};

// A field of a CSV line, quoted when it holds a separator, a quote or a line break.
QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') ||
        bytes.contains('\n')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

// Copies a number text without the zeros that pad its exponent: "1.2346E+005" becomes
// "1.2346E+5".
char* copyNumber(char* out, const char* begin, const char* end) {
    const char* e = static_cast<const char*>(std::memchr(begin, 'E', end - begin));
    if (!e) {
        std::memcpy(out, begin, static_cast<std::size_t>(end - begin));
        return out + (end - begin);
    }
    const char* digits = e + 2;  // past 'E' and its sign
    std::memcpy(out, begin, static_cast<std::size_t>(digits - begin));
    out += digits - begin;
    while (digits + 1 < end && *digits == '0') {
        ++digits;
    }
    std::memcpy(out, digits, static_cast<std::size_t>(end - digits));
    return out + (end - digits);
}

// UTF-8 with a byte-order mark, comma-separated, CR LF; four-digit years and a decimal point
// whatever the reader's locale; no sample is an empty field.
class CsvWriter final : public TextFileWriter {
public:
    bool writeRow() override {
        char* p = room(rowRoom());
        p = writeIsoTime(p, seconds_);
        for (std::size_t c = 0; c < channels(); ++c) {
            *p++ = ',';
            if (!noData_ && hasSample(c)) {
                p = copyNumber(p, cellBegin(c), cellEnd(c));
            }
        }
        *p++ = '\r';
        *p++ = '\n';
        return done(p);
    }

protected:
    void writeHeader() override {
        QByteArray line("\xEF\xBB\xBF");
        line += csvField(QStringLiteral("时间"));
        for (const QByteArray& name : names_) {
            line += ',' + csvField(exportChannelTitle(name));
        }
        append(line + "\r\n");
    }
};

}  // namespace

QString exportChannelTitle(const QByteArray& storedName) {
    return gbkToString(storedName).trimmed();
}

std::unique_ptr<ExportWriter> makeExportWriter(ExportFormat format) {
    switch (format) {
        case ExportFormat::Csv:
            return std::make_unique<CsvWriter>();
        case ExportFormat::Xlsx:
            return makeXlsxWriter();
        case ExportFormat::Text:
            break;
    }
    return std::make_unique<TabTextWriter>();
}

}  // namespace tamlo
