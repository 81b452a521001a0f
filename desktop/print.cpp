#include "desktop/print.h"

#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace tavlin {

bool PrintPictureOn(QPrinter& printer, const QImage& picture, const QString& documentName,
                    QSize ownPixels, double twipsPerPixel) {
    if (picture.isNull() || !printer.isValid())
        return false;
    if (ownPixels.isEmpty())
        ownPixels = picture.size();
    if (twipsPerPixel <= 0)
        twipsPerPixel = 15;
    printer.setDocName(documentName);
    printer.setCreator(QStringLiteral("Tavlin"));
    printer.setCopyCount(1);
    printer.setFullPage(false);

    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    // The painter's unit is a printer dot; a twip is 1/1440 inch.
    const double dotsPerTwip = printer.resolution() / 1440.0;
    const QRectF target(dotsPerTwip, dotsPerTwip, ownPixels.width() * twipsPerPixel * dotsPerTwip,
                        ownPixels.height() * twipsPerPixel * dotsPerTwip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    // end() closes the document, which sends the page to the printer.
    return painter.end();
}

bool PrintPicture(const QImage& picture, const QString& documentName, QSize ownPixels,
                  double twipsPerPixel) {
    if (picture.isNull())
        return false;
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return false;
    QPrinter printer(info, QPrinter::HighResolution);
    return PrintPictureOn(printer, picture, documentName, ownPixels, twipsPerPixel);
}

} // namespace tavlin
