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

} // namespace tavlin
