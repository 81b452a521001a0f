#pragma once

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "platform/hivestore.h"
#include "platform/hivestore_text.h"

namespace tavlin::test {

// Points the store at a fresh, empty configuration folder for the life of the object.
class TempConfigHome {
public:
    TempConfigHome()
        : saved_(qgetenv("XDG_CONFIG_HOME")),
          hadValue_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
        qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    }
    ~TempConfigHome() {
        if (hadValue_)
            qputenv("XDG_CONFIG_HOME", saved_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
    bool hadValue_;
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

} // namespace tavlin::test
