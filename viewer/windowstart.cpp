// The main window's part of start-up, its run modes and the way out.
#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QTime>
#include <QSpinBox>
#include <QTimer>

#include "fileops/batchinflight.h"
#include "platform/exists.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/imageview.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin {

bool Tavlin::loadStart(const StartRequest& request) {
    m_runMode = request.mode;
    if (request.mode == RunMode::Preview) {
        m_exited = true;
        return false;
    }
    const bool display = request.mode == RunMode::Display;
    if (request.mode == RunMode::Screensaver || display || request.mode == RunMode::Settings)
        bScreensaverMode = true;
    m_slideshow->setPicksAtRandom(bScreensaverMode);

    // A batch rename cut short by a crash is finished in its own folder, whichever opens.
    for (const QString& problem : RecoverBatchesInFlight())
        reportProblem(problem);

    LoadRegistrySettings(request);
    if (display)
        applyDisplaySwitches(request);
    if (bScreensaverMode)
        m_slideshow->seed(static_cast<std::uint64_t>(QTime::currentTime().msecsSinceStartOfDay()));
    return true;
}

void Tavlin::showStart(const StartRequest& request) {
    const bool display = request.mode == RunMode::Display;
    applyStartupLayout();
    stopSlideshow();

    if (bScreensaverMode) {
        chkCenter->setChecked(true);
        chkStretch->setChecked(true);
        chkLoop->setChecked(true);
        chkPlaySound->setChecked(false);
        bShowControls = false;
        frameSettings->hide();
        SetCursorVisible(false);
        // Inside a daemon's window the daemon decides what lies on top.
        if (!display) {
            setWindowState(windowState() | Qt::WindowMaximized);
            setTopMost(true);
        }
        startSlideshow();
        // Selecting shows the picture; a folder without pictures leaves the screen black.
        // A large folder is still being read: the pick waits for its list.
        myPath->whenRead([this] {
            if (myFiles->count() > 0)
                myFiles->setSelectedIndex(m_slideshow->pick(myFiles->count()));
            if (m_includeSubfolders)
                readPictureTree();
        });
    } else if (!request.picture.isEmpty()) {
        myPath->whenRead([this, picture = request.picture] {
            const qsizetype index = myFiles->names().indexOf(picture);
            if (index >= 0)
                myFiles->setSelectedIndex(index);
        });
    }
}

void Tavlin::applyStartupLayout() {
    if (const QSize whole = m_options.wholeScreenPixels; !whole.isEmpty())
        sizeInformationLines(std::min(1.0, double(m_screen.height()) / whole.height()));
    const QSizeF screen = screenTwips();
    m_layout = computeStartupLayout(screen.width(), screen.height(), txtPicture->height() * m_tpp,
                                    txtWidth->height() * m_tpp);
    setGeometry(0, 0, m_screen.width(), m_screen.height());
    imgError->hide();
    place(imgError, m_layout.imgError);
    place(frameSettings, m_layout.frameSettings);
    myPicture->hide();
    myPicture->move(0, 0);
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

void Tavlin::applyDisplaySwitches(const StartRequest& request) {
    // The folder arrives absolute and clean from the command line.
    if (FolderExists(request.displayFolder)) {
        myDrive->setDrive(request.displayFolder);
        myPath->setPath(request.displayFolder);
    }
    if (request.displaySeconds > 0)
        spnSeconds->setValue(request.displaySeconds);
    if (request.displayShuffle)
        m_slideshow->setShuffle(true);
    if (request.displaySubfolders)
        m_includeSubfolders = true;
}

void Tavlin::fitToScreen(QSize pixels) {
    if (pixels.isEmpty() || pixels == m_screen)
        return;
    m_screen = pixels;
    applyStartupLayout();
    if (myFiles->selectedIndex() != -1)
        myFiles_Click();
}

void Tavlin::ExitProgram() {
    if (m_exited)
        return;
    if (!bScreensaverMode)
        SaveRegistrySettings();
    m_platform->keepScreenAwake(false);
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
