#pragma once

#include <QString>

class QFile;

namespace tavlin {

// The file name of `path` between curly quotes (the whole path when it has no
// name part), as messages name a file.
QString quotedFileName(const QString& path);

// Opens `path` for reading if, and only if, it is a regular file. A FIFO would block the
// decoder forever and a device may act on being opened, so the type is checked before the
// open (which never blocks) and again on the open descriptor, against a swap in between.
// On failure `error` holds a message that names the file and the cause.
bool openRegularFile(const QString& path, QFile& file, QString& error);

#ifdef Q_OS_UNIX
// The same for `name` in the folder `dirFd` (AT_FDCWD: a path), as a descriptor, for files
// the program keeps itself, which may still be hostile. -1 with errno set when refused:
// EISDIR for a folder, EINVAL for a pipe, device or socket, ESTALE when the file was
// swapped while it was being opened. With `followLinks` false a symbolic link is refused
// (EINVAL) rather than followed.
int openRegularFileAt(int dirFd, const char* name, bool followLinks = true);
#endif

} // namespace tavlin
