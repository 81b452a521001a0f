#include "decode/readers.h"

namespace tavlin {

bool openWebP(const QString& path, QFile&, const LoadControl&, Source&, QString& error) {
    error = undecodableError(path, QStringLiteral("WebP pictures are not read yet"));
    return false;
}

} // namespace tavlin
