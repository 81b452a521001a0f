#pragma once

#include <QByteArray>
#include <QString>

namespace tavlin {

// The one conversion between a file name as the file system holds it (bytes)
// and as the program keeps it (QString). Every path handed to a system call
// goes through encodeFileName, every name read from a folder through
// decodeFileName.
//
// The conversion is lossless: valid UTF-8 decodes as usual, and each byte
// that is not part of valid UTF-8 decodes to the lone surrogate U+DC80-U+DCFF
// (U+DC00 + the byte), which encodeFileName turns back into the same byte.
// Old disks and archives hold such names; a lossy decode (U+FFFD) would make
// the program act on another file of the "same" name.
QByteArray encodeFileName(const QString& name);
QString decodeFileName(const QByteArray& name);
QString decodeFileName(const char* bytes, qsizetype size);

// The name as text to draw: bytes that are not UTF-8 show as U+FFFD. Never
// hand the result back to the file system.
QString displayFileName(const QString& name);

// `path` made absolute (against the current folder) and clean by its text alone: nothing
// is asked of the file system, and every byte of a name survives.
QString absoluteCleanPath(const QString& path);

} // namespace tavlin
