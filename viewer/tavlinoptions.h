#pragma once

#include <QSize>

#include <functional>

namespace tavlin {

class Platform;

// How the main window is set up; tests shrink the screen and skip the splash.
struct TavlinOptions {
    Platform* platform = nullptr; // the desktop's when null
    bool showSplash = true;
    QSize screenPixels;          // the window's screen when empty
    // Set when the window is another program's, smaller than the whole screen (a screensaver's
    // preview): the information lines shrink in proportion, as the picture does.
    QSize wholeScreenPixels;
    double twipsPerPixel = 0;    // from the screen's logical DPI when 0
    double devicePixelRatio = 0; // from the screen when 0
    // Ends the process; by default leaves the event loop.
    std::function<void()> exitProcess;
    // Uniform numbers in [0, 1) for the screensaver's random pick; by default a
    // generator seeded from the time of day.
    std::function<double()> random;
    // Decode the pictures likely to be asked for next while one is on show.
    bool prefetch = true;
};

} // namespace tavlin
