#pragma once

#include <QWidget>

#include <memory>

#include "registry/settings.h"
#include "viewer/tavlinform.h"
#include "viewer/tavlinoptions.h"

namespace tavlin {

namespace test {
class WindowDriver;
}

// The main window: a borderless black window over the whole screen showing
// one picture with its information lines, and the settings panel on the right.
class Tavlin : public QWidget, private TavlinForm {
    Q_OBJECT
    // The tests' and benchmarks' way in: they reach the widgets only through it.
    friend class test::WindowDriver;

public:
    explicit Tavlin(TavlinOptions options = {});
    ~Tavlin() override;

    // Start-up, in the order app/startup.cpp runs it: the run mode and the stored settings
    // (false for a preview, which ends at once); the first picture decoded while the splash is
    // up; the window laid out with the screensaver's random pick or the picture named.
    bool loadStart(const StartRequest& request);
    void startFirstPictureEarly(const StartRequest& request);
    void showStart(const StartRequest& request);
    bool showsSplash() const { return m_options.showSplash; }
    // The one way out: saves the settings outside the screensaver, shows the
    // cursor again and ends the process.
    void ExitProgram();
    bool hasExited() const { return m_exited; }
    RunMode runMode() const { return m_runMode; }
    // The area the window fills changed size (the xscreensaver window was
    // resized): lay everything out again and show the picture anew.
    void fitToScreen(QSize pixels);

    // The folder path, "/" unless it ends in one, and the selected entry's name.
    QString selectedFilePath() const;
    // The values the window shows, as the settings store keeps them.
    Settings currentSettings() const;
    // The screensaver's "Shuffle" and "Include Subfolders".
    bool shufflesPictures() const;
    bool includesSubfolders() const { return m_includeSubfolders; }
    double twipsPerPixel() const { return m_tpp; }

    // Commands of the pop-up menu and its keys.
    void startSlideshow();
    void stopSlideshow();
    // Shows or hides the settings panel and lays the picture out again.
    void toggleSettingsPanel();
    bool settingsPanelShown() const;
    void RenameSingleFile();
    void btnRename_Click();
    void PrintPicture();
    void ShowAbout();
    void OpenHelp();
    void SetCursorVisible(bool visible);
    void setTopMost(bool topMost);

    PictureDecoder& decoder();
    // True while the picture last asked for is still being decoded.
    bool pictureRequestPending() const;
    // The layout the window would give a picture now, as plain values.
    DisplayContext displayContext() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class BatchHost;      // what the batch rename asks of the window
    class PanelShortcuts; // the menu's keys, whichever widget of the panel has the focus

    // Handlers. Keys take virtual-key codes and the shift state (1 Shift, 2 Ctrl, 4 Alt);
    // the mouse the button (1 left, 2 right, 4 middle) and twips.
    void myDrive_Change();
    void myPath_Change();
    void myFiles_Click();
    void chkCenter_Click();
    void btnStartSlideshow_Click();
    void mySeconds_Timer();
    void Form_KeyDown(int keyCode, int shift);
    void Form_KeyUp(int keyCode, int shift);
    void Form_MouseUp(int button, int shift, double x, double y);
    void myPicture_MouseUp(int button, int shift, double x, double y);
    void Form_MouseMove(int button, int shift, double x, double y);
    void myPicture_MouseMove(int button, int shift, double x, double y);
    void Form_DblClick();
    void myPicture_DblClick();

    void buildWidgets();
    void connectHandlers();
    void connectInput();
    void connectSlideshow();
    void forwardKey(QKeyEvent* event);
    // Ends the screensaver when the mouse jumped between two events of one widget.
    void checkMouseJump(QPointF& remembered, double x, double y);
    void applyStartupLayout();
    void applyDisplaySwitches(const StartRequest& request);
    void LoadRegistrySettings(const StartRequest& request);
    void SaveRegistrySettings();
    frmMenus& Menus(); // made on first use
    frmGetPrefix* prefixDialog();
    // Moves the selected picture to the Trash, or removes it for good, and shows the next.
    enum class Deletion { ToTrash, ForGood };
    void DeleteCurrentFile(Deletion how);
    // Shows the picture at `svPicture` in `objImage`, or the error picture and a beep.
    void DisplayPict(ImageView* objImage, const QString& svPicture);
    void showDecoded(const DecodedPicture& decoded);
    void prefetchLikelyNext();
    // The screensaver's walk of the folder's tree, in the background.
    void readPictureTree();

    Platform* m_platform;
    TavlinOptions m_options;
    std::unique_ptr<frmMenus> m_menus;
    std::shared_ptr<BatchHost> m_batchHost; // made with the prefix dialog
};

} // namespace tavlin
