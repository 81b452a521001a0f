#pragma once

#include <cstdint>
#include <memory>

#include <QObject>
#include <QString>
#include <QVariant>

class QDBusPendingCallWatcher;

namespace tavlin {

class XServerSuspend;
class WaylandIdleInhibit;

// Keeps the desktop from blanking, locking or powering down the screen. Two kinds
// of hold are taken together:
//  - one desktop service on the session bus, the first of these that answers:
//    org.freedesktop.ScreenSaver, the desktop portal's Inhibit, the GNOME session
//    manager's Inhibit. A service that has no owner is skipped, one that refuses
//    or does not answer within a second passes the ask on to the next.
//  - the display server's own idle timer, which no desktop service governs: on
//    X11 the server's screensaver and power saving are suspended (MIT-SCREEN-SAVER),
//    natively under Wayland the window carries an idle inhibitor.
// Where no route answers nothing happens and nothing is printed.
class ScreenAwake : public QObject {
    Q_OBJECT
public:
    ScreenAwake();
    ~ScreenAwake() override;

    // Asks for the screen to stay awake; a second ask while held does nothing.
    void hold(const QString& reason);
    // Gives the hold back; waits for the service so a release at exit is not lost.
    void release();
    bool held() const { return m_wanted; }

private:
    void askFrom(int route);
    void takeReply();
    void giveBack(int route, const QVariant& handle);

    bool m_wanted = false;
    QString m_reason;
    QDBusPendingCallWatcher* m_pending = nullptr; // an Inhibit call waiting for its reply
    int m_pendingRoute = -1;
    int m_heldRoute = -1; // the bus route that holds, -1 for none
    QVariant m_handle;    // its cookie or request object
    std::unique_ptr<XServerSuspend> m_xServer;
    std::unique_ptr<WaylandIdleInhibit> m_wayland;
};

} // namespace tavlin
