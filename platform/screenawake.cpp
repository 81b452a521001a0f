#include "platform/screenawake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>

#include "platform/platform.h"

namespace tavlin {

namespace {
const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
// Every call waits at most this long for a service that hangs: a release (when the
// slideshow stops, or at exit) waits for the answer to the hold before it.
constexpr int kCallTimeoutMs = 1000;

QDBusMessage call(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    message.setArguments(arguments);
    // Never start a service just to ask it something.
    message.setAutoStartService(false);
    return message;
}

// The session bus only when one is there and the service has an owner; asking
// QDBusConnection for a bus that is not there prints nothing.
bool serviceAnswers(QDBusConnection& bus) {
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    return registered.isValid() && registered.value();
}
} // namespace

// Releasing needs the bus and the application, both gone by now; the program
// releases in its exit path.
ScreenAwake::~ScreenAwake() = default;

void Platform::keepScreenAwake(bool awake) {
    static auto* screenAwake = new ScreenAwake;
    if (awake)
        screenAwake->hold(QStringLiteral("Slideshow"));
    else
        screenAwake->release();
}

void ScreenAwake::hold(const QString& reason) {
    if (m_wanted)
        return;
    m_wanted = true;
    if (m_pending || m_haveCookie)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!serviceAnswers(bus))
        return;
    const QString application = QCoreApplication::applicationName().isEmpty()
                                    ? QStringLiteral("Tavlin")
                                    : QCoreApplication::applicationName();
    m_pending = new QDBusPendingCallWatcher(
        bus.asyncCall(call(QStringLiteral("Inhibit"), {application, reason}), kCallTimeoutMs),
        this);
    connect(m_pending, &QDBusPendingCallWatcher::finished, this, &ScreenAwake::takeReply);
}

void ScreenAwake::takeReply() {
    QDBusPendingCallWatcher* watcher = m_pending;
    m_pending = nullptr;
    watcher->disconnect(this);
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    onInhibitReply(reply.isValid() ? reply.value() : 0, reply.isValid());
}

void ScreenAwake::onInhibitReply(std::uint32_t cookie, bool ok) {
    if (!ok)
        return;
    // The slideshow may have stopped while the service was answering.
    if (!m_wanted) {
        sendUninhibit(cookie);
        return;
    }
    m_haveCookie = true;
    m_cookie = cookie;
}

void ScreenAwake::release() {
    m_wanted = false;
    if (m_pending) {
        // Wait for the cookie so it can be given back before the program ends.
        m_pending->waitForFinished();
        takeReply();
    }
    if (!m_haveCookie)
        return;
    m_haveCookie = false;
    sendUninhibit(m_cookie);
}

void ScreenAwake::sendUninhibit(std::uint32_t cookie) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.call(call(QStringLiteral("UnInhibit"), {QVariant::fromValue(uint(cookie))}),
                 QDBus::Block, kCallTimeoutMs);
}

} // namespace tavlin
