#include "viewer/folderlist.h"

#include <QKeyEvent>

#include "platform/filenames.h"

namespace tavlin {

namespace {
constexpr int PathRole = Qt::UserRole;

// The ancestors of a clean absolute path from the root down, the path itself last.
QStringList chainOf(const QString& path) {
    QStringList chain{QStringLiteral("/")};
    qsizetype from = 1;
    while (from < path.size()) {
        qsizetype slash = path.indexOf(QLatin1Char('/'), from);
        if (slash < 0)
            slash = path.size();
        chain.append(path.left(slash));
        from = slash + 1;
    }
    return chain;
}

QString lastName(const QString& path) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name.isEmpty() ? path : name;
}
} // namespace

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, &FolderList::openItem);
    m_reader.setMaxThreadCount(1);
}

FolderList::~FolderList() {
    // A read still running posts its result to this object; let it finish first.
    m_reader.clear();
    m_reader.waitForDone();
}

bool FolderList::setPath(const QString& requested) {
    const QString path = absoluteCleanPath(requested);
    if (path == m_path) {
        // Back to the folder shown: a read of another one still running is dropped.
        ++*m_generation;
        m_pendingPath.reset();
        runAfterRead();
        return true;
    }
    if (m_pendingPath == path)
        return true;
    OpenFolder folder(path);
    if (!folder.isOpen())
        return false;
    const quint64 generation = ++*m_generation;
    if (folder.sizeHint() < m_backgroundBytes) {
        m_pendingPath.reset();
        FolderListing listing = listFolder(std::move(folder), path, m_filePattern);
        if (!listing.error)
            apply(std::move(listing));
        runAfterRead();
        return !listing.error;
    }
    m_pendingPath = path;
    m_reader.start([this, generation, path, pattern = m_filePattern, latest = m_generation,
                    folder = std::make_shared<OpenFolder>(std::move(folder))]() mutable {
        if (*latest != generation)
            return; // a newer request came before this read began
        FolderListing listing = listFolder(std::move(*folder), path, pattern);
        QMetaObject::invokeMethod(
            this,
            [this, generation, listing = std::move(listing)]() mutable {
                if (generation != *m_generation)
                    return;
                m_pendingPath.reset();
                // A folder that could not be read keeps the lists as they were.
                if (!listing.error)
                    apply(std::move(listing));
                runAfterRead();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void FolderList::whenRead(std::function<void()> then) {
    if (isReading())
        m_afterRead.push_back(std::move(then));
    else
        then();
}

void FolderList::runAfterRead() {
    for (const auto& then : std::exchange(m_afterRead, {}))
        then();
}

void FolderList::apply(FolderListing listing) {
    const QString& path = listing.path;
    clear();
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& folder : chainOf(path)) {
        auto* item = new QListWidgetItem(
            QString(depth * 2, QLatin1Char(' ')) + displayFileName(lastName(folder)), this);
        item->setData(PathRole, folder);
        current = item;
        ++depth;
    }
    for (const QString& name : listing.folders) {
        auto* item =
            new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + displayFileName(name), this);
        item->setData(PathRole, joinPath(path, name));
    }
    setCurrentItem(current);
    m_path = path;
    m_files = std::move(listing.files);
    Q_EMIT pathChanged();
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
