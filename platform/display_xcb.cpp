// The display for X11: an early test that it can be opened, and the watch on
// a window of another program, over a connection of our own so Qt's event
// handling is left alone.
#include <xcb/xcb.h>

#include <QSocketNotifier>
#include <QTimer>

#include "platform/display.h"

namespace tavlin {

namespace {
QString cannotOpen(const QByteArray& display) {
    return QStringLiteral("cannot open the display \"%1\"").arg(QString::fromLocal8Bit(display));
}
} // namespace

QString displayProblem() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && platform != "xcb")
        return {};
    if (platform.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral("cannot open the display: DISPLAY is not set");
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    return failed ? cannotOpen(display) : QString();
}

struct ForeignWindow::Connection {
    xcb_connection_t* xcb = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Connection() {
        notifier.reset();
        if (xcb)
            xcb_disconnect(xcb);
    }
};

ForeignWindow::~ForeignWindow() = default;

std::unique_ptr<ForeignWindow> ForeignWindow::open(std::uint64_t id, QString* error) {
    const QString name = QStringLiteral("0x") + QString::number(id, 16);
    std::unique_ptr<ForeignWindow> window(new ForeignWindow);
    window->m_id = id;
    window->m_connection = std::make_unique<Connection>();
    xcb_connection_t* xcb = xcb_connect(nullptr, nullptr);
    window->m_connection->xcb = xcb;
    if (xcb_connection_has_error(xcb)) {
        // Said here, whatever else the environment names: this connection is the one needed.
        *error = cannotOpen(qgetenv("DISPLAY"));
        return nullptr;
    }
    const auto xid = static_cast<xcb_window_t>(id);
    // Ask for word of changes first, so a resize between the two requests is not missed.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(xcb, xid, XCB_CW_EVENT_MASK, &mask);
    xcb_generic_error_t* failure = nullptr;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, xid), &failure);
    free(failure);
    if (!geometry) {
        *error = QStringLiteral("there is no window %1").arg(name);
        return nullptr;
    }
    window->m_size = QSize(geometry->width, geometry->height);
    free(geometry);

    auto* self = window.get();
    window->m_connection->notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(xcb), QSocketNotifier::Read);
    connect(window->m_connection->notifier.get(), &QSocketNotifier::activated, self,
            &ForeignWindow::readEvents);
    // Events that arrived with the geometry reply are already off the socket.
    QTimer::singleShot(0, self, &ForeignWindow::readEvents);
    return window;
}

void ForeignWindow::readEvents() {
    xcb_connection_t* xcb = m_connection->xcb;
    while (xcb_generic_event_t* event = xcb_poll_for_event(xcb)) {
        switch (event->response_type & 0x7f) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
            const QSize size(configure->width, configure->height);
            if (configure->window == m_id && size != m_size) {
                m_size = size;
                Q_EMIT resized(size);
            }
            break;
        }
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == m_id)
                m_gone = true;
            break;
        default:
            break;
        }
        free(event);
    }
    if (xcb_connection_has_error(xcb))
        m_gone = true;
    if (m_gone) {
        m_connection->notifier->setEnabled(false);
        Q_EMIT gone();
    }
}

} // namespace tavlin
