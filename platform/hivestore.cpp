#include "platform/hivestore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>

#include "platform/hivestore_text.h"

namespace tavlin::hivestore {

namespace {

// Rights that change a key: set value, create subkey, create link, delete, write DAC/owner.
constexpr std::uint32_t kWriteRights = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;
constexpr qsizetype kMaxKeyNameLength = 255;

void report(const QString& message) {
    std::fprintf(stderr, "tavlin: %s\n", message.toLocal8Bit().constData());
}

// A damaged or unreadable hive is read many times in one run; say so once per cause.
void reportOnce(const QString& cause, const QString& message) {
    static std::mutex mutex;
    static std::set<QString> said;
    const std::lock_guard guard(mutex);
    if (said.insert(cause).second)
        report(message);
}

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

struct FileRead {
    bool exists = false;
    QByteArray bytes;
    std::error_code error;
};

// Reads the whole hive file; a missing file is an empty hive, anything else that stops the
// read is an error the caller must not paper over with defaults on disk.
FileRead readFile(const QString& path) {
    FileRead result;
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            result.exists = true;
            result.error = std::error_code(errno, std::generic_category());
        }
        return result;
    }
    result.exists = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        result.error = std::error_code(errno, std::generic_category());
    } else if (!S_ISREG(st.st_mode)) {
        result.error = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory
                                                                : std::errc::invalid_argument);
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                result.error = std::error_code(errno, std::generic_category());
                break;
            }
            if (n == 0)
                break;
            result.bytes.append(buffer, n);
        }
    }
    ::close(fd);
    return result;
}

// True when a save could replace the hive file: the file (if any) is readable and writable
// and its folder, or the nearest folder that exists on the way to it, takes new files.
bool canWrite(const QString& path) {
    const QByteArray file = nativePath(path);
    if (::access(file.constData(), F_OK) == 0) {
        if (::access(file.constData(), R_OK | W_OK) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    QString dir = QFileInfo(path).absolutePath();
    for (;;) {
        const QByteArray native = nativePath(dir);
        if (::access(native.constData(), F_OK) == 0)
            return ::access(native.constData(), W_OK | X_OK) == 0;
        if (errno != ENOENT)
            return false;
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir)
            return false;
        dir = parent;
    }
}

// Makes the rename of a replaced file durable: without this a power cut can bring back the
// old directory entry.
void syncFolder(const QString& dir) {
    const int fd = ::open(nativePath(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

struct HiveSnapshot {
    HiveTree tree;
    bool unreadable = false;
};

void reportUnreadable(const QString& path, const std::error_code& error) {
    reportOnce(QStringLiteral("unreadable:") + path,
               QStringLiteral("%1 cannot be read (%2); running with default settings, which "
                              "will not be saved")
                   .arg(QDir::toNativeSeparators(path), QString::fromStdString(error.message())));
}

void reportBadLines(const QString& path, const QByteArray& bytes, const QList<int>& lines) {
    QStringList numbers;
    for (int n : lines)
        numbers.append(QString::number(n));
    reportOnce(QStringLiteral("damaged:%1:%2").arg(path).arg(qHash(bytes)),
               QStringLiteral("%1: line(s) %2 could not be read and are ignored; a copy of the "
                              "file will be kept beside it before it is next saved")
                   .arg(QDir::toNativeSeparators(path), numbers.join(QLatin1String(", "))));
}

HiveSnapshot loadHive(std::uint32_t hive) {
    HiveSnapshot snapshot;
    const QString path = hiveFilePath(hive);
    const FileRead file = readFile(path);
    if (file.error) {
        reportUnreadable(path, file.error);
        snapshot.unreadable = true;
        return snapshot;
    }
    HiveParse parse = parseHive(file.bytes, hiveName(hive));
    if (!parse.badLines.isEmpty())
        reportBadLines(path, file.bytes, parse.badLines);
    snapshot.tree = std::move(parse.tree);
    return snapshot;
}

long splitPath(const QString& path, QStringList& parts) {
    parts.clear();
    if (path.isEmpty())
        return regstatus::Success;
    parts = path.split(u'\\');
    // A single trailing backslash names the same key, as the registry allows.
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast();
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > kMaxKeyNameLength || !isStorableName(part))
            return regstatus::BadPathname;
    }
    return regstatus::Success;
}

bool acquire(QLockFile& lock) {
    lock.setStaleLockTime(int(kStaleLockAge.count()));
    QDeadlineTimer deadline(kLockWait);
    // Short pauses: a save holds the lock for a few milliseconds, and QLockFile's own waits
    // start at 100 ms.
    int pause = 1;
    for (;;) {
        if (lock.tryLock(std::chrono::milliseconds::zero()))
            return true;
        if (lock.error() != QLockFile::LockFailedError || deadline.hasExpired())
            return false;
        QThread::msleep(pause);
        pause = std::min(pause * 2, 20);
    }
}

// A kept copy of a damaged file, dated, never replacing an earlier copy.
QString keepCopy(const QString& path, const QByteArray& bytes) {
    const QString base = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = base;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = base + QStringLiteral("-%1").arg(n);
    QSaveFile out(copy);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush() ||
        ::fsync(out.handle()) != 0) {
        out.cancelWriting();
        return {};
    }
    return out.commit() ? copy : QString();
}

// Temporary files of a save that was killed before its rename. Only called under the lock,
// when no other save can be writing one.
void removeLeftovers(const QString& path) {
    const QFileInfo info(path);
    const QRegularExpression pattern(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(info.fileName())));
    const QDir dir = info.absoluteDir();
    for (const QString& name :
         dir.entryList({info.fileName() + QStringLiteral(".*")}, QDir::Files | QDir::Hidden)) {
        if (pattern.match(name).hasMatch())
            QFile::remove(dir.filePath(name));
    }
}

// The one way a hive file changes: under the lock, re-read it, apply `change` and replace it.
// `change` reports whether it changed anything; nothing is written when it did not.
long mutateHive(std::uint32_t hive, const std::function<long(HiveTree&, bool&)>& change) {
    const QString path = hiveFilePath(hive);
    if (!canWrite(path) || !QDir().mkpath(folder()))
        return regstatus::AccessDenied;
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!acquire(lock)) {
        report(QStringLiteral("%1 is locked by another process; the change was not saved")
                   .arg(QDir::toNativeSeparators(path)));
        return regstatus::AccessDenied;
    }
    const FileRead file = readFile(path);
    if (file.error) {
        reportUnreadable(path, file.error);
        return regstatus::AccessDenied;
    }
    HiveParse parse = parseHive(file.bytes, hiveName(hive));
    bool changed = false;
    if (const long status = change(parse.tree, changed); status != regstatus::Success || !changed)
        return status;

    if (!parse.badLines.isEmpty()) {
        const QString copy = keepCopy(path, file.bytes);
        if (copy.isEmpty()) {
            report(QStringLiteral("%1 has lines that could not be read and no copy of it could "
                                  "be kept; it was left as it is and the change was not saved")
                       .arg(QDir::toNativeSeparators(path)));
            return regstatus::WriteFault;
        }
        report(QStringLiteral("%1 had lines that could not be read; they were left out and the "
                              "file as it was is kept in %2")
                   .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(copy)));
    }
    removeLeftovers(path);

    QSaveFile out(path);
    const QByteArray text = serialiseHive(parse.tree, hiveName(hive));
    if (!out.open(QIODevice::WriteOnly))
        return regstatus::AccessDenied;
    if (out.write(text) != text.size() || !out.flush() || ::fsync(out.handle()) != 0) {
        out.cancelWriting();
        return regstatus::WriteFault;
    }
    if (!out.commit())
        return regstatus::WriteFault;
    syncFolder(folder());
    return regstatus::Success;
}

} // namespace

QString hiveName(std::uint32_t hive) {
    switch (hive) {
    case hkey::ClassesRoot:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case hkey::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case hkey::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    case hkey::Users:
        return QStringLiteral("HKEY_USERS");
    case hkey::CurrentConfig:
        return QStringLiteral("HKEY_CURRENT_CONFIG");
    case hkey::DynData:
        return QStringLiteral("HKEY_DYN_DATA");
    default:
        return {};
    }
}

QString folder() {
    // The XDG rule: a relative XDG_CONFIG_HOME is ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tavlin/registry");
}

QString hiveFilePath(std::uint32_t hive) {
    return folder() + u'/' + hiveName(hive) + QStringLiteral(".reg");
}

long openKey(std::uint32_t hive, const QString& path, std::uint32_t access, HiveKey& key) {
    key = HiveKey{};
    if (hiveName(hive).isEmpty())
        return regstatus::InvalidHandle;
    QStringList parts;
    if (const long status = splitPath(path, parts))
        return status;
    const HiveSnapshot snapshot = loadHive(hive);
    if (!snapshot.tree.find(parts))
        return regstatus::NotFound;
    if ((access & kWriteRights) && (snapshot.unreadable || !canWrite(hiveFilePath(hive))))
        return regstatus::AccessDenied;
    key = HiveKey{hive, parts, access, true};
    return regstatus::Success;
}

long createKey(std::uint32_t hive, const QString& path, std::uint32_t access, HiveKey& key,
               std::uint32_t* disposition) {
    key = HiveKey{};
    if (hiveName(hive).isEmpty())
        return regstatus::InvalidHandle;
    QStringList parts;
    if (const long status = splitPath(path, parts))
        return status;
    bool created = false;
    const long status = mutateHive(hive, [&](HiveTree& tree, bool& changed) {
        created = tree.create(parts);
        changed = created;
        return regstatus::Success;
    });
    if (status != regstatus::Success)
        return status;
    if (disposition)
        *disposition = created ? regdisposition::CreatedNewKey : regdisposition::OpenedExistingKey;
    key = HiveKey{hive, parts, access, true};
    return regstatus::Success;
}

long closeKey(HiveKey& key) {
    if (!key.open)
        return regstatus::InvalidHandle;
    key = HiveKey{};
    return regstatus::Success;
}

long queryValue(const HiveKey& key, const QString& name, std::uint32_t* type, QByteArray* data,
                qint64* size) {
    if (!key.open)
        return regstatus::InvalidHandle;
    if (!(key.access & regaccess::QueryValue))
        return regstatus::AccessDenied;
    const HiveSnapshot snapshot = loadHive(key.hive);
    const HiveKeyEntry* entry = snapshot.tree.find(key.path);
    if (!entry)
        return regstatus::KeyDeleted;
    const auto it = entry->values.find(foldName(name));
    if (it == entry->values.end())
        return regstatus::NotFound;
    const HiveValue& value = it->second;
    const qint64 room = size ? *size : -1;
    if (type)
        *type = value.type;
    if (size)
        *size = value.data.size();
    if (data) {
        if (room >= 0 && room < value.data.size())
            return regstatus::MoreData;
        *data = value.data;
    }
    return regstatus::Success;
}

long setValue(const HiveKey& key, const QString& name, std::uint32_t type, const QByteArray& data) {
    if (!key.open)
        return regstatus::InvalidHandle;
    if (!(key.access & regaccess::SetValue))
        return regstatus::AccessDenied;
    if (!isStorableValueName(name))
        return regstatus::InvalidParameter;
    return mutateHive(key.hive, [&](HiveTree& tree, bool& changed) {
        HiveKeyEntry* entry = tree.find(key.path);
        if (!entry)
            return regstatus::KeyDeleted;
        const QString folded = foldName(name);
        const auto it = entry->values.find(folded);
        if (it == entry->values.end()) {
            entry->values[folded] = HiveValue{name, type, data};
            changed = true;
        } else if (it->second.type != type || it->second.data != data) {
            // The name keeps the letter case it was first written with.
            it->second.type = type;
            it->second.data = data;
            changed = true;
        }
        return regstatus::Success;
    });
}

} // namespace tavlin::hivestore
