#include "viewer/filelist.h"

#include <QKeyEvent>

#include "platform/filenames.h"

namespace tavlin {

void NameListModel::setNames(QStringList names) {
    beginResetModel();
    m_names = std::move(names);
    endResetModel();
}

int NameListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_names.size());
}

QVariant NameListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_names.size())
        return {};
    // Only the drawn text: the names themselves keep every byte of the file's name.
    return displayFileName(m_names.at(index.row()));
}

FileList::FileList(QWidget* parent) : QListView(parent) {
    setModel(&m_model);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
}

void FileList::setPattern(const QString& patterns) {
    m_patternText = patterns;
    m_pattern = NamePattern(patterns);
}

bool FileList::setFolder(const QString& path) {
    FolderListing listing = listFolder(OpenFolder(path), path, m_pattern);
    if (listing.error)
        return false;
    setListing(path, std::move(listing.files));
    return true;
}

bool FileList::refresh() {
    return setFolder(m_folder);
}

void FileList::setListing(const QString& path, QStringList names) {
    m_selected = -1;
    m_folder = path;
    // A model reset clears the current index without a currentChanged signal.
    m_model.setNames(std::move(names));
}

void FileList::setSelectedIndex(std::int64_t index) {
    if (index < -1 || index >= count())
        return;
    if (index == -1) {
        selectionModel()->clear();
        m_selected = -1;
        return;
    }
    setCurrentIndex(m_model.index(static_cast<int>(index)));
}

QString FileList::selectedName() const {
    return m_selected < 0 ? QString() : m_model.names().at(m_selected);
}

void FileList::onCurrentChanged(const QModelIndex& current) {
    const std::int64_t row = current.isValid() ? current.row() : -1;
    if (row == m_selected)
        return;
    m_selected = row;
    if (row >= 0)
        Q_EMIT selectionChanged();
}

void FileList::keyPressEvent(QKeyEvent* event) {
    Q_EMIT keyDown(event);
    QListView::keyPressEvent(event);
}

} // namespace tavlin
