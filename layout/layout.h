#pragma once

#include <QSize>
#include <QString>

#include <cstdint>

namespace tavlin {

// Positions and sizes are in twips (1/1440 inch), as floating point.
struct TwipRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    bool operator==(const TwipRect&) const = default;
};

// Design-time geometry of the main window's widgets, relative to their parent.
namespace design {
inline constexpr TwipRect frameSettings{9720, 0, 2895, 12375};
inline constexpr TwipRect frameChecks{120, 0, 2655, 4095};
inline constexpr TwipRect myDrive{120, 240, 2655, 315};
inline constexpr TwipRect myPath{120, 600, 2655, 2790};
inline constexpr TwipRect myFiles{120, 3480, 2655, 4575};
inline constexpr TwipRect imgError{0, 0, 6000, 2250};
inline constexpr TwipRect myPicture{120, 120, 2895, 2325};
inline constexpr TwipRect txtFile{120, 120, 630, 240};
inline constexpr TwipRect txtFileSize{120, 0, 630, 195};
inline constexpr TwipRect txtWidth{120, 0, 465, 195};
inline constexpr TwipRect txtHeight{1440, 0, 510, 195};
inline constexpr TwipRect txtPicture{120, 0, 795, 240};
// Gap between the panel and the right edge of the screen, and between the lists.
inline constexpr double panelMargin = 30;
inline constexpr double listGap = 50;
inline constexpr double checksBottomGap = 100;
} // namespace design

// Where start-up puts the widgets whose place depends on the screen.
struct StartupLayout {
    TwipRect window;
    TwipRect frameSettings;
    double frameChecksTop = 0;
    double listArea = 0; // the height the folder and file lists share
    TwipRect myPath;
    TwipRect myFiles;
    TwipRect imgError;
    double txtPictureTop = 0;
    double txtWidthTop = 0;
    double txtHeightTop = 0;
    double txtFileSizeTop = 0;
};

// The start-up layout for a screen of the given size. Label heights are those
// of one line of the labels' fonts: `pictureLabelHeight` for the bold picture
// number line, `infoLabelHeight` for the width, height and size lines.
StartupLayout computeStartupLayout(double screenWidth, double screenHeight,
                                   double pictureLabelHeight, double infoLabelHeight);

// Where and how large a picture is drawn.
struct DisplayGeometry {
    double freeWidth = 0; // screen width left of the panel
    TwipRect picture;
};

struct DisplayOptions {
    bool stretch = true;
    bool center = true;
    bool panelVisible = true;
    double panelWidth = design::frameSettings.width;
    bool operator==(const DisplayOptions&) const = default;
};

// Lays out a picture of `picturePixels` (after orientation) on a screen of
// `screenWidth` × `screenHeight` twips. Stretching fits the picture into the
// free area keeping its proportions; without it the picture keeps its own
// pixel size. Centring centres it in the free area and on the screen height.
DisplayGeometry computeDisplayGeometry(QSize picturePixels, double screenWidth,
                                       double screenHeight, double twipsPerPixel,
                                       const DisplayOptions& options);

// "Picture:  3 of  12" for the third of twelve entries (index 2).
QString pictureNumberText(std::int64_t selectedIndex, std::int64_t count);
// "File Size:  48213".
QString fileSizeText(std::int64_t bytes);
QString widthText(std::int64_t pixels);
QString heightText(std::int64_t pixels);
// A number's decimal digits after one blank, or after "-" when negative.
QString signPadded(std::int64_t value);

} // namespace tavlin
