#pragma once

#include <QString>
#include <QStringList>

namespace tavlin {

class Platform;

// The name of the program's help document.
inline constexpr char kHelpFileName[] = "Tavlin.html";

// Where the help document is looked for, in order: the working directory (the process's
// current folder when it is empty), beside the program, and the program's installed data.
QStringList helpFileCandidates(const QString& workingDirectory, const QString& programDir);

// Opens the help document with the desktop's handler. Nothing happens, and false comes back,
// when no copy is found or nothing takes it.
bool OpenHelpFile(const QString& workingDirectory, Platform& platform);

} // namespace tavlin
