#include "platform/hivestore_lock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include "platform/hivestore.h"

namespace tavlin::hivestore {

namespace {

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

qint64 ageMs(const struct stat& st) {
    const qint64 modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return QDateTime::currentMSecsSinceEpoch() - modified;
}

// True when the file carries the immutable or append-only flag, which even root must clear
// before the file can be removed.
bool cannotBeRemoved(const QByteArray& native) {
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool got = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return got && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
}

// Takes the lock, or says why it cannot be had. A lock that can never be taken (the lock's
// name is a folder, a left-behind lock that cannot be removed, a folder that takes no new
// file) is known after the first try; only a live holder is waited for.
} // namespace

std::error_code acquireLock(QLockFile& lock, const QString& lockPath) {
    lock.setStaleLockTime(int(kStaleLockAge.count()));
    const QByteArray native = QFile::encodeName(lockPath);
    QDeadlineTimer deadline(kLockWait);
    // Short pauses: a save holds the lock for a few milliseconds, and QLockFile's own waits
    // start at 100 ms.
    int pause = 1;
    for (;;) {
        if (lock.tryLock(std::chrono::milliseconds::zero()))
            return {};
        struct stat st {};
        if (lock.error() == QLockFile::LockFailedError) {
            if (::lstat(native.constData(), &st) == 0) {
                if (!S_ISREG(st.st_mode))
                    return std::make_error_code(std::errc::is_a_directory);
                // Old enough that QLockFile has taken it for left behind and tried to remove
                // it: a flag that forbids removal means it never will.
                if (ageMs(st) > 2 * kStaleLockAge.count() && cannotBeRemoved(native))
                    return std::make_error_code(std::errc::operation_not_permitted);
            }
        } else {
            // The lock file could not be made: try it ourselves to learn the cause.
            // A lock file holds a line or two; a full disk refuses even that.
            const int fd =
                ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                static constexpr char probe[64] = {};
                const bool written = ::write(fd, probe, sizeof probe) == ssize_t(sizeof probe);
                const std::error_code writeError = written ? std::error_code() : lastError();
                ::close(fd);
                ::unlink(native.constData());
                if (writeError)
                    return writeError;
            } else if (errno != EEXIST) {
                return lastError();
            }
        }
        if (deadline.hasExpired())
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        QThread::msleep(pause);
        pause = std::min(pause * 2, 20);
    }
}

} // namespace tavlin::hivestore
