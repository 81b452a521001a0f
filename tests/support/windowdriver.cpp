#include "support/windowdriver.h"

#include <utility>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "app/startup.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/frmmenus.h"
#include "viewer/imageview.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin::test {

bool WindowDriver::start(const StartRequest& request) { return startUp(m_window, request); }

QWidget* WindowDriver::part(Part part) const {
    Tavlin& w = m_window;
    switch (part) {
    case Part::Picture: return w.myPicture;
    case Part::ErrorPicture: return w.imgError;
    case Part::NumberLine: return w.txtPicture;
    case Part::FileLine: return w.txtFile;
    case Part::FileSizeLine: return w.txtFileSize;
    case Part::WidthLine: return w.txtWidth;
    case Part::HeightLine: return w.txtHeight;
    case Part::Panel: return w.frameSettings;
    case Part::Checks: return w.frameChecks;
    case Part::Drives: return w.myDrive;
    case Part::Folders: return w.myPath;
    case Part::Files: return w.myFiles;
    case Part::Center: return w.chkCenter;
    case Part::Stretch: return w.chkStretch;
    case Part::Loop: return w.chkLoop;
    case Part::PlaySound: return w.chkPlaySound;
    case Part::ShowNumber: return w.chkShowPictureNumber;
    case Part::ShowFilename: return w.chkFilename;
    case Part::ShowFileSize: return w.chkFileSize;
    case Part::ShowDimensions: return w.chkDimensions;
    case Part::StartButton: return w.btnStartSlideshow;
    case Part::Seconds: return w.spnSeconds;
    case Part::RenameButton: return w.btnRename;
    case Part::ExitButton: return w.btnExit;
    }
    return nullptr;
}

bool WindowDriver::shown(Part p) const { return !part(p)->isHidden(); }

QString WindowDriver::text(Part p) const {
    QWidget* widget = part(p);
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<QLineEdit*>(widget))
        return box->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return {};
}

bool WindowDriver::checked(Part box) const {
    return qobject_cast<QCheckBox*>(part(box))->isChecked();
}

void WindowDriver::setChecked(Part box, bool checked) {
    qobject_cast<QCheckBox*>(part(box))->setChecked(checked);
}

void WindowDriver::press(Part p, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QWidget* widget = part(p);
    widget->setFocus();
    QTest::keyClick(widget, key, modifiers);
}

TwipRect WindowDriver::twips(Part p) const { return m_window.twipGeometry(part(p)); }
void WindowDriver::click(Part button) { qobject_cast<QAbstractButton*>(part(button))->click(); }

const QImage& WindowDriver::picture() const { return m_window.myPicture->picture(); }
QRect WindowDriver::pictureGeometry() const { return m_window.myPicture->geometry(); }
QRectF WindowDriver::pictureRect() const { return m_window.myPicture->pictureRect(); }
void WindowDriver::showPicture(const QString& file) {
    m_window.DisplayPict(m_window.myPicture, file);
}

std::int64_t WindowDriver::count() const { return m_window.myFiles->count(); }
QStringList WindowDriver::names() const { return m_window.myFiles->names(); }
std::int64_t WindowDriver::selected() const { return m_window.myFiles->selectedIndex(); }
QString WindowDriver::selectedName() const { return m_window.myFiles->selectedName(); }
void WindowDriver::select(std::int64_t index) { m_window.myFiles->setSelectedIndex(index); }
QString WindowDriver::folder() const { return m_window.myPath->path(); }
bool WindowDriver::openFolder(const QString& path) { return m_window.myPath->setPath(path); }
void WindowDriver::setFolderBackgroundBytes(qint64 bytes) {
    m_window.myPath->setBackgroundBytes(bytes);
}
bool WindowDriver::driveListOpen() const { return m_window.myDrive->view()->isVisible(); }
void WindowDriver::refreshFiles() { m_window.myFiles->refresh(); }
void WindowDriver::onSelectionChanged(std::function<void()> handler) {
    QObject::connect(m_window.myFiles, &FileList::selectionChanged, std::move(handler));
}
QString WindowDriver::filePattern() const { return m_window.myFiles->pattern(); }
QString WindowDriver::listedText(std::int64_t index) const {
    return m_window.myFiles->model()->index(int(index), 0).data().toString();
}
QString WindowDriver::listedFolder() const { return m_window.myFiles->folder(); }
bool WindowDriver::folderReading() const { return m_window.myPath->isReading(); }
QString WindowDriver::drive() const { return m_window.myDrive->drive(); }
void WindowDriver::setDrive(const QString& path) { m_window.myDrive->setDrive(path); }

bool WindowDriver::slideshowRunning() const { return m_window.m_slideshow->isRunning(); }
int WindowDriver::slideshowIntervalMs() const { return m_window.m_slideshow->intervalMs(); }
void WindowDriver::startSlideshow() { m_window.startSlideshow(); }
void WindowDriver::stopSlideshow() { m_window.stopSlideshow(); }
void WindowDriver::slideshowTick() { Q_EMIT m_window.m_slideshow->due(); }
void WindowDriver::setSlideshowIntervalMs(int ms) { m_window.m_slideshow->setIntervalMs(ms); }
int WindowDriver::seconds() const { return m_window.m_slideshow->seconds(); }
QString WindowDriver::secondsText() const { return secondsBox()->text(); }
void WindowDriver::setSeconds(int seconds) { m_window.spnSeconds->setValue(seconds); }
void WindowDriver::typeSeconds(const QString& text) {
    m_window.spnSeconds->setFocus();
    m_window.spnSeconds->selectAll();
    QTest::keyClicks(m_window.spnSeconds, text);
}
int WindowDriver::minimumSeconds() const { return m_window.spnSeconds->minimum(); }
int WindowDriver::maximumSeconds() const { return m_window.spnSeconds->maximum(); }
void WindowDriver::setSecondsText(const QString& text, int cursor) {
    secondsBox()->setText(text);
    if (cursor >= 0)
        secondsBox()->setCursorPosition(cursor);
}
int WindowDriver::secondsCursor() const { return secondsBox()->cursorPosition(); }
QLineEdit* WindowDriver::secondsBox() const { return m_window.spnSeconds->findChild<QLineEdit*>(); }

void WindowDriver::keyDown(int keyCode, int shift) { m_window.Form_KeyDown(keyCode, shift); }
void WindowDriver::keyUp(int keyCode, int shift) { m_window.Form_KeyUp(keyCode, shift); }
void WindowDriver::mouseUp(int button, int shift, double x, double y) {
    m_window.Form_MouseUp(button, shift, x, y);
}
void WindowDriver::pictureMouseUp(int button, int shift, double x, double y) {
    m_window.myPicture_MouseUp(button, shift, x, y);
}
void WindowDriver::mouseMove(int button, int shift, double x, double y) {
    m_window.Form_MouseMove(button, shift, x, y);
}
void WindowDriver::pictureMouseMove(int button, int shift, double x, double y) {
    m_window.myPicture_MouseMove(button, shift, x, y);
}
void WindowDriver::doubleClick() { m_window.Form_DblClick(); }
void WindowDriver::pictureDoubleClick() { m_window.myPicture_DblClick(); }
void WindowDriver::cursorTimerTick() { m_window.mySeconds_Timer(); }
void WindowDriver::setCursorVisible(bool visible) { m_window.SetCursorVisible(visible); }
int WindowDriver::cursorTimerIntervalMs() const { return m_window.mySeconds->interval(); }

bool WindowDriver::screensaverMode() const { return m_window.bScreensaverMode; }
bool WindowDriver::controlsShown() const { return m_window.bShowControls; }
void WindowDriver::setControlsShown(bool shown) { m_window.bShowControls = shown; }
bool WindowDriver::topMost() const { return m_window.bTopMost; }
frmMenus& WindowDriver::menus() const { return m_window.Menus(); }
void WindowDriver::setWorkingDirectory(const QString& folder) {
    m_window.m_workingDirectory = folder;
}
void WindowDriver::toggleControls() { m_window.toggleSettingsPanel(); }

} // namespace tavlin::test
