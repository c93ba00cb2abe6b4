#include "exportxlsx.h"

#include <xlsxwriter.h>
#include <zlib.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <dlfcn.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "exportfile.h"
#include "exportwriter.h"

// libxlsxwriter deflates each part of a workbook through minizip at zlib's default level, fixed
// in the library, where compressing a large sheet takes over half of the export's time. zlib's
// fastest level takes about 40% off a large export for a file about a quarter larger. The
// library opens each part through this function, so the program defines it: it lowers the
// default level and hands on to the next definition (minizip's, or the library's own copy of
// it). A library that reaches minizip without the dynamic symbol table keeps its own level.
extern "C" int zipOpenNewFileInZip4_64(void* file, const char* filename, const void* fileInfo,
                                       const void* localExtra, unsigned localExtraSize,
                                       const void* globalExtra, unsigned globalExtraSize,
                                       const char* comment, int method, int level, int raw,
                                       int windowBits, int memLevel, int strategy,
                                       const char* password, unsigned long crcForCrypting,
                                       unsigned long versionMadeBy, unsigned long flagBase,
                                       int zip64) {
    using Open = decltype(&zipOpenNewFileInZip4_64);
    static const auto next =
        reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "zipOpenNewFileInZip4_64"));
    if (!next) {
        return -104;  // minizip's ZIP_INTERNALERROR: the workbook is reported as not written
    }
    if (method == Z_DEFLATED && level == Z_DEFAULT_COMPRESSION) {
        level = 1;
    }
    return next(file, filename, fileInfo, localExtra, localExtraSize, globalExtra,
                globalExtraSize, comment, method, level, raw, windowBits, memLevel, strategy,
                password, crcForCrypting, versionMadeBy, flagBase, zip64);
}

namespace tamlo {

QString xlsxSheetName(const QString& outputPath) {
    QString name = QFileInfo(outputPath).completeBaseName();
    for (QChar& c : name) {
        if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20) {
            c = QLatin1Char('_');
        }
    }
    // Counted in characters, as the workbook counts them.
    const QList<uint> characters = name.toUcs4();
    if (characters.size() > 31) {
        name = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()), 31);
    }
    while (name.startsWith(QLatin1Char('\''))) {
        name.remove(0, 1);
    }
    while (name.endsWith(QLatin1Char('\''))) {
        name.chop(1);
    }
    if (name.trimmed().isEmpty()) {
        return QStringLiteral("Sheet1");
    }
    // Excel keeps this name for itself and repairs a workbook that uses it.
    if (name.compare(QStringLiteral("History"), Qt::CaseInsensitive) == 0) {
        name += QLatin1Char('_');
    }
    return name;
}

namespace {

// libxlsxwriter prints its numbers with the C library, which follows LC_NUMERIC: under a locale
// with a decimal comma the workbook's numbers would be unreadable. Its calls run in the "C"
// locale on this thread.
class CNumericLocale {
public:
    CNumericLocale() : previous_(uselocale(cLocale())) {}
    ~CNumericLocale() { uselocale(previous_); }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    static locale_t cLocale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
        return c;
    }
    locale_t previous_;
};

// Width of a column for a text: a CJK character takes two digits' room.
double columnWidth(const QString& text) {
    double width = 0;
    for (const uint c : text.toUcs4()) {
        width += c < 0x1100 ? 1 : 2;
    }
    return width;
}

// A cell's text as a string, without the control characters an XML file cannot hold.
QByteArray cellString(const QString& text) {
    QString clean;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 || c == QLatin1Char('\t')) {
            clean += c;
        }
    }
    return clean.toUtf8();
}

class XlsxWriter final : public ExportWriter {
public:
    ~XlsxWriter() override { discard(); }

    std::optional<QString> open(const QString& outputPath, const QString& inputPath) override {
        const OutputKind kind = outputKind(outputPath);
        if (kind == OutputKind::Refused) {
            return cannotCreateExportText(outputPath);
        }
        if (kind == OutputKind::Stream) {
            // A workbook is a zip file, written whole and then copied into the stream.
            if (std::optional<QString> refused = stream_.emplace().open(outputPath, inputPath)) {
                return refused;
            }
        } else if (sameFile(outputPath, inputPath)) {
            return QString::fromUtf8(kExportSameFileText);
        }
        path_ = outputPath;
        // Written under a temporary name beside the output and renamed when complete.
        QTemporaryFile temporary(stream_
                                     ? QDir::temp().filePath(QStringLiteral("tamlo-XXXXXX.xlsx"))
                                     : outputPath + QStringLiteral(".XXXXXX"));
        temporary.setAutoRemove(false);
        if (!temporary.open()) {
            return cannotCreateExportText(outputPath);
        }
        temporaryPath_ = temporary.fileName();
        // A temporary file is private to its owner; the export gets the permissions a new file
        // gets, or those of the file it replaces, as the text exports do.
        struct stat existing {};
        mode_t mode = 0;
        if (::stat(QFile::encodeName(outputPath).constData(), &existing) == 0) {
            mode = existing.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(temporary.handle(), mode);
        temporary.close();
        // The rows wait in a file beside the output: the room they need is on its disk.
        directory_ = QFile::encodeName(QFileInfo(outputPath).absolutePath());
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = directory_.data();
        const QByteArray name = QFile::encodeName(temporaryPath_);
        const CNumericLocale c;
        workbook_ = workbook_new_opt(name.constData(), &options);
        if (workbook_) {
            sheet_ =
                workbook_add_worksheet(workbook_, xlsxSheetName(outputPath).toUtf8().constData());
        }
        if (!sheet_) {
            discard();
            return cannotCreateExportText(outputPath);
        }
        bold_ = workbook_add_format(workbook_);
        format_set_bold(bold_);
        format_set_align(bold_, LXW_ALIGN_CENTER);
        time_ = workbook_add_format(workbook_);
        format_set_num_format(time_, "yyyy-mm-dd hh:mm:ss");
        return std::nullopt;
    }

    bool writeRow() override {
        if (row_ >= kXlsxMaxRows) {
            limitReached_ = true;
            return false;
        }
        const CNumericLocale c;
        const auto row = static_cast<lxw_row_t>(row_);
        bool ok = worksheet_write_number(sheet_, row, 0, double(seconds_) / 86400.0, time_) ==
                  LXW_NO_ERROR;
        for (std::size_t i = 0; ok && !noData_ && i < channels(); ++i) {
            if (hasSample(i)) {
                ok = writeValue(row, static_cast<lxw_col_t>(i + 1), cellBegin(i), cellEnd(i));
            }
        }
        if (!ok) {
            failed_ = true;
            return false;
        }
        ++row_;
        return true;
    }

    std::optional<ExportWriteFailure> finish() override {
        if (limitReached_) {
            discard();
            return ExportWriteFailure{true, xlsxRowLimitText()};
        }
        if (!workbook_) {
            return ExportWriteFailure{false, cannotCreateExportText(path_)};
        }
        // The rows went to a temporary file whose write errors the library does not check.
        FILE* rows = sheet_->optimize_tmpfile;
        if (failed_ || (rows && (std::fflush(rows) != 0 || std::ferror(rows)))) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            discard();
            return ExportWriteFailure{false, cannotWriteExportText(path_, reason)};
        }
        lxw_error error;
        {
            const CNumericLocale c;
            error = workbook_close(workbook_);
        }
        workbook_ = nullptr;
        sheet_ = nullptr;
        QString reason;
        if (error == LXW_NO_ERROR && stream_) {
            return copyIntoStream();
        }
        if (error != LXW_NO_ERROR) {
            reason = QString::fromUtf8(lxw_strerror(error));
        } else if (!syncToDisk(temporaryPath_)) {
            reason = QString::fromLocal8Bit(std::strerror(errno));
        } else {
            std::error_code renameError;
            std::filesystem::rename(std::filesystem::path(temporaryPath_.toStdU16String()),
                                    std::filesystem::path(path_.toStdU16String()), renameError);
            if (!renameError) {
                temporaryPath_.clear();
                return std::nullopt;
            }
            reason = QString::fromStdString(renameError.message());
        }
        discard();
        return ExportWriteFailure{false, cannotWriteExportText(path_, reason)};
    }

protected:
    void writeHeader() override {
        const CNumericLocale c;
        worksheet_write_string(sheet_, 0, 0, "时间", bold_);
        worksheet_set_column(sheet_, 0, 0, 20, nullptr);
        for (std::size_t i = 0; i < channels(); ++i) {
            const QString title = exportChannelTitle(names_[i]);
            const auto col = static_cast<lxw_col_t>(i + 1);
            if (!title.isEmpty()) {
                worksheet_write_string(sheet_, 0, col, cellString(title).constData(), bold_);
            }
            worksheet_set_column(sheet_, col, col, std::max(10.0, columnWidth(title) + 2), nullptr);
        }
        worksheet_freeze_panes(sheet_, 1, 0);
        // Printed: as wide as one page, the header on every page, the grid drawn.
        worksheet_fit_to_pages(sheet_, 1, 0);
        worksheet_repeat_rows(sheet_, 0, 0);
        worksheet_gridlines(sheet_, LXW_SHOW_ALL_GRIDLINES);
        if (channels() > 6) {
            worksheet_set_landscape(sheet_);
        }
        row_ = 1;
    }

private:
    // A value text as a number; a text that is not one (a damaged file's NAN) as a string.
    bool writeValue(lxw_row_t row, lxw_col_t col, const char* begin, const char* end) {
        double value = 0;
        const auto parsed = std::from_chars(begin, end, value);
        if (parsed.ec == std::errc() && parsed.ptr == end && std::isfinite(value)) {
            return worksheet_write_number(sheet_, row, col, value, nullptr) == LXW_NO_ERROR;
        }
        const std::string text(begin, end);
        return worksheet_write_string(sheet_, row, col, text.c_str(), nullptr) == LXW_NO_ERROR;
    }

    std::optional<ExportWriteFailure> copyIntoStream() {
        QFile workbook(temporaryPath_);
        bool read = workbook.open(QIODevice::ReadOnly);
        while (read && !workbook.atEnd()) {
            const QByteArray piece = workbook.read(1 << 20);
            read = !piece.isEmpty();
            stream_->buffer().append(piece.constData(), static_cast<std::size_t>(piece.size()));
            if (!stream_->flushIfFull()) {
                break;  // finish() names the failed write
            }
        }
        const QString reason = workbook.errorString();
        workbook.close();
        discard();
        if (!read) {
            return ExportWriteFailure{false, cannotWriteExportText(path_, reason)};
        }
        if (std::optional<QString> failed = stream_->finish()) {
            return ExportWriteFailure{false, *failed};
        }
        return std::nullopt;
    }

    static bool syncToDisk(const QString& path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (fd < 0) {
            return false;
        }
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        return synced;
    }

    // Drops the workbook unwritten and the temporary file.
    void discard() {
        if (workbook_) {
            // Unclosed, the workbook still holds its rows' file, which freeing it leaves open.
            if (sheet_ && sheet_->optimize_tmpfile) {
                std::fclose(sheet_->optimize_tmpfile);
                sheet_->optimize_tmpfile = nullptr;
                sheet_->file = nullptr;
            }
            lxw_workbook_free(workbook_);
            workbook_ = nullptr;
            sheet_ = nullptr;
        }
        if (!temporaryPath_.isEmpty()) {
            QFile::remove(temporaryPath_);
            temporaryPath_.clear();
        }
    }

    QString path_;
    std::optional<ExportFile> stream_;  // a stream output: the workbook is copied into it
    QString temporaryPath_;
    QByteArray directory_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    lxw_format* bold_ = nullptr;
    lxw_format* time_ = nullptr;
    std::int64_t row_ = 0;
    bool limitReached_ = false;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<ExportWriter> makeXlsxWriter() {
    return std::make_unique<XlsxWriter>();
}

}  // namespace tamlo
