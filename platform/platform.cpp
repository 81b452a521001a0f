#include "platform/platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#ifdef TAVLIN_HAVE_CANBERRA
#include <canberra.h>
#endif

namespace tavlin {

void Platform::beep() {
    QApplication::beep();
}

namespace {
// The slide sound ships beside the binary in a build and under share/ once installed.
QString slideSoundFile() {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + QStringLiteral("/slide.wav"), dir + QStringLiteral("/../share/tavlin/slide.wav")})
        if (QFileInfo::exists(candidate))
            return candidate;
    return {};
}
} // namespace

void Platform::playSlideSound() {
#ifdef TAVLIN_HAVE_CANBERRA
    // Many desktops mute the X bell, so the sound goes through the sound system.
    static ca_context* context = [] {
        ca_context* c = nullptr;
        if (ca_context_create(&c) != CA_SUCCESS)
            return static_cast<ca_context*>(nullptr);
        ca_context_change_props(c, CA_PROP_APPLICATION_NAME, "Tavlin", nullptr);
        return c;
    }();
    static const QByteArray file = QFile::encodeName(slideSoundFile());
    if (context && !file.isEmpty() &&
        ca_context_play(context, 0, CA_PROP_MEDIA_FILENAME, file.constData(),
                        CA_PROP_EVENT_DESCRIPTION, "Slideshow step", nullptr) == CA_SUCCESS)
        return;
#endif
    beep();
}

void Platform::setCursorVisible(bool visible) {
    // Callers ask only on a change, so each show undoes exactly one hide and
    // leaves any other override cursor (the hourglass of a batch) alone.
    if (visible) {
        QGuiApplication::restoreOverrideCursor();
    } else {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    }
}

bool Platform::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

Platform& desktopPlatform() {
    static Platform instance;
    return instance;
}

} // namespace tavlin
