#include "viewer/frmmenus.h"

#include <QGroupBox>
#include <QMenu>

#include "viewer/keymap.h"
#include "viewer/tavlin.h"

namespace tavlin {

frmMenus::frmMenus(Tavlin& window) : myPopup(std::make_unique<QMenu>()), m_window(window) {
    // The shortcut after the tab is shown beside the caption but binds no key:
    // the main window runs the function keys itself on key-up.
    auto item = [this](const QString& caption, void (frmMenus::*handler)()) {
        QAction* action = myPopup->addAction(caption);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    // A separator with a caption is drawn with that caption beside the line; a
    // plain one is just the line.
    auto separator = [this] {
        QAction* action = myPopup->addSeparator();
        action->setEnabled(false);
        return action;
    };
    mRenameFile = item(QStringLiteral("&Rename File\tF2"), &frmMenus::mRenameFile_Click);
    mBatchRename = item(QStringLiteral("&Batch Rename\tF3"), &frmMenus::mBatchRename_Click);
    div3 = separator();
    mStartSlideshow = item(QStringLiteral("Start Slideshow\tF4"), &frmMenus::mStartSlideshow_Click);
    mStopSlideshow = item(QStringLiteral("Stop Slideshow\tF5"), &frmMenus::mStopSlideshow_Click);
    div2 = separator();
    mToggleVisibility = item(QStringLiteral("Toggle Settings Tab Visibility\tF9"),
                             &frmMenus::mToggleVisibility_Click);
    mToggleVisibility->setCheckable(true);
    div8 = separator();
    mPrint = item(QStringLiteral("&Print\tCtrl+P"), &frmMenus::mPrint_Click);
    div9 = separator();
    mAbout = item(QStringLiteral("About\tF12"), &frmMenus::mAbout_Click);
    mHelp = item(QStringLiteral("Help\tF1"), &frmMenus::mHelp_Click);
    div4 = separator();
    mExit = item(QStringLiteral("Exit"), &frmMenus::mExit_Click);
}

frmMenus::~frmMenus() = default;

void frmMenus::CheckShortcut(int keyCode) {
    switch (keyCode) {
    case vk::F1:
        mHelp_Click();
        break;
    case vk::F2:
        mRenameFile_Click();
        break;
    case vk::F3:
        mBatchRename_Click();
        break;
    case vk::F4:
        mStartSlideshow_Click();
        break;
    case vk::F5:
        mStopSlideshow_Click();
        break;
    case vk::F9:
    case vk::F11:
        mToggleVisibility_Click();
        break;
    case vk::F12:
        mAbout_Click();
        break;
    default:
        break;
    }
}

void frmMenus::mRenameFile_Click() {
    m_window.RenameSingleFile();
}
void frmMenus::mBatchRename_Click() {
    m_window.btnRename_Click();
}
void frmMenus::mStartSlideshow_Click() {
    m_window.startSlideshow();
}
void frmMenus::mStopSlideshow_Click() {
    m_window.stopSlideshow();
}

void frmMenus::mToggleVisibility_Click() {
    m_window.toggleSettingsPanel();
    mToggleVisibility->setChecked(m_window.settingsPanelShown());
}

void frmMenus::mPrint_Click() {
    m_window.PrintPicture();
}
void frmMenus::mAbout_Click() {
    m_window.ShowAbout();
}
void frmMenus::mHelp_Click() {
    m_window.OpenHelp();
}
void frmMenus::mExit_Click() {
    m_window.ExitProgram();
}

} // namespace tavlin
