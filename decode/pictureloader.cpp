#include "decode/pictureloader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include "decode/bmpdecoder.h"
#include "decode/colour.h"
#include "decode/decodesource.h"
#include "decode/formats.h"
#include "decode/gifscan.h"
#include "decode/jpegdecoder.h"
#include "decode/jpegscan.h"
#include "decode/readers.h"
#include "platform/regularfile.h"

namespace tavlin {

namespace {

// Maps continuous coordinates of the picture as stored onto the picture as shown, for a
// stored picture of `stored` pixels. Same order as Qt applies EXIF orientation: mirror
// and flip first, then a quarter turn clockwise.
QTransform orientationTransform(QImageIOHandler::Transformations t, QSizeF stored) {
    QTransform flip;
    if (t & QImageIOHandler::TransformationMirror)
        flip = QTransform(-1, 0, 0, 1, stored.width(), 0);
    if (t & QImageIOHandler::TransformationFlip)
        flip *= QTransform(1, 0, 0, -1, 0, stored.height());
    if (!(t & QImageIOHandler::TransformationRotate90))
        return flip;
    return flip * QTransform(0, 1, -1, 0, stored.height(), 0);
}

QImage orient(QImage image, QImageIOHandler::Transformations t) {
    const bool mirror = t & QImageIOHandler::TransformationMirror;
    const bool flip = t & QImageIOHandler::TransformationFlip;
    if (mirror || flip)
        image = std::move(image).mirrored(mirror, flip);
    if (t & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

// Rounds a rectangle outwards to whole multiples of `step`.
QRect alignOutwards(const QRectF& r, int step) {
    const int x0 = int(std::floor(r.left() / step)) * step;
    const int y0 = int(std::floor(r.top() / step)) * step;
    const int x1 = int(std::ceil(r.right() / step)) * step;
    const int y1 = int(std::ceil(r.bottom() / step)) * step;
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}

// Plans the decode of `want` (in the scaled stored picture of `scaled` pixels) from a stored
// picture of `stored` pixels. JPEGs and BMPs are reduced by a power of two while decoding, some
// formats straight to the shown size; the rest of the scaling is left to a smooth resample of
// the (smaller) decoded clip.
DecodePlan planDecode(QSize stored, QSize scaled, QRect want, Reduction reduction) {
    const double fx = double(stored.width()) / scaled.width();
    const double fy = double(stored.height()) / scaled.height();
    const int d = reduction == Reduction::PowerOfTwo ? jpegReduction(stored, scaled) : 1;
    // A margin of two output pixels keeps the filter's edge samples real at a clipped border.
    const double mx = 2 * std::max(fx, 1.0);
    const double my = 2 * std::max(fy, 1.0);
    QRectF source(want.x() * fx - mx, want.y() * fy - my, want.width() * fx + 2 * mx,
                  want.height() * fy + 2 * my);
    source &= QRectF(0, 0, stored.width(), stored.height());
    // libjpeg scales exact blocks of d pixels only when the clip lies on multiples of d, so
    // a picture whose sides are no multiple of d loses its last d-1 rows or columns: less
    // than one shown pixel, since the picture is shown at most 1/d of its size.
    const QRect usable(0, 0, stored.width() / d * d, stored.height() / d * d);
    const QRect clip = alignOutwards(source, d) & usable;

    DecodePlan plan;
    plan.clip = clip;
    plan.decodeSize = clip.size() / d;
    // A reader with a resampler of its own decodes a shrunk picture straight at its shown size.
    if (reduction == Reduction::Any && (fx > 1 || fy > 1)) {
        plan.decodeSize = QSize(std::max(1, int(std::lround(clip.width() / std::max(fx, 1.0)))),
                                std::max(1, int(std::lround(clip.height() / std::max(fy, 1.0)))));
    }
    const double right = clip.right() + 1 == usable.width() ? stored.width() : clip.right() + 1;
    const double bottom =
        clip.bottom() + 1 == usable.height() ? stored.height() : clip.bottom() + 1;
    plan.target =
        QRectF(QPointF(clip.left() / fx, clip.top() / fy), QPointF(right / fx, bottom / fy));
    return plan;
}

// Scales with a filter fit for the factor: bilinear while every shown pixel draws on at most
// about one and a third decoded ones (it is twice as fast), area averaging below that, where
// bilinear would skip pixels and shimmer on fine detail.
QImage resample(const QImage& image, QSize size) {
    const double fx = double(size.width()) / image.width();
    const double fy = double(size.height()) / image.height();
    if (fx < 0.75 || fy < 0.75)
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage out(size, image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                             : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    if (image.hasAlphaChannel())
        out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(out.rect(), image);
    return out;
}

// Premultiplied pixels over black are their colour channels as they stand: the alpha byte is
// set opaque, in place.
void flattenOverBlack(QImage& image) {
    if (!image.hasAlphaChannel())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

QString readerError(const QString& path, const QImageReader& reader) {
    return QStringLiteral("%1 could not be decoded: %2.")
        .arg(quotedFileName(path), reader.errorString());
}

void setAllocationLimitOnce() {
    static std::once_flag once;
    std::call_once(once,
                   [] { QImageReader::setAllocationLimit(PictureLimits::allocationLimitMB); });
}

QString tooManyScansError(const QString& path) {
    return QStringLiteral("%1 has more than %2 progressive scans, or too many for its size; "
                          "decoding it would take minutes, so it is not shown.")
        .arg(quotedFileName(path))
        .arg(PictureLimits::maxScans);
}

} // namespace

int jpegReduction(QSize source, QSize target) {
    for (int d = 8; d > 1; d /= 2) {
        if (source.width() / d >= target.width() && source.height() / d >= target.height())
            return d;
    }
    return 1;
}

// Reads and checks a JPEG: its marker segments are walked once, into memory, and the decoder
// is given exactly the bytes walked, so a file that grows meanwhile shows what was checked.
// Only the segments the decoder reads are kept, and the walk stops once they and the
// coefficients the decoder will hold pass the budget.
bool openJpeg(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error) {
    auto bytes = std::make_shared<QByteArray>();
    JpegScanLimits limits;
    limits.maxScans = PictureLimits::maxScans;
    limits.maxScanBlocks = PictureLimits::maxScanBlocks;
    limits.maxBytes = control.memoryBudget;
    // Read without the file's own buffer: the walk reads in large chunks, and after passing
    // over a segment it reads a few kilobytes, not the buffer's 16.
    QFile unbuffered;
    if (!unbuffered.open(file.handle(), QIODevice::ReadOnly | QIODevice::Unbuffered,
                         QFileDevice::DontCloseHandle) ||
        !unbuffered.seek(0)) {
        error = QStringLiteral("%1 cannot be read: %2.")
                    .arg(quotedFileName(path), unbuffered.errorString());
        return false;
    }
    const JpegScanReport scan = scanJpeg(unbuffered, limits, bytes.get());
    if (scan.scans > PictureLimits::maxScans || scan.scanBlocks > PictureLimits::maxScanBlocks) {
        error = tooManyScansError(path);
        return false;
    }
    if (scan.frameSize.isValid() && tooLarge(scan.frameSize)) {
        error = tooLargeError(path, scan.frameSize);
        return false;
    }
    const std::int64_t coefficientBytes = scan.bufferedBlocks * 128;
    if (coefficientBytes > control.memoryBudget) {
        error = overBudgetError(path, coefficientBytes, control.memoryBudget);
        return false;
    }
    if (scan.tooLong) {
        error = QStringLiteral("%1 holds more than %2 MB before the end of its picture, more "
                               "than one picture may use.")
                    .arg(quotedFileName(path))
                    .arg(control.memoryBudget >> 20);
        return false;
    }
    if (unbuffered.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1 cannot be read: %2.")
                    .arg(quotedFileName(path), unbuffered.errorString());
        return false;
    }
    bytes->truncate(qsizetype(scan.end));
    source.format = "jpeg";
    source.stored = scan.frameSize;
    source.transform = exifTransformation(scan.exifOrientation);
    source.reduction = Reduction::PowerOfTwo;
    source.colours.iccProfile = scan.iccProfile;
    if (scan.iccDamaged)
        source.colours.problem = QStringLiteral("its colour profile is damaged");
    source.heldBytes = bytes->size() + coefficientBytes + scan.iccProfile.size();
    if (source.heldBytes > control.memoryBudget) {
        error = overBudgetError(path, source.heldBytes, control.memoryBudget);
        return false;
    }
    const std::int64_t budget = control.memoryBudget;
    const std::atomic<bool>* cancelled = control.cancelled;
    source.decode = [bytes, path, budget, cancelled](const DecodePlan& plan, QString& err,
                                                     bool& stopped, bool& cutShort) {
        // A fresh picture each time: keeping decode buffers between loads measured slower, as
        // the allocator already reuses freed large blocks.
        QImage image(plan.decodeSize, QImage::Format_RGB32);
        if (image.isNull())
            return image;
        const int reduction = plan.clip.width() / plan.decodeSize.width();
        const JpegDecodeOutcome outcome =
            decodeJpeg(*bytes, plan.clip, reduction, budget, cancelled, image);
        cutShort = outcome.cutShort;
        if (outcome.ok)
            return image;
        stopped = outcome.cancelled;
        err = QStringLiteral("%1 could not be decoded: %2.")
                  .arg(quotedFileName(path), outcome.problem);
        return QImage();
    };
    if (!source.stored.isValid()) {
        error = QStringLiteral("%1 could not be decoded: it holds no picture.")
                    .arg(quotedFileName(path));
        return false;
    }
    return true;
}

// Reads and checks a GIF up to the end of its first frame, refusing a canvas the decoder
// could not hold within the budget: it allocates the whole canvas whatever the frame holds.
bool openGif(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error) {
    auto bytes = std::make_shared<QByteArray>();
    const GifScanReport scan = scanGif(file, control.memoryBudget, bytes.get());
    if (scan.screen.isValid() && tooLarge(scan.screen)) {
        error = tooLargeError(path, scan.screen);
        return false;
    }
    if (scan.tooLong) {
        error = QStringLiteral("%1 holds more than %2 MB before the end of its first picture, "
                               "more than one picture may use.")
                    .arg(quotedFileName(path))
                    .arg(control.memoryBudget >> 20);
        return false;
    }
    if (scan.frame.isEmpty()) {
        error = QStringLiteral("%1 could not be decoded: it holds no picture.")
                    .arg(quotedFileName(path));
        return false;
    }
    // The canvas, and a copy of the frame's part of it when the frame is to be restored.
    const std::int64_t canvas = pixelBytes(scan.canvas);
    const std::int64_t frame = pixelBytes(scan.frame.size());
    if (tooLarge(scan.canvas) || canvas > control.memoryBudget || frame > control.memoryBudget) {
        const std::int64_t need = std::max(canvas, frame);
        error = QStringLiteral("%1 claims a canvas of %2 \u00d7 %3 pixels; it would need %4 MB "
                               "of memory, more than the %5 MB one picture may use.")
                    .arg(quotedFileName(path))
                    .arg(std::max(scan.canvas.width(), scan.frame.width()))
                    .arg(std::max(scan.canvas.height(), scan.frame.height()))
                    .arg(megabytes(need))
                    .arg(control.memoryBudget >> 20);
        return false;
    }
    bytes->truncate(qsizetype(scan.end));
    bytes->append(';'); // the trailer, so the reader ends where the walk did
    source.format = "gif";
    source.stored = scan.canvas;
    source.heldBytes = bytes->size() + canvas +
                       pixelBytes(scan.frame.intersected(QRect(QPoint(0, 0), scan.canvas)).size());
    source.decode = [bytes, path](const DecodePlan& plan, QString& err, bool&, bool&) {
        QBuffer buffer(bytes.get());
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "gif");
        QImage image = reader.read();
        if (image.isNull()) {
            err = readerError(path, reader);
            return image;
        }
        if (plan.clip != image.rect())
            image = image.copy(plan.clip);
        return image;
    };
    return true;
}

// Reads and checks a BMP's headers; its rows are read later, only those to be shown.
bool openBmp(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error) {
    auto info = std::make_shared<BmpInfo>();
    QString problem;
    if (!readBmpInfo(file.handle(), *info, problem)) {
        error = QStringLiteral("%1 could not be decoded: %2.").arg(quotedFileName(path), problem);
        return false;
    }
    if (tooLarge(info->size)) {
        error = tooLargeError(path, info->size);
        return false;
    }
    // Not one row's worth of pixels: nothing to show, and no reason to show black.
    const std::int64_t firstRow =
        info->compression == 1 || info->compression == 2 ? 2 : info->stride;
    if (file.size() < info->dataOffset + firstRow) {
        error = QStringLiteral("%1 could not be decoded: the file ends before its pixels.")
                    .arg(quotedFileName(path));
        return false;
    }
    source.format = "bmp";
    source.stored = info->size;
    source.reduction = Reduction::PowerOfTwo;
    source.heldBytes = std::int64_t(info->size.width()) * 8; // a row and its sums
    // Uncompressed rows lie where their number puts them: a file too short for the last of
    // them is cut short, whether or not the rows shown are the missing ones.
    const bool rle = info->compression == 1 || info->compression == 2;
    const std::int64_t pixelsEnd = info->dataOffset + info->stride * (info->size.height() - 1) +
                                   (std::int64_t(info->size.width()) * info->bits + 7) / 8;
    const bool endsEarly = !rle && file.size() < pixelsEnd;
    const int fd = file.handle();
    const std::atomic<bool>* cancelled = control.cancelled;
    source.decode = [info, fd, cancelled, endsEarly](const DecodePlan& plan, QString&,
                                                     bool& stopped, bool& cutShort) {
        const int reduction = plan.clip.width() / std::max(1, plan.decodeSize.width());
        cutShort = endsEarly;
        QImage image = decodeBmp(fd, *info, plan.clip, std::max(1, reduction), cancelled, cutShort);
        stopped = cancelled && cancelled->load();
        return image;
    };
    return true;
}

LoadedPicture loadPicture(const QString& path, const DecodePlanner& planner,
                          const LoadControl& control) {
    LoadedPicture result;
    if (control.isCancelled()) {
        result.cancelled = true;
        return result;
    }
    if (path.isEmpty()) {
        result.error = QStringLiteral("No picture file was named.");
        return result;
    }
    QFile file;
    if (!openRegularFile(path, file, result.error))
        return result;
    result.fileSize = file.size();
    if (result.fileSize == 0) {
        result.error = QStringLiteral("%1 is empty.").arg(quotedFileName(path));
        return result;
    }

    setAllocationLimitOnce();
    // The file's bytes say what it is, whatever its name says.
    const PictureFormat* format = formatOfBytes(file.peek(sniffBytes));
    if (!format) {
        result.error = QStringLiteral("%1 is not a %2 picture.")
                           .arg(quotedFileName(path), pictureFormatCaptions());
        return result;
    }
    Source source;
    if (!format->open(path, file, control, source, result.error))
        return result;
    result.format = source.format;
    const QSize stored = source.stored;
    if (!stored.isValid() || stored.isEmpty()) {
        result.error = QStringLiteral("%1 could not be decoded: it holds no picture.")
                           .arg(quotedFileName(path));
        return result;
    }
    if (tooLarge(stored)) {
        result.error = tooLargeError(path, stored);
        return result;
    }
    if (control.isCancelled()) {
        result.cancelled = true;
        return result;
    }

    const QImageIOHandler::Transformations transform = source.transform;
    const bool quarterTurn = transform & QImageIOHandler::TransformationRotate90;
    result.size = quarterTurn ? stored.transposed() : stored;

    const DecodeRequest request = planner(result.size);
    const QSize scaled = request.scaledSize.isEmpty() ? result.size : request.scaledSize;
    const QRect whole(QPoint(0, 0), scaled);
    const QRect visible = request.visible.isEmpty() ? whole : request.visible & whole;
    if (visible.isEmpty() ||
        std::int64_t(visible.width()) * visible.height() > PictureLimits::maxPixels) {
        result.error = QStringLiteral("%1 would be shown at %2 \u00d7 %3 pixels, more than can be "
                                      "held.")
                           .arg(quotedFileName(path))
                           .arg(visible.width())
                           .arg(visible.height());
        return result;
    }

    // Work in the stored orientation until the last step, so rotating touches shown pixels only.
    const QSize storedScaled = quarterTurn ? scaled.transposed() : scaled;
    const QTransform toShown = orientationTransform(transform, storedScaled);
    const QRect want = toShown.inverted().mapRect(QRectF(visible)).toAlignedRect() &
                       QRect(QPoint(0, 0), storedScaled);
    const DecodePlan plan = planDecode(stored, storedScaled, want, source.reduction);
    const QRect landing = plan.target.toRect();

    // What is held at the peak: what the source holds, plus the two largest pictures alive at
    // one time along decode, resample, cut and turn (each step frees its input once done).
    const std::int64_t decodedBytes = pixelBytes(plan.decodeSize);
    const std::int64_t landingBytes = pixelBytes(landing.size());
    const std::int64_t shownBytes = pixelBytes(visible.size());
    std::int64_t alive = decodedBytes;
    std::int64_t most = decodedBytes;
    if (plan.decodeSize != landing.size()) {
        most = std::max(most, alive + landingBytes);
        alive = landingBytes;
    }
    if (landing != want) {
        most = std::max(most, alive + shownBytes);
        alive = shownBytes;
    }
    if (transform != QImageIOHandler::TransformationNone)
        most = std::max(most, alive + shownBytes);
    const std::int64_t peak = source.heldBytes + most;
    if (peak > control.memoryBudget) {
        result.error = overBudgetError(path, peak, control.memoryBudget);
        return result;
    }

    bool cancelled = false;
    bool cutShort = false;
    QImage decoded = source.decode(plan, result.error, cancelled, cutShort);
    if (cancelled || control.isCancelled()) {
        result.error.clear();
        result.cancelled = true;
        return result;
    }
    if (decoded.isNull()) {
        if (result.error.isEmpty())
            result.error =
                QStringLiteral("%1 is too large to be shown here.").arg(quotedFileName(path));
        return result;
    }

    // Resample the decoded clip onto the scaled picture's pixel grid, then cut out `want`.
    if (decoded.size() != landing.size())
        decoded = resample(decoded, landing.size());
    if (landing != want)
        decoded = decoded.copy(want.translated(-landing.topLeft()));
    // What shows through a transparent picture is the black screen behind it.
    flattenOverBlack(decoded);
    // Colours are converted on the shown pixels only, never on the whole picture.
    QString colourProblem;
    convertToDisplayColours(decoded, source.colours, colourProblem);
    result.image = orient(std::move(decoded), transform);
    if (result.image.isNull()) {
        result.error =
            QStringLiteral("%1 is too large to be shown here.").arg(quotedFileName(path));
        return result;
    }
    result.imageRect = visible;
    result.ok = true;
    QStringList warnings;
    if (cutShort)
        warnings.append(cutShortWarning(path));
    if (!colourProblem.isEmpty())
        warnings.append(QStringLiteral("%1 is shown with its colours unconverted: %2.")
                            .arg(quotedFileName(path), colourProblem));
    result.warning = warnings.join(u' ');
    return result;
}

} // namespace tavlin
