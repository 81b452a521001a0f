#include "platform/platform.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

namespace tavlin {

void Platform::beep() { QApplication::beep(); }

void Platform::setCursorVisible(bool visible) {
    if (visible) {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    } else {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    }
}

bool Platform::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

Platform& desktopPlatform() {
    static Platform instance;
    return instance;
}

} // namespace tavlin
