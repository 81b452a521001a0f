#include "platform/regularfile.h"

#include <cerrno>
#include <cstring>

#include <QFile>
#include <QFileInfo>

#include "platform/filenames.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tavlin {

QString quotedFileName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return QStringLiteral("\u201c%1\u201d").arg(name.isEmpty() ? path : name);
}

#ifdef Q_OS_UNIX
int openRegularFileAt(int dirFd, const char* name, bool followLinks) {
    struct stat before {};
    if (::fstatat(dirFd, name, &before, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!S_ISREG(before.st_mode)) {
        errno = S_ISDIR(before.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    const int fd = ::openat(dirFd, name,
                            O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        // A link put in the file's place since it was looked at.
        if (!followLinks && errno == ELOOP)
            errno = ESTALE;
        return -1;
    }
    struct stat after {};
    if (::fstat(fd, &after) != 0 || !S_ISREG(after.st_mode) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        ::close(fd);
        errno = ESTALE;
        return -1;
    }
    // Regular files never block; clear the flag so reads behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

namespace {
QString openProblem(const QString& path, int err) {
    const QString name = quotedFileName(path);
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("The file %1 does not exist (any more).").arg(name);
    case EACCES:
    case EPERM:
        return QStringLiteral("Permission to read %1 is denied.").arg(name);
    case EISDIR:
        return QStringLiteral("%1 is a folder, not a picture file.").arg(name);
    case EINVAL:
        return QStringLiteral("%1 is not a regular file (it is a pipe, device or socket), so it "
                              "is not read.")
            .arg(name);
    case ESTALE:
        return QStringLiteral("%1 changed while it was being opened.").arg(name);
    default:
        return QStringLiteral("%1 cannot be opened: %2.")
            .arg(name, QString::fromLocal8Bit(std::strerror(err)));
    }
}
} // namespace
#endif

bool openRegularFile(const QString& path, QFile& file, QString& error) {
#ifdef Q_OS_UNIX
    const int fd = openRegularFileAt(AT_FDCWD, encodeFileName(path).constData());
    if (fd < 0) {
        error = openProblem(path, errno);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("%1 cannot be opened: %2.")
                    .arg(quotedFileName(path), file.errorString());
        return false;
    }
    return true;
#else
    const QFileInfo info(path);
    if (!info.exists()) {
        error = QStringLiteral("The file %1 does not exist (any more).").arg(quotedFileName(path));
        return false;
    }
    if (info.isDir()) {
        error = QStringLiteral("%1 is a folder, not a picture file.").arg(quotedFileName(path));
        return false;
    }
    if (!info.isFile()) {
        error = QStringLiteral("%1 is not a regular file, so it is not read.")
                    .arg(quotedFileName(path));
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1 cannot be opened: %2.")
                    .arg(quotedFileName(path), file.errorString());
        return false;
    }
    return true;
#endif
}

} // namespace tavlin
