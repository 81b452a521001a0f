#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <webp/decode.h>
#include <webp/demux.h>

#include "decode/jpegscan.h"
#include "decode/readers.h"
#include "decode/webplossless.h"
#include "platform/regularfile.h"

namespace tavlin {

namespace {

// Enough of a file's start for libwebp to read the header of any ordinary picture; a file
// with large chunks before its bitstream is read whole first.
constexpr qsizetype kHeadBytes = 4096;
// The bitstream is handed to the decoder this much at a time, the cancel flag checked between.
constexpr std::size_t kChunkBytes = 256 * 1024;

std::uint32_t le24(const uchar* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
}

std::uint32_t le32(const uchar* p) {
    return le24(p) | std::uint32_t(p[3]) << 24;
}

QString statusProblem(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
        return QStringLiteral("there was not enough memory to decode it");
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return QStringLiteral("it uses a WebP feature this decoder does not support");
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return QStringLiteral("the file ends before its picture");
    case VP8_STATUS_INVALID_PARAM:
        return QStringLiteral("its picture does not match its header");
    default:
        return QStringLiteral("its data is damaged");
    }
}

// What libwebp holds while decoding a bitstream of `size` pixels, besides the output (measured
// with a counting allocator on libwebp 1.2.4): the lossless decoder works on the whole
// picture as ARGB, four bytes a pixel, plus a cache of rows; the lossy one on a few rows of
// macroblocks, about 128 bytes a column, plus two bytes a pixel for an alpha plane, six when
// the plane is compressed losslessly and decodes through an ARGB picture of its own.
std::int64_t decoderBytes(QSize size, bool lossless, bool alpha, bool alphaCompressed) {
    const std::int64_t w = size.width();
    const std::int64_t pixels = w * size.height();
    if (lossless)
        return pixels * 4 + w * 4 * 32 + (1 << 20);
    std::int64_t bytes = w * 128 + (1 << 20);
    if (alpha)
        bytes += pixels * (alphaCompressed ? 6 : 2) + w * 128;
    return bytes;
}

// The picture a WebP file holds, its checked bytes in memory.
struct WebPPicture {
    QByteArray bytes;
    QSize canvas;
    bool alpha = false;
    // The bitstream to decode, in `bytes`: the whole file for a still picture, the first
    // frame's for an animation, which lands on the canvas at `frame`.
    qsizetype bitstreamAt = 0;
    qsizetype bitstreamSize = 0;
    QRect frame;
};

// Allocates a picture of `size` whose buffer has `margin` spare columns on the left and rows
// on top, so libwebp, which starts a crop on an even pixel, can write the pixel before an odd
// one. The picture's own pixels start after the margin; nothing is copied to drop it.
QImage imageWithMargin(QSize size, QImage::Format format, QPoint margin) {
    if (margin.isNull())
        return QImage(size, format);
    QImage whole(size + QSize(margin.x(), margin.y()), format);
    if (whole.isNull())
        return whole;
    uchar* start = whole.bits() + margin.y() * whole.bytesPerLine() + margin.x() * 4;
    const qsizetype stride = whole.bytesPerLine();
    auto* owner = new QImage(std::move(whole));
    return QImage(
        start, size.width(), size.height(), stride, format,
        [](void* info) { delete static_cast<QImage*>(info); }, owner);
}

void fillRows(QImage& image, QRect rect, QRgb value) {
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(row + rect.left(), row + rect.right() + 1, value);
    }
}

struct DecodeOutcome {
    QImage image;
    QString problem;
    bool cancelled = false;
    bool cutShort = false;
};

// Decodes `plan.clip` of the canvas at `plan.decodeSize`: libwebp crops the bitstream, scales
// it and writes it straight into the picture returned, fed a chunk at a time.
DecodeOutcome decodeWebP(const WebPPicture& picture, const DecodePlan& plan,
                         const std::atomic<bool>* cancelled) {
    DecodeOutcome outcome;
    const QSize out = plan.decodeSize;
    const QRect clip = plan.clip;
    const QRect part = picture.frame & clip;
    const bool scaled = out != clip.size();
    // Where the part lands in the decoded picture.
    QRect landing;
    if (!part.isEmpty()) {
        const double sx = double(out.width()) / clip.width();
        const double sy = double(out.height()) / clip.height();
        const int x0 = int(std::lround((part.left() - clip.left()) * sx));
        const int y0 = int(std::lround((part.top() - clip.top()) * sy));
        const int x1 =
            std::min(out.width(), int(std::lround((part.right() + 1 - clip.left()) * sx)));
        const int y1 =
            std::min(out.height(), int(std::lround((part.bottom() + 1 - clip.top()) * sy)));
        landing = QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
    }
    // libwebp starts a crop on an even pixel: one more column or row is decoded before an
    // odd start. Unscaled it goes to a spare column or row; scaled, it shifts the picture by
    // one stored pixel, less than one shown.
    const QRect crop = part.translated(-picture.frame.topLeft());
    const int dx = crop.left() & 1;
    const int dy = crop.top() & 1;
    const QPoint margin(!scaled && landing.left() < dx ? dx : 0,
                        !scaled && landing.top() < dy ? dy : 0);
    const bool covered = landing == QRect(QPoint(0, 0), out);
    const bool alpha = picture.alpha || !covered;
    const QImage::Format format =
        alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    outcome.image = imageWithMargin(out, format, margin);
    QImage& image = outcome.image;
    if (image.isNull()) {
        outcome.problem = QStringLiteral("there was not enough memory to decode it");
        return outcome;
    }
    if (!covered)
        image.fill(Qt::transparent);
    if (landing.isEmpty())
        return outcome;

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        outcome.problem = QStringLiteral("the WebP library does not match the program");
        outcome.image = QImage();
        return outcome;
    }
    const QRect evenCrop(crop.left() - dx, crop.top() - dy, crop.width() + dx, crop.height() + dy);
    if (evenCrop != QRect(QPoint(0, 0), picture.frame.size())) {
        config.options.use_cropping = 1;
        config.options.crop_left = evenCrop.left();
        config.options.crop_top = evenCrop.top();
        config.options.crop_width = evenCrop.width();
        config.options.crop_height = evenCrop.height();
    }
    QPoint at = landing.topLeft();
    QSize written = landing.size();
    if (scaled) {
        config.options.use_scaling = 1;
        config.options.scaled_width = written.width();
        config.options.scaled_height = written.height();
    } else {
        at -= QPoint(dx, dy);
        written = evenCrop.size();
    }
    config.output.colorspace = alpha ? MODE_bgrA : MODE_BGRA;
    config.output.is_external_memory = 1;
    const qsizetype stride = image.bytesPerLine();
    // The picture's first pixel, and through the margin the spare ones before it.
    uchar* origin = image.bits() + qsizetype(at.y()) * stride + qsizetype(at.x()) * 4;
    config.output.u.RGBA.rgba = origin;
    config.output.u.RGBA.stride = int(stride);
    config.output.u.RGBA.size = std::size_t(stride) * (written.height() - 1) + written.width() * 4;

    WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
    if (!decoder) {
        outcome.problem = QStringLiteral("the WebP decoder could not be started");
        outcome.image = QImage();
        return outcome;
    }
    std::unique_ptr<WebPIDecoder, void (*)(WebPIDecoder*)> owner(decoder, WebPIDelete);
    const auto* data =
        reinterpret_cast<const std::uint8_t*>(picture.bytes.constData()) + picture.bitstreamAt;
    const std::size_t size = std::size_t(picture.bitstreamSize);
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (std::size_t fed = 0; fed < size && status == VP8_STATUS_SUSPENDED;) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            outcome.cancelled = true;
            outcome.image = QImage();
            return outcome;
        }
        fed = std::min(size, fed + kChunkBytes);
        status = WebPIUpdate(decoder, data, fed);
    }
    if (status == VP8_STATUS_OK)
        return outcome;
    if (status != VP8_STATUS_SUSPENDED) {
        outcome.problem = statusProblem(status);
        outcome.image = QImage();
        return outcome;
    }
    // The file ends inside the bitstream: the rows decoded so far show, the rest are black.
    int rows = 0;
    if (!WebPIDecGetRGB(decoder, &rows, nullptr, nullptr, nullptr) || rows <= 0) {
        outcome.problem = QStringLiteral("the file ends before any of its pixels");
        outcome.image = QImage();
        return outcome;
    }
    const int shownRows = std::max(0, rows - (landing.top() - at.y()));
    if (shownRows < landing.height())
        fillRows(image,
                 QRect(landing.left(), landing.top() + shownRows, landing.width(),
                       landing.height() - shownRows),
                 alpha ? 0u : 0xFF000000u);
    outcome.cutShort = true;
    return outcome;
}

// Reads `count` bytes from `file` onto the end of `bytes`; fewer when the file ends first.
bool readOnto(QFile& file, QByteArray& bytes, qsizetype count) {
    const qsizetype start = bytes.size();
    bytes.resize(start + count);
    qsizetype have = 0;
    while (have < count) {
        const qint64 got = file.read(bytes.data() + start + have, count - have);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        have += qsizetype(got);
    }
    bytes.resize(start + have);
    return true;
}

// The EXIF orientation in a WebP EXIF chunk: a TIFF block, bare or after "Exif\0\0".
int exifChunkOrientation(const WebPData& chunk) {
    QByteArray body("Exif\0\0", 6);
    const auto* bytes = reinterpret_cast<const char*>(chunk.bytes);
    if (chunk.size >= 6 && std::memcmp(bytes, "Exif\0\0", 6) == 0)
        body.clear();
    body.append(bytes, qsizetype(chunk.size));
    return exifOrientation(reinterpret_cast<const std::uint8_t*>(body.constData()), body.size());
}

// The Huffman tables libwebp allocates for the lossless bitstream among the chunks of
// `bytes` from `at` to `end` (a whole picture's, or an alpha plane's compressed losslessly)
// of a picture of `size`; 0 when there is none or its header is damaged, where libwebp
// stops before allocating them.
std::int64_t losslessTableBytes(const QByteArray& bytes, qsizetype at, qsizetype end, QSize size) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    end = std::min(end, bytes.size());
    std::int64_t tables = 0;
    while (at + 8 <= end) {
        const std::int64_t length = le32(data + at + 4);
        const qsizetype payload = at + 8;
        const std::size_t available = std::size_t(std::min<std::int64_t>(length, end - payload));
        if (std::memcmp(data + at, "VP8L", 4) == 0 && available > 5)
            tables +=
                std::max<std::int64_t>(0, webpLosslessTableBytes(data + payload + 5, available - 5,
                                                                 size.width(), size.height()));
        else if (std::memcmp(data + at, "ALPH", 4) == 0 && available > 1 &&
                 (data[payload] & 3) == 1)
            tables +=
                std::max<std::int64_t>(0, webpLosslessTableBytes(data + payload + 1, available - 1,
                                                                 size.width(), size.height()));
        at = payload + qsizetype(std::min<std::int64_t>(length + (length & 1), end - payload));
    }
    return tables;
}

} // namespace

// Reads and checks a WebP: the header first, sizes checked before the file is read whole
// (libwebp decodes from memory), then the chunks saying colours and orientation and, for an
// animation, where its first frame lies.
bool openWebP(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error) {
    const std::int64_t fileSize = file.size();
    auto picture = std::make_shared<WebPPicture>();
    QByteArray& bytes = picture->bytes;
    if (!readOnto(file, bytes, qsizetype(std::min<std::int64_t>(fileSize, kHeadBytes)))) {
        error =
            QStringLiteral("%1 cannot be read: %2.").arg(quotedFileName(path), file.errorString());
        return false;
    }
    if (bytes.size() < 12) {
        error = undecodableError(path, QStringLiteral("the file ends before its picture"));
        return false;
    }
    const auto* head = reinterpret_cast<const uchar*>(bytes.constData());
    // The RIFF header says where the picture ends; bytes after it are not read.
    const std::int64_t riffEnd = std::int64_t(le32(head + 4)) + 8;
    const std::int64_t end = std::min(fileSize, riffEnd);

    WebPBitstreamFeatures features;
    VP8StatusCode status =
        WebPGetFeatures(head, std::size_t(std::min<std::int64_t>(bytes.size(), end)), &features);
    QSize size;
    if (status == VP8_STATUS_OK) {
        size = QSize(features.width, features.height);
    } else if (status == VP8_STATUS_NOT_ENOUGH_DATA && bytes.size() < end) {
        // Chunks before the bitstream outgrow the head: the extended header's canvas is
        // checked before the rest is read.
        if (bytes.size() >= 30 && std::memcmp(head + 12, "VP8X", 4) == 0)
            size = QSize(int(le24(head + 24) + 1), int(le24(head + 27) + 1));
    } else {
        error = undecodableError(path, statusProblem(status));
        return false;
    }
    if (size.isValid() && tooLarge(size)) {
        error = tooLargeError(path, size);
        return false;
    }
    if (end > control.memoryBudget) {
        error = overBudgetError(path, end, control.memoryBudget);
        return false;
    }
    if (bytes.size() > end)
        bytes.truncate(qsizetype(end));
    if (!readOnto(file, bytes, qsizetype(end - bytes.size()))) {
        error =
            QStringLiteral("%1 cannot be read: %2.").arg(quotedFileName(path), file.errorString());
        return false;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (status != VP8_STATUS_OK) {
        status = WebPGetFeatures(data, std::size_t(bytes.size()), &features);
        if (status != VP8_STATUS_OK) {
            error = undecodableError(path, statusProblem(status));
            return false;
        }
        size = QSize(features.width, features.height);
        if (tooLarge(size)) {
            error = tooLargeError(path, size);
            return false;
        }
    }

    picture->canvas = size;
    picture->alpha = features.has_alpha;
    picture->frame = QRect(QPoint(0, 0), size);
    picture->bitstreamSize = bytes.size();
    bool lossless = features.format == 2;
    const std::uint8_t* alphaChunk = nullptr;
    bool frameFound = false;

    const WebPData webpData{data, std::size_t(bytes.size())};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demux(WebPDemuxPartial(&webpData, &state),
                                                               WebPDemuxDelete);
    if (demux) {
        WebPChunkIterator chunk;
        if (WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
            source.colours.iccProfile = QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes),
                                                   qsizetype(chunk.chunk.size));
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        if (WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
            source.transform = exifTransformation(exifChunkOrientation(chunk.chunk));
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        WebPIterator frame;
        if (WebPDemuxGetFrame(demux.get(), 1, &frame)) {
            frameFound = true;
            if (features.has_animation) {
                picture->frame = QRect(frame.x_offset, frame.y_offset, frame.width, frame.height);
                picture->alpha = frame.has_alpha || picture->frame != QRect(QPoint(0, 0), size);
                picture->bitstreamAt = qsizetype(frame.fragment.bytes - data);
                picture->bitstreamSize = qsizetype(frame.fragment.size);
                WebPBitstreamFeatures frameFeatures;
                if (WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &frameFeatures) ==
                    VP8_STATUS_OK)
                    lossless = frameFeatures.format == 2;
            }
            if (frame.fragment.size >= 9 && std::memcmp(frame.fragment.bytes, "ALPH", 4) == 0)
                alphaChunk = frame.fragment.bytes;
            WebPDemuxReleaseIterator(&frame);
        }
    }
    if (features.has_animation && (!frameFound || picture->frame.isEmpty() ||
                                   !QRect(QPoint(0, 0), size).contains(picture->frame))) {
        error = undecodableError(path, bytes.size() < riffEnd
                                           ? QStringLiteral("the file ends before its first frame")
                                           : QStringLiteral("its first frame is damaged"));
        return false;
    }
    // A losslessly compressed alpha plane decodes through a picture of its own; a plain one
    // does not.
    const bool alphaCompressed = !alphaChunk || (alphaChunk[8] & 3) != 0;

    source.format = "webp";
    source.stored = size;
    source.reduction = Reduction::Any;
    // The Huffman tables libwebp allocates as it reads a lossless header, among the chunks of
    // the whole picture or of the animation's first frame.
    const qsizetype chunksAt = features.has_animation ? picture->bitstreamAt : 12;
    source.heldBytes =
        bytes.size() +
        decoderBytes(picture->frame.size(), lossless, picture->alpha, alphaCompressed) +
        losslessTableBytes(bytes, chunksAt, picture->bitstreamAt + picture->bitstreamSize,
                           picture->frame.size());
    if (source.heldBytes > control.memoryBudget) {
        error = overBudgetError(path, source.heldBytes, control.memoryBudget);
        return false;
    }
    const std::atomic<bool>* cancelled = control.cancelled;
    source.decode = [picture, path, cancelled](const DecodePlan& plan, QString& err, bool& stopped,
                                               bool& cutShort) {
        DecodeOutcome outcome = decodeWebP(*picture, plan, cancelled);
        stopped = outcome.cancelled;
        cutShort = outcome.cutShort;
        if (!outcome.problem.isEmpty())
            err = undecodableError(path, outcome.problem);
        return std::move(outcome.image);
    };
    return true;
}

} // namespace tavlin
