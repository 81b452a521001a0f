// Stand-ins for the desktop services that keep the screen awake, on a private
// session bus. Each argument after the log file takes one name:
//   screensaver   org.freedesktop.ScreenSaver: Inhibit gives a cookie, UnInhibit takes it
//   portal        org.freedesktop.portal.Desktop: Inhibit gives a request object, whose
//                 Close ends the inhibition
//   session       org.gnome.SessionManager: Inhibit gives a cookie, Uninhibit takes it
// A name followed by ":refuse" answers Inhibit with an error, by ":hang" never answers.
// Every call is written to the log file, one line each, starting with the name;
// "ready" once all names are taken. Cookies and request numbers count from 41,
// shared by all names.
#include <cstdio>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QObject>
#include <QVariantMap>

namespace {

QFile* logFile = nullptr;
uint nextNumber = 40;

void note(const QString& line) {
    logFile->write((line + QLatin1Char('\n')).toUtf8());
}

// How a stand-in answers Inhibit.
enum class Answer { Give, Refuse, Hang };

// The D-Bus context (for an error or no answer) reaches the slots through this
// class's meta-object, so it is a Q_OBJECT too.
class Stub : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    Stub(QString label, Answer answer) : m_label(std::move(label)), m_answer(answer) {}

protected:
    // False when this call gets no ordinary answer: an error, or none at all.
    bool answers(const QString& call) {
        if (m_answer == Answer::Give)
            return true;
        setDelayedReply(true);
        if (m_answer == Answer::Refuse) {
            note(QStringLiteral("%1 %2 refused").arg(m_label, call));
            connection().send(message().createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
                QStringLiteral("not here")));
        } else {
            note(QStringLiteral("%1 %2 unanswered").arg(m_label, call));
        }
        return false;
    }
    QString m_label;

private:
    Answer m_answer;
};

class ScreenSaver : public Stub {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    using Stub::Stub;
public Q_SLOTS:
    Q_SCRIPTABLE uint Inhibit(const QString& application, const QString& reason) {
        if (!answers(QStringLiteral("Inhibit")))
            return 0;
        const uint cookie = ++nextNumber;
        note(QStringLiteral("%1 Inhibit %2 %3 %4")
                 .arg(m_label)
                 .arg(cookie)
                 .arg(application, reason));
        return cookie;
    }
    Q_SCRIPTABLE void UnInhibit(uint cookie) {
        note(QStringLiteral("%1 UnInhibit %2").arg(m_label).arg(cookie));
    }
};

class SessionManager : public Stub {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.SessionManager")
public:
    using Stub::Stub;
public Q_SLOTS:
    Q_SCRIPTABLE uint Inhibit(const QString& application, uint toplevel, const QString& reason,
                              uint flags) {
        if (!answers(QStringLiteral("Inhibit")))
            return 0;
        const uint cookie = ++nextNumber;
        note(QStringLiteral("%1 Inhibit %2 %3 %4 %5 %6")
                 .arg(m_label)
                 .arg(cookie)
                 .arg(application)
                 .arg(toplevel)
                 .arg(reason)
                 .arg(flags));
        return cookie;
    }
    Q_SCRIPTABLE void Uninhibit(uint cookie) {
        note(QStringLiteral("%1 Uninhibit %2").arg(m_label).arg(cookie));
    }
};

// The object the portal hands out for one inhibition.
class Request : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    explicit Request(uint number) : m_number(number) {}
public Q_SLOTS:
    Q_SCRIPTABLE void Close() {
        note(QStringLiteral("portal Close %1").arg(m_number));
        QDBusConnection::sessionBus().unregisterObject(pathOf(m_number));
        deleteLater();
    }

public:
    static QString pathOf(uint number) {
        return QStringLiteral("/org/freedesktop/portal/desktop/request/stub/t%1").arg(number);
    }

private:
    uint m_number;
};

class Portal : public Stub {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    using Stub::Stub;
public Q_SLOTS:
    Q_SCRIPTABLE QDBusObjectPath Inhibit(const QString& window, uint flags,
                                         const QVariantMap& options) {
        if (!answers(QStringLiteral("Inhibit")))
            return {};
        const uint number = ++nextNumber;
        auto* request = new Request(number);
        QDBusConnection::sessionBus().registerObject(Request::pathOf(number), request,
                                                     QDBusConnection::ExportScriptableSlots);
        note(QStringLiteral("%1 Inhibit %2 '%3' %4 %5")
                 .arg(m_label)
                 .arg(number)
                 .arg(window)
                 .arg(flags)
                 .arg(options.value(QStringLiteral("reason")).toString()));
        return QDBusObjectPath(Request::pathOf(number));
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: screensaverstub LOGFILE screensaver|portal|session[:refuse|:hang]...\n");
        return 2;
    }
    QFile log(QString::fromLocal8Bit(argv[1]));
    log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    logFile = &log;
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (int i = 2; i < argc; ++i) {
        const QStringList parts = QString::fromLocal8Bit(argv[i]).split(QLatin1Char(':'));
        const QString kind = parts.value(0);
        const QString how = parts.value(1);
        const Answer answer = how == QLatin1String("refuse") ? Answer::Refuse
                              : how == QLatin1String("hang") ? Answer::Hang
                                                             : Answer::Give;
        QObject* stub = nullptr;
        QString service, path;
        if (kind == QLatin1String("screensaver")) {
            stub = new ScreenSaver(kind, answer);
            service = QStringLiteral("org.freedesktop.ScreenSaver");
            path = QStringLiteral("/org/freedesktop/ScreenSaver");
        } else if (kind == QLatin1String("portal")) {
            stub = new Portal(kind, answer);
            service = QStringLiteral("org.freedesktop.portal.Desktop");
            path = QStringLiteral("/org/freedesktop/portal/desktop");
        } else if (kind == QLatin1String("session")) {
            stub = new SessionManager(kind, answer);
            service = QStringLiteral("org.gnome.SessionManager");
            path = QStringLiteral("/org/gnome/SessionManager");
        } else {
            std::fprintf(stderr, "screensaverstub: unknown service %s\n", argv[i]);
            return 2;
        }
        if (!bus.registerObject(path, stub, QDBusConnection::ExportScriptableSlots) ||
            !bus.registerService(service)) {
            std::fprintf(stderr, "screensaverstub: cannot take %s on the session bus\n",
                         qPrintable(service));
            return 1;
        }
    }
    note(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "screensaverstub.moc"
