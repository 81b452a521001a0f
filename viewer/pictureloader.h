#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>

namespace tavlin {

// What the display wants decoded once it knows the picture's size: the whole
// picture scaled to `scaledSize`, of which only `visible` (in scaled
// coordinates; empty means all of it) needs pixels. A picture shown larger than
// the screen is thus never held in full.
struct DecodeRequest {
    QSize scaledSize;
    QRect visible;
};

// Called with the picture's own size in pixels, after EXIF orientation.
using DecodePlanner = std::function<DecodeRequest(QSize orientedSize)>;

struct LoadedPicture {
    bool ok = false;
    QString error;          // a sentence a person can read when !ok
    QSize size;             // the picture's own size in pixels, after EXIF orientation
    std::int64_t fileSize = 0;
    QImage image;           // the decoded pixels
    QRect imageRect;        // where `image` sits in the scaled picture's coordinates
};

// Loads a JPEG, BMP or GIF file for display. Only regular files are opened;
// hostile files (absurd dimensions, endless progressive scans) are refused
// before decoding, so every call ends in bounded time and memory.
LoadedPicture loadPicture(const QString& path, const DecodePlanner& planner);

} // namespace tavlin
