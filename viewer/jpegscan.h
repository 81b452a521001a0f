#pragma once

#include <QSize>

class QIODevice;

namespace tavlin {

// What a walk over a JPEG file's marker segments found, without decoding anything.
struct JpegScanReport {
    bool isJpeg = false;      // the file starts with the SOI marker
    bool progressive = false; // the frame is progressive (SOF2, SOF6, SOF10, SOF14)
    QSize frameSize;          // width and height from the first SOF segment; invalid if none
    int scans = 0;            // SOS markers seen, counted up to maxScans + 1
    bool truncated = false;   // the bytes end before the EOI marker
};

// Walks the marker segments of the JPEG read from `device`, skipping entropy-coded data
// (0xFF00 stuffing, RSTn) in one pass over the bytes through a small buffer, and stops once
// more than `maxScans` scans have been seen. Reads from the device's current position.
JpegScanReport scanJpeg(QIODevice& device, int maxScans);

} // namespace tavlin
