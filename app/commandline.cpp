#include "app/commandline.h"

#include <QDir>
#include <QFileInfo>

namespace tavlin {

RunMode runModeOf(const QString& commandLine) {
    const QString head = commandLine.left(2).toUpper();
    if (head.size() < 2 || (head[0] != QLatin1Char('/') && head[0] != QLatin1Char('-')))
        return RunMode::Viewer;
    switch (head[1].unicode()) {
    case 'P':
        return RunMode::Preview;
    case 'S':
        return RunMode::Screensaver;
    case 'C':
        return RunMode::Settings;
    default:
        return RunMode::Viewer;
    }
}

StartRequest parseCommandLine(const QStringList& arguments) {
    StartRequest request;
    request.commandLine = arguments.join(QLatin1Char(' '));
    if (!request.commandLine.isEmpty()) {
        const QFileInfo info(request.commandLine);
        if (info.isDir()) {
            request.folder = QDir::cleanPath(info.absoluteFilePath());
            return request;
        }
        if (info.isFile()) {
            request.folder = QDir::cleanPath(info.absolutePath());
            request.picture = info.fileName();
            return request;
        }
    }
    request.mode = runModeOf(request.commandLine);
    return request;
}

} // namespace tavlin
