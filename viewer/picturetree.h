#pragma once

#include <atomic>
#include <functional>

#include <QString>
#include <QStringList>

#include "viewer/folderscan.h"

namespace tavlin {

// Every picture under `root` that `pattern` matches, as paths relative to it: the root's own
// pictures first, then each subfolder's in turn, depth first, each folder in natural order.
// Hidden files and folders are left out, as in the file list. No symbolic link to a folder is
// followed, so the walk never leaves the tree or runs in a loop (a folder met twice, through a
// bind mount, is read once), and a link to a file counts only when the file lies in the tree.
// `found` is told the pictures so far after each folder that added some; `stop`, when set,
// ends the walk early.
QStringList listPictureTree(const QString& root, const NamePattern& pattern,
                            const std::function<void(const QStringList&)>& found = {},
                            const std::atomic<bool>* stop = nullptr);

} // namespace tavlin
