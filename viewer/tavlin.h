#pragma once

#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "fileops/batchrenamehost.h"
#include "layout/layout.h"
#include "registry/settings.h"
#include "viewer/startrequest.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace tavlin {

class DriveList;
class frmMenus;
class FileList;
class frmGetPrefix;
class FolderList;
class ImageView;
class Slideshow;
class Platform;
class PictureDecoder;
struct DecodedPicture;
struct DisplayContext;
namespace test {
class WindowDriver;
}

// How the main window is set up; tests shrink the screen and skip the splash.
struct TavlinOptions {
    Platform* platform = nullptr; // the desktop's when null
    bool showSplash = true;
    QSize screenPixels;          // the window's screen when empty
    // Set when the window is another program's, smaller than the whole screen (a screensaver's
    // preview): the information lines shrink in proportion, as the picture does.
    QSize wholeScreenPixels;
    double twipsPerPixel = 0;    // from the screen's logical DPI when 0
    double devicePixelRatio = 0; // from the screen when 0
    // Ends the process; by default leaves the event loop.
    std::function<void()> exitProcess;
    // Uniform numbers in [0, 1) for the screensaver's random pick; by default a
    // generator seeded from the time of day.
    std::function<double()> random;
    // Decode the pictures likely to be asked for next while one is on show.
    bool prefetch = true;
};

// The main window: a borderless black window over the whole screen showing
// one picture with its information lines, and the settings panel on the right.
class Tavlin : public QWidget, public BatchRenameHost {
    Q_OBJECT
    // The tests' and benchmarks' way in: they reach the widgets only through it.
    friend class test::WindowDriver;

public:
    explicit Tavlin(TavlinOptions options = {});
    ~Tavlin() override;

    // Start-up, as the program runs it (see app/startup.h): the run mode and the stored
    // settings into the window, false for a preview, which ends at once; then, once the first
    // picture is on its way, the window laid out with the screensaver's random pick or the
    // picture named.
    bool loadStart(const StartRequest& request);
    void showStart(const StartRequest& request);
    bool showsSplash() const { return m_options.showSplash; }
    // The one way out: saves the settings outside the screensaver, shows the
    // cursor again and ends the process.
    void ExitProgram();
    bool hasExited() const { return m_exited; }
    // The run mode read from the command line at start-up.
    RunMode runMode() const { return m_runMode; }
    // The area the window fills changed size (the xscreensaver window was
    // resized): lay everything out again and show the picture anew.
    void fitToScreen(QSize pixels);

    // Shows the picture at `svPicture` in `objImage`, or the error picture and a beep.
    void DisplayPict(ImageView* objImage, const QString& svPicture);
    // The folder path, "/" unless it ends in one, and the selected entry's name.
    QString selectedFilePath() const;

    void startSlideshow();
    void stopSlideshow();
    void SetCursorVisible(bool visible);
    // Shows or hides the settings panel and lays the picture out again.
    void toggleSettingsPanel();
    bool TopMost() const { return bTopMost; }
    void setTopMost(bool topMost);
    // The holder of the pop-up menu, made on first use.
    frmMenus& Menus();

    // The stored settings into the widgets, and the widgets' values back.
    void LoadRegistrySettings(const StartRequest& request);
    void SaveRegistrySettings();
    Settings currentSettings() const;

    // Commands of the pop-up menu and its keys.
    void RenameSingleFile();
    void btnRename_Click();
    void PrintPicture();
    void ShowAbout();
    void OpenHelp();
    // The batch-rename prefix dialog, made on first use.
    frmGetPrefix* prefixDialog();
    frmGetPrefix* m_prefixDialog = nullptr;

    // What the batch rename asks of the window.
    QString batchFolder() const override;
    QStringList batchFileNames() const override;
    void batchRefreshFiles() override;
    void batchSelectFirstFile() override;
    bool batchSlideshowRunning() const override;
    void batchStopSlideshow() override;
    void batchStartSlideshow() override;
    void batchSetControlsEnabled(bool enabled) override;
    void batchShowMessage(const QString& title, const QString& text) override;

    // Moves the selected picture file to the Trash, or removes it for good, and shows the one
    // that takes its place.
    enum class Deletion { ToTrash, ForGood };
    void DeleteCurrentFile(Deletion how);
    // The screensaver shows every picture once before any comes back ("Shuffle").
    bool shufflesPictures() const;
    // The screensaver shows the pictures of the folder's whole tree ("Include Subfolders").
    bool includesSubfolders() const { return m_includeSubfolders; }

    double twipsPerPixel() const { return m_tpp; }
    QSizeF screenTwips() const;
    Platform& platform() const { return *m_platform; }
    const StartupLayout& startupLayout() const { return m_layout; }
    // The geometry of a widget in twips, relative to its parent.
    TwipRect twipGeometry(const QWidget* widget) const;

    // State record.
    bool bTopMost = false;
    bool bShowControls = false;
    bool bScreensaverMode = false;

    // Widgets, named as the program's design names them.
    QTimer* mySeconds = nullptr;
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

    // Handlers.
    void myDrive_Change();
    void myPath_Change();
    void myFiles_Click();
    void chkCenter_Click();
    void chkStretch_Click();
    void chkShowPictureNumber_Click();
    void chkFilename_Click();
    void chkFileSize_Click();
    void chkDimensions_Click();
    void btnStartSlideshow_Click();
    void mySeconds_Timer();
    // Key handlers take virtual-key codes and the shift state (1 Shift, 2 Ctrl, 4 Alt).
    void Form_KeyDown(int keyCode, int shift);
    void Form_KeyUp(int keyCode, int shift);
    // Mouse handlers take the button (1 left, 2 right, 4 middle) and twips.
    void Form_MouseUp(int button, int shift, double x, double y);
    void myPicture_MouseUp(int button, int shift, double x, double y);
    void Form_MouseMove(int button, int shift, double x, double y);
    void myPicture_MouseMove(int button, int shift, double x, double y);
    void Form_DblClick();
    void myPicture_DblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void connectHandlers();
    void connectInput();
    void forwardKey(QKeyEvent* event);
    // Ends the screensaver when the mouse jumped between two events of one widget.
    void checkMouseJump(QPointF& remembered, double x, double y);
    void applyStartupLayout();
    void applyDisplaySwitches(const StartRequest& request);
    void place(QWidget* widget, const TwipRect& r);
    int px(double twips) const;
    QLabel* makeLabel(const QString& text, bool bold);
    // Gives the information lines their fonts, `scale` times their size on a whole screen.
    void sizeInformationLines(double scale);

    Platform* m_platform;
    TavlinOptions m_options;
    double m_tpp = 15;
    double m_devicePixelRatio = 1;
    QSize m_screen;
    StartupLayout m_layout;
    bool m_exited = false;
    bool m_cursorVisible = true;
    std::unique_ptr<frmMenus> m_menus;
    RunMode m_runMode = RunMode::Viewer;
    QString m_shownPicture; // the file whose picture myPicture holds
    QPointF m_formMouse;    // last mouse position over the window, twips; (0, 0) none
    QPointF m_pictureMouse; // the same over the picture

    // Pictures are decoded off this thread (decode/): the window asks and paints.
public:
    PictureDecoder& decoder();
    // True while the picture last asked for is still being decoded.
    bool pictureRequestPending() const;
    // The layout the window would give a picture now, as plain values.
    DisplayContext displayContext() const;
    // Starts decoding the picture start-up will show, so it is ready when the splash ends.
    void startFirstPictureEarly(const StartRequest& request);

private:
    void showDecoded(const DecodedPicture& decoded);
    void prefetchLikelyNext();
    PictureDecoder* m_decoder = nullptr;
    // The slideshow's timer, seconds and looping, and the screensaver's random picks.
    void connectSlideshow();
    Slideshow* m_slideshow = nullptr;
    bool m_includeSubfolders = false;
    // The screensaver's walk of the folder's tree, in the background.
    void readPictureTree();
    QThreadPool m_treeReader;
    std::atomic<bool> m_treeStop{false}; // the window waits for the walk before it goes
    QString m_workingDirectory; // the folder of the very first start; the help is looked for there
    QString m_requestedNumber; // the picture number line as it was when the picture was asked for
    ImageView* m_requestedView = nullptr;
};

} // namespace tavlin
