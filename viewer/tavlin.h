#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <random>

#include "app/commandline.h"
#include "viewer/layout.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTimer;

namespace tavlin {

class DriveList;
class FileList;
class FolderList;
class ImageView;
class Platform;

// How the main window is set up; tests shrink the screen and skip the splash.
struct TavlinOptions {
    Platform* platform = nullptr; // the desktop's when null
    bool showSplash = true;
    QSize screenPixels;          // the window's screen when empty
    double twipsPerPixel = 0;    // from the screen's logical DPI when 0
    // Ends the process; by default leaves the event loop.
    std::function<void()> exitProcess;
    // Uniform numbers in [0, 1) for the screensaver's random pick; by default a
    // generator seeded from the time of day.
    std::function<double()> random;
};

// The main window: a borderless black window over the whole screen showing
// one picture with its information lines, and the settings panel on the right.
class Tavlin : public QWidget {
    Q_OBJECT
public:
    explicit Tavlin(TavlinOptions options = {});
    ~Tavlin() override;

    // Start-up: decides the run mode, loads the settings, lays the window out.
    // False when the program has already ended (preview, settings dialog).
    bool Form_Load(const StartRequest& request);
    // The one way out: saves the settings outside the screensaver, shows the
    // cursor again and ends the process.
    void ExitProgram();
    bool hasExited() const { return m_exited; }

    // Shows the picture at `svPicture` in `objImage`, or the error picture and a beep.
    void DisplayPict(ImageView* objImage, const QString& svPicture);
    // The folder path, "/" unless it ends in one, and the selected entry's name.
    QString selectedFilePath() const;

    void StartSlideshow();
    void StopSlideShow();
    void SetCursorVisible(bool visible);
    // An index in [0, count) drawn from the random source.
    std::int64_t randomIndex(std::int64_t count);

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
    QTimer* myTimer = nullptr;
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
    QScrollBar* scrSeconds = nullptr;
    QLineEdit* txtSeconds = nullptr;
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
    void scrSeconds_Change();
    void btnStartSlideshow_Click();

Q_SIGNALS:
    // The folder list opened another folder (the pop-up menu follows it).
    void folderChanged();
    // The slideshow started or stopped.
    void slideshowStateChanged();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWidgets();
    void connectHandlers();
    void applyStartupLayout();
    void openStartFolder(const StartRequest& request);
    void place(QWidget* widget, const TwipRect& r);
    int px(double twips) const;
    QLabel* makeLabel(const QString& text, bool bold);

    Platform* m_platform;
    TavlinOptions m_options;
    double m_tpp = 15;
    QSize m_screen;
    StartupLayout m_layout;
    bool m_exited = false;
    bool m_cursorVisible = true;
    std::mt19937_64 m_rng;
};

} // namespace tavlin
