#include "dialogs/frmscreensaversettings.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include "assets/artwork.h"
#include "assets/look.h"
#include "registry/settings.h"
#include "viewer/drivelist.h"
#include "viewer/folderlist.h"

namespace tavlin {

namespace {

using look::paintGreenOnBlack;

void paintWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button, QPalette::Window})
        palette.setColor(role, Qt::white);
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        palette.setColor(role, Qt::black);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

frmScreensaverSettings::frmScreensaverSettings(const Settings& values, double twipsPerPixel,
                                               QWidget* parent)
    : QDialog(parent), m_values(values), m_tpp(twipsPerPixel > 0 ? twipsPerPixel : 15.0) {
    setWindowTitle(QStringLiteral("Tavlin 2.0 Screensaver Settings"));
    // A fixed tool window: a title and a close box, nothing to minimise or maximise.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(look::sansSerif(8.25));
    paintGreenOnBlack(this, true);
    setFixedSize(static_cast<int>(std::lround(5175 / m_tpp)),
                 static_cast<int>(std::lround(5580 / m_tpp)));
    buildWidgets();

    connect(btnSS_Ok, &QPushButton::clicked, this, &frmScreensaverSettings::btnSS_Ok_Click);
    connect(btnSS_Cancel, &QPushButton::clicked, this, &frmScreensaverSettings::btnSS_Cancel_Click);
    connect(mySS_Drive, &DriveList::driveChanged, this, &frmScreensaverSettings::mySS_Drive_Change);
    LoadValues();
}

void frmScreensaverSettings::place(QWidget* widget, int left, int top, int width, int height) {
    auto px = [this](int twips) { return static_cast<int>(std::lround(twips / m_tpp)); };
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

namespace {
// The design's widths cut some captions in today's fonts ("Slide Second"): a text gets the
// width it needs, moved left only as far as its parent requires.
void fitText(QWidget* widget) {
    const int need = widget->sizeHint().width();
    if (need <= widget->width())
        return;
    widget->resize(need, widget->height());
    const int room = widget->parentWidget()->width();
    if (widget->x() + need > room)
        widget->move(std::max(0, room - need), widget->y());
}
} // namespace

void frmScreensaverSettings::buildWidgets() {
    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap::fromImage(artwork::bannerPicture()));
    Image1->setScaledContents(true);
    place(Image1, 120, 0, 4935, 1575);

    mySS_Drive = new DriveList(this);
    paintWhite(mySS_Drive);
    place(mySS_Drive, 120, 1560, 2655, 315);
    mySS_Path = new FolderList(this);
    paintWhite(mySS_Path);
    place(mySS_Path, 120, 1920, 2655, 2790);

    Frame1 = new QGroupBox(this);
    paintGreenOnBlack(Frame1, true);
    place(Frame1, 2880, 1440, 2175, 3135);
    Label1 = new QLabel(QStringLiteral("Slide Seconds:"), Frame1);
    paintGreenOnBlack(Label1, false);
    place(Label1, 555, 240, 1065, 195);
    fitText(Label1);
    // The slideshow's seconds: typed, or stepped with the arrows and Up and Down.
    spnSS_Seconds = new QSpinBox(Frame1);
    spnSS_Seconds->setRange(kMinLoopSeconds, kMaxLoopSeconds);
    spnSS_Seconds->setAlignment(Qt::AlignCenter);
    paintWhite(spnSS_Seconds);
    place(spnSS_Seconds, 600, 480, 975, 285);

    auto check = [this](const QString& caption, int top) {
        auto* box = new QCheckBox(caption, Frame1);
        paintGreenOnBlack(box, false);
        place(box, 240, top, 1815, 375);
        fitText(box);
        return box;
    };
    chkSS_ShowPictureNumber = check(QStringLiteral("Show Pict Number"), 840);
    chkSS_Filename = check(QStringLiteral("Show Filename"), 1200);
    chkSS_FileSize = check(QStringLiteral("Show File Size"), 1560);
    chkSS_Dimensions = check(QStringLiteral("Show Dimensions"), 1920);
    chkSS_Shuffle = check(QStringLiteral("Shuffle"), 2280);
    chkSS_Shuffle->setToolTip(QStringLiteral("Every picture once before any comes back"));
    chkSS_Subfolders = check(QStringLiteral("Include Subfolders"), 2640);
    chkSS_Subfolders->setToolTip(QStringLiteral("The pictures of every folder inside this one"));

    btnSS_Ok = new QPushButton(QStringLiteral("&Ok"), this);
    place(btnSS_Ok, 3000, 4680, 1935, 375);
    btnSS_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    place(btnSS_Cancel, 3120, 5160, 1695, 255);
    // No default button: Enter opens a folder in the list and must not press OK as well.
    for (QPushButton* button : {btnSS_Ok, btnSS_Cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    QWidget* tabOrder[] = {
        mySS_Path,        mySS_Drive,     spnSS_Seconds,    chkSS_ShowPictureNumber,
        chkSS_Filename,   chkSS_FileSize, chkSS_Dimensions, chkSS_Shuffle,
        chkSS_Subfolders, btnSS_Ok,       btnSS_Cancel};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    mySS_Path->setFocus();
}

std::optional<Settings> frmScreensaverSettings::ShowScreenSaverOptions(const Settings& values,
                                                                       double twipsPerPixel,
                                                                       QWidget* parent) {
    frmScreensaverSettings dialog(values, twipsPerPixel, parent);
    // The main window is not shown in this run, so centre on the screen rather than on it.
    QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = dialog.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        dialog.move(frame.topLeft());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.values();
}

void frmScreensaverSettings::LoadValues() {
    const Settings& s = m_values;
    mySS_Drive->setDrive(s.lastDirectory);
    mySS_Path->setPath(s.lastDirectory);
    spnSS_Seconds->setValue(std::clamp(s.loopSeconds, kMinLoopSeconds, kMaxLoopSeconds));
    chkSS_ShowPictureNumber->setChecked(s.showPictureNumber);
    chkSS_Filename->setChecked(s.showFilename);
    chkSS_FileSize->setChecked(s.showFileSize);
    chkSS_Dimensions->setChecked(s.showDimensions);
    chkSS_Shuffle->setChecked(s.shuffle);
    chkSS_Subfolders->setChecked(s.includeSubfolders);
}

void frmScreensaverSettings::btnSS_Ok_Click() {
    SaveScreenSaverOptions();
    accept();
}

void frmScreensaverSettings::btnSS_Cancel_Click() {
    reject();
}

void frmScreensaverSettings::mySS_Drive_Change() {
    const QString previousFolder = mySS_Path->path();
    if (mySS_Path->setPath(mySS_Drive->drive()))
        return;
    // A volume that cannot be read (no medium, gone): keep the folder and its drive.
    mySS_Drive->revertTo(previousFolder.isEmpty()
                             ? QString()
                             : DriveList::driveOf(previousFolder, DriveList::volumeRoots()));
}

Settings frmScreensaverSettings::values() const {
    Settings values = m_values;
    values.lastDirectory = QDir::toNativeSeparators(mySS_Path->path());
    values.showDimensions = chkSS_Dimensions->checkState() == Qt::Checked;
    values.showFileSize = chkSS_FileSize->checkState() == Qt::Checked;
    values.loopSeconds = spnSS_Seconds->value();
    values.showFilename = chkSS_Filename->checkState() == Qt::Checked;
    values.showPictureNumber = chkSS_ShowPictureNumber->checkState() == Qt::Checked;
    values.shuffle = chkSS_Shuffle->isChecked();
    values.includeSubfolders = chkSS_Subfolders->isChecked();
    return values;
}

void frmScreensaverSettings::SaveScreenSaverOptions() {
    // The six values the screensaver shares with the viewer, and its own "Shuffle" and
    // "Include Subfolders"; the store ignores the rest.
    SaveScreensaverSettings(values());
}

} // namespace tavlin
