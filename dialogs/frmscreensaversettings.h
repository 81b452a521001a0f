#pragma once

#include <QDialog>

#include <optional>

#include "registry/settings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace tavlin {

class DriveList;
class FolderList;

// The "/C" dialog: the folder, seconds and information lines the screensaver uses. OK stores
// them in the settings shared with the viewer; Cancel and closing the window store nothing.
class frmScreensaverSettings : public QDialog {
    Q_OBJECT
public:
    // A dialog showing the folder (and its drive), the seconds, the four information switches,
    // the shuffle and the subfolders of `values`, sized for `twipsPerPixel`.
    explicit frmScreensaverSettings(const Settings& values, double twipsPerPixel = 15,
                                    QWidget* parent = nullptr);

    // Shows a dialog for `values` modally, centred on the screen, and returns when it has
    // closed: the values chosen when OK stored them, nothing on Cancel or a close.
    static std::optional<Settings> ShowScreenSaverOptions(const Settings& values,
                                                          double twipsPerPixel,
                                                          QWidget* parent = nullptr);
    // The values given, with what the dialog shows now in place of those it shows.
    Settings values() const;

    // Widgets, named as the program's design names them.
    QLabel* Image1 = nullptr;
    DriveList* mySS_Drive = nullptr;
    FolderList* mySS_Path = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* spnSS_Seconds = nullptr;
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

private:
    void buildWidgets();
    void place(QWidget* widget, int left, int top, int width, int height);
    void LoadValues();
    void SaveScreenSaverOptions();

    Settings m_values;
    double m_tpp;
};

} // namespace tavlin
