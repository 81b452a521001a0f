// Keyboard and mouse: the key map, key forwarding from the panel's widgets,
// the pop-up menu, the screensaver's mouse-jump exit and the panel toggle.
#include <cerrno>
#include <cmath>

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "decode/picturedecoder.h"
#include "fileops/rename.h"
#include "fileops/renamesingle.h"
#include "fileops/trash.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/frmmenus.h"
#include "viewer/imageview.h"
#include "viewer/keymap.h"
#include "viewer/slideshow.h"
#include "viewer/tavlin.h"

namespace tavlin {

namespace {
// A jump of the mouse this far between two events ends the screensaver.
constexpr double MouseJumpTwips = 500;

int buttonOf(const QMouseEvent& event) {
    switch (event.button()) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int buttonsOf(const QMouseEvent& event) {
    const Qt::MouseButtons b = event.buttons();
    return (b & Qt::LeftButton ? 1 : 0) | (b & Qt::RightButton ? 2 : 0) |
           (b & Qt::MiddleButton ? 4 : 0);
}

} // namespace

// The menu's shortcut keys act whichever widget of the panel has the focus: they
// reach the window's key handlers as if the window itself had it, and the widget
// never sees them. Watching the whole application catches them before any widget
// of the panel can use or swallow them (the drive list would open on F4).
class Tavlin::PanelShortcuts : public QObject {
public:
    explicit PanelShortcuts(Tavlin& window) : QObject(&window), m_window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
            return false;
        if (!watched->isWidgetType() ||
            !m_window.frameSettings->isAncestorOf(static_cast<QWidget*>(watched)))
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const int code = virtualKeyOf(*key);
        const int shift = shiftStateOf(*key);
        if (isViewerKey(code, shift))
            return takeViewerKey(static_cast<QWidget*>(watched), *key, code);
        if (!isMenuShortcut(code, shift))
            return false;
        if (m_window.hasExited())
            return true;
        if (type == QEvent::KeyPress)
            m_window.Form_KeyDown(code, shift);
        else if (!key->isAutoRepeat())
            m_window.Form_KeyUp(code, shift);
        return true;
    }

private:
    // A viewer key acts on the pictures unless the focused widget uses it itself; then it
    // is the widget's alone.
    bool takeViewerKey(QWidget* widget, const QKeyEvent& key, int code) {
        if (widget != QApplication::focusWidget() || panelWidgetKeepsKey(kindOf(widget), code))
            return false;
        if (key.type() == QEvent::KeyPress && !m_window.hasExited())
            m_window.Form_KeyDown(code, 0);
        return true;
    }

    static PanelWidget kindOf(const QWidget* widget) {
        // A spin box steps with the arrows and edits its number with the rest.
        if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget))
            return PanelWidget::TextBox;
        if (qobject_cast<const QAbstractSlider*>(widget))
            return PanelWidget::ScrollBar;
        if (qobject_cast<const QAbstractButton*>(widget))
            return PanelWidget::Button;
        if (qobject_cast<const QComboBox*>(widget))
            return PanelWidget::DropDown;
        if (qobject_cast<const QAbstractItemView*>(widget))
            return PanelWidget::List;
        return PanelWidget::TextBox; // unknown: it keeps its keys
    }

    Tavlin& m_window;
};

frmMenus& Tavlin::Menus() {
    if (!m_menus)
        m_menus = std::make_unique<frmMenus>(*this);
    return *m_menus;
}

void Tavlin::connectInput() {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // The information lines let clicks through to the picture or the window beneath.
    for (QLabel* label : {txtFile, txtPicture, txtWidth, txtHeight, txtFileSize})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(myDrive, &DriveList::keyDown, this, &Tavlin::forwardKey);
    connect(myPath, &FolderList::keyDown, this, &Tavlin::forwardKey);
    connect(myFiles, &FileList::keyDown, this, [this](QKeyEvent* event) {
        if (!fileListKeepsKey(virtualKeyOf(*event)))
            forwardKey(event);
    });
    // These widgets hand every key on and then handle it themselves; the other
    // check boxes and the buttons keep their keys.
    for (QWidget* widget :
         std::initializer_list<QWidget*>{btnStartSlideshow, spnSeconds, chkCenter})
        widget->installEventFilter(this);
    myFiles->installEventFilter(this);
    // A key the focused widget did not use would climb on to the window; it
    // stops at the panel, so the window's key map sees only its own keys.
    frameSettings->installEventFilter(this);
    qApp->installEventFilter(new PanelShortcuts(*this));

    connect(myPicture, &ImageView::mouseReleased, this, [this](QMouseEvent* e) {
        myPicture_MouseUp(buttonOf(*e), shiftStateOf(*e), e->position().x() * m_tpp,
                          e->position().y() * m_tpp);
    });
    connect(myPicture, &ImageView::mouseMoved, this, [this](QMouseEvent* e) {
        myPicture_MouseMove(buttonsOf(*e), shiftStateOf(*e), e->position().x() * m_tpp,
                            e->position().y() * m_tpp);
    });
    connect(myPicture, &ImageView::doubleClicked, this, &Tavlin::myPicture_DblClick);
    connect(mySeconds, &QTimer::timeout, this, &Tavlin::mySeconds_Timer);
    mySeconds->start();
}

bool Tavlin::eventFilter(QObject* watched, QEvent* event) {
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    // Clicks the panel's widgets leave unused would climb on to the window too: the
    // double click and the pop-up menu belong to the window's background only.
    const bool isGesture =
        event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick;
    if (watched == frameSettings)
        return isKey || isGesture;
    // An item view makes its first row current when it gains the focus; here that
    // would show a picture nobody chose and make the first Down skip it.
    if (watched == myFiles) {
        if (event->type() != QEvent::FocusIn || myFiles->selectedIndex() != -1)
            return false;
        myFiles->viewport()->update();
        return true;
    }
    if (event->type() == QEvent::KeyPress)
        forwardKey(static_cast<QKeyEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

void Tavlin::forwardKey(QKeyEvent* event) {
    const int code = virtualKeyOf(*event);
    const int shift = shiftStateOf(*event);
    // A viewer key that reaches a widget is one the widget uses itself (see PanelShortcuts).
    if (m_exited || isViewerKey(code, shift))
        return;
    Form_KeyDown(code, shift);
}

void Tavlin::keyPressEvent(QKeyEvent* event) {
    Form_KeyDown(virtualKeyOf(*event), shiftStateOf(*event));
}

void Tavlin::keyReleaseEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat())
        Form_KeyUp(virtualKeyOf(*event), shiftStateOf(*event));
}

void Tavlin::Form_KeyDown(int keyCode, int shift) {
    KeyState state;
    state.key = keyCode;
    state.shift = shift;
    state.selected = myFiles->selectedIndex();
    state.count = myFiles->count();
    state.panelShown = bShowControls;
    state.slideshowRunning = m_slideshow->isRunning();
    state.loop = m_slideshow->loops();
    state.screensaver = bScreensaverMode;
    const KeyDecision d = decideKey(state);
    if (d.selectFirst)
        myFiles->setSelectedIndex(0);
    switch (d.action) {
    case KeyAction::None:
        break;
    case KeyAction::StopSlideshow:
        stopSlideshow();
        break;
    case KeyAction::Select:
        myFiles->setSelectedIndex(d.index);
        break;
    case KeyAction::Print:
        PrintPicture();
        break;
    case KeyAction::Exit:
        ExitProgram();
        break;
    case KeyAction::MoveToTrash:
        DeleteCurrentFile(Deletion::ToTrash);
        break;
    case KeyAction::Delete:
        DeleteCurrentFile(Deletion::ForGood);
        break;
    }
}

void Tavlin::Form_KeyUp(int keyCode, int) {
    Menus().CheckShortcut(keyCode);
}

void Tavlin::DeleteCurrentFile(Deletion how) {
    if (myFiles->selectedName().isEmpty())
        return; // nothing selected: nothing to delete
    const bool wasRunning = m_slideshow->isRunning();
    if (wasRunning)
        m_slideshow->stop();
    const std::int64_t index = myFiles->selectedIndex();
    // By the name's exact bytes: a name that is not UTF-8 must not lead to another file.
    QString failure;
    if (how == Deletion::ToTrash) {
        const TrashResult trashed = MoveToTrash(selectedFilePath());
        if (trashed.error != 0 && trashed.error != ENOENT)
            failure = QStringLiteral("%1 could not be moved to the Trash: %2. It is still there; "
                                     "Shift+Delete deletes it for good.")
                          .arg(myFiles->selectedName(), trashed.problem);
    } else if (const int error = RemoveFile(selectedFilePath()); error != 0 && error != ENOENT) {
        failure = QStringLiteral("%1 could not be deleted: %2.")
                      .arg(myFiles->selectedName(), fsops::resultFromErrno(error).describe());
    }
    if (!failure.isEmpty()) {
        // The file stays, and so do the selection and the lines that name it.
        showWrappedWarning(this, QStringLiteral("Delete Failed"), failure);
        if (wasRunning)
            m_slideshow->start();
        return;
    }
    myFiles->refresh();
    if (myFiles->count() > 0) {
        // Another program may have removed files meanwhile: stay inside the list.
        myFiles->setSelectedIndex(std::clamp<std::int64_t>(index, 0, myFiles->count() - 1));
        DisplayPict(myPicture, selectedFilePath());
    } else {
        decoder().cancelRequest(); // a picture still decoding is of a file now gone
        myPicture->hide();
    }
    if (wasRunning)
        m_slideshow->start();
}

void Tavlin::mouseReleaseEvent(QMouseEvent* event) {
    Form_MouseUp(buttonOf(*event), shiftStateOf(*event), event->position().x() * m_tpp,
                 event->position().y() * m_tpp);
}

void Tavlin::mouseMoveEvent(QMouseEvent* event) {
    Form_MouseMove(buttonsOf(*event), shiftStateOf(*event), event->position().x() * m_tpp,
                   event->position().y() * m_tpp);
}

void Tavlin::mouseDoubleClickEvent(QMouseEvent*) {
    Form_DblClick();
}

void Tavlin::Form_MouseUp(int button, int, double, double) {
    if (button == 2)
        Menus().myPopup->popup(QCursor::pos());
}

void Tavlin::myPicture_MouseUp(int button, int shift, double x, double y) {
    if (!bScreensaverMode)
        Form_MouseUp(button, shift, x, y);
}

void Tavlin::Form_MouseMove(int, int, double x, double y) {
    checkMouseJump(m_formMouse, x, y);
}

void Tavlin::myPicture_MouseMove(int, int, double x, double y) {
    checkMouseJump(m_pictureMouse, x, y);
}

void Tavlin::checkMouseJump(QPointF& remembered, double x, double y) {
    if (!bScreensaverMode || m_exited)
        return;
    const bool known = remembered != QPointF(0, 0);
    if (known && (std::abs(remembered.x() - x) >= MouseJumpTwips ||
                  std::abs(remembered.y() - y) >= MouseJumpTwips)) {
        SetCursorVisible(true);
        ExitProgram();
        return;
    }
    remembered = QPointF(std::nearbyint(x), std::nearbyint(y));
}

void Tavlin::mySeconds_Timer() {
    if (bScreensaverMode && m_runMode != RunMode::Settings)
        SetCursorVisible(false);
}

void Tavlin::Form_DblClick() {
    Menus().mToggleVisibility_Click();
}

void Tavlin::myPicture_DblClick() {
    if (!bScreensaverMode)
        Form_DblClick();
}

void Tavlin::toggleSettingsPanel() {
    bShowControls = !bShowControls;
    frameSettings->setVisible(bShowControls);
    if (myFiles->selectedIndex() != -1)
        myFiles_Click();
}

bool Tavlin::settingsPanelShown() const {
    return !frameSettings->isHidden();
}

void Tavlin::setTopMost(bool topMost) {
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    // Changing a window flag hides the window; bring it back as it was.
    if (wasVisible)
        show();
    bTopMost = topMost;
}

} // namespace tavlin
