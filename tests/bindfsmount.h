#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace tavlin::test {

// A bindfs view of a temporary folder. bindfs passes renames on without their flags
// and answers RENAME_NOREPLACE with EINVAL, so every rename there takes the link path.
// A read-only view refuses every change with EROFS, root's included.
class BindfsMount {
public:
    explicit BindfsMount(bool readOnly = false) {
        if (!QFile::exists(QStringLiteral("/dev/fuse"))) {
            m_whyNot = "/dev/fuse does not exist";
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("bindfs")).isEmpty()) {
            m_whyNot = "bindfs is not installed (scripts/deps.sh installs it)";
            return;
        }
        QDir(m_base.path()).mkdir(QStringLiteral("src"));
        QDir(m_base.path()).mkdir(QStringLiteral("mnt"));
        QProcess bindfs;
        QStringList arguments{source(), view()};
        if (readOnly)
            arguments.prepend(QStringLiteral("-r"));
        bindfs.start(QStringLiteral("bindfs"), arguments);
        if (!bindfs.waitForFinished(20000) || bindfs.exitCode() != 0) {
            m_whyNot = "bindfs could not mount: " + bindfs.readAllStandardError().trimmed();
            return;
        }
        struct stat a {};
        struct stat b {};
        m_mounted = ::stat(QFile::encodeName(source()), &a) == 0 &&
                    ::stat(QFile::encodeName(view()), &b) == 0 && a.st_dev != b.st_dev;
        if (!m_mounted)
            m_whyNot = "bindfs ran but no FUSE mount appeared";
    }
    ~BindfsMount() {
        if (m_mounted)
            QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), view()});
    }
    BindfsMount(const BindfsMount&) = delete;
    BindfsMount& operator=(const BindfsMount&) = delete;

    bool mounted() const { return m_mounted; }
    const QByteArray& whyNot() const { return m_whyNot; }
    QString source() const { return m_base.filePath(QStringLiteral("src")); }
    QString view() const { return m_base.filePath(QStringLiteral("mnt")); }

private:
    QTemporaryDir m_base;
    bool m_mounted = false;
    QByteArray m_whyNot;
};

} // namespace tavlin::test
