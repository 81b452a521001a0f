#include "platform/screenawake.h"

#include <array>
#include <utility>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QGuiApplication>

#include "platform/platform.h"
#include "platform/screenawake_display.h"

namespace tavlin {

namespace {
// The session-bus routes, asked in this order; the first that answers holds.
enum BusRoute { kScreenSaver, kPortal, kSessionManager, kBusRoutes };

struct BusService {
    const char* name;
    const char* path;
    const char* interface;
};

constexpr std::array<BusService, kBusRoutes> kServices = {{
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
     "org.freedesktop.portal.Inhibit"},
    {"org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager"},
}};

// The portal's and the session manager's flag for "the session may not go idle".
constexpr uint kInhibitIdle = 8;

// Every call waits at most this long for a service that hangs: a release (when the
// slideshow stops, or at exit) waits for the answer to the hold before it.
constexpr int kCallTimeoutMs = 1000;

QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    // Never start a service just to ask it something.
    message.setAutoStartService(false);
    return message;
}

QDBusMessage call(int route, const QString& method, const QVariantList& arguments) {
    const BusService& s = kServices[route];
    return call(QString::fromLatin1(s.name), QString::fromLatin1(s.path),
                QString::fromLatin1(s.interface), method, arguments);
}

// The session bus only when one is there and the service has an owner; asking
// QDBusConnection for a bus that is not there prints nothing.
bool serviceAnswers(QDBusConnection& bus, int route) {
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> registered =
        bus.interface()->isServiceRegistered(QString::fromLatin1(kServices[route].name));
    return registered.isValid() && registered.value();
}

QString applicationName() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Tavlin") : name;
}

// The session manager names applications by their desktop entry.
QString applicationId() {
    const QString id = QGuiApplication::desktopFileName();
    return id.isEmpty() ? applicationName() : id;
}

QDBusMessage inhibitCall(int route, const QString& reason) {
    switch (route) {
    case kScreenSaver:
        return call(route, QStringLiteral("Inhibit"), {applicationName(), reason});
    case kPortal:
        // No parent window: the inhibition is for the whole application.
        return call(route, QStringLiteral("Inhibit"),
                    {QString(), kInhibitIdle, QVariantMap{{QStringLiteral("reason"), reason}}});
    default:
        return call(route, QStringLiteral("Inhibit"),
                    {applicationId(), uint(0), reason, kInhibitIdle});
    }
}

// What the service handed back to be given back later: a cookie, or for the portal
// the path of the request object that stands for the inhibition. Invalid for a
// refusal, a time-out or an answer of the wrong shape.
QVariant handleOf(int route, const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return {};
    const QVariant value = reply.arguments().constFirst();
    if (route == kPortal) {
        if (value.metaType() != QMetaType::fromType<QDBusObjectPath>())
            return {};
        const QDBusObjectPath path = value.value<QDBusObjectPath>();
        return path.path().isEmpty() ? QVariant() : value;
    }
    return value.metaType() == QMetaType::fromType<uint>() ? value : QVariant();
}
} // namespace

ScreenAwake::ScreenAwake()
    : m_xServer(std::make_unique<XServerSuspend>()),
      m_wayland(std::make_unique<WaylandIdleInhibit>()) {}

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
    m_reason = reason;
    // The display server's idle timer runs whatever desktop service there is.
    m_xServer->hold();
    m_wayland->hold();
    if (!m_pending && m_heldRoute == -1)
        askFrom(0);
}

void ScreenAwake::askFrom(int route) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (; route < kBusRoutes; ++route) {
        if (!serviceAnswers(bus, route))
            continue;
        m_pendingRoute = route;
        m_pending = new QDBusPendingCallWatcher(
            bus.asyncCall(inhibitCall(route, m_reason), kCallTimeoutMs), this);
        connect(m_pending, &QDBusPendingCallWatcher::finished, this, &ScreenAwake::takeReply);
        return;
    }
}

void ScreenAwake::takeReply() {
    QDBusPendingCallWatcher* watcher = m_pending;
    const int route = m_pendingRoute;
    m_pending = nullptr;
    m_pendingRoute = -1;
    watcher->disconnect(this);
    watcher->deleteLater();
    const QVariant handle = handleOf(route, watcher->reply());
    if (!handle.isValid()) {
        // Refused or no answer in time: the next service may do it.
        if (m_wanted)
            askFrom(route + 1);
        return;
    }
    // The slideshow may have stopped while the service was answering.
    if (!m_wanted) {
        giveBack(route, handle);
        return;
    }
    m_heldRoute = route;
    m_handle = handle;
}

void ScreenAwake::release() {
    m_wanted = false;
    m_xServer->release();
    m_wayland->release();
    if (m_pending) {
        // Wait for the answer so a hold given meanwhile is returned before the program ends.
        m_pending->waitForFinished();
        takeReply();
    }
    if (m_heldRoute == -1)
        return;
    const int route = m_heldRoute;
    m_heldRoute = -1;
    giveBack(route, std::exchange(m_handle, QVariant()));
}

void ScreenAwake::giveBack(int route, const QVariant& handle) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage message;
    if (route == kPortal)
        message = call(
            QString::fromLatin1(kServices[kPortal].name), handle.value<QDBusObjectPath>().path(),
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"), {});
    else
        message =
            call(route,
                 route == kScreenSaver ? QStringLiteral("UnInhibit") : QStringLiteral("Uninhibit"),
                 {handle});
    bus.call(message, QDBus::Block, kCallTimeoutMs);
}

} // namespace tavlin
