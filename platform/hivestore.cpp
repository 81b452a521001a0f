#include "platform/hivestore.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "platform/filestamp.h"
#include "platform/hivestore_lock.h"
#include "platform/hivestore_text.h"
#include "platform/regularfile.h"
#include "platform/report.h"

namespace tavlin::hivestore {

namespace {

// Rights that change a key: set value, create subkey, create link, delete, write DAC/owner.
constexpr std::uint32_t kWriteRights = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;

// A damaged or unsaveable hive is met many times in one run; say each thing once.
void reportOnce(const QString& message) {
    static std::mutex mutex;
    static std::set<QString> said;
    const std::lock_guard guard(mutex);
    if (said.insert(message).second)
        reportProblem(message);
}

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString describe(const std::error_code& error) {
    return QString::fromStdString(error.message());
}

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads the open hive file through the streaming reader: one pass, memory bounded by what
// the file validly holds, however large or strange it is.
std::error_code parseFd(int fd, const QString& hive, HiveParse& parse) {
    HiveReader reader(hive);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return lastError();
        if (n == 0)
            break;
        reader.feed(buffer.data(), n);
    }
    parse = reader.finish();
    return {};
}

struct HiveSnapshot {
    HiveTree tree;
    bool unreadable = false;
};

// The hive as last read, per file: a start reads the file once however many values it asks
// for, and reads it again only when another process has replaced or changed it (a save
// replaces the file, an edit in place changes its times or size).
class HiveCache {
public:
    std::shared_ptr<const HiveSnapshot> find(const QString& path, const FileStamp& id) {
        const std::lock_guard guard(mutex_);
        const auto it = entries_.find(path);
        return it != entries_.end() && it->second.id == id ? it->second.snapshot : nullptr;
    }
    void put(const QString& path, const FileStamp& id, std::shared_ptr<const HiveSnapshot> snapshot) {
        const std::lock_guard guard(mutex_);
        entries_.insert_or_assign(path, Entry{id, std::move(snapshot)});
    }
    void forget(const QString& path) {
        const std::lock_guard guard(mutex_);
        entries_.erase(path);
    }

private:
    struct Entry {
        FileStamp id;
        std::shared_ptr<const HiveSnapshot> snapshot;
    };
    std::mutex mutex_;
    std::map<QString, Entry> entries_;
};

HiveCache& cache() {
    static HiveCache instance;
    return instance;
}

// Why a save could not replace the hive file, or no error when it could: the file (if any)
// must be readable and writable and its folder, or the nearest folder that exists on the way
// to it, must take new files.
std::error_code writeBlocker(const QString& path) {
    const QByteArray file = nativePath(path);
    if (::access(file.constData(), F_OK) == 0) {
        if (::access(file.constData(), R_OK | W_OK) != 0)
            return lastError();
    } else if (errno != ENOENT) {
        return lastError();
    }
    QString dir = QFileInfo(path).absolutePath();
    for (;;) {
        const QByteArray native = nativePath(dir);
        if (::access(native.constData(), F_OK) == 0)
            return ::access(native.constData(), W_OK | X_OK) == 0 ? std::error_code() : lastError();
        if (errno != ENOENT)
            return lastError();
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir)
            return std::make_error_code(std::errc::no_such_file_or_directory);
        dir = parent;
    }
}

bool canWrite(const QString& path) {
    return !writeBlocker(path);
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

void reportUnreadable(const QString& path, const std::error_code& error) {
    reportOnce(QStringLiteral("%1 cannot be read (%2); running with default settings, which "
                              "will not be saved")
                   .arg(shown(path), describe(error)));
}

void reportBadLines(const QString& path, const HiveParse& parse) {
    QStringList numbers;
    for (qint64 n : parse.badLines)
        numbers.append(QString::number(n));
    if (parse.badLineCount > parse.badLines.size())
        numbers.append(
            QStringLiteral("and %1 more").arg(parse.badLineCount - parse.badLines.size()));
    QString message =
        QStringLiteral("%1: line(s) %2 could not be read and are ignored; a copy of the "
                       "file will be kept beside it before it is next saved")
            .arg(shown(path), numbers.join(QLatin1String(", ")));
    if (parse.oversizedValues > 0)
        message += QStringLiteral(" (%1 value(s) larger than %2 bytes were refused)")
                       .arg(parse.oversizedValues)
                       .arg(limits::maxValueBytes);
    if (parse.tooDeepKeys > 0)
        message += QStringLiteral(" (%1 key(s) nested deeper than %2 levels were left out)")
                       .arg(parse.tooDeepKeys)
                       .arg(limits::maxDepth);
    reportOnce(message);
}

// Opens the hive file for reading; `st` describes it. A file that is not there yet is an
// empty hive: -1 and no error. Only a regular file is read, and the open never waits: a
// pipe put in the file's place would block it for ever. Whichever file the name holds when
// it is opened is read, so a save by another process at the same moment gives the old or
// the new file, never an error.
int openHiveFile(const QByteArray& native, struct stat& st, std::error_code& error) {
    for (int attempt = 0;; ++attempt) {
        const int fd = openRegularFileAt(AT_FDCWD, native.constData());
        if (fd >= 0) {
            if (::fstat(fd, &st) == 0)
                return fd;
            error = lastError();
            ::close(fd);
            return -1;
        }
        // Replaced by a save between the look and the open: the new file is read.
        if (errno == ESTALE && attempt < 3)
            continue;
        if (errno != ENOENT)
            error = lastError();
        return -1;
    }
}

std::shared_ptr<const HiveSnapshot> loadHive(std::uint32_t hive) {
    const QString path = hiveFilePath(hive);
    const QByteArray native = nativePath(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (auto cached = cache().find(path, fileStampOf(st)))
            return cached;
    }
    auto snapshot = std::make_shared<HiveSnapshot>();
    std::error_code error;
    const Fd fd(openHiveFile(native, st, error));
    if (fd.get() < 0 && !error)
        return snapshot;
    HiveParse parse;
    if (!error)
        error = parseFd(fd.get(), hiveName(hive), parse);
    if (error) {
        reportUnreadable(path, error);
        snapshot->unreadable = true;
        return snapshot;
    }
    if (parse.badLineCount > 0)
        reportBadLines(path, parse);
    snapshot->tree = std::move(parse.tree);
    cache().put(path, fileStampOf(st), snapshot);
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
    if (parts.size() > limits::maxDepth)
        return regstatus::BadPathname;
    for (const QString& part : parts) {
        if (!isStorableName(part))
            return regstatus::BadPathname;
    }
    return regstatus::Success;
}

void reportLockProblem(const QString& path, const QString& lockPath, const std::error_code& error) {
    if (error == std::errc::resource_unavailable_try_again)
        reportProblem(QStringLiteral("%1 is locked by another process; the change was not saved")
                          .arg(shown(path)));
    else if (error == std::errc::is_a_directory)
        reportOnce(QStringLiteral("%1 is in the way of the settings lock (it is not a lock file); "
                                  "settings cannot be saved until it is removed")
                       .arg(shown(lockPath)));
    else
        reportOnce(QStringLiteral("the settings lock %1 cannot be taken (%2); the change was not "
                                  "saved")
                       .arg(shown(lockPath), describe(error)));
}

// Copies the damaged file, as read from `fd`, to a dated copy that never replaces an
// earlier one.
QString keepCopy(const QString& path, int fd) {
    const QString base = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString copy = base;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = base + QStringLiteral("-%1").arg(n);
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return {};
    QSaveFile out(copy);
    if (!out.open(QIODevice::WriteOnly))
        return {};
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && out.write(buffer.data(), n) != n)) {
            out.cancelWriting();
            return {};
        }
        if (n == 0)
            break;
    }
    if (!out.flush() || ::fsync(out.handle()) != 0) {
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

long saveFailed(const QString& path, const QString& cause) {
    reportProblem(QStringLiteral("%1 could not be saved (%2); the change was not saved")
                      .arg(shown(path), cause));
    return regstatus::WriteFault;
}

// The one way a hive file changes: under the lock, read it once, apply `change` and replace
// it in one write and one sync. `change` reports whether it changed anything; nothing is
// written when it did not.
long mutateHive(std::uint32_t hive, const std::function<long(HiveTree&, bool&)>& change) {
    const QString path = hiveFilePath(hive);
    if (!canWrite(path) || !QDir().mkpath(folder()))
        return regstatus::AccessDenied;
    const QString lockPath = path + QStringLiteral(".lock");
    HiveLock lock;
    if (const std::error_code error = lock.acquire(lockPath, kLockWait, kLockWaitInTurn)) {
        reportLockProblem(path, lockPath, error);
        return regstatus::AccessDenied;
    }
    const QByteArray native = nativePath(path);
    std::error_code error;
    struct stat st {};
    const Fd fd(openHiveFile(native, st, error));
    HiveParse parse;
    if (fd.get() >= 0)
        error = parseFd(fd.get(), hiveName(hive), parse);
    if (error) {
        reportUnreadable(path, error);
        return regstatus::AccessDenied;
    }
    bool changed = false;
    if (const long status = change(parse.tree, changed); status != regstatus::Success || !changed)
        return status;

    if (parse.badLineCount > 0) {
        const QString copy = keepCopy(path, fd.get());
        if (copy.isEmpty()) {
            reportProblem(
                QStringLiteral("%1 has lines that could not be read and no copy of it could "
                               "be kept; it was left as it is and the change was not saved")
                    .arg(shown(path)));
            return regstatus::WriteFault;
        }
        reportProblem(
            QStringLiteral("%1 had lines that could not be read; they were left out and the "
                           "file as it was is kept in %2")
                .arg(shown(path), shown(copy)));
    }
    removeLeftovers(path);

    QSaveFile out(path);
    const QByteArray text = serialiseHive(parse.tree, hiveName(hive));
    if (!out.open(QIODevice::WriteOnly))
        return saveFailed(path, out.errorString());
    if (out.write(text) != text.size() || !out.flush()) {
        const QString cause = out.errorString();
        out.cancelWriting();
        return saveFailed(path, cause);
    }
    if (::fsync(out.handle()) != 0) {
        const std::error_code syncError = lastError();
        out.cancelWriting();
        return saveFailed(path, describe(syncError));
    }
    if (!out.commit())
        return saveFailed(path, out.errorString());
    syncFolder(folder());
    // What was just written is what the next read would find.
    if (::stat(native.constData(), &st) == 0) {
        auto snapshot = std::make_shared<HiveSnapshot>();
        snapshot->tree = std::move(parse.tree);
        cache().put(path, fileStampOf(st), std::move(snapshot));
    } else {
        cache().forget(path);
    }
    return regstatus::Success;
}

long applyValue(HiveKeyEntry& entry, const HiveValue& value, bool& changed) {
    const QString folded = foldName(value.name);
    const auto it = entry.values.find(folded);
    if (it == entry.values.end()) {
        entry.values[folded] = value;
        changed = true;
    } else if (it->second.type != value.type || it->second.data != value.data) {
        // The name keeps the letter case it was first written with.
        it->second.type = value.type;
        it->second.data = value.data;
        changed = true;
    }
    return regstatus::Success;
}

long checkValue(const HiveValue& value) {
    if (!isStorableValueName(value.name))
        return regstatus::InvalidParameter;
    if (value.data.size() > limits::maxValueBytes) {
        reportProblem(
            QStringLiteral("the value \"%1\" is %2 bytes, more than the %3 a value may hold; "
                           "it was not saved")
                .arg(value.name.left(80))
                .arg(value.data.size())
                .arg(limits::maxValueBytes));
        return regstatus::InvalidParameter;
    }
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
    const auto snapshot = loadHive(hive);
    if (!snapshot->tree.find(parts))
        return regstatus::NotFound;
    if ((access & kWriteRights) && (snapshot->unreadable || !canWrite(hiveFilePath(hive))))
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
    const auto snapshot = loadHive(key.hive);
    const HiveKeyEntry* entry = snapshot->tree.find(key.path);
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
    return setValues(key, {HiveValue{name, type, data}});
}

long setValues(const HiveKey& key, const std::vector<HiveValue>& values) {
    if (!key.open)
        return regstatus::InvalidHandle;
    if (!(key.access & regaccess::SetValue))
        return regstatus::AccessDenied;
    for (const HiveValue& value : values) {
        if (const long status = checkValue(value))
            return status;
    }
    return mutateHive(key.hive, [&](HiveTree& tree, bool& changed) {
        HiveKeyEntry* entry = tree.find(key.path);
        if (!entry)
            return regstatus::KeyDeleted;
        for (const HiveValue& value : values)
            applyValue(*entry, value, changed);
        return regstatus::Success;
    });
}

QString saveProblem(std::uint32_t hive) {
    const QString path = hiveFilePath(hive);
    if (const std::error_code error = writeBlocker(path))
        return QStringLiteral("settings cannot be saved: %1 cannot be written (%2)")
            .arg(shown(QFileInfo::exists(path) ? path : folder()), describe(error));
    const QString lockPath = path + QStringLiteral(".lock");
    struct stat st {};
    if (::lstat(nativePath(lockPath).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return QStringLiteral("settings cannot be saved: %1 is in the way of the settings lock")
            .arg(shown(lockPath));
    return {};
}

} // namespace tavlin::hivestore
