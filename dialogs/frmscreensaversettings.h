#pragma once

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tavlin {

class DriveList;
class FolderList;
class Tavlin;

// The seconds the screensaver dialog's spinner starts at for the text of the main window's
// seconds box: the number the text begins with, rounded half to even, limited to 0..30; a text
// that does not begin with a number gives 0.
int ScreensaverSecondsFromText(const QString& text);

// The "/C" dialog: the folder, seconds and information lines the screensaver uses. OK stores
// them in the settings shared with the viewer; Cancel and closing the window store nothing.
class frmScreensaverSettings : public QDialog {
    Q_OBJECT
public:
    explicit frmScreensaverSettings(Tavlin& owner);

    // Fills a dialog from the main window's widgets and shows it modally, owned by the main
    // window; returns when it has closed.
    static void ShowScreenSaverOptions(Tavlin& owner);
    // Copies the drive, folder, seconds, the four information switches, the shuffle and the
    // subfolders from the main window.
    void LoadFromMainWindow();

    // Widgets, named as the program's design names them.
    QLabel* Image1 = nullptr;
    DriveList* mySS_Drive = nullptr;
    FolderList* mySS_Path = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QScrollBar* scrSS_Seconds = nullptr;
    QLineEdit* txtSS_Seconds = nullptr;
    QCheckBox* chkSS_ShowPictureNumber = nullptr;
    QCheckBox* chkSS_Filename = nullptr;
    QCheckBox* chkSS_FileSize = nullptr;
    QCheckBox* chkSS_Dimensions = nullptr;
    QCheckBox* chkSS_Shuffle = nullptr;
    QCheckBox* chkSS_Subfolders = nullptr;
    QPushButton* btnSS_Ok = nullptr;
    QPushButton* btnSS_Cancel = nullptr;

    // Handlers.
    void btnSS_Ok_Click();
    void btnSS_Cancel_Click();
    void mySS_Drive_Change();
    void scrSS_Seconds_Change();

private:
    void buildWidgets();
    void place(QWidget* widget, int left, int top, int width, int height);
    void SaveScreenSaverOptions();

    Tavlin& m_owner;
    double m_tpp;
};

} // namespace tavlin
