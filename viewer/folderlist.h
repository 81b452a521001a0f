#pragma once

#include <QListWidget>

namespace tavlin {

// The folder list: the current folder's ancestors from the root down, then its
// subfolders. A folder opens on double click or Enter.
class FolderList : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget* parent = nullptr);

    QString path() const { return m_path; }
    // Opens `path`; the change handler runs at once, and only when the path
    // really changes. A folder that cannot be read keeps the list as it was
    // and answers false.
    bool setPath(const QString& path);

Q_SIGNALS:
    void pathChanged();
    void keyDown(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openItem(QListWidgetItem* item);

    QString m_path;
};

} // namespace tavlin
