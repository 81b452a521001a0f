#pragma once

// What every picture format's reader hands the loader: the picture's header read and
// checked, what it holds in memory whatever is shown, and a function that decodes any part
// of it at a reduced size. The loader plans the decode, checks the memory budget, then
// resamples, cuts, turns and converts the colours of what came out.

#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageIOHandler>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include "decode/colour.h"
#include "decode/pictureloader.h"

namespace tavlin {

struct DecodePlan {
    QRect clip;       // stored pixels to decode; the whole picture when it equals that
    QSize decodeSize; // size of the decoded clip (clip reduced)
    QRectF target;    // where the decoded clip lands in the scaled stored picture
};

// How far a reader can shrink a picture while decoding it.
enum class Reduction {
    None,       // only at its own size
    PowerOfTwo, // at 1/2, 1/4 and 1/8 of its size (JPEG's blocks, a box filter over rows)
    Any,        // straight at the shown size (a resampler of the library's own)
};

// One picture file, its header read and checked, ready to decode any part of it.
struct Source {
    QByteArray format; // "jpeg", "png", ...
    QSize stored;      // pixels as stored
    QImageIOHandler::Transformations transform = QImageIOHandler::TransformationNone; // to show
    Reduction reduction = Reduction::None;
    // Bytes held whatever the plan: the file's bytes, coefficients, a whole decoded canvas.
    std::int64_t heldBytes = 0;
    ColourDescription colours;
    // Decodes `plan.clip` at `plan.decodeSize` into RGB32 or ARGB32 premultiplied pixels; a
    // null image with `error` set on failure, or `cancelled` set when the load's cancel flag
    // turned meanwhile. Sets `cutShort` when the file ends before pixels it was to show.
    std::function<QImage(const DecodePlan& plan, QString& error, bool& cancelled, bool& cutShort)>
        decode;
};

// Opens a picture of one format: reads and checks its header from `file` (open, positioned
// at its start) and fills `source`, or says why not in `error`, a whole sentence naming the
// file. What a reader checks here it checks before allocating anything the header sizes.
using OpenPicture = bool (*)(const QString& path, QFile& file, const LoadControl& control,
                             Source& source, QString& error);

// Sentences and checks the readers share.
bool tooLarge(QSize size);
QString tooLargeError(const QString& path, QSize size);
QString overBudgetError(const QString& path, std::int64_t need, std::int64_t budget);
QString undecodableError(const QString& path, const QString& problem); // "could not be decoded: "
// A library's message made the clause after "could not be decoded: ": trimmed, without its
// closing full stops, its first word in lower case unless it is a name in capitals ("IDAT");
// `fallback` when it says nothing.
QString libraryClause(QString message, const QString& fallback);
QString noPictureError(const QString& path);
QString cutShortWarning(const QString& path);
std::int64_t pixelBytes(QSize size); // four bytes a pixel
int megabytes(std::int64_t bytes);   // rounded up
// Reads up to `size` bytes at `offset` of the file open on `fd`; the count read, short at the
// end of the file or on a read error, which sets `failed` when given.
std::int64_t readAt(int fd, std::int64_t offset, void* to, std::int64_t size,
                    bool* failed = nullptr);
// The transformation an EXIF orientation (1-8) asks for; none for anything else.
QImageIOHandler::Transformations exifTransformation(int orientation);

} // namespace tavlin
