#include "fileops/exists.h"

#include <filesystem>
#include <system_error>

#include <QFile>

namespace tavlin {

namespace {

// The path's status, or a status of "not found" for a path the file system cannot look at.
std::filesystem::file_status statusOf(const QString& svPath) {
    // A NUL would silently shorten the path the system sees.
    if (svPath.isEmpty() || svPath.contains(QChar(u'\0')))
        return std::filesystem::file_status(std::filesystem::file_type::not_found);
    const QByteArray native = QFile::encodeName(svPath);
    std::error_code error;
    const auto status = std::filesystem::status(
        std::filesystem::path(native.constData(), native.constData() + native.size()), error);
    if (error)
        return std::filesystem::file_status(std::filesystem::file_type::not_found);
    return status;
}

} // namespace

bool FolderExists(const QString& svPath) {
    return std::filesystem::is_directory(statusOf(svPath));
}

bool FileExists(const QString& svPath) {
    return std::filesystem::is_regular_file(statusOf(svPath));
}

} // namespace tavlin
