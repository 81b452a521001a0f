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

bool openRegularFile(const QString& path, QFile& file, QString& error) {
#ifdef Q_OS_UNIX
    const QByteArray native = encodeFileName(path);
    struct stat before {};
    if (::stat(native.constData(), &before) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            error =
                QStringLiteral("The file %1 does not exist (any more).").arg(quotedFileName(path));
        else if (err == EACCES)
            error = QStringLiteral("Permission to read %1 is denied.").arg(quotedFileName(path));
        else
            error = QStringLiteral("%1 cannot be opened: %2.")
                        .arg(quotedFileName(path), QString::fromLocal8Bit(std::strerror(err)));
        return false;
    }
    if (S_ISDIR(before.st_mode)) {
        error = QStringLiteral("%1 is a folder, not a picture file.").arg(quotedFileName(path));
        return false;
    }
    if (!S_ISREG(before.st_mode)) {
        error = QStringLiteral("%1 is not a regular file (it is a pipe, device or socket), so it "
                               "is not read.")
                    .arg(quotedFileName(path));
        return false;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            error = QStringLiteral("Permission to read %1 is denied.").arg(quotedFileName(path));
        else if (err == ENOENT)
            error =
                QStringLiteral("The file %1 does not exist (any more).").arg(quotedFileName(path));
        else
            error = QStringLiteral("%1 cannot be opened: %2.")
                        .arg(quotedFileName(path), QString::fromLocal8Bit(std::strerror(err)));
        return false;
    }
    struct stat after {};
    if (::fstat(fd, &after) != 0 || !S_ISREG(after.st_mode) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        ::close(fd);
        error = QStringLiteral("%1 changed while it was being opened.").arg(quotedFileName(path));
        return false;
    }
    // Regular files never block; clear the flag so reads behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
