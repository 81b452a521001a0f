#include "decode/readers.h"

namespace tavlin {

bool openHeif(const QString& path, QFile&, const LoadControl&, Source&, QString& error) {
    error = undecodableError(path, QStringLiteral("HEIF pictures are not read yet"));
    return false;
}

} // namespace tavlin
