#include "desktop/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "platform/platform.h"

namespace tavlin {

QStringList helpFileCandidates(const QString& workingDirectory, const QString& programDir) {
    const QString name = QString::fromLatin1(kHelpFileName);
    const QString working = workingDirectory.isEmpty()
                                ? QDir::currentPath()
                                : QDir::fromNativeSeparators(workingDirectory);
    QStringList candidates{QDir(working).filePath(name)};
    if (!programDir.isEmpty()) {
        candidates.append(QDir(programDir).filePath(name));
        // An installed program lives in <prefix>/bin and its data in <prefix>/share/tavlin.
        candidates.append(
            QDir(programDir).filePath(QStringLiteral("../share/tavlin/help/") + name));
    }
    for (QString& path : candidates)
        path = QDir::cleanPath(path);
    candidates.removeDuplicates();
    return candidates;
}

bool OpenHelpFile(const QString& workingDirectory, Platform& platform) {
    const QString programDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    for (const QString& path : helpFileCandidates(workingDirectory, programDir)) {
        const QFileInfo file(path);
        // A plain file only: a folder of that name or a dangling link is no help.
        if (file.isFile() && file.isReadable())
            return platform.openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
    }
    return false;
}

} // namespace tavlin
