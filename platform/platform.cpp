#include "platform/platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QTimer>
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

namespace {
// While the pointer is hidden, a native window created afresh (a change of window flags
// re-creates one) would get the ordinary pointer: the override cursor is applied to the
// windows that exist when it is set. This watcher applies it again to every new window.
class OverrideCursorKeeper : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool created = event->type() == QEvent::PlatformSurface &&
                             static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                                 QPlatformSurfaceEvent::SurfaceCreated;
        if ((created || event->type() == QEvent::Show) && watched->isWindowType() && !m_queued) {
            // After the window is fully made; several windows at once share one pass.
            m_queued = true;
            QTimer::singleShot(0, this, [this] {
                m_queued = false;
                reapply();
            });
        }
        return false;
    }

    // Pushing and popping one more entry applies the top of the override stack (ours,
    // or an hourglass above it) to every window, and leaves the stack as it was.
    static void reapply() {
        const QCursor* top = QGuiApplication::overrideCursor();
        if (!top)
            return;
        const QCursor copy = *top; // the stack may move while it grows
        QGuiApplication::setOverrideCursor(copy);
        QGuiApplication::restoreOverrideCursor();
    }

private:
    bool m_queued = false;
};
} // namespace

void Platform::setCursorVisible(bool visible) {
    static OverrideCursorKeeper* keeper = nullptr;
    // Callers ask only on a change, so each show undoes exactly one hide and
    // leaves any other override cursor (the hourglass of a batch) alone.
    if (visible) {
        if (keeper) {
            QCoreApplication::instance()->removeEventFilter(keeper);
            delete keeper;
            keeper = nullptr;
        }
        QGuiApplication::restoreOverrideCursor();
    } else {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
        if (!keeper && QCoreApplication::instance()) {
            keeper = new OverrideCursorKeeper;
            QCoreApplication::instance()->installEventFilter(keeper);
        }
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
