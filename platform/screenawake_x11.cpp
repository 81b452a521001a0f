// The X server's own screensaver, held off through MIT-SCREEN-SAVER.
#include <cstdlib>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <QGuiApplication>

#include "platform/screenawake_display.h"

namespace tavlin {

namespace {
// Suspending came with version 1.1 of the extension.
bool canSuspend(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_screensaver_id);
    if (!extension || !extension->present)
        return false;
    xcb_screensaver_query_version_reply_t* version = xcb_screensaver_query_version_reply(
        connection, xcb_screensaver_query_version(connection, 1, 1), nullptr);
    if (!version)
        return false;
    const bool usable = version->server_major_version > 1 ||
                        (version->server_major_version == 1 && version->server_minor_version >= 1);
    std::free(version);
    return usable;
}

// Sent checked, so a refusal comes back here and not as a printed X error.
bool suspend(xcb_connection_t* connection, bool on) {
    xcb_generic_error_t* error =
        xcb_request_check(connection, xcb_screensaver_suspend_checked(connection, on ? 1 : 0));
    std::free(error);
    return !error;
}
} // namespace

XServerSuspend::~XServerSuspend() = default;

void XServerSuspend::hold() {
    if (m_held)
        return;
    if (!m_checked) {
        m_checked = true;
        auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        m_connection = x11 ? x11->connection() : nullptr;
        m_usable = m_connection && canSuspend(m_connection);
    }
    if (!m_usable)
        return;
    m_held = suspend(m_connection, true);
    // A suspension leaves a screensaver that is already on where it is: a screensaver
    // run started when the server's own came on would draw under a blank screen.
    if (m_held) {
        xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
        xcb_flush(m_connection);
    }
}

void XServerSuspend::release() {
    if (!m_held)
        return;
    m_held = false;
    // The server starts its timer afresh: the screen blanks a full timeout from now.
    suspend(m_connection, false);
}

} // namespace tavlin
