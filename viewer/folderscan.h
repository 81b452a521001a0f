#pragma once

#include <system_error>

#include <QString>
#include <QStringList>

#include "viewer/naturalorder.h"

namespace tavlin {

// The visible entries of one folder: names of subfolders and of regular files,
// hidden ones (a leading dot) left out, in the order the folder gives them.
struct FolderEntries {
    QStringList folders;
    QStringList files;
    QStringList links; // those of the folders and files that are symbolic links
};

// Reads `path` once. On failure (gone, unreadable, not a folder) `error` is set
// and nothing is returned.
FolderEntries scanFolder(const QString& path, std::error_code& error);

// A folder opened for reading; the read itself may run on another thread.
class OpenFolder {
public:
    explicit OpenFolder(const QString& path);
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&&) = delete;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    std::error_code error() const { return m_error; }
    // A hint of the folder's size in bytes as the file system reports it (0 if unknown).
    qint64 sizeHint() const { return m_sizeHint; }
    // Reads the entries once; the folder is then used up.
    FolderEntries read(std::error_code& error);

private:
    int m_fd = -1;
    std::error_code m_error;
    qint64 m_sizeHint = 0;
};

// True when `name` matches one of the ";"-separated wildcards, case ignored.
class NamePattern {
public:
    explicit NamePattern(const QString& patterns);
    bool matches(const QString& name) const;

private:
    QStringList m_suffixes; // "*.jpg" kept as ".jpg" for a fast test
    QStringList m_wildcards;
};

// What the folder list and the file list show of one folder, from one read:
// the subfolders and the files matching the pattern, each in natural order.
struct FolderListing {
    QString path;
    QStringList folders;
    QStringList files;
    QStringList links; // those of the folders and files that are symbolic links, in no order
    std::error_code error;
};
FolderListing listFolder(OpenFolder folder, const QString& path, const NamePattern& files);

// The folder path, "/" unless it already ends in one, and the name.
QString joinPath(const QString& folder, const QString& name);

} // namespace tavlin
