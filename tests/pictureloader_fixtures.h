#pragma once

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "decode/pictureloader.h"

// Hand-made picture files for the loader's tests: hostile headers and JPEGs built marker by
// marker, small on disk whatever size they claim.
namespace tavlin::test::fixtures {

inline void put16(QByteArray& out, int v) {
    out.append(char(v >> 8 & 0xFF));
    out.append(char(v & 0xFF));
}

inline void putLE16(QByteArray& out, int v) {
    out.append(char(v & 0xFF));
    out.append(char(v >> 8 & 0xFF));
}

inline void putLE32(QByteArray& out, std::int32_t v) {
    putLE16(out, v & 0xFFFF);
    putLE16(out, v >> 16 & 0xFFFF);
}

inline void segment(QByteArray& out, int marker, const QByteArray& body) {
    out.append(char(0xFF));
    out.append(char(marker));
    put16(out, int(body.size()) + 2);
    out.append(body);
}

// SOI, a flat quantisation table and a one-component frame header of `marker` (SOF0/SOF2).
inline QByteArray grayJpegHead(int width, int height, int sofMarker) {
    QByteArray out("\xFF\xD8", 2);
    segment(out, 0xDB, QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray sof;
    sof.append(char(8));
    put16(sof, height);
    put16(sof, width);
    sof.append(QByteArray("\x01\x01\x11\x00", 4));
    segment(out, sofMarker, sof);
    return out;
}

// A Huffman table holding one symbol with the one-bit code '0'.
inline void oneSymbolTable(QByteArray& out, int tableClass, char symbol) {
    QByteArray body;
    body.append(char(tableClass << 4));
    body.append(char(1));
    body.append(QByteArray(15, '\0'));
    body.append(symbol);
    segment(out, 0xC4, body);
}

inline void scanHeader(QByteArray& out, int ss, int se) {
    QByteArray body("\x01\x01\x00", 3);
    body.append(char(ss));
    body.append(char(se));
    body.append('\0');
    segment(out, 0xDA, body);
}

// A baseline grey JPEG of any size whose every 8x8 block is flat mid-grey: two zero bits a
// block (DC difference 0, end of block), so 100 megapixels take 390 KB.
inline QByteArray flatGrayJpeg(int width, int height) {
    QByteArray out = grayJpegHead(width, height, 0xC0);
    oneSymbolTable(out, 0, '\0');
    oneSymbolTable(out, 1, '\0');
    scanHeader(out, 0, 63);
    const qint64 blocks = qint64((width + 7) / 8) * ((height + 7) / 8);
    out.append(QByteArray(qsizetype((blocks * 2 + 7) / 8), '\0'));
    out.append("\xFF\xD9", 2);
    return out;
}

// A progressive 1024 x 1024 grey JPEG: one DC scan, then `acScans` AC scans that each
// end every block at once with a single end-of-band run of 16384 blocks (12 bytes a scan).
// libjpeg accepts the repeated scans with a warning and walks every block in each.
inline QByteArray manyScanJpeg(int acScans) {
    QByteArray out = grayJpegHead(1024, 1024, 0xC2);
    oneSymbolTable(out, 0, '\0');
    oneSymbolTable(out, 1, char(0xE0)); // EOB14: a run of 2^14 plus 14 extra bits
    scanHeader(out, 0, 0);
    out.append(QByteArray(16384 / 8, '\0'));
    for (int i = 0; i < acScans; ++i) {
        scanHeader(out, 1, 63);
        out.append(QByteArray(2, '\0')); // code '0' and 14 zero bits: 16384 blocks
    }
    out.append("\xFF\xD9", 2);
    return out;
}

// A progressive arithmetic-coded `side` x `side` grey JPEG: a DC scan, then `acScans` AC scans
// of coefficients 1 to `last`, each scan's data `bytes` bytes of `fill`. Past its few bytes the
// decoder reads zeros, out of which it decodes coefficients in every block: without end-of-band
// runs the 255 scans of 64 bytes each over 16 megapixels took 8.6 s.
inline QByteArray arithmeticScansJpeg(int side, int acScans, int last, char fill, int bytes) {
    QByteArray out = grayJpegHead(side, side, 0xCA);
    scanHeader(out, 0, 0);
    out.append(QByteArray(bytes, fill));
    for (int i = 0; i < acScans; ++i) {
        scanHeader(out, 1, last);
        out.append(QByteArray(bytes, fill));
    }
    out.append("\xFF\xD9", 2);
    return out;
}

// A BMP header claiming `width` x `height` 24-bit pixels, with no pixels after it.
inline QByteArray bmpHeader(int width, int height) {
    QByteArray out("BM", 2);
    putLE32(out, 54);
    putLE32(out, 0);
    putLE32(out, 54);
    putLE32(out, 40);
    putLE32(out, width);
    putLE32(out, height);
    putLE16(out, 1);
    putLE16(out, 24);
    putLE32(out, 0);
    putLE32(out, 0);
    putLE32(out, 2835);
    putLE32(out, 2835);
    putLE32(out, 0);
    putLE32(out, 0);
    return out;
}

// A GIF whose logical screen claims `width` x `height`, holding one 1 x 1 image.
inline QByteArray gifHeader(int width, int height) {
    QByteArray out("GIF89a", 6);
    putLE16(out, width);
    putLE16(out, height);
    out.append(QByteArray("\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF", 9));
    out.append(QByteArray("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B", 16));
    return out;
}

// A progressive grey JPEG of `width` x `height` with `scans` scans whose data is two bytes
// each: refused for the walk its scans would cost, before any of them is decoded.
inline QByteArray scanHeavyJpeg(int width, int height, int scans) {
    QByteArray out = grayJpegHead(width, height, 0xC2);
    oneSymbolTable(out, 0, '\0');
    oneSymbolTable(out, 1, char(0xE0));
    scanHeader(out, 0, 0);
    out.append(QByteArray(2, '\0'));
    for (int i = 1; i < scans; ++i) {
        scanHeader(out, 1, 63);
        out.append(QByteArray(2, '\0'));
    }
    out.append("\xFF\xD9", 2);
    return out;
}

// The colours of the quadrant BMPs, as shown: top left, top right, bottom left, bottom right.
inline const QRgb kQuadrants[4] = {qRgb(220, 30, 30), qRgb(30, 200, 60), qRgb(40, 60, 230),
                                   qRgb(250, 250, 250)};

inline QByteArray bmpFileHeader(int width, int height, int bits, int compression,
                                std::int64_t dataSize, int colours) {
    QByteArray out("BM", 2);
    const int offset = 54 + 4 * colours;
    putLE32(out, std::int32_t(std::min<std::int64_t>(offset + dataSize, INT32_MAX)));
    putLE32(out, 0);
    putLE32(out, offset);
    putLE32(out, 40);
    putLE32(out, width);
    putLE32(out, height);
    putLE16(out, 1);
    putLE16(out, bits);
    putLE32(out, compression);
    putLE32(out, 0);
    putLE32(out, 2835);
    putLE32(out, 2835);
    putLE32(out, colours);
    putLE32(out, 0);
    for (int i = 0; i < colours; ++i) {
        const QRgb c = kQuadrants[i % 4];
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append('\0');
    }
    return out;
}

// Writes a 4-bit BMP of `width` x `height` (even) in four coloured quadrants, row by row,
// stored bottom-up, or top-down with `topDown`. 100 megapixels take 50 MB.
inline bool writeQuadrantBmp4(const QString& path, int width, int height, bool topDown) {
    const std::int64_t stride = (std::int64_t(width) * 4 + 31) / 32 * 4;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bmpFileHeader(width, topDown ? -height : height, 4, 0, stride * height, 4)) < 0)
        return false;
    QByteArray rows[2];
    for (int half = 0; half < 2; ++half) {
        rows[half] = QByteArray(qsizetype(stride), '\0');
        for (int x = 0; x < width; x += 2) {
            const int index = half * 2 + (x >= width / 2 ? 1 : 0);
            rows[half][x / 2] = char(index << 4 | index);
        }
    }
    for (int i = 0; i < height; ++i) {
        const int shownRow = topDown ? i : height - 1 - i;
        if (file.write(rows[shownRow >= height / 2 ? 1 : 0]) != stride)
            return false;
    }
    return true;
}

// The same quadrants as an RLE8 BMP (always bottom-up): runs of 255, end of line, end of
// bitmap. 100 megapixels take under 1 MB.
inline QByteArray quadrantBmpRle8(int width, int height) {
    QByteArray data;
    for (int i = 0; i < height; ++i) {
        const int half = height - 1 - i >= height / 2 ? 1 : 0;
        for (int side = 0; side < 2; ++side) {
            for (int left = width / 2; left > 0; left -= 255) {
                data.append(char(std::min(left, 255)));
                data.append(char(half * 2 + side));
            }
        }
        data.append(QByteArray(2, '\0'));
    }
    data.append(QByteArray("\x00\x01", 2));
    return bmpFileHeader(width, height, 8, 1, data.size(), 4) + data;
}

// An 8-bit palette picture as an RLE8 BMP: runs of equal pixels, literal stretches between.
inline QByteArray rle8Bmp(const QImage& indexed) {
    QByteArray data;
    for (int y = indexed.height() - 1; y >= 0; --y) {
        const uchar* row = indexed.constScanLine(y);
        int x = 0;
        while (x < indexed.width()) {
            int run = 1;
            while (x + run < indexed.width() && run < 255 && row[x + run] == row[x])
                ++run;
            if (run >= 3 || indexed.width() - x < 3) {
                data.append(char(run));
                data.append(char(row[x]));
                x += run;
                continue;
            }
            int literal = 0;
            while (x + literal < indexed.width() && literal < 255 &&
                   !(x + literal + 2 < indexed.width() &&
                     row[x + literal] == row[x + literal + 1] &&
                     row[x + literal] == row[x + literal + 2]))
                ++literal;
            literal = std::max(literal, 3);
            literal = std::min(literal, indexed.width() - x);
            data.append('\0');
            data.append(char(literal));
            data.append(reinterpret_cast<const char*>(row + x), literal);
            if (literal & 1)
                data.append('\0');
            x += literal;
        }
        data.append(QByteArray(2, '\0'));
    }
    data.append(QByteArray("\x00\x01", 2));
    const QList<QRgb> table = indexed.colorTable();
    QByteArray colours;
    for (const QRgb c : table) {
        colours.append(char(qBlue(c)));
        colours.append(char(qGreen(c)));
        colours.append(char(qRed(c)));
        colours.append('\0');
    }
    QByteArray header = bmpFileHeader(indexed.width(), indexed.height(), 8, 1, data.size(), 0);
    QByteArray field;
    putLE32(field, 54 + std::int32_t(colours.size())); // the pixels follow the real table
    header.replace(10, 4, field);
    field.clear();
    putLE32(field, std::int32_t(table.size()));
    header.replace(46, 4, field);
    return header + colours + data;
}

// `jpeg` with `bytes` inserted right after its SOI marker.
inline QByteArray afterSoi(const QByteArray& jpeg, const QByteArray& bytes) {
    return jpeg.left(2) + bytes + jpeg.mid(2);
}

// `jpeg` with an EXIF APP1 segment carrying `orientation` (1-8) inserted after SOI.
inline QByteArray withExifOrientation(const QByteArray& jpeg, int orientation) {
    QByteArray tiff("II*\0", 4);
    putLE32(tiff, 8); // offset of the first IFD
    putLE16(tiff, 1); // one entry
    putLE16(tiff, 0x0112);
    putLE16(tiff, 3); // SHORT
    putLE32(tiff, 1);
    putLE16(tiff, orientation);
    putLE16(tiff, 0);
    putLE32(tiff, 0); // no next IFD
    QByteArray app1("Exif\0\0", 6);
    app1.append(tiff);
    QByteArray segmentBytes;
    segment(segmentBytes, 0xE1, app1);
    return jpeg.left(2) + segmentBytes + jpeg.mid(2);
}

inline QByteArray encodeJpeg(const QImage& image, int quality = 90) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

inline DecodePlanner fixedSize(QSize scaled, QRect visible = {}) {
    return [=](QSize) { return DecodeRequest{scaled, visible}; };
}

// A load of `path` cancelled once its header is read, before its pixels.
inline LoadedPicture loadCancelledAfterHeader(const QString& path) {
    std::atomic<bool> cancel{false};
    LoadControl control;
    control.cancelled = &cancel;
    return loadPicture(
        path,
        [&](QSize s) {
            cancel = true;
            return DecodeRequest{s, {}};
        },
        control);
}

// A load of `path` during which, once its header is read, `rest` is appended to the file.
inline LoadedPicture loadWhileItGrows(const QString& path, const QByteArray& rest) {
    return loadPicture(path, [&](QSize s) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::Append));
        f.write(rest);
        return DecodeRequest{s, {}};
    });
}

// The largest difference of any colour channel between two pictures of the same size; 256
// when their sizes differ.
inline int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 256;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int most = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            most = std::max({most, std::abs(qRed(p[col]) - qRed(q[col])),
                             std::abs(qGreen(p[col]) - qGreen(q[col])),
                             std::abs(qBlue(p[col]) - qBlue(q[col]))});
    }
    return most;
}

// Mean absolute difference of the colour channels of two same-sized pictures, 0..255.
inline double meanDifference(const QImage& a, const QImage& b) {
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size() || a.isNull())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            sum += std::abs(qRed(p[col]) - qRed(q[col])) +
                   std::abs(qGreen(p[col]) - qGreen(q[col])) +
                   std::abs(qBlue(p[col]) - qBlue(q[col]));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

// The straightforward way: full decode with Qt's own orientation, smooth scale, cut.
inline QImage reference(const QString& path, QSize scaled, QRect visible) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage full = reader.read();
    if (full.depth() <= 8) // Qt scales palette pictures without smoothing
        full = full.convertToFormat(QImage::Format_RGB32);
    full = full.scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return visible.isEmpty() ? full : full.copy(visible);
}

} // namespace tavlin::test::fixtures
