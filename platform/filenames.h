#pragma once

#include <QByteArray>
#include <QString>

namespace tavlin {

// The one conversion between a file name as the file system holds it (bytes)
// and as the program shows it (QString). Every path handed to a system call
// goes through encodeFileName, every name read from a folder through
// decodeFileName.
QByteArray encodeFileName(const QString& name);
QString decodeFileName(const QByteArray& name);

} // namespace tavlin
