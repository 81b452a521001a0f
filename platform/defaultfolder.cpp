#include "platform/defaultfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tavlin {

QString DefaultFolder() {
    // Honours XDG_PICTURES_DIR from user-dirs.dirs, so a translated "Bilder" is found too.
    for (const QString& candidate :
         {QStandardPaths::writableLocation(QStandardPaths::PicturesLocation), QDir::homePath()}) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isDir())
            return QDir::toNativeSeparators(QDir::cleanPath(candidate));
    }
    return QDir::toNativeSeparators(QDir::rootPath());
}

} // namespace tavlin
