#pragma once

#include <cstdint>
#include <optional>

#include <QString>
#include <QStringList>

namespace tavlin {

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
};

// What a conventional option asks for before anything needs a display:
// usage or version on standard output, or an error on standard error.
struct EarlyExit {
    int exitCode = 0;
    QString out;
    QString err;
};

// The run mode chosen by the first two characters, case ignored; "-s", "-c"
// and "-p" work like "/s", "/c" and "/p".
RunMode runModeOf(const QString& commandLine);

// Reads the command line. An existing folder or file named by it opens in the
// viewer, even one whose name looks like a switch ("/srv"). `xscreensaverWindow`
// is the XSCREENSAVER_WINDOW the daemon hands to "-root".
StartRequest parseCommandLine(const QStringList& arguments,
                              const QString& xscreensaverWindow = QString());

// "--help", "-h", "--version", an unknown "--option" and malformed xscreensaver
// switches end the program before it opens a window; nothing when the command
// line is one to run.
std::optional<EarlyExit> earlyExitFor(const QStringList& arguments,
                                      const QString& xscreensaverWindow = QString());

// The usage text of "--help".
QString usageText();

// An X window number in decimal or with 0x in hex; nullopt when malformed or 0.
std::optional<std::uint64_t> parseWindowId(const QString& text);

} // namespace tavlin
