#include "exportfile.h"

#include <QDir>
#include <filesystem>
#include <system_error>

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

// QSaveFile discards the temporary file unless it was committed.
ExportFile::~ExportFile() = default;

std::optional<QString> ExportFile::open(const QString& outputPath, const QString& inputPath) {
    if (sameFile(outputPath, inputPath)) {
        return QString::fromUtf8(kExportSameFileText);
    }
    path_ = outputPath;
    file_.setFileName(outputPath);
    // Unbuffered: the lines are already written in large pieces, and a failed write keeps the
    // system's reason.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return cannotCreateExportText(outputPath);
    }
    buffer_.clear();
    buffer_.reserve(kChunk + (64 << 10));
    failed_ = false;
    return std::nullopt;
}

bool ExportFile::flush() {
    if (!buffer_.empty() && !failed_) {
        failed_ = !writeAll(file_, buffer_.data(), static_cast<qint64>(buffer_.size()));
    }
    buffer_.clear();
    return !failed_;
}

std::optional<QString> ExportFile::finish() {
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
