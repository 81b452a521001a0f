#include "decode/formats.h"

#include <cstring>

#include "decode/readers.h"

namespace tavlin {

namespace {

bool startsWith(QByteArrayView head, const char* magic, qsizetype size) {
    return head.size() >= size && std::memcmp(head.data(), magic, size_t(size)) == 0;
}

bool isJpeg(QByteArrayView head) {
    return startsWith(head, "\xFF\xD8", 2);
}

bool isBmp(QByteArrayView head) {
    return startsWith(head, "BM", 2);
}

bool isGif(QByteArrayView head) {
    return startsWith(head, "GIF8", 4);
}

bool isPng(QByteArrayView head) {
    return startsWith(head, "\x89PNG\r\n\x1A\n", 8);
}

bool isWebP(QByteArrayView head) {
    return startsWith(head, "RIFF", 4) && head.size() >= 12 &&
           std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

bool isTiff(QByteArrayView head) {
    // Classic TIFF (42) and BigTIFF (43), in either byte order.
    return startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4) ||
           startsWith(head, "II+\0", 4) || startsWith(head, "MM\0+", 4);
}

// The brands of an ISO base media file's leading `ftyp` box, as far as `head` holds them: the
// major brand, then the compatible ones.
QList<QByteArrayView> isoBrands(QByteArrayView head) {
    QList<QByteArrayView> brands;
    if (head.size() < 12 || std::memcmp(head.data() + 4, "ftyp", 4) != 0)
        return brands;
    const auto* b = reinterpret_cast<const unsigned char*>(head.data());
    const qsizetype boxSize = qsizetype(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    if (boxSize < 16)
        return brands;
    const qsizetype end = std::min(boxSize, head.size());
    brands.append(head.sliced(8, 4));
    for (qsizetype at = 16; at + 4 <= end; at += 4)
        brands.append(head.sliced(at, 4));
    return brands;
}

bool hasBrand(QByteArrayView head, std::initializer_list<const char*> wanted) {
    for (QByteArrayView brand : isoBrands(head))
        for (const char* w : wanted)
            if (brand == QByteArrayView(w, 4))
                return true;
    return false;
}

bool isAvif(QByteArrayView head) {
    return hasBrand(head, {"avif", "avis"});
}

bool isHeif(QByteArrayView head) {
    return !isAvif(head) &&
           hasBrand(head, {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"});
}

bool isJxl(QByteArrayView head) {
    // A bare codestream, or the container's signature box.
    return startsWith(head, "\xFF\x0A", 2) || startsWith(head, "\0\0\0\x0CJXL \r\n\x87\n", 12);
}

} // namespace

const std::vector<PictureFormat>& pictureFormats() {
    static const std::vector<PictureFormat> formats{
        {"jpeg", "JPEG", {"jpg", "jpeg", "jpe"}, {"image/jpeg"}, isJpeg, openJpeg},
        {"bmp", "BMP", {"bmp"}, {"image/bmp"}, isBmp, openBmp},
        {"gif", "GIF", {"gif"}, {"image/gif"}, isGif, openGif},
        {"png", "PNG", {"png"}, {"image/png"}, isPng, openPng},
        {"webp", "WebP", {"webp"}, {"image/webp"}, isWebP, openWebP},
        {"tiff", "TIFF", {"tif", "tiff"}, {"image/tiff"}, isTiff, openTiff},
        {"heif", "HEIF", {"heic", "heif", "hif"}, {"image/heif", "image/heic"}, isHeif, openHeif},
        {"avif", "AVIF", {"avif"}, {"image/avif"}, isAvif, openHeif},
        {"jxl", "JPEG XL", {"jxl"}, {"image/jxl"}, isJxl, openJxl},
    };
    return formats;
}

const PictureFormat* formatOfBytes(QByteArrayView head) {
    for (const PictureFormat& format : pictureFormats())
        if (format.identifies(head))
            return &format;
    return nullptr;
}

QString pictureNamePattern() {
    QStringList globs;
    for (const PictureFormat& format : pictureFormats())
        for (const QString& ending : format.endings)
            globs.append(QStringLiteral("*.") + ending);
    return globs.join(u';');
}

QStringList pictureMimeTypes() {
    QStringList types;
    for (const PictureFormat& format : pictureFormats())
        types.append(format.mimeTypes);
    return types;
}

bool hasAvifBrand(QByteArrayView head) {
    return isAvif(head);
}

QString pictureFormatCaptions() {
    QStringList captions;
    for (const PictureFormat& format : pictureFormats())
        captions.append(QString::fromLatin1(format.caption));
    const QString last = captions.takeLast();
    return captions.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace tavlin
