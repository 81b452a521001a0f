#pragma once

#include <QString>

namespace tavlin {

// Existence tests on the path exactly as given: no trimming, no quote removal. An empty or
// malformed path, or one that cannot be examined, answers false; neither ever throws.
bool FolderExists(const QString& svPath);
// True for a regular file (or a link to one); a folder is not a file.
bool FileExists(const QString& svPath);

} // namespace tavlin
