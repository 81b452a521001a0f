#include "app/frmsplash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "assets/artwork.h"

namespace tavlin {

frmSplash::frmSplash(QWidget* owner) : QDialog(owner, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
    Picture1 = new QLabel(this);
    Picture1->setPixmap(QPixmap::fromImage(artwork::splashPicture()));
    Picture1->setGeometry(0, 0, 400, 300);
    setFixedSize(400, 300);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    iTickCount = 1;
    myTimer = new QTimer(this);
    myTimer->setInterval(1000);
    connect(myTimer, &QTimer::timeout, this, &frmSplash::myTimer_Timer);
    myTimer->start();
}

void frmSplash::myTimer_Timer() {
    ++iTickCount;
    if (iTickCount >= 3) {
        myTimer->stop();
        accept();
    }
}

void frmSplash::ShowMe(QWidget* owner) {
    frmSplash splash(owner);
    splash.exec();
}

} // namespace tavlin
