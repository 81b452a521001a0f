#include "platform/filenames.h"

#include <QFile>

namespace tavlin {

QByteArray encodeFileName(const QString& name) {
    return QFile::encodeName(name);
}

QString decodeFileName(const QByteArray& name) {
    return QFile::decodeName(name);
}

} // namespace tavlin
