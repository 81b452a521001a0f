#include "platform/report.h"

#include <cstdio>

namespace tavlin {

void reportProblem(const QString& message) {
    // One write per line, so lines from two threads never interleave.
    const QByteArray line = QStringLiteral("tavlin: %1\n").arg(message).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace tavlin
