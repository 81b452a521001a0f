#include "fileops/rename.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/filenames.h"
#include "platform/regularfile.h"

namespace tavlin {

namespace {

bool isRefusedFlag(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// FAT-family file systems honour RENAME_NOREPLACE, so EINVAL there means a bad name.
bool honoursNoReplace(int dirFd) {
    struct statfs info {};
    if (::fstatfs(dirFd, &info) != 0)
        return false;
    constexpr long kExfatMagic = 0x2011BAB0;
    constexpr long kNtfs3Magic = 0x7366746e;
    return info.f_type == MSDOS_SUPER_MAGIC || info.f_type == kExfatMagic ||
           info.f_type == kNtfs3Magic;
}

RenameResult renamed(bool viaLink = false) {
    return {RenameStatus::Renamed, 0, viaLink};
}

RenameResult moveImpl(int dirFd, const QByteArray& from, const QByteArray& to, bool caseFix);

// Records the name a case change is heading for, so that recovery finds a file left
// under the temporary name by looking up one known name instead of listing the folder.
bool writeCaseMarker(int dirFd, const QByteArray& to) {
    // Never through a link or into a pipe planted under the marker's name.
    const int fd = ::openat(dirFd, fsops::kCaseMarkerName,
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = fsops::writeAll(fd, to) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok)
        ::unlinkat(dirFd, fsops::kCaseMarkerName, 0);
    return ok;
}

// Both names are the one file: the file system ignores letter case (or they are hard
// links). Going through a temporary name changes the stored spelling.
RenameResult caseOnlyRename(int dirFd, const QByteArray& from, const QByteArray& to) {
    if (!writeCaseMarker(dirFd, to))
        return fsops::resultFromErrno(errno);
    const QByteArray temp = QByteArray(fsops::kCaseTempPrefix) + to;
    RenameResult first = moveImpl(dirFd, from, temp, false);
    if (first) {
        RenameResult second = moveImpl(dirFd, temp, to, false);
        if (!second) {
            // The target is a different entry after all; put the file back where it was.
            moveImpl(dirFd, temp, from, false);
        }
        first = second;
    }
    ::unlinkat(dirFd, fsops::kCaseMarkerName, 0);
    return first;
}

RenameResult moveImpl(int dirFd, const QByteArray& from, const QByteArray& to, bool caseFix) {
    if (from == to)
        return fsops::entryExists(dirFd, from) ? renamed()
                                               : RenameResult{RenameStatus::FileGone, ENOENT};
    if (::renameat2(dirFd, from.constData(), dirFd, to.constData(), RENAME_NOREPLACE) == 0)
        return renamed();
    const int error = errno;
    if (error == EEXIST && caseFix && fsops::sameFile(dirFd, from, to))
        return caseOnlyRename(dirFd, from, to);
    if (isRefusedFlag(error)) {
        if (error == EINVAL && honoursNoReplace(dirFd))
            return {RenameStatus::NameNotAllowed, error};
        RenameResult viaLink = fsops::linkThenUnlink(dirFd, from, to);
        if (viaLink.status == RenameStatus::NameTaken && caseFix &&
            fsops::sameFile(dirFd, from, to))
            return caseOnlyRename(dirFd, from, to);
        return viaLink;
    }
    return fsops::resultFromErrno(error);
}

} // namespace

QString RenameResult::describe() const {
    switch (status) {
    case RenameStatus::Renamed:
        return QStringLiteral("the file was renamed");
    case RenameStatus::NameTaken:
        return QStringLiteral("the name is taken");
    case RenameStatus::NameNotAllowed:
        return QStringLiteral("the name is not allowed");
    case RenameStatus::NameTooLong:
        if (nameLimit > 0)
            return QStringLiteral("the name is too long: a file name here may have at most %1 "
                                  "bytes (a letter outside plain ASCII takes two to four)")
                .arg(nameLimit);
        return QStringLiteral("the name is too long");
    case RenameStatus::AccessDenied:
        return QStringLiteral("access is denied");
    case RenameStatus::ReadOnly:
        return QStringLiteral("the folder is on a read-only file system");
    case RenameStatus::FileGone:
        return QStringLiteral("the file is gone");
    case RenameStatus::Unsupported:
        return QStringLiteral("this file system cannot rename a file without the risk of "
                              "replacing another");
    case RenameStatus::OtherError:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

QString GetExtension(const QString& svFilename) {
    const qsizetype dot = svFilename.indexOf(QLatin1Char('.'));
    return dot > 0 ? svFilename.mid(dot) : QString();
}

bool IsPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

RenameResult RenameFile(const QString& svFolder, const QString& svFilename,
                        const QString& svNewFileName) {
    if (svFolder.isEmpty() || svFilename.isEmpty() || svNewFileName.isEmpty())
        return {RenameStatus::NameNotAllowed, EINVAL};
    if (!IsPlainFileName(svFilename))
        return {RenameStatus::FileGone, ENOENT};
    if (!IsPlainFileName(svNewFileName))
        return {RenameStatus::NameNotAllowed, EINVAL};
    fsops::FolderHandle folder(svFolder);
    if (!folder.isOpen())
        return fsops::resultFromErrno(folder.error());
    RenameResult result = fsops::moveNoReplace(folder.fd(), encodeFileName(svFilename),
                                               encodeFileName(svNewFileName));
    if (result.status == RenameStatus::NameTooLong)
        result.nameLimit = std::max(0L, ::fpathconf(folder.fd(), _PC_NAME_MAX));
    return result;
}

namespace fsops {

int writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += n;
    }
    return 0;
}

RenameResult moveNoReplace(int dirFd, const QByteArray& from, const QByteArray& to) {
    return moveImpl(dirFd, from, to, true);
}

RenameResult linkThenUnlink(int dirFd, const QByteArray& from, const QByteArray& to) {
    if (::linkat(dirFd, from.constData(), dirFd, to.constData(), 0) != 0) {
        const int error = errno;
        // No hard links either (FAT, exFAT, some network shares): refuse rather than
        // risk replacing a file.
        if (error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS)
            return {RenameStatus::Unsupported, error};
        return resultFromErrno(error);
    }
    if (::unlinkat(dirFd, from.constData(), 0) != 0) {
        const int error = errno;
        // Drop the new name only while the old one still holds the file.
        if (sameFile(dirFd, from, to))
            ::unlinkat(dirFd, to.constData(), 0);
        return resultFromErrno(error);
    }
    return renamed(true);
}

bool sameFile(int dirFd, const QByteArray& a, const QByteArray& b) {
    struct stat sa {};
    struct stat sb {};
    if (::fstatat(dirFd, a.constData(), &sa, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(dirFd, b.constData(), &sb, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool entryExists(int dirFd, const QByteArray& name) {
    struct stat st {};
    return ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int recoverCaseRenames(int dirFd) {
    const int fd = openRegularFileAt(dirFd, kCaseMarkerName);
    if (fd < 0)
        return 0; // the usual case: no case change was cut short
    // The marker holds one file name; more than a name's length is not ours.
    QByteArray target;
    char buffer[NAME_MAX + 1];
    while (target.size() <= NAME_MAX) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        target.append(buffer, n);
    }
    ::close(fd);
    int restored = 0;
    const QByteArray temp = QByteArray(kCaseTempPrefix) + target;
    if (!target.isEmpty() && !target.contains('/') && entryExists(dirFd, temp)) {
        if (sameFile(dirFd, temp, target)) {
            ::unlinkat(dirFd, temp.constData(), 0);
            ++restored;
        } else if (moveImpl(dirFd, temp, target, false)) {
            ++restored;
        }
    }
    ::unlinkat(dirFd, kCaseMarkerName, 0);
    return restored;
}

FolderHandle::FolderHandle(const QString& folder) {
    fd_ = ::open(encodeFileName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        error_ = errno;
}

FolderHandle::~FolderHandle() {
    if (fd_ >= 0)
        ::close(fd_);
}

RenameResult resultFromErrno(int error) {
    switch (error) {
    case 0:
        return renamed();
    case EEXIST:
    case ENOTEMPTY:
    case EISDIR:
        return {RenameStatus::NameTaken, error};
    case ENAMETOOLONG:
        return {RenameStatus::NameTooLong, error};
    case EILSEQ:
    case EINVAL:
        return {RenameStatus::NameNotAllowed, error};
    case EROFS:
        return {RenameStatus::ReadOnly, error};
    case EACCES:
    case EPERM:
    case ETXTBSY:
        return {RenameStatus::AccessDenied, error};
    case ENOENT:
    case ENOTDIR:
        return {RenameStatus::FileGone, error};
    default:
        return {RenameStatus::OtherError, error};
    }
}

} // namespace fsops

int RemoveFile(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return ENOENT;
    return ::unlink(encodeFileName(path).constData()) == 0 ? 0 : errno;
}

} // namespace tavlin
