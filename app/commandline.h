#pragma once

#include <cstdint>
#include <optional>

#include <QString>
#include <QStringList>

#include "viewer/startrequest.h"

namespace tavlin {

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
