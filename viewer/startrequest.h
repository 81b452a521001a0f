#pragma once

#include <cstdint>

#include <QString>

namespace tavlin {

// What the program was started to do, read from its command line; the window
// takes it as it is and never looks at the arguments itself.
enum class RunMode {
    Preview,     // "/P": end at once
    Screensaver, // "/S": full-screen random slideshow
    Settings,    // "/C": the screensaver settings dialog
    Viewer,      // anything else
    // "-root" or "-window-id": the screensaver drawn for xscreensaver inside its
    // window; the daemon owns input and ends the program with SIGTERM.
    Display,
};

struct StartRequest {
    QString commandLine; // the arguments joined by single blanks
    RunMode mode = RunMode::Viewer;
    QString folder;  // an existing folder named on the command line, absolute
    QString picture; // an existing file named on the command line (its name only)
    // Display mode: the X window to draw in; 0 draws over the whole screen.
    std::uint64_t windowId = 0;
    // Display mode: "-folder" and "-seconds" from the xscreensaver settings
    // replace the saved screensaver folder and interval for this run.
    QString displayFolder;
    int displaySeconds = 0;
    bool displayShuffle = false; // "-shuffle": every picture once before any comes back
    bool displaySubfolders = false; // "-subfolders": the pictures of the folder's whole tree
};

} // namespace tavlin
