#include "decode/readers.h"

namespace tavlin {

bool openTiff(const QString& path, QFile&, const LoadControl&, Source&, QString& error) {
    error = undecodableError(path, QStringLiteral("TIFF pictures are not read yet"));
    return false;
}

} // namespace tavlin
