#include "viewer/folderlist.h"

#include <QDir>
#include <QKeyEvent>

#include "viewer/folderscan.h"

namespace tavlin {

namespace {
constexpr int PathRole = Qt::UserRole;

QString displayName(const QString& path) {
    const QString name = QDir(path).dirName();
    return name.isEmpty() ? path : name;
}
} // namespace

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, &FolderList::openItem);
}

bool FolderList::setPath(const QString& requested) {
    const QString path = QDir::cleanPath(QDir(requested).absolutePath());
    if (path == m_path)
        return true;
    std::error_code error;
    FolderEntries entries = scanFolder(path, error);
    if (error)
        return false;
    sortNatural(entries.folders);

    clear();
    QStringList chain;
    for (QDir dir(path);; ) {
        chain.prepend(dir.absolutePath());
        if (dir.isRoot() || !dir.cdUp())
            break;
    }
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& folder : chain) {
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + displayName(folder), this);
        item->setData(PathRole, folder);
        current = item;
        ++depth;
    }
    for (const QString& name : entries.folders) {
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(PathRole, joinPath(path, name));
    }
    setCurrentItem(current);
    m_path = path;
    Q_EMIT pathChanged();
    return true;
}

void FolderList::openItem(QListWidgetItem* item) {
    if (item)
        setPath(item->data(PathRole).toString());
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    Q_EMIT keyDown(event);
    QListWidget::keyPressEvent(event);
}

} // namespace tavlin
