#include "viewer/pictureloader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include "platform/filenames.h"
#include "viewer/jpegscan.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tavlin {

namespace {

QString quoted(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return QStringLiteral("\u201c%1\u201d").arg(name.isEmpty() ? path : name);
}

// Opens `path` for reading if, and only if, it is a regular file. A FIFO would block the
// decoder forever and a device may act on being opened, so the type is checked before the
// open (which never blocks) and again on the open descriptor, against a swap in between.
bool openRegularFile(const QString& path, QFile& file, QString& error) {
#ifdef Q_OS_UNIX
    const QByteArray native = encodeFileName(path);
    struct stat before {};
    if (::stat(native.constData(), &before) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            error = QStringLiteral("The file %1 does not exist (any more).").arg(quoted(path));
        else if (err == EACCES)
            error = QStringLiteral("Permission to read %1 is denied.").arg(quoted(path));
        else
            error = QStringLiteral("%1 cannot be opened: %2.")
                        .arg(quoted(path), QString::fromLocal8Bit(std::strerror(err)));
        return false;
    }
    if (S_ISDIR(before.st_mode)) {
        error = QStringLiteral("%1 is a folder, not a picture file.").arg(quoted(path));
        return false;
    }
    if (!S_ISREG(before.st_mode)) {
        error = QStringLiteral("%1 is not a regular file (it is a pipe, device or socket), so it "
                               "is not read.")
                    .arg(quoted(path));
        return false;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            error = QStringLiteral("Permission to read %1 is denied.").arg(quoted(path));
        else if (err == ENOENT)
            error = QStringLiteral("The file %1 does not exist (any more).").arg(quoted(path));
        else
            error = QStringLiteral("%1 cannot be opened: %2.")
                        .arg(quoted(path), QString::fromLocal8Bit(std::strerror(err)));
        return false;
    }
    struct stat after {};
    if (::fstat(fd, &after) != 0 || !S_ISREG(after.st_mode) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        ::close(fd);
        error = QStringLiteral("%1 changed while it was being opened.").arg(quoted(path));
        return false;
    }
    // Regular files never block; clear the flag so reads behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("%1 cannot be opened: %2.").arg(quoted(path), file.errorString());
        return false;
    }
    return true;
#else
    const QFileInfo info(path);
    if (!info.exists()) {
        error = QStringLiteral("The file %1 does not exist (any more).").arg(quoted(path));
        return false;
    }
    if (info.isDir()) {
        error = QStringLiteral("%1 is a folder, not a picture file.").arg(quoted(path));
        return false;
    }
    if (!info.isFile()) {
        error = QStringLiteral("%1 is not a regular file, so it is not read.").arg(quoted(path));
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1 cannot be opened: %2.").arg(quoted(path), file.errorString());
        return false;
    }
    return true;
#endif
}

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

struct DecodePlan {
    QRect clip;       // stored pixels to decode; the whole picture when it equals that
    QSize decodeSize; // size of the decoded clip (clip / reduction)
    QRectF target;    // where the decoded clip lands in the scaled stored picture
};

// Plans the decode of `want` (in the scaled stored picture of `scaled` pixels) from a stored
// picture of `stored` pixels. JPEGs are reduced by a power of two while decoding; the rest of
// the scaling is left to a smooth resample of the (smaller) decoded clip.
DecodePlan planDecode(QSize stored, QSize scaled, QRect want, bool jpeg) {
    const double fx = double(stored.width()) / scaled.width();
    const double fy = double(stored.height()) / scaled.height();
    const int d = jpeg ? jpegReduction(stored, scaled) : 1;
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
    const double right = clip.right() + 1 == usable.width() ? stored.width() : clip.right() + 1;
    const double bottom =
        clip.bottom() + 1 == usable.height() ? stored.height() : clip.bottom() + 1;
    plan.target =
        QRectF(QPointF(clip.left() / fx, clip.top() / fy), QPointF(right / fx, bottom / fy));
    return plan;
}

std::uint32_t littleEndian(const QByteArray& b, int at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | std::uint8_t(b[at + i]);
    return v;
}

// The size a BMP or GIF header claims, read before Qt's reader sees it, so an absurd claim is
// refused with a plain reason; invalid when the header says nothing.
QSize claimedSize(QIODevice& device) {
    const QByteArray head = device.peek(26);
    if (head.size() >= 10 && head.startsWith("GIF8"))
        return QSize(int(littleEndian(head, 6, 2)), int(littleEndian(head, 8, 2)));
    if (head.size() >= 26 && head.startsWith("BM")) {
        if (littleEndian(head, 14, 4) == 12) // OS/2 core header: 16-bit sides
            return QSize(int(littleEndian(head, 18, 2)), int(littleEndian(head, 20, 2)));
        const auto width = std::int32_t(littleEndian(head, 18, 4));
        // A negative height marks a top-down picture.
        const std::int64_t rows = std::abs(std::int64_t(std::int32_t(littleEndian(head, 22, 4))));
        return QSize(width, int(std::min<std::int64_t>(rows, INT_MAX)));
    }
    return {};
}

bool tooLarge(QSize size) {
    return size.width() > PictureLimits::maxSide || size.height() > PictureLimits::maxSide ||
           std::int64_t(size.width()) * size.height() > PictureLimits::maxPixels;
}

QString tooLargeError(const QString& path, QSize size) {
    return QStringLiteral("%1 claims to be %2 \u00d7 %3 pixels, more than can be shown (at most "
                          "%4 megapixels).")
        .arg(quoted(path))
        .arg(size.width())
        .arg(size.height())
        .arg(PictureLimits::maxPixels / 1000000);
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

QString readerError(const QString& path, const QImageReader& reader) {
    return QStringLiteral("%1 could not be decoded: %2.").arg(quoted(path), reader.errorString());
}

void setAllocationLimitOnce() {
    static std::once_flag once;
    std::call_once(once,
                   [] { QImageReader::setAllocationLimit(PictureLimits::allocationLimitMB); });
}

} // namespace

int jpegReduction(QSize source, QSize target) {
    for (int d = 8; d > 1; d /= 2) {
        if (source.width() / d >= target.width() && source.height() / d >= target.height())
            return d;
    }
    return 1;
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
        result.error = QStringLiteral("%1 is empty.").arg(quoted(path));
        return result;
    }

    const JpegScanReport scan = scanJpeg(file, PictureLimits::maxScans);
    if (scan.isJpeg && scan.scans > PictureLimits::maxScans) {
        result.error = QStringLiteral("%1 has more than %2 progressive scans; decoding it would "
                                      "take minutes, so it is not shown.")
                           .arg(quoted(path))
                           .arg(PictureLimits::maxScans);
        return result;
    }
    if (!file.seek(0)) {
        result.error =
            QStringLiteral("%1 cannot be read: %2.").arg(quoted(path), file.errorString());
        return result;
    }

    const QSize claimed = scan.isJpeg ? scan.frameSize : claimedSize(file);
    if (claimed.isValid() && tooLarge(claimed)) {
        result.error = tooLargeError(path, claimed);
        return result;
    }

    setAllocationLimitOnce();
    QImageReader reader(&file);
    reader.setAutoTransform(false); // orientation is applied after scaling, to fewer pixels
    const QByteArray format = reader.format();
    if (format != "jpeg" && format != "bmp" && format != "gif") {
        result.error = QStringLiteral("%1 is not a JPEG, BMP or GIF picture.").arg(quoted(path));
        return result;
    }
    result.format = format;
    const QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty()) {
        result.error = readerError(path, reader);
        return result;
    }
    if (tooLarge(stored)) {
        result.error = tooLargeError(path, stored);
        return result;
    }

    const QImageIOHandler::Transformations transform = reader.transformation();
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
                           .arg(quoted(path))
                           .arg(visible.width())
                           .arg(visible.height());
        return result;
    }

    // Work in the stored orientation until the last step, so rotating touches shown pixels only.
    const QSize storedScaled = quarterTurn ? scaled.transposed() : scaled;
    const QTransform toShown = orientationTransform(transform, storedScaled);
    const QRect want = toShown.inverted().mapRect(QRectF(visible)).toAlignedRect() &
                       QRect(QPoint(0, 0), storedScaled);
    const DecodePlan plan = planDecode(stored, storedScaled, want, format == "jpeg");

    // With a clip rectangle Qt asks libjpeg for the power-of-two reduction clip / decodeSize;
    // a scaled size alone would let it pick 3/8 or 7/8, whose inverse DCTs have no SIMD code.
    if (plan.clip != QRect(QPoint(0, 0), stored) || plan.decodeSize != plan.clip.size())
        reader.setClipRect(plan.clip);
    if (plan.decodeSize != plan.clip.size())
        reader.setScaledSize(plan.decodeSize);
    QImage decoded = reader.read();
    if (decoded.isNull()) {
        result.error = readerError(path, reader);
        return result;
    }

    // Resample the decoded clip onto the scaled picture's pixel grid, then cut out `want`.
    const QRect landing = plan.target.toRect();
    if (decoded.size() != landing.size())
        decoded = resample(decoded, landing.size());
    if (landing != want)
        decoded = decoded.copy(want.translated(-landing.topLeft()));
    result.image = orient(std::move(decoded), transform);
    if (result.image.isNull()) {
        result.error = QStringLiteral("%1 is too large to be shown here.").arg(quoted(path));
        return result;
    }
    result.imageRect = visible;
    result.ok = true;
    return result;
}

} // namespace tavlin
