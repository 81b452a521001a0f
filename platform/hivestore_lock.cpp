#include "platform/hivestore_lock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include "platform/regularfile.h"

namespace tavlin::hivestore {

namespace {

std::error_code errorOf(int error) {
    return std::error_code(error, std::generic_category());
}

// True when the name still holds the file open on `fd`: a holder that lets go removes the
// name first, so a flock won on a file the name no longer holds is worth nothing.
bool nameHolds(const QByteArray& native, int fd) {
    struct stat byName {};
    struct stat open {};
    return ::lstat(native.constData(), &byName) == 0 && ::fstat(fd, &open) == 0 &&
           byName.st_dev == open.st_dev && byName.st_ino == open.st_ino;
}

QByteArray holderText() {
    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QStringLiteral("tavlin");
    return QByteArray::number(qint64(::getpid())) + '\n' + program.toUtf8() + '\n' +
           QSysInfo::machineHostName().toUtf8() + '\n';
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

HiveLock::~HiveLock() {
    if (fd_ < 0)
        return;
    // The name goes before the flock, so whoever wins the flock next finds it gone.
    if (nameHolds(native_, fd_))
        ::unlink(native_.constData());
    ::close(fd_);
}

std::error_code HiveLock::acquire(const QString& lockPath, std::chrono::milliseconds wait,
                                  std::chrono::milliseconds longest) {
    native_ = QFile::encodeName(lockPath);
    const QDeadlineTimer last(longest);
    QDeadlineTimer deadline(wait);
    const auto busy = [] { return std::make_error_code(std::errc::resource_unavailable_try_again); };
    // Short pauses: a save holds the lock for a few milliseconds, and another process that
    // saves again and again leaves it free only for moments between its saves.
    int pause = 1;
    for (bool first = true;; first = false) {
        // Another process taking or letting go of the lock at the same moment makes a try
        // start again; the deadlines bound that too.
        if (!first && (deadline.hasExpired() || last.hasExpired()))
            return busy();
        bool created = true;
        int fd = ::open(native_.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0644);
        if (fd < 0) {
            if (errno != EEXIST)
                return errorOf(errno);
            created = false;
            fd = openRegularFileAt(AT_FDCWD, native_.constData(), false);
            if (fd < 0) {
                if (errno == ENOENT || errno == ESTALE)
                    continue;
                if (errno == EISDIR || errno == EINVAL)
                    return std::make_error_code(std::errc::is_a_directory);
                return errorOf(errno);
            }
        }
        bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK) {
            const int error = errno;
            ::close(fd);
            return errorOf(error);
        }
        // A live holder: wait while it keeps this file. The file open here cannot be reused
        // for another, so when the name stops holding it the holder has let go: that is
        // progress, and the wait for the next holder starts afresh (up to `longest` in all).
        while (!locked && nameHolds(native_, fd)) {
            if (deadline.hasExpired() || last.hasExpired()) {
                ::close(fd);
                return busy();
            }
            QThread::msleep(pause);
            pause = std::min(pause * 2, 4);
            locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (!locked && errno != EWOULDBLOCK) {
                const int error = errno;
                ::close(fd);
                return errorOf(error);
            }
        }
        if (!locked || !nameHolds(native_, fd)) {
            ::close(fd);
            if (!locked)
                deadline = QDeadlineTimer(wait);
            continue;
        }
        if (!created) {
            // Left behind by a process that ended while it held the lock: removed under its
            // flock, so no one else can be taking it at the same time. A flag that forbids
            // removal (chattr +i or +a) means it can never be taken.
            const int error = ::unlink(native_.constData()) == 0 ? 0 : errno;
            ::close(fd);
            if (error)
                return errorOf(error);
            continue;
        }
        // Who holds it; a full disk refuses even these few bytes, and is known here.
        errno = 0;
        if (!writeAll(fd, holderText())) {
            const int error = errno ? errno : ENOSPC;
            ::unlink(native_.constData());
            ::close(fd);
            return errorOf(error);
        }
        fd_ = fd;
        return {};
    }
}

} // namespace tavlin::hivestore
