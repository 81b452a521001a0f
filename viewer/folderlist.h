#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QListWidget>
#include <QThreadPool>

#include "viewer/folderscan.h"

namespace tavlin {

// The folder list: the current folder's ancestors from the root down, then its
// subfolders. A folder opens on double click or Enter.
//
// One read of a folder gives both its subfolders and the files that match the
// file pattern (sorted for the file list, which takes them in its change
// handler). A large folder is read on a worker thread: the window stays live
// and the list changes, and the change handler runs, when the read is done.
class FolderList : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget* parent = nullptr);
    ~FolderList() override;

    // The folder asked for, whether its listing has arrived or not: while a large folder
    // is being read the list still shows the previous one, yet a dialog that copies the
    // path, or the settings saved at exit, must name the folder the user chose.
    QString path() const { return m_pendingPath.value_or(m_path); }
    // Opens `path`; the change handler runs once the folder is read (at once for
    // a small folder), and only when the path really changes. A folder that
    // cannot be opened keeps the list as it was and answers false.
    bool setPath(const QString& path);
    // True while a folder is being read on the worker thread.
    bool isReading() const { return m_pendingPath.has_value(); }
    // Runs `then` once no read is under way: at once, or after the lists have changed
    // (or the read failed). Start-up picks its first picture this way.
    void whenRead(std::function<void()> then);

    // The files the file list is to show, and the matching files of the folder
    // just read, taken once.
    void setFilePattern(const QString& patterns) { m_filePattern = NamePattern(patterns); }
    QStringList takeFiles() { return std::exchange(m_files, {}); }

    // Folders whose entries take at least this many bytes (as the file system
    // reports a folder's size) are read on the worker thread.
    static constexpr qint64 kDefaultBackgroundBytes = 64 * 1024;
    void setBackgroundBytes(qint64 bytes) { m_backgroundBytes = bytes; }

Q_SIGNALS:
    void pathChanged();
    void keyDown(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openItem(QListWidgetItem* item);
    void apply(FolderListing listing);
    void runAfterRead();

    QString m_path;
    QStringList m_files;
    NamePattern m_filePattern{QString()};
    qint64 m_backgroundBytes = kDefaultBackgroundBytes;
    std::optional<QString> m_pendingPath;
    // The newest request, shared with the worker: older reads are dropped, and one not
    // yet begun is skipped.
    std::shared_ptr<std::atomic<quint64>> m_generation = std::make_shared<std::atomic<quint64>>(0);
    std::vector<std::function<void()>> m_afterRead;
    QThreadPool m_reader;
};

} // namespace tavlin
