#include "exportfile.h"

#include <QDir>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tamlo {

QString cannotCreateExportText(const QString& path) {
    return QStringLiteral("无法创建文件：%1").arg(QDir::toNativeSeparators(path));
}

QString cannotWriteExportText(const QString& path, const QString& reason) {
    const QString text = QStringLiteral("写入文件失败：%1").arg(QDir::toNativeSeparators(path));
    return reason.isEmpty() ? text : text + QStringLiteral("（%1）").arg(reason);
}

bool writeAll(QFileDevice& file, const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.write(data + done, size - done);
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

bool sameFile(const QString& a, const QString& b) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(std::filesystem::path(a.toStdU16String()),
                                                  std::filesystem::path(b.toStdU16String()), error);
    return !error && same;
}

OutputKind outputKind(const QString& path) {
    if (path == QStringLiteral("-")) {
        return OutputKind::Stream;
    }
    std::error_code error;
    switch (std::filesystem::status(std::filesystem::path(path.toStdU16String()), error).type()) {
        case std::filesystem::file_type::fifo:
        case std::filesystem::file_type::character:
        case std::filesystem::file_type::socket:
            return OutputKind::Stream;
        // Text written over a disk or a folder is no export.
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::directory:
            return OutputKind::Refused;
        default:
            return OutputKind::File;
    }
}

bool isStandardOutput(const QString& path) {
    if (path == QStringLiteral("-")) {
        return true;
    }
#ifndef Q_OS_WIN
    struct stat out {};
    struct stat named {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && !S_ISREG(out.st_mode) &&
           ::stat(QFile::encodeName(path).constData(), &named) == 0 && out.st_dev == named.st_dev &&
           out.st_ino == named.st_ino;
#else
    return false;
#endif
}

// QSaveFile discards the temporary file unless it was committed.
ExportFile::~ExportFile() = default;

std::optional<QString> ExportFile::open(const QString& outputPath, const QString& inputPath) {
    // "-" too: standard output may have been sent into the history file itself.
    if (sameFile(outputPath == QStringLiteral("-") ? QStringLiteral("/dev/stdout") : outputPath,
                 inputPath)) {
        return QString::fromUtf8(kExportSameFileText);
    }
    path_ = outputPath;
    // Unbuffered: the lines are already written in large pieces, and a failed write keeps the
    // system's reason.
    constexpr QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    bool opened = false;
    switch (outputKind(outputPath)) {
        case OutputKind::File:
            file_.setFileName(outputPath);
            opened = file_.open(mode);
            break;
        case OutputKind::Stream:
            if (outputPath == QStringLiteral("-")) {
                opened = stream_.open(fileno(stdout), mode, QFileDevice::DontCloseHandle);
            } else {
                stream_.setFileName(outputPath);
                opened = stream_.open(mode);
            }
            break;
        case OutputKind::Refused:
            break;
    }
    if (!opened) {
        return cannotCreateExportText(outputPath);
    }
    buffer_.clear();
    buffer_.reserve(kChunk + (64 << 10));
    failed_ = false;
    return std::nullopt;
}

QFileDevice& ExportFile::device() {
    if (stream_.isOpen()) {
        return stream_;
    }
    return file_;
}

bool ExportFile::flush() {
    if (!buffer_.empty() && !failed_) {
        failed_ = !writeAll(device(), buffer_.data(), static_cast<qint64>(buffer_.size()));
    }
    buffer_.clear();
    return !failed_;
}

std::optional<QString> ExportFile::finish() {
    if (stream_.isOpen()) {
        const bool written = flush();
        const QString reason = stream_.errorString();
        stream_.close();
        return written ? std::nullopt : std::optional(cannotWriteExportText(path_, reason));
    }
    if (!file_.isOpen()) {
        return cannotCreateExportText(path_);
    }
    if (!flush() || !file_.commit()) {
        const QString reason = file_.errorString();
        file_.cancelWriting();
        return cannotWriteExportText(path_, reason);
    }
    return std::nullopt;
}

}  // namespace tamlo
