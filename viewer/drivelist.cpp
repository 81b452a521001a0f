#include "viewer/drivelist.h"

#include <QDir>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStorageInfo>

#include <algorithm>

namespace tavlin {

namespace {
bool isPseudoFileSystem(const QByteArray& type) {
    static const QByteArrayList pseudo = {
        "proc",    "sysfs",     "devtmpfs", "devpts",     "cgroup",  "cgroup2",   "securityfs",
        "pstore",  "debugfs",   "tracefs",  "configfs",   "fusectl", "mqueue",    "hugetlbfs",
        "bpf",     "autofs",    "binfmt_misc", "tmpfs",   "ramfs",   "efivarfs",  "rpc_pipefs",
        "nsfs",    "squashfs",  "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal"};
    return pseudo.contains(type);
}

bool isUnder(const QString& path, const QString& root) {
    if (root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}
} // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    refreshVolumes();
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            select(itemText(index), true);
    });
}

QStringList DriveList::volumeRoots() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || isPseudoFileSystem(volume.fileSystemType()))
            continue;
        if (!roots.contains(volume.rootPath()))
            roots.append(volume.rootPath());
    }
    if (!roots.contains(QDir::rootPath()))
        roots.prepend(QDir::rootPath());
    std::sort(roots.begin(), roots.end());
    return roots;
}

QString DriveList::driveOf(const QString& path, const QStringList& roots) {
    QString best;
    for (const QString& root : roots)
        if (isUnder(path, root) && root.size() > best.size())
            best = root;
    return best.isEmpty() ? QDir::rootPath() : best;
}

void DriveList::refreshVolumes() {
    const QSignalBlocker blocker(this);
    clear();
    const QStringList roots = volumeRoots();
    addItems(roots);
    if (!m_drive.isEmpty() && !roots.contains(m_drive))
        addItem(m_drive);
    setCurrentIndex(findText(m_drive));
}

void DriveList::setDrive(const QString& path) {
    const QStringList roots = volumeRoots();
    select(driveOf(QDir::cleanPath(path), roots), true);
}

void DriveList::revertTo(const QString& drive) { select(drive, false); }

void DriveList::select(const QString& root, bool notify) {
    {
        const QSignalBlocker blocker(this);
        int index = findText(root);
        if (index < 0) {
            addItem(root);
            index = count() - 1;
        }
        setCurrentIndex(index);
    }
    if (root == m_drive)
        return;
    m_drive = root;
    if (notify)
        Q_EMIT driveChanged();
}

void DriveList::keyPressEvent(QKeyEvent* event) {
    Q_EMIT keyDown(event);
    QComboBox::keyPressEvent(event);
}

void DriveList::showPopup() {
    refreshVolumes();
    QComboBox::showPopup();
}

} // namespace tavlin
