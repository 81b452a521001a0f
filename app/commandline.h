#pragma once

#include <QString>
#include <QStringList>

namespace tavlin {

enum class RunMode {
    Preview,     // "/P": end at once
    Screensaver, // "/S": full-screen random slideshow
    Settings,    // "/C": the screensaver settings dialog
    Viewer,      // anything else
};

struct StartRequest {
    QString commandLine; // the arguments joined by single blanks
    RunMode mode = RunMode::Viewer;
    QString folder;  // an existing folder named on the command line, absolute
    QString picture; // an existing file named on the command line (its name only)
};

// The run mode chosen by the first two characters, case ignored; "-s", "-c"
// and "-p" work like "/s", "/c" and "/p".
RunMode runModeOf(const QString& commandLine);

// Reads the command line. An existing folder or file named by it opens in the
// viewer, even one whose name looks like a switch ("/srv").
StartRequest parseCommandLine(const QStringList& arguments);

} // namespace tavlin
