#pragma once

#include <QPointF>
#include <QThreadPool>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <atomic>

#include "layout/layout.h"
#include "viewer/startrequest.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class QWidget;

namespace tavlin {

class DriveList;
class FileList;
class FolderList;
class frmGetPrefix;
class frmMenus;
class ImageView;
class PictureDecoder;
class Platform;
class Slideshow;
struct DecodedPicture;
struct DisplayContext;

// What the main window holds: its widgets, named as the program's design names them, and its
// state. The window keeps it to itself; only the viewer's own code sees it.
struct TavlinForm {
    // Pixels for twips on this screen; a widget placed at, and its geometry in, twips.
    int px(double twips) const;
    void place(QWidget* widget, const TwipRect& r) const;
    TwipRect twipGeometry(const QWidget* widget) const;
    QSizeF screenTwips() const;
    // Gives the information lines their fonts, `scale` times their size on a whole screen.
    void sizeInformationLines(double scale);

    // State record.
    bool bTopMost = false;
    bool bShowControls = false;
    bool bScreensaverMode = false;

    // Widgets.
    QTimer* mySeconds = nullptr; // hides the pointer again in the screensaver
    QGroupBox* frameSettings = nullptr;
    QFrame* frameChecks = nullptr;
    QCheckBox* chkCenter = nullptr;
    QCheckBox* chkStretch = nullptr;
    QCheckBox* chkLoop = nullptr;
    QCheckBox* chkPlaySound = nullptr;
    QFrame* Line1 = nullptr;
    QCheckBox* chkShowPictureNumber = nullptr;
    QCheckBox* chkFilename = nullptr;
    QCheckBox* chkFileSize = nullptr;
    QCheckBox* chkDimensions = nullptr;
    QPushButton* btnStartSlideshow = nullptr;
    QSpinBox* spnSeconds = nullptr;
    QPushButton* btnRename = nullptr;
    QPushButton* btnExit = nullptr;
    DriveList* myDrive = nullptr;
    FolderList* myPath = nullptr;
    FileList* myFiles = nullptr;
    ImageView* imgError = nullptr;
    QLabel* txtFile = nullptr;
    QLabel* txtFileSize = nullptr;
    QLabel* txtWidth = nullptr;
    QLabel* txtHeight = nullptr;
    QLabel* txtPicture = nullptr;
    ImageView* myPicture = nullptr;
    frmGetPrefix* m_prefixDialog = nullptr; // the batch-rename dialog, made on first use

    // The screen, in pixels and twips, and where the design puts things on it.
    double m_tpp = 15;
    double m_devicePixelRatio = 1;
    QSize m_screen;
    StartupLayout m_layout;

    RunMode m_runMode = RunMode::Viewer;
    bool m_exited = false;
    bool m_cursorVisible = true;
    QString m_workingDirectory; // the folder of the very first start; the help is looked for there
    bool m_includeSubfolders = false; // the screensaver shows the whole tree
    // The last mouse position over the window and over the picture, twips; (0, 0) none.
    QPointF m_formMouse;
    QPointF m_pictureMouse;

    // Pictures are decoded off the window's thread (decode/): the window asks and paints.
    PictureDecoder* m_decoder = nullptr;
    QString m_shownPicture;    // the file whose picture myPicture holds
    QString m_requestedNumber; // the picture number line as it was when the picture was asked for
    ImageView* m_requestedView = nullptr;
    // The slideshow's timer, seconds and looping, and the screensaver's random picks.
    Slideshow* m_slideshow = nullptr;
    // The screensaver's walk of the folder's tree; the window waits for it before it goes.
    QThreadPool m_treeReader;
    std::atomic<bool> m_treeStop{false};
};

} // namespace tavlin
