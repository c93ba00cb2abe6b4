#pragma once

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <optional>
#include <string>

namespace tamlo {

// Refusal texts of the exports.
inline constexpr char kExportSameFileText[] = "导出文件不能是正在读取的历史数据文件！";
QString cannotCreateExportText(const QString& path);
// With the system's reason when there is one.
QString cannotWriteExportText(const QString& path, const QString& reason = {});

// Writes all the bytes or fails. A write that stops short (the disk filled, the file size limit
// was reached) is carried on until the system refuses it, so the file's error names the reason.
bool writeAll(QFileDevice& file, const char* data, qint64 size);
inline bool writeAll(QFileDevice& file, const QByteArray& bytes) {
    return writeAll(file, bytes.constData(), bytes.size());
}

// The output of one spreadsheet export. It is written to a temporary file beside the chosen
// name and renamed over that name only by finish(), so an export that fails or is abandoned
// leaves neither a half file nor a damaged earlier file under that name.
//
// An output that exists and is a pipe, a character device or a socket is never replaced: it
// is written into as a stream (a pipeline, /dev/stdout), and so is "-", standard output. A block
// device or a folder is refused.
class ExportFile {
public:
    ExportFile() = default;
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;
    ~ExportFile();

    // Refuses an output that is the history file being read (the same file, whatever links
    // lead to it) and an output that cannot be created; the refusal's text comes back.
    std::optional<QString> open(const QString& outputPath, const QString& inputPath);

    // Lines are built here and handed to the file in large pieces.
    std::string& buffer() { return buffer_; }
    // Writes the buffer out once it has grown past a few hundred kilobytes.
    bool flushIfFull() { return buffer_.size() < kChunk || flush(); }
    // Writes the rest and puts the file in place; the text of a failure comes back.
    std::optional<QString> finish();

private:
    static constexpr std::size_t kChunk = 1 << 20;
    bool flush();
    QFileDevice& device();

    QSaveFile file_;
    QFile stream_;  // open instead of file_ for a stream output
    QString path_;
    std::string buffer_;
    bool failed_ = false;
};

// True when both paths name the same existing file (links resolved, hard links included).
bool sameFile(const QString& a, const QString& b);

// What an output name leads to: a file written beside its name, a stream written into ("-",
// a pipe, a character device, a socket), or what no export writes over (a disk, a folder).
enum class OutputKind { File, Stream, Refused };
OutputKind outputKind(const QString& path);

// True for "-" and for a path that leads to what standard output is writing to.
bool isStandardOutput(const QString& path);

}  // namespace tamlo
