#pragma once

#include <cstdint>

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace tavlin {

// Keeps the desktop from blanking or locking the screen through the session
// bus's org.freedesktop.ScreenSaver service. Where no such service answers
// nothing happens and nothing is printed.
class ScreenAwake : public QObject {
    Q_OBJECT
public:
    ~ScreenAwake() override;

    // Asks for the screen to stay awake; a second ask while held does nothing.
    void hold(const QString& reason);
    // Gives the hold back; waits for the service so a release at exit is not lost.
    void release();
    bool held() const { return m_wanted; }

private:
    void takeReply();
    void onInhibitReply(std::uint32_t cookie, bool ok);
    void sendUninhibit(std::uint32_t cookie);

    bool m_wanted = false;
    QDBusPendingCallWatcher* m_pending = nullptr; // an Inhibit call waiting for its reply
    bool m_haveCookie = false;
    std::uint32_t m_cookie = 0;
};

} // namespace tavlin
