#include "exportfile.h"

#include <QDir>
#include <filesystem>
#include <system_error>

namespace tamlo {

QString cannotCreateExportText(const QString& path) {
    return QStringLiteral("无法创建文件：%1").arg(QDir::toNativeSeparators(path));
}

QString cannotWriteExportText(const QString& path) {
    return QStringLiteral("写入文件失败：%1").arg(QDir::toNativeSeparators(path));
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
    if (!file_.open(QIODevice::WriteOnly)) {
        return cannotCreateExportText(outputPath);
    }
    buffer_.clear();
    buffer_.reserve(kChunk + (64 << 10));
    failed_ = false;
    return std::nullopt;
}

bool ExportFile::flush() {
    if (!buffer_.empty() && !failed_) {
        const qint64 written = file_.write(buffer_.data(), static_cast<qint64>(buffer_.size()));
        failed_ = written != static_cast<qint64>(buffer_.size());
    }
    buffer_.clear();
    return !failed_;
}

std::optional<QString> ExportFile::finish() {
    if (!file_.isOpen()) {
        return cannotCreateExportText(path_);
    }
    if (!flush() || !file_.commit()) {
        file_.cancelWriting();
        return cannotWriteExportText(path_);
    }
    return std::nullopt;
}

}  // namespace tamlo
