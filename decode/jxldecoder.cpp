#include "decode/readers.h"

namespace tavlin {

bool openJxl(const QString& path, QFile&, const LoadControl&, Source&, QString& error) {
    error = undecodableError(path, QStringLiteral("JPEG XL pictures are not read yet"));
    return false;
}

} // namespace tavlin
