// A stand-in for the desktop's org.freedesktop.ScreenSaver service on a private
// session bus: answers Inhibit with a fresh cookie and writes every call, one
// line each, to the file named by its argument ("ready" once it is listening).
#include <cstdio>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QObject>

class ScreenSaverStub : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit ScreenSaverStub(const QString& logPath) : m_log(logPath) {
        m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
    void note(const QString& line) { m_log.write((line + QLatin1Char('\n')).toUtf8()); }

public Q_SLOTS:
    Q_SCRIPTABLE uint Inhibit(const QString& application, const QString& reason) {
        const uint cookie = ++m_next;
        note(QStringLiteral("Inhibit %1 %2 %3").arg(cookie).arg(application, reason));
        return cookie;
    }
    Q_SCRIPTABLE void UnInhibit(uint cookie) { note(QStringLiteral("UnInhibit %1").arg(cookie)); }

private:
    QFile m_log;
    uint m_next = 40;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screensaverstub LOGFILE\n");
        return 2;
    }
    ScreenSaverStub stub(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &stub,
                            QDBusConnection::ExportScriptableSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"))) {
        std::fprintf(stderr, "screensaverstub: cannot take the name on the session bus\n");
        return 1;
    }
    stub.note(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "screensaverstub.moc"
