#include "viewer/pictureloader.h"

#include <QFileInfo>
#include <QImageReader>

namespace tavlin {

LoadedPicture loadPicture(const QString& path, const DecodePlanner& planner) {
    LoadedPicture result;
    QFileInfo info(path);
    if (path.isEmpty() || !info.isFile()) {
        result.error = QStringLiteral("Not a picture file: %1").arg(path);
        return result;
    }
    result.fileSize = info.size();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid()) {
        result.error = reader.errorString();
        return result;
    }
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    result.size = size;
    const DecodeRequest request = planner(size);
    QImage image = reader.read();
    if (image.isNull()) {
        result.error = reader.errorString();
        return result;
    }
    if (request.scaledSize.isValid() && request.scaledSize != image.size())
        image = image.scaled(request.scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QRect whole(QPoint(0, 0), image.size());
    const QRect wanted = request.visible.isEmpty() ? whole : request.visible.intersected(whole);
    result.image = wanted == whole ? image : image.copy(wanted);
    result.imageRect = wanted;
    result.ok = true;
    return result;
}

} // namespace tavlin
