#pragma once

#include <cstdint>
#include <cstring>
#include <webp/decode.h>
#include <webp/encode.h>

#include <QByteArray>
#include <QImage>

// WebP files for the loader's tests, made with libwebp's own encoder and put together chunk by
// chunk where a test needs what the encoder does not write (EXIF, ICC, an animation's frames).
namespace tavlin::test::webp {

inline void putLE(QByteArray& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(char(v >> (8 * i) & 0xFF));
}

// One RIFF chunk: its name, size and payload, padded to an even length.
inline QByteArray chunk(const char* fourcc, const QByteArray& payload) {
    QByteArray out(fourcc, 4);
    putLE(out, std::uint32_t(payload.size()), 4);
    out.append(payload);
    if (payload.size() & 1)
        out.append('\0');
    return out;
}

inline QByteArray riff(const QByteArray& chunks) {
    QByteArray out("RIFF", 4);
    putLE(out, std::uint32_t(chunks.size() + 4), 4);
    return out + "WEBP" + chunks;
}

// Lossy at `quality`, or lossless when `quality` is negative; alpha is kept when the
// picture has it (an ALPH chunk for lossy).
inline QByteArray encode(const QImage& picture, int quality) {
    const QImage bgra = picture.convertToFormat(QImage::Format_ARGB32);
    std::uint8_t* out = nullptr;
    const std::size_t size =
        quality < 0 ? WebPEncodeLosslessBGRA(bgra.constBits(), bgra.width(), bgra.height(),
                                             int(bgra.bytesPerLine()), &out)
                    : WebPEncodeBGRA(bgra.constBits(), bgra.width(), bgra.height(),
                                     int(bgra.bytesPerLine()), float(quality), &out);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    WebPFree(out);
    return bytes;
}

// VP8X flags.
constexpr int kAnimation = 0x02;
constexpr int kExif = 0x08;
constexpr int kAlpha = 0x10;
constexpr int kIcc = 0x20;

inline QByteArray vp8x(int flags, int width, int height) {
    QByteArray payload;
    putLE(payload, std::uint32_t(flags), 4);
    putLE(payload, std::uint32_t(width - 1), 3);
    putLE(payload, std::uint32_t(height - 1), 3);
    return chunk("VP8X", payload);
}

// `webp` in the extended form, with an ICCP chunk before its picture and an EXIF chunk after
// it where they are given.
inline QByteArray extended(const QByteArray& webp, const QByteArray& icc, const QByteArray& exif) {
    WebPBitstreamFeatures features;
    WebPGetFeatures(reinterpret_cast<const std::uint8_t*>(webp.constData()),
                    std::size_t(webp.size()), &features);
    QByteArray body = webp.mid(12);
    int flags = features.has_alpha ? kAlpha : 0;
    if (body.startsWith("VP8X")) {
        flags |= body[8];
        body = body.mid(18);
    }
    if (!icc.isEmpty())
        flags |= kIcc;
    if (!exif.isEmpty())
        flags |= kExif;
    QByteArray chunks = vp8x(flags, features.width, features.height);
    if (!icc.isEmpty())
        chunks += chunk("ICCP", icc);
    chunks += body;
    if (!exif.isEmpty())
        chunks += chunk("EXIF", exif);
    return riff(chunks);
}

// A TIFF block holding one EXIF orientation (1-8), little-endian.
inline QByteArray exifTiff(int orientation) {
    QByteArray tiff("II*\0", 4);
    putLE(tiff, 8, 4);
    putLE(tiff, 1, 2);
    putLE(tiff, 0x0112, 2);
    putLE(tiff, 3, 2);
    putLE(tiff, 1, 4);
    putLE(tiff, std::uint32_t(orientation), 2);
    putLE(tiff, 0, 2);
    putLE(tiff, 0, 4);
    return tiff;
}

struct Frame {
    QImage picture;
    int x = 0; // even
    int y = 0; // even
};

// An animation on a `width` x `height` canvas, each frame lossless, shown for 100 ms.
inline QByteArray animation(int width, int height, const QList<Frame>& frames) {
    QByteArray anim;
    putLE(anim, 0, 4); // background colour
    putLE(anim, 0, 2); // loop forever
    bool alpha = false;
    QByteArray chunks;
    for (const Frame& frame : frames) {
        alpha = alpha || frame.picture.hasAlphaChannel();
        QByteArray payload;
        putLE(payload, std::uint32_t(frame.x / 2), 3);
        putLE(payload, std::uint32_t(frame.y / 2), 3);
        putLE(payload, std::uint32_t(frame.picture.width() - 1), 3);
        putLE(payload, std::uint32_t(frame.picture.height() - 1), 3);
        putLE(payload, 100, 3);
        payload.append(char(0x02)); // no blending, nothing disposed
        payload.append(encode(frame.picture, -1).mid(12));
        chunks += chunk("ANMF", payload);
    }
    return riff(vp8x(kAnimation | (alpha ? kAlpha : 0), width, height) + chunk("ANIM", anim) +
                chunks);
}

// A lossless bitstream of `side` x `side` (a multiple of 4, at least 1024) whose Huffman picture
// names 65,536 groups, one a pixel, and ends there: libwebp allocates 800 MB of tables for them
// before finding none. 135 KB.
inline QByteArray manyGroupsLossless(int side) {
    QByteArray data(1, char(0x2F));
    std::uint64_t acc = 0;
    int used = 0;
    auto put = [&](std::uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) {
            acc |= std::uint64_t(value >> i & 1) << used;
            if (++used == 8) {
                data.append(char(acc));
                acc = 0;
                used = 0;
            }
        }
    };
    auto putHighFirst = [&](std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i)
            put(value >> i & 1, 1);
    };
    put(std::uint32_t(side - 1), 14);
    put(std::uint32_t(side - 1), 14);
    put(0, 4); // no alpha, version 0
    put(0, 1); // no transform
    put(0, 1); // no colour cache
    put(1, 1); // a Huffman picture,
    put(0, 3); // a pixel for each 4 x 4 block
    put(0, 1); // the Huffman picture: no colour cache
    // Every literal at 8 bits: code lengths 0 and 8 each a one-bit code, then one a symbol.
    auto normalCode = [&](int alphabet) {
        put(0, 1);
        put(8, 4); // 12 code length code lengths
        for (int symbol : {17, 18, 0, 1, 2, 3, 4, 5, 16, 6, 7, 8})
            put(symbol == 0 || symbol == 8 ? 1 : 0, 3);
        put(0, 1);
        for (int i = 0; i < alphabet; ++i)
            put(i < 256 ? 1 : 0, 1);
    };
    auto oneSymbol = [&] { put(0b0001, 4); }; // simple, one symbol of one bit: 0
    normalCode(280);
    normalCode(256);
    oneSymbol();
    oneSymbol();
    oneSymbol();
    for (std::uint32_t group = 0; group < 65536; ++group) {
        putHighFirst(group & 0xFF, 8); // green
        putHighFirst(group >> 8, 8);   // red
    }
    put(0, 7);
    data.append(QByteArray(4000, '\0'));
    return riff(chunk("VP8L", data));
}

// libwebp's own decode of the whole picture, shown over black.
inline QImage libwebpDecode(const QByteArray& webp) {
    WebPDecoderConfig config;
    WebPInitDecoderConfig(&config);
    const auto* data = reinterpret_cast<const std::uint8_t*>(webp.constData());
    if (WebPGetFeatures(data, std::size_t(webp.size()), &config.input) != VP8_STATUS_OK)
        return {};
    QImage image(config.input.width, config.input.height, QImage::Format_ARGB32_Premultiplied);
    config.output.colorspace = MODE_bgrA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = std::size_t(image.sizeInBytes());
    if (WebPDecode(data, std::size_t(webp.size()), &config) != VP8_STATUS_OK)
        return {};
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

} // namespace tavlin::test::webp
