#pragma once

#include <QObject>

#include <memory>

class QAction;
class QMenu;

namespace tavlin {

class Tavlin;

// Holds the main window's pop-up menu, its handlers and the function-key
// table. It is never shown itself; only its menu pops up.
class frmMenus : public QObject {
    Q_OBJECT
public:
    explicit frmMenus(Tavlin& window);
    ~frmMenus() override;

    // Runs the menu command of a function key (virtual-key code), whether the
    // item is enabled or not; other keys do nothing.
    void CheckShortcut(int keyCode);

    std::unique_ptr<QMenu> myPopup;
    QAction* mRenameFile = nullptr;
    QAction* mBatchRename = nullptr;
    QAction* div3 = nullptr;
    QAction* mStartSlideshow = nullptr;
    QAction* mStopSlideshow = nullptr;
    QAction* div2 = nullptr;
    QAction* mToggleVisibility = nullptr;
    QAction* div8 = nullptr;
    QAction* mPrint = nullptr;
    QAction* div9 = nullptr;
    QAction* mAbout = nullptr;
    QAction* mHelp = nullptr;
    QAction* div4 = nullptr;
    QAction* mExit = nullptr;

    void mRenameFile_Click();
    void mBatchRename_Click();
    void mStartSlideshow_Click();
    void mStopSlideshow_Click();
    void mToggleVisibility_Click();
    void mPrint_Click();
    void mAbout_Click();
    void mHelp_Click();
    void mExit_Click();

private:
    Tavlin& m_window;
};

} // namespace tavlin
