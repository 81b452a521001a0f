#pragma once

#include <atomic>
#include <cstdint>

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

namespace tavlin {

struct JpegDecodeOutcome {
    bool ok = false;
    QString problem;        // libjpeg's reason when !ok
    bool cancelled = false; // stopped because `cancelled` turned true
    bool cutShort = false;  // the data ended before the rows decoded: they show grey
};

// Decodes `clip` (stored pixels, whole multiples of `reduction`) of the JPEG held in `bytes`
// at 1/`reduction` (1, 2, 4 or 8) through libjpeg-turbo: straight to 32-bit pixels, rows
// above the clip skipped, columns beside it cropped, rows below it never decoded. A file
// that ends early shows what it holds, and says so in `cutShort`. libjpeg may use at most
// `memoryLimit` bytes itself. Writes into `image` (Format_RGB32, the clip's size / reduction). Safe
// to call from several threads at once.
JpegDecodeOutcome decodeJpeg(const QByteArray& bytes, QRect clip, int reduction,
                             std::int64_t memoryLimit, const std::atomic<bool>* cancelled,
                             QImage& image);

} // namespace tavlin
