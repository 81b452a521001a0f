#include "viewer/frmabout.h"

#include <cmath>

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QScreen>

#include "assets/artwork.h"
#include "viewer/tavlin.h"

namespace tavlin {

namespace {

// Only one About window at a time; QPointer clears itself when the window is freed.
QPointer<frmAbout> g_open;

double twipsPerPixelFor(QWidget* owner) {
    if (auto* window = qobject_cast<Tavlin*>(owner); window && window->twipsPerPixel() > 0)
        return window->twipsPerPixel();
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen && screen->logicalDotsPerInchX() > 0)
        return 1440.0 / screen->logicalDotsPerInchX();
    return 15.0;
}

} // namespace

QString VersionLine(const QString& version) {
    QStringList numbers;
    for (const QString& part : version.split(QLatin1Char('.')))
        numbers.append(QString::number(part.toUInt()));
    return QStringLiteral("Version ") + numbers.join(QLatin1Char('.'));
}

frmAbout::frmAbout(double twipsPerPixel) : QWidget(nullptr), m_tpp(twipsPerPixel) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("About Viewer"));
    setWindowIcon(artwork::windowIcon());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
    auto px = [this](int twips) { return static_cast<int>(std::lround(twips / m_tpp)); };
    setFixedSize(px(5565), px(3315));

    // The banner keeps its own 350 x 100 pixels, whatever the screen's twips per pixel.
    Image2 = new QLabel(this);
    Image2->setPixmap(QPixmap::fromImage(artwork::bannerPicture()));
    Image2->move(px(120), px(240));
    Image2->adjustSize();
    Image2->installEventFilter(this);
    txtVersion = makeLine(1800, 1800);
    txtCopyright = makeLine(1800, 2160);
    Label1 = makeLine(3600, 2880);
    Label1->setText(QString::fromUtf8(kTavlinContactLine));
    Label1->adjustSize();
    Form_Load();
}

QLabel* frmAbout::makeLine(int left, int top) {
    auto* label = new QLabel(this);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(12);
    font.setBold(true);
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->move(static_cast<int>(std::lround(left / m_tpp)),
                static_cast<int>(std::lround(top / m_tpp)));
    label->installEventFilter(this);
    return label;
}

frmAbout* frmAbout::showAbout(QWidget* owner) {
    if (g_open) {
        g_open->raise();
        g_open->activateWindow();
        return g_open;
    }
    auto* about = new frmAbout(twipsPerPixelFor(owner));
    g_open = about;
    QRect area;
    if (owner && owner->isVisible())
        area = owner->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    QRect frame = about->frameGeometry();
    frame.moveCenter(area.center());
    about->move(frame.topLeft());
    about->show();
    about->raise();
    about->activateWindow();
    return about;
}

frmAbout* frmAbout::openWindow() {
    return g_open;
}

void frmAbout::Form_Load() {
    txtVersion->setText(VersionLine(QStringLiteral(TAVLIN_VERSION)));
    txtVersion->adjustSize();
    txtCopyright->setText(QString::fromUtf8(kTavlinCopyright));
    txtCopyright->adjustSize();
}

void frmAbout::Form_Click() {
    Form_Unload();
}
void frmAbout::Image2_Click() {
    Form_Unload();
}
void frmAbout::Label1_Click() {
    Form_Unload();
}
void frmAbout::txtCopyright_Click() {
    Form_Unload();
}
void frmAbout::txtVersion_Click() {
    Form_Unload();
}

void frmAbout::Form_Unload() {
    close();
}

void frmAbout::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    Form_Click();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    if (watched == Image2)
        Image2_Click();
    else if (watched == txtVersion)
        txtVersion_Click();
    else if (watched == txtCopyright)
        txtCopyright_Click();
    else if (watched == Label1)
        Label1_Click();
    else
        return QWidget::eventFilter(watched, event);
    return true;
}

} // namespace tavlin
