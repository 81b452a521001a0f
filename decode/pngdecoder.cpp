#include "decode/readers.h"

namespace tavlin {

bool openPng(const QString& path, QFile&, const LoadControl&, Source&, QString& error) {
    error = undecodableError(path, QStringLiteral("PNG pictures are not read yet"));
    return false;
}

} // namespace tavlin
