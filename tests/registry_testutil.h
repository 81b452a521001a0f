#pragma once

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "platform/hivestore.h"
#include "platform/hivestore_text.h"
#include "registry/registrymanager.h"
#include "registry/settings.h"

namespace tavlin::test {

// Points the store at a fresh, empty configuration folder for the life of the object, and
// the desktop's Trash at a fresh data folder inside it ("data"), so no test fills the
// user's own Trash.
class TempConfigHome {
public:
    // `base`, when given, is the folder to make the temporary one in (e.g. a RAM disk for
    // tests that write hundreds of megabytes).
    explicit TempConfigHome(const QString& base = QString())
        : dir_(base.isEmpty() ? QTemporaryDir()
                              : QTemporaryDir(base + QStringLiteral("/tavlin-XXXXXX"))),
          saved_(qgetenv("XDG_CONFIG_HOME")),
          hadValue_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
          savedData_(qgetenv("XDG_DATA_HOME")),
          hadData_(qEnvironmentVariableIsSet("XDG_DATA_HOME")) {
        qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (dir_.path() + QStringLiteral("/data")).toLocal8Bit());
    }
    ~TempConfigHome() {
        if (hadValue_)
            qputenv("XDG_CONFIG_HOME", saved_);
        else
            qunsetenv("XDG_CONFIG_HOME");
        if (hadData_)
            qputenv("XDG_DATA_HOME", savedData_);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
    bool hadValue_;
    QByteArray savedData_;
    bool hadData_;
};

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString hiveFile(std::uint32_t hive = hkey::CurrentUser) {
    return hivestore::hiveFilePath(hive);
}

// Makes a file unwritable even for root (chattr +i) and undoes it on destruction. Without
// root, plain mode bits do. `ok()` is false where neither works (e.g. a file system without
// the immutable flag), and the caller skips.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& path) : path_(path) {
        if (::geteuid() != 0) {
            ok_ =
                QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            return;
        }
        immutable_ = ok_ =
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
    }
    ~ReadOnlyFile() {
        if (immutable_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        else if (ok_)
            QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool ok() const { return ok_; }

private:
    QString path_;
    bool ok_ = false;
    bool immutable_ = false;
};

// Bytes this process has read and written through system calls so far (/proc/self/io), to
// count how often a test makes the store read or write a file. `ok` is false where the
// kernel does not keep the counts.
struct IoCounts {
    bool ok = false;
    qint64 read = 0;
    qint64 written = 0;
};
inline IoCounts ioCounts() {
    QFile file(QStringLiteral("/proc/self/io"));
    IoCounts counts;
    if (!file.open(QIODevice::ReadOnly))
        return counts;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            counts.read = line.mid(7).toLongLong(&counts.ok);
        else if (line.startsWith("wchar: "))
            counts.written = line.mid(7).toLongLong();
    }
    return counts;
}

// Writes text values under the program's settings key, as an earlier run or a person editing
// the store would have.
inline void storeSettings(const std::map<QString, QString>& values) {
    RegistryManager rm;
    rm.setUseAutoAppSubKeys(true);
    rm.setCompanyName(QStringLiteral("Zan"));
    rm.setApplication(QStringLiteral("Tavlin"));
    rm.CreateSubKey();
    for (const auto& [name, text] : values)
        ASSERT_TRUE(rm.WriteValue(name, text, regtype::Sz)) << name.toStdString();
}

// Stores `folder` as the last folder, as an earlier run would have.
inline void rememberFolder(const QString& folder) {
    Settings s = LoadRegistrySettings(folder);
    s.lastDirectory = folder;
    ASSERT_TRUE(SaveRegistrySettings(s));
}

// A small tmpfs at a new folder, to fill up; `whyNot()` says why it could not be mounted
// (mounting needs root or CAP_SYS_ADMIN), and the caller skips.
class SmallTmpfs {
public:
    explicit SmallTmpfs(const QString& path, const char* size = "size=64k") : path_(path) {
        if (!QDir().mkpath(path))
            whyNot_ = "cannot make the mount point";
        else if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, size) != 0)
            whyNot_ = std::string("mounting a tmpfs is not allowed here: ") + std::strerror(errno);
        else
            mounted_ = true;
    }
    ~SmallTmpfs() {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return whyNot_; }
    // Writes a file until the file system has no room left.
    void fill() const {
        QFile file(path_ + QStringLiteral("/filler"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(4096, 'f');
        while (file.write(block) == block.size()) {
        }
    }

private:
    QString path_;
    bool mounted_ = false;
    std::string whyNot_;
};

} // namespace tavlin::test
