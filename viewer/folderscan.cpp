#include "viewer/folderscan.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>

#include "platform/filenames.h"

namespace tavlin {

OpenFolder::OpenFolder(const QString& path) {
    // A NUL would silently shorten the path the system sees.
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        m_error = std::make_error_code(std::errc::no_such_file_or_directory);
        return;
    }
    m_fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = std::error_code(errno, std::generic_category());
        return;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) == 0)
        m_sizeHint = st.st_size;
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_error(other.m_error), m_sizeHint(other.m_sizeHint) {}

OpenFolder::~OpenFolder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FolderEntries OpenFolder::read(std::error_code& error) {
    FolderEntries entries;
    error = m_error;
    if (m_fd < 0) {
        if (!error)
            error = std::make_error_code(std::errc::bad_file_descriptor);
        return entries;
    }
    DIR* dir = ::fdopendir(m_fd);
    if (!dir) {
        error = std::error_code(errno, std::generic_category());
        return entries;
    }
    m_fd = -1; // the stream owns it now
    const int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) {
                error = std::error_code(errno, std::generic_category());
                entries = {};
            }
            break;
        }
        if (entry->d_name[0] == '.')
            continue;
        // The type comes from the directory read itself where the file system reports
        // it, so a large folder costs no stat per file; links are followed, and noted.
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISLNK(st.st_mode)   ? DT_LNK
                   : S_ISDIR(st.st_mode) ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                                         : DT_UNKNOWN;
        }
        const bool link = type == DT_LNK;
        if (link) {
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, 0) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type != DT_DIR && type != DT_REG)
            continue;
        QString name = decodeFileName(entry->d_name, qsizetype(std::strlen(entry->d_name)));
        if (link)
            entries.links.append(name);
        (type == DT_DIR ? entries.folders : entries.files).append(std::move(name));
    }
    ::closedir(dir);
    return entries;
}

FolderEntries scanFolder(const QString& path, std::error_code& error) {
    OpenFolder folder(path);
    return folder.read(error);
}

NamePattern::NamePattern(const QString& patterns) {
    for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = p.trimmed();
        const QString rest = pattern.mid(1);
        if (pattern.startsWith(QLatin1Char('*')) && !rest.contains(QLatin1Char('*')) &&
            !rest.contains(QLatin1Char('?')) && !rest.contains(QLatin1Char('[')))
            m_suffixes.append(rest);
        else
            m_wildcards.append(pattern);
    }
}

bool NamePattern::matches(const QString& name) const {
    for (const QString& suffix : m_suffixes)
        if (name.size() > suffix.size() && name.endsWith(suffix, Qt::CaseInsensitive))
            return true;
    for (const QString& wildcard : m_wildcards) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(wildcard),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(name).hasMatch())
            return true;
    }
    return false;
}

FolderListing listFolder(OpenFolder folder, const QString& path, const NamePattern& files) {
    FolderListing listing;
    listing.path = path;
    FolderEntries entries = folder.read(listing.error);
    if (listing.error)
        return listing;
    listing.folders = std::move(entries.folders);
    listing.links = std::move(entries.links);
    sortNatural(listing.folders);
    listing.files.reserve(entries.files.size());
    for (QString& name : entries.files)
        if (files.matches(name))
            listing.files.append(std::move(name));
    sortNatural(listing.files);
    return listing;
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace tavlin
