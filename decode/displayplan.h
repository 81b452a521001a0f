#pragma once

#include <QRect>
#include <QSize>

#include "decode/pictureloader.h"
#include "layout/layout.h"

namespace tavlin {

// Everything the layout of a picture depends on, as plain values, so a picture
// can be planned and decoded on any thread and a decoded one compared against
// the window's state of the moment.
struct DisplayContext {
    QSize screenPixels;        // the whole screen, in logical pixels
    double twipsPerPixel = 15; // 1440 / the screen's logical DPI
    DisplayOptions options;    // stretch, centre, panel shown and its width
    double devicePixelRatio = 1;
    bool operator==(const DisplayContext&) const = default;
};

// Where a picture goes on the window and what of it is decoded.
struct DisplayPlan {
    QRect placed;          // the laid-out picture in logical pixels, may overhang the screen
    double scale = 1;      // decoded pixels per logical pixel
    DecodeRequest request; // the scaled size and its part on the screen, in decoded pixels
};

// Lays out a picture of `orientedSize` pixels (after EXIF orientation) and plans
// its decode: the whole picture at the shown size, of which only the part on the
// screen gets pixels. On a high-density screen up to one pixel per device pixel
// is decoded, never more than the picture has.
DisplayPlan planDisplay(QSize orientedSize, const DisplayContext& context);

// The loader's planner for `context`; the plan it made is written to `*made`.
DecodePlanner displayPlanner(const DisplayContext& context, DisplayPlan* made);

} // namespace tavlin
