#pragma once

#include <cstdint>

#include <QByteArray>
#include <QRect>
#include <QSize>

class QIODevice;

namespace tavlin {

// What a walk over a GIF file's blocks up to the end of its first frame found.
struct GifScanReport {
    bool isGif = false;   // the file starts with "GIF8"
    QSize screen;         // the logical screen the header claims
    QRect frame;          // the first frame's rectangle; empty if there is none
    QSize canvas;         // the canvas a decoder allocates for the first frame (see below)
    std::int64_t end = 0; // bytes through the first frame's data, or all that were read
    bool tooLong = false; // more than maxBytes came before the first frame ended
};

// Walks the GIF read from `device` to the end of its first frame, reading nothing beyond
// it (nor more than maxBytes). The canvas follows Qt's reader: it distrusts a logical
// screen more than ten times as large as the frame (and above 16384) and then uses the
// frame's extent instead. `kept` receives the bytes read.
GifScanReport scanGif(QIODevice& device, std::int64_t maxBytes, QByteArray* kept = nullptr);

} // namespace tavlin
