#include "layout/layout.h"

#include <algorithm>
#include <cmath>

namespace tavlin {

StartupLayout computeStartupLayout(double screenWidth, double screenHeight,
                                   double pictureLabelHeight, double infoLabelHeight) {
    StartupLayout l;
    l.window = {0, 0, screenWidth, screenHeight};

    l.imgError = design::imgError;
    l.imgError.top = screenHeight / 2 - design::imgError.height / 2;
    l.imgError.left = screenWidth / 2 - design::imgError.width / 2;

    l.frameSettings = design::frameSettings;
    l.frameSettings.left = screenWidth - design::frameSettings.width - design::panelMargin;
    l.frameSettings.height = screenHeight;

    l.frameChecksTop = l.frameSettings.height - design::frameChecks.height - design::checksBottomGap;

    // Whole twips, but no 16-bit limit: an 8K screen is as welcome as a small one.
    l.listArea = std::nearbyint(l.frameSettings.height - design::myDrive.height -
                                design::frameChecks.height);

    l.myPath = design::myPath;
    l.myPath.top = design::myDrive.top + design::myDrive.height + design::listGap;
    l.myPath.height = std::max(0.0, l.listArea / 2);

    l.myFiles = design::myFiles;
    l.myFiles.top = l.myPath.top + l.myPath.height + design::listGap;
    l.myFiles.height = l.myPath.height;

    l.txtPictureTop = l.window.height - 3.5 * pictureLabelHeight;
    l.txtWidthTop = l.txtPictureTop + 1.5 * infoLabelHeight;
    l.txtHeightTop = l.txtWidthTop;
    l.txtFileSizeTop = l.txtWidthTop + 1.2 * infoLabelHeight;
    return l;
}

DisplayGeometry computeDisplayGeometry(QSize picturePixels, double screenWidth,
                                       double screenHeight, double twipsPerPixel,
                                       const DisplayOptions& options) {
    DisplayGeometry g;
    g.freeWidth = options.panelVisible ? screenWidth - options.panelWidth : screenWidth;

    double width = picturePixels.width() * twipsPerPixel;
    double height = picturePixels.height() * twipsPerPixel;
    if (options.stretch && width > 0 && height > 0) {
        const double scale = std::min(g.freeWidth / width, screenHeight / height);
        width *= scale;
        height *= scale;
    }
    g.picture.width = width;
    g.picture.height = height;
    if (options.center) {
        g.picture.top = (screenHeight - height) / 2;
        g.picture.left = (g.freeWidth - width) / 2;
    }
    return g;
}

QString signPadded(std::int64_t value) {
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

QString pictureNumberText(std::int64_t selectedIndex, std::int64_t count) {
    return QStringLiteral("Picture: ") + signPadded(selectedIndex + 1) + QStringLiteral(" of ") +
           signPadded(count);
}

QString fileSizeText(std::int64_t bytes) { return QStringLiteral("File Size: ") + signPadded(bytes); }

QString widthText(std::int64_t pixels) { return QStringLiteral("Width: ") + QString::number(pixels); }

QString heightText(std::int64_t pixels) {
    return QStringLiteral("Height: ") + QString::number(pixels);
}

} // namespace tavlin
