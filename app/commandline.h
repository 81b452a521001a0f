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

// The run mode of an exact switch, case ignored: "/s", "/c", "/c:N", "/p",
// "/p N", and the same with "-". Anything else is the viewer: a folder or a
// picture, whatever its first characters ("/srv/photos").
RunMode runModeOf(const QString& commandLine);

// Reads the command line. An existing folder or file named by it opens in the
// viewer, even one whose name looks like a switch ("/srv"). `xscreensaverWindow`
// is the XSCREENSAVER_WINDOW the daemon hands to "-root".
StartRequest parseCommandLine(const QStringList& arguments,
                              const QString& xscreensaverWindow = QString());

// "--help", "-h", "--version", an unknown option ("--bogus", "-x"), malformed
// xscreensaver switches and a folder or picture that is not there end the
// program before it opens a window, refusals with one line and exit code 2;
// nothing when the command line is one to run.
std::optional<EarlyExit> earlyExitFor(const QStringList& arguments,
                                      const QString& xscreensaverWindow = QString());

// The usage text of "--help".
QString usageText();

// An X window number in decimal or with 0x in hex; nullopt when malformed or 0.
std::optional<std::uint64_t> parseWindowId(const QString& text);

} // namespace tavlin
