#pragma once

#include <cstdint>

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>

#include "viewer/folderscan.h"

namespace tavlin {

// The names of a folder's pictures, as a list model cheap enough for 100,000 entries.
class NameListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    void setNames(QStringList names);
    const QStringList& names() const { return m_names; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QStringList m_names;
};

// The file list: the regular, non-hidden files of one folder that match the
// pattern, in natural order. Its selection is the program's current picture.
class FileList : public QListView {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    void setPattern(const QString& patterns);
    QString pattern() const { return m_patternText; }

    // Points the list at `path` and re-reads it; afterwards nothing is
    // selected. A folder that cannot be read leaves the list as it was.
    bool setFolder(const QString& path);
    // Re-reads the current folder (after a delete or rename).
    bool refresh();
    // Points the list at `path` with names already read, filtered and sorted (by
    // the folder list's one read); afterwards nothing is selected.
    void setListing(const QString& path, QStringList names);
    const NamePattern& namePattern() const { return m_pattern; }
    QString folder() const { return m_folder; }

    std::int64_t count() const { return m_model.names().size(); }
    const QStringList& names() const { return m_model.names(); }
    // -1 when nothing is selected.
    std::int64_t selectedIndex() const { return m_selected; }
    // Selects as a click would: the selection handler runs, but only on a change.
    void setSelectedIndex(std::int64_t index);
    QString selectedName() const;

Q_SIGNALS:
    // The selection moved to another entry (click, keys or an assigned index).
    void selectionChanged();
    // A key went down while the list had the focus; the list still handles it.
    void keyDown(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onCurrentChanged(const QModelIndex& current);

    NameListModel m_model;
    QString m_patternText;
    NamePattern m_pattern{QString()};
    QString m_folder;
    std::int64_t m_selected = -1;
};

} // namespace tavlin
