#include "decode/decodesource.h"

#include <cerrno>
#include <unistd.h>

#include "platform/regularfile.h"

namespace tavlin {

bool tooLarge(QSize size) {
    return size.width() > PictureLimits::maxSide || size.height() > PictureLimits::maxSide ||
           std::int64_t(size.width()) * size.height() > PictureLimits::maxPixels;
}

QString tooLargeError(const QString& path, QSize size) {
    return QStringLiteral("%1 claims to be %2 \u00d7 %3 pixels, more than can be shown (at most "
                          "%4 megapixels).")
        .arg(quotedFileName(path))
        .arg(size.width())
        .arg(size.height())
        .arg(PictureLimits::maxPixels / 1000000);
}

std::int64_t pixelBytes(QSize size) {
    return size.isValid() ? std::int64_t(size.width()) * size.height() * 4 : 0;
}

std::int64_t readAt(int fd, std::int64_t offset, void* to, std::int64_t size, bool* failed) {
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, static_cast<char*>(to) + done, size_t(size - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && failed)
            *failed = true;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

int megabytes(std::int64_t bytes) {
    return int((bytes + (1 << 20) - 1) >> 20);
}

QString overBudgetError(const QString& path, std::int64_t need, std::int64_t budget) {
    return QStringLiteral("%1 would need %2 MB of memory to be shown, more than the %3 MB one "
                          "picture may use.")
        .arg(quotedFileName(path))
        .arg(megabytes(need))
        .arg(budget >> 20);
}

QString undecodableError(const QString& path, const QString& problem) {
    return QStringLiteral("%1 could not be decoded: %2.").arg(quotedFileName(path), problem);
}

QString libraryClause(QString message, const QString& fallback) {
    message = message.trimmed();
    while (message.endsWith(u'.'))
        message.chop(1);
    if (message.isEmpty())
        return fallback;
    if (message.size() > 1 && message[0].isUpper() && message[1].isLower())
        message[0] = message[0].toLower();
    return message;
}

QString noPictureError(const QString& path) {
    return undecodableError(path, QStringLiteral("it holds no picture"));
}

QString cutShortWarning(const QString& path) {
    return QStringLiteral("%1 is cut short: only the part of the picture it holds is shown.")
        .arg(quotedFileName(path));
}

QImageIOHandler::Transformations exifTransformation(int orientation) {
    using T = QImageIOHandler;
    switch (orientation) {
    case 2:
        return T::TransformationMirror;
    case 3:
        return T::TransformationRotate180;
    case 4:
        return T::TransformationFlip;
    case 5:
        return T::TransformationFlipAndRotate90;
    case 6:
        return T::TransformationRotate90;
    case 7:
        return T::TransformationMirrorAndRotate90;
    case 8:
        return T::TransformationRotate270;
    default:
        return T::TransformationNone;
    }
}

} // namespace tavlin
