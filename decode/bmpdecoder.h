#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include <QImage>
#include <QRect>
#include <QString>

namespace tavlin {

// A BMP file's headers, read and checked.
struct BmpInfo {
    QSize size;
    bool topDown = false; // rows stored from the top (a negative height)
    int bits = 0;         // 1, 4, 8, 16, 24 or 32 bits a pixel
    int compression = 0;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    std::int64_t dataOffset = 0;
    std::int64_t stride = 0; // bytes a stored row, padded to four
    std::vector<QRgb> palette;
    std::uint32_t masks[3] = {}; // red, green, blue
};

// Reads the headers of the BMP open on `fd`. On failure says why in `problem`, a clause to
// follow "could not be decoded: ".
bool readBmpInfo(int fd, BmpInfo& info, QString& problem);

// Decodes `clip` of the stored picture (top-down coordinates, whole multiples of
// `reduction`) reduced by `reduction` with a box filter, row by row: only the rows and
// columns of the clip are read from an uncompressed file, and RLE data is read up to the
// clip's last row. Rows the file does not hold show the first palette colour or black, and
// set `cutShort` when the data ends before them. Returns a null image when `cancelled`
// turned true meanwhile.
QImage decodeBmp(int fd, const BmpInfo& info, QRect clip, int reduction,
                 const std::atomic<bool>* cancelled, bool& cutShort);

} // namespace tavlin
