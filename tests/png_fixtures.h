#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "pictureloader_fixtures.h"

// PNG files built chunk by chunk for the PNG reader's tests: every colour type and bit depth
// with known samples, and hostile or damaged files that stay small on disk.
namespace tavlin::test::png {

using fixtures::largestDifference;

inline std::uint32_t crc32(const QByteArray& data) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (const char byte : data)
        c = table[(c ^ std::uint8_t(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

inline void put32(QByteArray& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char(v >> shift & 0xFF));
}

inline void put16(QByteArray& out, int v) {
    out.append(char(v >> 8 & 0xFF));
    out.append(char(v & 0xFF));
}

inline std::uint32_t get32(const QByteArray& in, qsizetype at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | std::uint8_t(in[at + i]);
    return v;
}

// One chunk: length, type, body and the CRC of type and body.
inline QByteArray chunk(const char* type, const QByteArray& body) {
    QByteArray out;
    put32(out, std::uint32_t(body.size()));
    const QByteArray typed = QByteArray(type, 4) + body;
    out.append(typed);
    put32(out, crc32(typed));
    return out;
}

inline const QByteArray kSignature("\x89PNG\r\n\x1a\n", 8);

inline QByteArray ihdr(std::uint32_t width, std::uint32_t height, int depth, int colourType,
                       int interlace = 0) {
    QByteArray body;
    put32(body, width);
    put32(body, height);
    body.append(char(depth));
    body.append(char(colourType));
    body.append('\0');
    body.append('\0');
    body.append(char(interlace));
    return chunk("IHDR", body);
}

// A zlib stream of `raw` (qCompress puts the length in front of it).
inline QByteArray zlib(const QByteArray& raw) {
    return qCompress(raw).mid(4);
}

inline int channelsOf(int colourType) {
    switch (colourType) {
    case 2:
        return 3;
    case 4:
        return 2;
    case 6:
        return 4;
    default:
        return 1;
    }
}

// The filtered rows (filter 0) of a picture whose sample of channel `c` at `x`, `y` is
// `sample(x, y, c)`, packed at `depth` bits.
inline QByteArray rawRows(int width, int height, int depth, int colourType,
                          const std::function<int(int, int, int)>& sample) {
    const int channels = channelsOf(colourType);
    QByteArray raw;
    for (int y = 0; y < height; ++y) {
        raw.append('\0');
        int acc = 0;
        int bits = 0;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const int v = sample(x, y, c);
                if (depth == 16) {
                    put16(raw, v);
                    continue;
                }
                acc = acc << depth | v;
                bits += depth;
                if (bits == 8) {
                    raw.append(char(acc));
                    acc = bits = 0;
                }
            }
        }
        if (bits > 0)
            raw.append(char(acc << (8 - bits)));
    }
    return raw;
}

// A whole PNG: `beforeData` (PLTE, tRNS, colour chunks) between IHDR and IDAT.
inline QByteArray encode(int width, int height, int depth, int colourType,
                         const std::function<int(int, int, int)>& sample,
                         const QByteArray& beforeData = {}) {
    return kSignature + ihdr(std::uint32_t(width), std::uint32_t(height), depth, colourType) +
           beforeData + chunk("IDAT", zlib(rawRows(width, height, depth, colourType, sample))) +
           chunk("IEND", {});
}

// Where the first chunk of `type` starts in `png`; -1 when there is none.
inline qsizetype findChunk(const QByteArray& png, const char* type) {
    qsizetype at = 8;
    while (at + 8 <= png.size()) {
        if (png.mid(at + 4, 4) == QByteArray(type, 4))
            return at;
        at += 12 + qsizetype(get32(png, at));
    }
    return -1;
}

inline QByteArray afterIhdr(const QByteArray& png, const QByteArray& chunkBytes) {
    return png.left(33) + chunkBytes + png.mid(33);
}

inline QByteArray beforeIdat(const QByteArray& png, const QByteArray& chunkBytes) {
    const qsizetype at = findChunk(png, "IDAT");
    return png.left(at) + chunkBytes + png.mid(at);
}

// The IHDR fields a fixture is made to have: bit depth, colour type, interlace method.
inline std::array<int, 3> headerOf(const QByteArray& png) {
    if (png.size() < 29)
        return {-1, -1, -1};
    return {std::uint8_t(png[24]), std::uint8_t(png[25]), std::uint8_t(png[28])};
}

// An EXIF block as PNG's eXIf chunk holds it: a bare TIFF structure with one orientation.
inline QByteArray exifChunk(int orientation) {
    QByteArray tiff("MM\0*", 4);
    put32(tiff, 8);
    put16(tiff, 1);
    put16(tiff, 0x0112);
    put16(tiff, 3);
    put32(tiff, 1);
    put16(tiff, orientation);
    put16(tiff, 0);
    put32(tiff, 0);
    return chunk("eXIf", tiff);
}

// A small ICC profile for an RGB picture, as libpng's checks accept it: its header, claiming
// `declaredSize` bytes, the media white point and a copyright of varied bytes (libpng takes a
// chunk that compresses below about 90 bytes for a damaged one).
inline QByteArray iccProfile(std::uint32_t declaredSize = 304) {
    QByteArray icc;
    put32(icc, declaredSize);
    icc.append("none");
    put32(icc, 0x02100000); // version 2.1
    icc.append("mntr");
    icc.append("RGB ");
    icc.append("XYZ ");
    icc.append(QByteArray(12, '\0')); // date
    icc.append("acsp");
    icc.append(QByteArray(4 + 4 + 4 + 4 + 8 + 4, '\0')); // platform .. attributes, intent
    put32(icc, 0x0000F6D6);                              // D50 illuminant
    put32(icc, 0x00010000);
    put32(icc, 0x0000D32D);
    icc.append(QByteArray(4 + 16 + 28, '\0')); // creator, ID, reserved
    put32(icc, 2);                             // tags
    icc.append("wtpt");
    put32(icc, 156);
    put32(icc, 20);
    icc.append("cprt");
    put32(icc, 176);
    put32(icc, 128);
    icc.append("XYZ ");
    put32(icc, 0);
    put32(icc, 0x0000F351);
    put32(icc, 0x00010000);
    put32(icc, 0x000116CC);
    icc.append("text");
    put32(icc, 0);
    std::uint32_t seed = 99;
    for (int i = 0; i < 120; ++i) {
        seed = seed * 1664525u + 1013904223u;
        icc.append(char(32 + (seed >> 24) % 95));
    }
    return icc;
}

inline QByteArray iccpChunk(const QByteArray& profile) {
    return chunk("iCCP", QByteArray("test\0\0", 6) + zlib(profile));
}

// Keeps ImageMagick from writing colour and text chunks, so its files hold pixels only.
inline const QStringList kNoChunks{QStringLiteral("-define"),
                                   QStringLiteral("png:exclude-chunk=all")};

// Runs ImageMagick's convert; its exit status.
inline int convert(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("convert"), arguments);
}

// How ImageMagick decodes `path`, as 8-bit samples, shown over black: each channel multiplied
// by its alpha.
inline QImage referenceOverBlack(const QString& path, QSize size) {
    QProcess process;
    process.start(QStringLiteral("convert"),
                  {path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgba:-")});
    process.waitForFinished(60000);
    const QByteArray rgba = process.readAllStandardOutput();
    if (rgba.size() != qsizetype(size.width()) * size.height() * 4)
        return {};
    QImage out(size, QImage::Format_RGB32);
    const auto* p = reinterpret_cast<const std::uint8_t*>(rgba.constData());
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < size.width(); ++x, p += 4)
            line[x] = qRgb(p[0] * p[3] / 255, p[1] * p[3] / 255, p[2] * p[3] / 255);
    }
    return out;
}

} // namespace tavlin::test::png
