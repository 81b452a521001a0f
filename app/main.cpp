#include <cstdio>

#include <QApplication>
#include <QScreen>
#include <QWindow>

#include "app/commandline.h"
#include "app/startup.h"
#include "decode/colour.h"
#include "platform/display.h"
#include "platform/displayprofile.h"
#include "platform/filenames.h"
#include "platform/report.h"
#include "platform/termination.h"
#include "viewer/tavlin.h"

namespace {

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// Arguments as text before the application object exists (it would need a display),
// decoded as file names are, so a folder whose name is not UTF-8 still opens.
QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << tavlin::decodeFileName(QByteArray(argv[i]));
    return arguments;
}

// Puts the window inside the xscreensaver window, following its size, or over
// the whole screen; the daemon owns input either way.
void showForDaemon(tavlin::Tavlin& window, tavlin::ForeignWindow* host) {
    window.setAttribute(Qt::WA_NativeWindow);
    window.winId();
    QWindow* handle = window.windowHandle();
    handle->setFlag(Qt::WindowTransparentForInput);
    handle->setFlag(Qt::WindowDoesNotAcceptFocus);
    if (!host) {
        // Full screen without asking for the focus (showFullScreen would), which a window
        // that takes none refuses with a warning.
        window.setWindowState(window.windowState() | Qt::WindowFullScreen);
        window.show();
        return;
    }
    handle->setParent(QWindow::fromWinId(static_cast<WId>(host->id())));
    const qreal ratio = handle->devicePixelRatio();
    auto logical = [ratio](QSize device) { return (QSizeF(device) / ratio).toSize(); };
    window.setGeometry(QRect(QPoint(0, 0), logical(host->size())));
    QObject::connect(host, &tavlin::ForeignWindow::resized, &window,
                     [&window, logical](QSize size) {
                         window.setGeometry(QRect(QPoint(0, 0), logical(size)));
                         window.fitToScreen(logical(size));
                     });
    QObject::connect(host, &tavlin::ForeignWindow::gone, &window, &tavlin::Tavlin::ExitProgram);
    window.show();
}

} // namespace

int main(int argc, char** argv) {
    const QStringList arguments = argumentsOf(argc, argv);
    const QString xscreensaverWindow = qEnvironmentVariable("XSCREENSAVER_WINDOW");
    if (const auto early = tavlin::earlyExitFor(arguments, xscreensaverWindow)) {
        print(stdout, early->out);
        print(stderr, early->err);
        return early->exitCode;
    }
    const tavlin::StartRequest request = tavlin::parseCommandLine(arguments, xscreensaverWindow);
    if (request.mode == tavlin::RunMode::Preview)
        return 0;
    // A screensaver daemon's window is an X window: it is drawn through X, from a Wayland
    // session too (through XWayland), and refused where there is no X display at all.
    if (request.mode == tavlin::RunMode::Display) {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            tavlin::reportProblem(QStringLiteral(
                "-root and -window-id draw into an X window, and there is no X display "
                "(DISPLAY is not set); under Wayland they need XWayland"));
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    if (const QString problem = tavlin::displayProblem(); !problem.isEmpty()) {
        tavlin::reportProblem(problem);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavlin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVLIN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tavlin.Tavlin"));
    // Pictures that carry a colour profile are shown in the display's colours.
    tavlin::setDisplayProfile(tavlin::readDisplayIccProfile());
    if (const QString problem = tavlin::displayProfileProblem(); !problem.isEmpty())
        tavlin::reportProblem(problem + QStringLiteral("; pictures are shown for an sRGB display"));

    std::unique_ptr<tavlin::ForeignWindow> host;
    tavlin::TavlinOptions options;
    if (request.mode == tavlin::RunMode::Display && request.windowId != 0) {
        QString error;
        host = tavlin::ForeignWindow::open(request.windowId, &error);
        if (!host) {
            tavlin::reportProblem(error);
            return 1;
        }
        options.screenPixels = host->size();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            options.wholeScreenPixels = screen->geometry().size() * screen->devicePixelRatio();
    }

    tavlin::Tavlin window(std::move(options));
    // Before the splash, so a log-out during start-up still leaves through the normal exit.
    tavlin::onTerminationSignal([&window] { window.ExitProgram(); });
    if (!tavlin::startUp(window, request))
        return 0;
    if (request.mode == tavlin::RunMode::Display)
        showForDaemon(window, host.get());
    else
        window.showFullScreen();
    return QApplication::exec();
}
