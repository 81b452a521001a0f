#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

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

} // namespace tavlin::test::fixtures
