#include "fileops/trash.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDateTime>

#include "fileops/rename.h"
#include "platform/filenames.h"

namespace tavlin {

namespace {

QByteArray parentOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A folder made for the Trash, or one already there: a real folder (not a link to one)
// that this user owns.
int ensureTrashFolder(const QByteArray& path) {
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return ENOTDIR;
    return 0;
}

// The user's own Trash folder and the folders above it, made as needed.
int ensureHomeTrash(const QByteArray& trash) {
    const QByteArray parent = parentOf(trash);
    struct stat st {};
    if (::stat(parent.constData(), &st) != 0) {
        if (errno != ENOENT)
            return errno;
        if (const int error = ensureHomeTrash(parent))
            return error;
    }
    if (::mkdir(trash.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

// The device of the nearest folder at or above `path` that exists.
bool deviceOfNearest(QByteArray path, dev_t& device) {
    for (;;) {
        struct stat st {};
        if (::stat(path.constData(), &st) == 0) {
            device = st.st_dev;
            return true;
        }
        if (path == "/")
            return false;
        path = parentOf(path);
    }
}

// The top folder of the file system that holds `folder` (on device `device`).
QByteArray topOf(QByteArray folder, dev_t device) {
    while (folder != "/") {
        const QByteArray parent = parentOf(folder);
        struct stat st {};
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        folder = parent;
    }
    return folder;
}

QByteArray homeTrashPath() {
    QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !dataHome.startsWith('/'))
        dataHome = qgetenv("HOME") + "/.local/share";
    return dataHome + "/Trash";
}

// A name for the file in the Trash, the file's own unless taken: "photo.jpg", then
// "photo 2.jpg", "photo 3.jpg" and so on. Names too long for the file system once
// ".trashinfo" is added are cut (at a whole UTF-8 character where the name has them).
QByteArray candidateName(const QByteArray& name, int n, int room) {
    const qsizetype dot = name.lastIndexOf('.');
    QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray ending = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray counter = n > 1 ? " " + QByteArray::number(n) : QByteArray();
    const qsizetype spare = room - ending.size() - counter.size();
    if (stem.size() > spare) {
        qsizetype cut = std::max<qsizetype>(spare, 1);
        while (cut > 1 && (std::uint8_t(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.truncate(cut);
    }
    return stem + counter + ending;
}

// Moves `file` into the Trash folder `trash`; `recorded` is the path the Trash keeps for it
// (absolute for the home Trash, from the top of its file system for the others).
TrashResult moveInto(const QByteArray& file, const QByteArray& trash, const QByteArray& recorded) {
    TrashResult result;
    const QByteArray files = trash + "/files";
    const QByteArray info = trash + "/info";
    for (const QByteArray& folder : {files, info}) {
        if (const int error = ensureTrashFolder(folder)) {
            result.error = error;
            result.problem = errorText(error);
            return result;
        }
    }
    const QByteArray name = file.mid(file.lastIndexOf('/') + 1);
    const long limit = ::pathconf(info.constData(), _PC_NAME_MAX);
    const int room = int(limit > 0 ? limit : 255) - int(sizeof ".trashinfo" - 1);
    const QByteArray text =
        "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray trashed = candidateName(name, n, room);
        const QByteArray infoPath = info + '/' + trashed + ".trashinfo";
        // The info file claims the name: made only if no other file holds it.
        const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            result.error = errno;
            result.problem = errorText(errno);
            return result;
        }
        const QByteArray target = files + '/' + trashed;
        struct stat st {};
        if (::lstat(target.constData(), &st) == 0) { // left without its info file
            ::close(fd);
            ::unlink(infoPath.constData());
            continue;
        }
        int writeError = fsops::writeAll(fd, text);
        if (writeError == 0 && ::fsync(fd) != 0)
            writeError = errno;
        const bool written = writeError == 0;
        ::close(fd);
        if (!written) {
            ::unlink(infoPath.constData());
            result.error = writeError ? writeError : EIO;
            result.problem = errorText(result.error);
            return result;
        }
        if (::rename(file.constData(), target.constData()) != 0) {
            result.error = errno;
            result.problem = errorText(errno);
            ::unlink(infoPath.constData());
            return result;
        }
        result.trashedAs = target;
        return result;
    }
    result.error = EEXIST;
    result.problem = QStringLiteral("the Trash holds too many files of this name");
    return result;
}

} // namespace

TrashResult MoveToTrash(const QString& path) {
    TrashResult result;
    const QByteArray file = encodeFileName(path);
    struct stat st {};
    if (!file.startsWith('/') || ::lstat(file.constData(), &st) != 0) {
        result.error = file.startsWith('/') ? errno : EINVAL;
        result.problem = errorText(result.error);
        return result;
    }

    // A read-only file system lets the file go nowhere, and says more than the Trash would.
    struct statvfs fs {};
    if (::statvfs(parentOf(file).constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) {
        result.error = EROFS;
        result.problem = fsops::resultFromErrno(EROFS).describe();
        return result;
    }

    // The home Trash, when the file lies on its file system.
    const QByteArray home = homeTrashPath();
    dev_t homeDevice = 0;
    if (deviceOfNearest(home, homeDevice) && homeDevice == st.st_dev) {
        if (const int error = ensureHomeTrash(home)) {
            result.error = error;
            result.problem = errorText(error);
            return result;
        }
        return moveInto(file, home, file);
    }

    // Else the Trash at the top of the file's own file system.
    const QByteArray top = topOf(parentOf(file), st.st_dev);
    const QByteArray recorded = top == "/" ? file : file.mid(top.size() + 1);
    const QByteArray uid = QByteArray::number(qulonglong(::getuid()));
    const QByteArray shared = (top == "/" ? QByteArray() : top) + "/.Trash";
    struct stat sharedSt {};
    // A shared Trash counts only when an administrator made it a sticky folder, not a link.
    if (::lstat(shared.constData(), &sharedSt) == 0 && S_ISDIR(sharedSt.st_mode) &&
        (sharedSt.st_mode & S_ISVTX)) {
        const QByteArray own = shared + '/' + uid;
        if (ensureTrashFolder(own) == 0)
            return moveInto(file, own, recorded);
    }
    const QByteArray own = (top == "/" ? QByteArray() : top) + "/.Trash-" + uid;
    if (const int error = ensureTrashFolder(own)) {
        result.error = error;
        result.problem =
            QStringLiteral("no Trash can be made on its drive (%1)").arg(errorText(error));
        return result;
    }
    return moveInto(file, own, recorded);
}

} // namespace tavlin
