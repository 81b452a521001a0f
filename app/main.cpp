#include <QApplication>

#include "app/commandline.h"
#include "platform/termination.h"
#include "viewer/tavlin.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavlin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVLIN_VERSION));

    const tavlin::StartRequest request =
        tavlin::parseCommandLine(QCoreApplication::arguments().mid(1));
    tavlin::Tavlin window;
    if (!window.Form_Load(request))
        return 0;
    tavlin::onTerminationSignal([&window] { window.ExitProgram(); });
    window.showFullScreen();
    return QApplication::exec();
}
