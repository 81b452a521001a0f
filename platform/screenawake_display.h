#pragma once

#include <QObject>
#include <QPointer>

class QWindow;
struct wl_display;
struct wl_event_queue;
struct wl_surface;
struct xcb_connection_t;
struct zwp_idle_inhibit_manager_v1;
struct zwp_idle_inhibitor_v1;

namespace tavlin {

// The X server's own screensaver and power-saving timers, suspended through the
// MIT-SCREEN-SAVER extension on the application's own X connection. The suspension
// also holds off DPMS, and the server ends it by itself when the connection closes,
// so a program that dies cannot leave the screen held. Does nothing off X11 or where
// the server lacks the extension.
class XServerSuspend {
public:
    ~XServerSuspend();
    void hold();
    void release();

private:
    xcb_connection_t* m_connection = nullptr;
    bool m_checked = false; // the extension was looked for
    bool m_usable = false;
    bool m_held = false;
};

// An idle inhibitor (idle-inhibit-unstable-v1) on the surface of the application's
// main window, natively under Wayland. The compositor honours it while the surface
// is visible; a surface comes and goes with the window, so the inhibitor follows it.
// Does nothing under other platforms or where the compositor lacks the protocol.
class WaylandIdleInhibit : public QObject {
public:
    ~WaylandIdleInhibit() override;
    void hold();
    void release();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool bind();
    void attach();
    void detach();

    bool m_wanted = false;
    bool m_bound = false; // the compositor was asked for the protocol
    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    zwp_idle_inhibit_manager_v1* m_manager = nullptr;
    QPointer<QWindow> m_window;
    zwp_idle_inhibitor_v1* m_inhibitor = nullptr;
};

} // namespace tavlin
