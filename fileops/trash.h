#pragma once

#include <QByteArray>
#include <QString>

namespace tavlin {

// What became of a file sent to the Trash: `error` is 0 or the errno of the step that failed,
// and then `problem` says in words why no Trash took it. The file stays where it was unless
// `error` is 0.
struct TrashResult {
    int error = 0;
    QString problem;
    QByteArray trashedAs; // the path of the file in the Trash, when it went there
};

// Moves the file at the absolute `path` into the desktop's Trash, laid out as freedesktop.org
// desktops share it: the Trash of the user's home ($XDG_DATA_HOME/Trash) when the file
// lies on the same file system, else the Trash at the top of the file's own file system
// ($topdir/.Trash/$UID when an administrator set that up, else $topdir/.Trash-$UID). The file
// is renamed, never copied, so it never leaves its file system and is never half moved. Names
// are taken by their exact bytes, whether or not they are UTF-8.
TrashResult MoveToTrash(const QString& path);

} // namespace tavlin
