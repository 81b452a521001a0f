#pragma once

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <vector>

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "pictureloader_fixtures.h"

// TIFF files for the reader's tests, made by ImageMagick and libtiff's tools from pictures
// drawn here, and decoded the way libtiff itself decodes them.
namespace tavlin::test::tiff {

using fixtures::largestDifference;

// Colour fields, edges and a dark top-left corner, so orientation, scaling and colours show;
// with `alpha`, opaque at the top, fading to clear at the bottom, and a clear hole.
inline QImage picture(int width, int height, bool alpha = false) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int a = alpha ? 255 - y * 255 / std::max(1, height - 1) : 255;
            line[x] = qRgba(x * 255 / width, y * 255 / height, (x + y) * 97 % 256, a);
        }
    }
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, width / 4, height / 4), QColor(20, 10, 0));
    painter.fillRect(QRect(width / 2, height / 8, width / 6, height / 3), QColor(250, 250, 240));
    if (alpha) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRect(width * 3 / 4, height / 2, width / 8, height / 8), Qt::transparent);
    }
    return image;
}

// Writes `image` through ImageMagick with `arguments` (before the output name) into `path`.
inline bool convertTo(const QString& path, const QImage& image, const QStringList& arguments) {
    const QString png = path + QStringLiteral(".source.png");
    if (!image.save(png, "PNG"))
        return false;
    const int rc = QProcess::execute(QStringLiteral("convert"),
                                     QStringList{png} + arguments + QStringList{path});
    QFile::remove(png);
    return rc == 0;
}

// libtiff's own decode of a file's first picture, its rows in the stored order, shown over
// black: the colour channels of its premultiplied pixels.
inline QImage libtiffDecode(const QString& path) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return {};
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);
    std::vector<std::uint32_t> raster(size_t(w) * h);
    // Asked for the file's own orientation, libtiff flips nothing.
    const bool ok = TIFFReadRGBAImageOriented(tif, w, h, raster.data(), orientation, 0);
    TIFFClose(tif);
    if (!ok)
        return {};
    QImage out(int(w), int(h), QImage::Format_RGB32);
    for (std::uint32_t y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(int(y)));
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t p = raster[size_t(y) * w + x];
            line[x] = qRgb(int(TIFFGetR(p)), int(TIFFGetG(p)), int(TIFFGetB(p)));
        }
    }
    return out;
}

// The stored picture as an EXIF orientation (1-8) shows it, pixel by pixel from its
// definition: 2 mirrors, 3 turns half round, 4 flips, 5 transposes, 6 turns a quarter
// clockwise, 7 transverses, 8 turns a quarter anticlockwise.
inline QImage asShown(const QImage& stored, int orientation) {
    const int w = stored.width();
    const int h = stored.height();
    const bool turned = orientation >= 5;
    QImage out(turned ? h : w, turned ? w : h, QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            QPoint from;
            switch (orientation) {
            case 2:
                from = {w - 1 - x, y};
                break;
            case 3:
                from = {w - 1 - x, h - 1 - y};
                break;
            case 4:
                from = {x, h - 1 - y};
                break;
            case 5:
                from = {y, x};
                break;
            case 6:
                from = {y, h - 1 - x};
                break;
            case 7:
                from = {w - 1 - y, h - 1 - x};
                break;
            case 8:
                from = {w - 1 - y, x};
                break;
            default:
                from = {x, y};
                break;
            }
            out.setPixel(x, y, stored.pixel(from));
        }
    }
    return out;
}

inline void putLE16(QByteArray& out, int v) {
    out.append(char(v & 0xFF));
    out.append(char(v >> 8 & 0xFF));
}

inline void putLE32(QByteArray& out, std::uint32_t v) {
    putLE16(out, int(v & 0xFFFF));
    putLE16(out, int(v >> 16));
}

// A little-endian TIFF header and directory claiming one 8-bit grey strip of `width` x
// `height` pixels at offset `dataOffset` of `dataBytes` bytes, with no pixels after it.
inline QByteArray greyHeader(std::uint32_t width, std::uint32_t height,
                             std::uint32_t dataOffset = 200, std::uint32_t dataBytes = 0) {
    QByteArray out("II*\0", 4);
    putLE32(out, 8);
    struct Entry {
        int tag;
        int type; // 3 SHORT, 4 LONG
        std::uint32_t value;
    };
    const Entry entries[] = {
        {256, 4, width}, {257, 4, height}, {258, 3, 8},
        {259, 3, 1},     {262, 3, 1},      {273, 4, dataOffset},
        {277, 3, 1},     {278, 4, height}, {279, 4, dataBytes ? dataBytes : width * height},
    };
    putLE16(out, int(std::size(entries)));
    for (const Entry& e : entries) {
        putLE16(out, e.tag);
        putLE16(out, e.type);
        putLE32(out, 1);
        if (e.type == 3) {
            putLE16(out, int(e.value));
            putLE16(out, 0);
        } else {
            putLE32(out, e.value);
        }
    }
    putLE32(out, 0);
    return out;
}

inline std::uint32_t readLE(const QByteArray& b, qsizetype at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | std::uint8_t(b[at + i]);
    return v;
}

inline void writeLE32(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i) & 0xFF);
}

// A little-endian classic TIFF's first directory moved in front of its pixels, as libtiff and
// ImageMagick write it last: so a file cut short loses pixels, not its directory. Later pages
// are dropped.
inline QByteArray directoryFirst(const QByteArray& tiff) {
    const std::uint32_t ifd = readLE(tiff, 4, 4);
    const int count = int(readLE(tiff, ifd, 2));
    const int typeSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    const qsizetype ifdSize = 2 + qsizetype(count) * 12 + 4;
    // Values too large for their entry follow the directory; then the whole old file.
    QByteArray directory = tiff.mid(ifd, ifdSize);
    writeLE32(directory, ifdSize - 4, 0);
    QByteArray values;
    struct Moved {
        int entry;
        qsizetype at; // in `values`
    };
    std::vector<Moved> moved;
    for (int i = 0; i < count; ++i) {
        const qsizetype e = 2 + qsizetype(i) * 12;
        const int type = int(readLE(directory, e + 2, 2));
        const qsizetype size =
            (type < 13 ? typeSizes[type] : 1) * qsizetype(readLE(directory, e + 4, 4));
        if (size > 4) {
            moved.push_back({i, values.size()});
            values.append(tiff.mid(readLE(directory, e + 8, 4), size));
            if (values.size() % 2)
                values.append('\0');
        }
    }
    const std::uint32_t valuesAt = std::uint32_t(8 + ifdSize);
    const std::uint32_t shift = std::uint32_t(valuesAt + values.size()) - 8;
    for (const Moved& m : moved)
        writeLE32(directory, 2 + qsizetype(m.entry) * 12 + 8, valuesAt + std::uint32_t(m.at));
    // Strip and tile offsets point into the old file, which now starts `shift` bytes later.
    for (int i = 0; i < count; ++i) {
        const qsizetype e = 2 + qsizetype(i) * 12;
        const int tag = int(readLE(directory, e, 2));
        if (tag != 273 && tag != 324)
            continue;
        const int type = int(readLE(directory, e + 2, 2));
        const int size = type == 3 ? 2 : 4;
        const std::uint32_t n = readLE(directory, e + 4, 4);
        auto it =
            std::find_if(moved.begin(), moved.end(), [&](const Moved& m) { return m.entry == i; });
        for (std::uint32_t k = 0; k < n; ++k) {
            QByteArray& in = it == moved.end() ? directory : values;
            const qsizetype at = (it == moved.end() ? e + 8 : it->at) + qsizetype(k) * size;
            const std::uint32_t v = readLE(in, at, size) + shift;
            if (size == 4) {
                writeLE32(in, at, v);
            } else {
                in[at] = char(v & 0xFF);
                in[at + 1] = char(v >> 8 & 0xFF);
            }
        }
    }
    QByteArray out = tiff.left(4);
    putLE32(out, 8);
    return out + directory + values + tiff.mid(8);
}

} // namespace tavlin::test::tiff
