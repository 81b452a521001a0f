// Wayland's idle inhibitor on the main window's surface.
#include <cstring>
#include <wayland-client.h>

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "platform/screenawake_display.h"

namespace tavlin {

namespace {
void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto** manager = static_cast<zwp_idle_inhibit_manager_v1**>(data);
    if (!*manager && std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0)
        *manager = static_cast<zwp_idle_inhibit_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

bool onWayland() {
    return qGuiApp && QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// The surface Qt draws the window into, while it has one.
wl_surface* surfaceOf(QWindow* window) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native && window->handle() ? static_cast<wl_surface*>(native->nativeResourceForWindow(
                                            QByteArrayLiteral("surface"), window))
                                      : nullptr;
}

// The application's own window, not a dialog, menu or tooltip over it.
QWindow* mainWindow() {
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (window->type() == Qt::Window && window->isExposed() && surfaceOf(window))
            return window;
    return nullptr;
}
} // namespace

WaylandIdleInhibit::~WaylandIdleInhibit() = default;

void WaylandIdleInhibit::hold() {
    if (m_wanted || !onWayland() || !bind())
        return;
    m_wanted = true;
    qGuiApp->installEventFilter(this);
    attach();
}

void WaylandIdleInhibit::release() {
    if (!m_wanted)
        return;
    m_wanted = false;
    qGuiApp->removeEventFilter(this);
    detach();
}

// Binds the compositor's inhibit manager once, on a queue of its own so Qt's
// queues never see these objects.
bool WaylandIdleInhibit::bind() {
    if (m_bound)
        return m_manager;
    m_bound = true;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    m_display = native ? static_cast<wl_display*>(
                             native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")))
                       : nullptr;
    if (!m_display)
        return false;
    m_queue = wl_display_create_queue(m_display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), m_queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &registryListener, &m_manager);
    wl_display_roundtrip_queue(m_display, m_queue);
    wl_registry_destroy(registry);
    return m_manager;
}

// The inhibitor goes on the main window's current surface; without a shown
// window it waits for one.
void WaylandIdleInhibit::attach() {
    if (m_inhibitor)
        return;
    QWindow* window = mainWindow();
    if (!window)
        return;
    m_window = window;
    m_inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(m_manager, surfaceOf(window));
    wl_display_flush(m_display);
}

void WaylandIdleInhibit::detach() {
    m_window = nullptr;
    if (!m_inhibitor)
        return;
    zwp_idle_inhibitor_v1_destroy(m_inhibitor);
    m_inhibitor = nullptr;
    wl_display_flush(m_display);
}

// Qt gives a window a new surface when it is shown again or re-created: the
// inhibitor leaves with the old surface and comes back on the new one.
bool WaylandIdleInhibit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose || event->type() == QEvent::PlatformSurface) {
        if (auto* window = qobject_cast<QWindow*>(watched)) {
            const bool going = event->type() == QEvent::PlatformSurface &&
                               static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                                   QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed;
            if (window == m_window && (going || !window->isExposed()))
                detach();
            else if (!going)
                attach();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tavlin
