#include "platform/exists.h"

#include <sys/stat.h>

#include "platform/filenames.h"

namespace tavlin {

namespace {

// The path's type bits (links followed), or 0 for a path the file system cannot look at.
mode_t typeOf(const QString& svPath) {
    // A NUL would silently shorten the path the system sees.
    if (svPath.isEmpty() || svPath.contains(QChar(u'\0')))
        return 0;
    struct stat st {};
    // The exact bytes of the name, so a name that is not UTF-8 is found, not another file.
    if (::stat(encodeFileName(svPath).constData(), &st) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

} // namespace

bool FolderExists(const QString& svPath) {
    return typeOf(svPath) == S_IFDIR;
}

bool FileExists(const QString& svPath) {
    return typeOf(svPath) == S_IFREG;
}

} // namespace tavlin
