// Start-up, run modes and the way out of the main window.
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTime>
#include <QTimer>

#include "app/frmsplash.h"
#include "dialogs/frmscreensaversettings.h"
#include "platform/platform.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/imageview.h"
#include "viewer/tavlin.h"

namespace tavlin {

bool Tavlin::Form_Load(const StartRequest& request) {
    m_commandLine = request.commandLine;
    if (request.mode == RunMode::Preview) {
        m_exited = true;
        return false;
    }
    if (request.mode == RunMode::Screensaver)
        bScreensaverMode = true;

    LoadRegistrySettings(request);

    if (request.mode == RunMode::Settings) {
        bScreensaverMode = true;
        frmScreensaverSettings::ShowScreenSaverOptions(*this);
        ExitProgram();
        return false;
    }

    startFirstPictureEarly(request); // decoded while the splash is up
    if (m_options.showSplash)
        frmSplash::ShowMe(this);

    applyStartupLayout();
    StopSlideShow();

    if (bScreensaverMode) {
        chkCenter->setChecked(true);
        chkStretch->setChecked(true);
        chkLoop->setChecked(true);
        chkPlaySound->setChecked(false);
        bShowControls = false;
        frameSettings->hide();
        SetCursorVisible(false);
        setWindowState(windowState() | Qt::WindowMaximized);
        setTopMost(true);
        StartSlideshow();
        m_rng.seed(static_cast<std::uint64_t>(QTime::currentTime().msecsSinceStartOfDay()));
        // Selecting shows the picture; an empty folder shows the error picture instead.
        if (myFiles->count() > 0)
            myFiles->setSelectedIndex(randomIndex(myFiles->count()));
        else
            DisplayPict(myPicture, selectedFilePath());
    } else if (!request.picture.isEmpty()) {
        const qsizetype index = myFiles->names().indexOf(request.picture);
        if (index >= 0)
            myFiles->setSelectedIndex(index);
    }
    return true;
}

void Tavlin::applyStartupLayout() {
    const QSizeF screen = screenTwips();
    m_layout = computeStartupLayout(screen.width(), screen.height(), txtPicture->height() * m_tpp,
                                    txtWidth->height() * m_tpp);
    setGeometry(0, 0, m_screen.width(), m_screen.height());
    imgError->hide();
    place(imgError, m_layout.imgError);
    place(frameSettings, m_layout.frameSettings);
    myPicture->hide();
    myPicture->move(0, 0);
    scrSeconds->setRange(0, 30);
    frameChecks->move(frameChecks->x(), px(m_layout.frameChecksTop));
    place(myPath, m_layout.myPath);
    place(myFiles, m_layout.myFiles);
    txtFile->setText(QString());
    txtPicture->move(txtPicture->x(), px(m_layout.txtPictureTop));
    txtWidth->move(txtWidth->x(), px(m_layout.txtWidthTop));
    txtHeight->move(txtHeight->x(), px(m_layout.txtHeightTop));
    txtFileSize->move(txtFileSize->x(), px(m_layout.txtFileSizeTop));
    prefixDialog();
}

void Tavlin::ExitProgram() {
    if (m_exited)
        return;
    if (!bScreensaverMode)
        SaveRegistrySettings();
    SetCursorVisible(true);
    m_exited = true;
    hide();
    if (m_options.exitProcess)
        m_options.exitProcess();
    else
        QCoreApplication::exit(0);
}

void Tavlin::closeEvent(QCloseEvent* event) {
    // Closed by the window manager or at log-out: leave as the exit button does.
    ExitProgram();
    event->accept();
}

void Tavlin::SetCursorVisible(bool visible) {
    if (visible == m_cursorVisible)
        return;
    m_cursorVisible = visible;
    m_platform->setCursorVisible(visible);
}

} // namespace tavlin
