#pragma once

#include <cstdint>

#include <QByteArray>
#include <QSize>

class QIODevice;

namespace tavlin {

// What a walk over a JPEG file's marker segments found, without decoding anything.
struct JpegScanReport {
    bool isJpeg = false;      // the file starts with the SOI marker
    bool progressive = false; // the frame is progressive (SOF2, SOF10)
    bool arithmetic = false;  // the frame is arithmetic-coded (SOF9, SOF10)
    QSize frameSize;          // width and height from the SOF segment; invalid if none
    int components = 0;       // colour components of the frame
    int scans = 0;            // SOS markers seen, counted up to maxScans + 1
    bool truncated = false;   // the bytes end before the EOI marker
    // Bytes the decoder may be given: through the EOI marker, or up to where the walk had to
    // stop (the end of the data, a marker the decoder refuses, where it would stop too, or
    // more data in a scan than its blocks can take, of which the decoder reads no further).
    std::int64_t end = 0;
    // The walk would have held more than maxBytes (the coefficients included) before the EOI
    // marker.
    bool tooLong = false;
    // Blocks the decoder walks, summed over the scans seen: each scan visits every block of
    // its components, however little data it holds. A block of an arithmetic-coded scan counts
    // several visits, more for an AC scan than for a DC one (see jpegscan.cpp).
    std::int64_t scanBlocks = 0;
    // The decoder keeps every coefficient of the picture (progressive, or a first scan that
    // carries only some components): this many 8 x 8 blocks of 128 bytes.
    std::int64_t bufferedBlocks = 0;
    int exifOrientation = 0; // 1-8 from an EXIF APP1 segment; 0 when there is none
    // The ICC profile carried in APP2 "ICC_PROFILE" segments before the first scan, its
    // chunks put together in order; empty when there is none or it is damaged.
    QByteArray iccProfile;
    // Such segments are there but make no profile: a chunk is missing or given twice, their
    // counts disagree, or together they hold more than maxIccBytes.
    bool iccDamaged = false;
};

struct JpegScanLimits {
    int maxScans = 300;
    std::int64_t maxScanBlocks = INT64_MAX; // the walk stops once the scans pass this
    // The walk stops once it would hold more than this, the bytes it keeps and the decoder's
    // coefficients together, or has read this many bytes over all.
    std::int64_t maxBytes = INT64_MAX;
    // The most bytes of ICC profile kept; they count in maxBytes too.
    std::int64_t maxIccBytes = 4 << 20;
};

// Walks the marker segments of the JPEG read from `device` from its current position,
// following them exactly as libjpeg does (a segment length below 2 skips nothing, stray
// bytes and 0xFF00 between segments are passed over, restart markers and 0xFF00 stuffing
// are part of the entropy-coded data), and stops at the EOI marker, after maxScans scans or
// maxScanBlocks blocks, at maxBytes, or where the decoder would stop with an error. When
// `kept` is given it receives the bytes the decoder needs, of which the first `end` are the
// checked ones: what the decoder only passes over (APPn segments, comments, stray bytes) is
// left out, and passed over on the file too. An ICC profile's segments are read, into the
// report, and left out as well.
JpegScanReport scanJpeg(QIODevice& device, const JpegScanLimits& limits,
                        QByteArray* kept = nullptr);

inline JpegScanReport scanJpeg(QIODevice& device, int maxScans) {
    return scanJpeg(device, JpegScanLimits{maxScans});
}

// The EXIF orientation (1-8) in the body of an APP1 segment ("Exif\0\0" and a TIFF
// structure); 0 when it holds none. Every offset is checked against `size`.
int exifOrientation(const std::uint8_t* body, std::int64_t size);

} // namespace tavlin
