#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/commandline.h"
#include "desktop/help.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/frmabout.h"
#include "viewer/frmmenus.h"
#include "viewer/globals.h"
#include "viewer/imageview.h"
#include "viewer/keymap.h"
#include "viewer/tavlin.h"

using namespace tavlin;

namespace {

// A shown main window over a folder of small real pictures, with beeps, slide
// sounds, cursor calls and exits counted.
class InputTest : public ::testing::Test {
protected:
    void makePictures(int count) {
        for (int i = 1; i <= count; ++i)
            test::writePicture(path(QString("p%1.jpg").arg(i)), test::patternImage(40, 30));
    }

    std::unique_ptr<Tavlin> start(const QStringList& args = {}) {
        TavlinOptions options = test::windowOptions(platform, exits);
        options.random = [this] { return randoms.isEmpty() ? 0.0 : randoms.takeFirst(); };
        auto w = std::make_unique<Tavlin>(options);
        w->Form_Load(parseCommandLine(args.isEmpty() ? QStringList{dir.path()} : args));
        w->show();
        w->activateWindow();
        return w;
    }

    // Stores `folder` as the last folder, as an earlier run would have.
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    void pressOn(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        widget->setFocus();
        QTest::keyClick(widget, key, mods);
    }

    test::TempConfigHome config; // a fresh settings store per test
    QTemporaryDir dir;
    test::CountingPlatform platform;
    int exits = 0;
    QList<double> randoms;
};

} // namespace

TEST_F(InputTest, PanelWidgetsHandOnKeysOrKeepThem) {
    makePictures(3);
    auto w = start();
    w->myFiles->setSelectedIndex(0);
    // chkStretch keeps its keys: Escape does not end the program.
    pressOn(w->chkStretch, Qt::Key_Escape);
    EXPECT_EQ(exits, 0);
    pressOn(w->btnExit, Qt::Key_Escape);
    EXPECT_EQ(exits, 0);
    // Down on the slideshow button reaches the key map; Up does not move (panel shown).
    pressOn(w->btnStartSlideshow, Qt::Key_Down);
    EXPECT_EQ(w->myFiles->selectedIndex(), 1);
    pressOn(w->btnStartSlideshow, Qt::Key_Up);
    EXPECT_EQ(w->myFiles->selectedIndex(), 1);
    // Down in the file list moves exactly one entry (the list keeps that key).
    pressOn(w->myFiles, Qt::Key_Up);
    EXPECT_EQ(w->myFiles->selectedIndex(), 0);
    pressOn(w->myFiles, Qt::Key_Down);
    EXPECT_EQ(w->myFiles->selectedIndex(), 1);
    // Down in the folder list moves its highlight and also the file selection.
    pressOn(w->myPath, Qt::Key_Down);
    EXPECT_EQ(w->myFiles->selectedIndex(), 2);
    // chkCenter hands Escape on: the program ends.
    pressOn(w->chkCenter, Qt::Key_Escape);
    EXPECT_EQ(exits, 1);
}

TEST_F(InputTest, WithNothingSelectedDownShowsTheFirstPictureAndDecodesNoOther) {
    makePictures(3);
    // Reaching the list by Tab, by a click and with focus from elsewhere.
    for (Qt::FocusReason reason :
         {Qt::TabFocusReason, Qt::MouseFocusReason, Qt::OtherFocusReason}) {
        SCOPED_TRACE(reason);
        auto w = start();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        int shown = 0;
        QObject::connect(w->myFiles, &FileList::selectionChanged, [&] { ++shown; });
        w->myFiles->setFocus(reason);
        ASSERT_TRUE(w->myFiles->hasFocus());
        EXPECT_EQ(w->myFiles->selectedIndex(), -1) << "focus alone selects nothing";
        QTest::keyClick(w->myFiles, Qt::Key_Down);
        EXPECT_EQ(w->myFiles->selectedIndex(), 0);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(w->txtFile->text(), path("p1.jpg"));
        EXPECT_EQ(shown, 1);
        QTest::keyClick(w->myFiles, Qt::Key_Down);
        EXPECT_EQ(w->myFiles->selectedIndex(), 1);
        EXPECT_EQ(shown, 2);
    }
    // The same from a widget that hands its keys on, and Escape shows nothing before ending.
    auto w = start();
    int shown = 0;
    QObject::connect(w->myFiles, &FileList::selectionChanged, [&] { ++shown; });
    pressOn(w->btnStartSlideshow, Qt::Key_Down);
    EXPECT_EQ(w->myFiles->selectedIndex(), 0);
    EXPECT_EQ(shown, 1);
    auto fresh = start();
    QObject::connect(fresh->myFiles, &FileList::selectionChanged, [&] { ++shown; });
    pressOn(fresh->chkCenter, Qt::Key_Escape);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(shown, 1) << "no picture decoded on the way out";
}

TEST_F(InputTest, HiddenPanelGivesTheWindowTheKeysAndShortcuts) {
    makePictures(3);
    auto w = start();
    w->Menus().ToggleVisibility();
    ASSERT_TRUE(w->frameSettings->isHidden());
    ASSERT_FALSE(w->bShowControls);
    w->setFocus();
    QTest::keyClick(w.get(), Qt::Key_Down);
    EXPECT_EQ(w->myFiles->selectedIndex(), 0);
    QTest::keyClick(w.get(), Qt::Key_Down);
    EXPECT_EQ(w->myFiles->selectedIndex(), 1);
    QTest::keyClick(w.get(), Qt::Key_Up);
    EXPECT_EQ(w->myFiles->selectedIndex(), 0);
    QTest::keyClick(w.get(), Qt::Key_PageDown);
    EXPECT_EQ(w->myFiles->selectedIndex(), 2);
    // F4 on key-up starts the slideshow, F5 stops it.
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_TRUE(w->myTimer->isActive());
    QTest::keyClick(w.get(), Qt::Key_F5, Qt::ShiftModifier);
    EXPECT_FALSE(w->myTimer->isActive());
    // F9 shows the panel again and checks the menu item.
    QTest::keyClick(w.get(), Qt::Key_F9);
    EXPECT_FALSE(w->frameSettings->isHidden());
    EXPECT_TRUE(w->Menus().mToggleVisibility->isChecked());
}

TEST_F(InputTest, MenuShortcutsActWhicheverPanelWidgetHasTheFocus) {
    makePictures(3);
    auto w = start();
    // F1 opens the help document in the working folder.
    test::writeFile(path(kHelpFileName), "<html></html>");
    svWorkingDirectory = dir.path();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    // Right after start the panel is shown and one of its widgets has the focus.
    ASSERT_TRUE(w->frameSettings->isAncestorOf(QApplication::focusWidget()));
    const std::pair<const char*, QWidget*> widgets[] = {
        {"drive list", w->myDrive},
        {"folder list", w->myPath},
        {"file list", w->myFiles},
        {"Center Picture", w->chkCenter},
        {"Stretch to Screen", w->chkStretch},
        {"Loop Slideshow", w->chkLoop},
        {"Play Slide Sound", w->chkPlaySound},
        {"Show Pict Number", w->chkShowPictureNumber},
        {"Show Filename", w->chkFilename},
        {"Show File Size", w->chkFileSize},
        {"Show Dimensions", w->chkDimensions},
        {"slideshow button", w->btnStartSlideshow},
        {"seconds arrows", w->scrSeconds},
        {"seconds box", w->txtSeconds},
        {"batch rename button", w->btnRename},
        {"exit button", w->btnExit},
    };
    for (auto [name, widget] : widgets) {
        SCOPED_TRACE(name);
        widget->setFocus();
        ASSERT_TRUE(widget->hasFocus());
        const bool stretch = w->chkStretch->isChecked();
        // The drive list would open its list on F4; the slideshow starts instead.
        QTest::keyClick(widget, Qt::Key_F4);
        EXPECT_TRUE(w->myTimer->isActive());
        EXPECT_FALSE(w->myDrive->view()->isVisible());
        QTest::keyClick(widget, Qt::Key_F5, Qt::ShiftModifier);
        EXPECT_FALSE(w->myTimer->isActive());
        const qsizetype opened = platform.openedUrls.size();
        QTest::keyClick(widget, Qt::Key_F1);
        EXPECT_EQ(platform.openedUrls.size(), opened + 1) << "F1 opens the help";
        QTest::keyClick(widget, Qt::Key_F12);
        ASSERT_NE(frmAbout::openWindow(), nullptr) << "F12 opens About";
        delete frmAbout::openWindow();
        EXPECT_EQ(w->chkStretch->isChecked(), stretch) << "the check box saw none of these keys";
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_F9);
        EXPECT_TRUE(w->frameSettings->isHidden()) << "F9 hides the panel";
        QTest::keyClick(w.get(), Qt::Key_F9);
        EXPECT_FALSE(w->frameSettings->isHidden());
    }
    EXPECT_EQ(exits, 0);

    // Ctrl+P reaches the key map from a box that keeps its other keys: with nothing
    // selected, it shows the first picture and prints it.
    auto fresh = start();
    pressOn(fresh->chkStretch, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(fresh->myFiles->selectedIndex(), 0);
    // Keys the focused widget needs stay with it: Space presses a button, letters and
    // digits go into the seconds box.
    pressOn(fresh->btnStartSlideshow, Qt::Key_Space);
    EXPECT_TRUE(fresh->myTimer->isActive());
    pressOn(fresh->btnStartSlideshow, Qt::Key_Space);
    EXPECT_FALSE(fresh->myTimer->isActive());
    fresh->txtSeconds->selectAll();
    QTest::keyClicks(fresh->txtSeconds, "12");
    EXPECT_EQ(fresh->txtSeconds->text(), "12");
}

// Right and Space step on, Left and BackSpace back, Home and End go to the ends, F11 shows
// or hides the panel: from the window, and from any widget of the panel that has no use for
// the key itself. A widget that uses the key keeps it, and the pictures stay.
TEST_F(InputTest, ViewerKeysWalkThePicturesUnlessTheFocusedWidgetUsesThem) {
    makePictures(5);
    auto w = start();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    const struct {
        const char* name;
        QWidget* widget;
        Qt::Key key;
        qsizetype selected; // from the third picture
    } cases[] = {
        {"drive list, Space", w->myDrive, Qt::Key_Space, 3},
        {"drive list, Right", w->myDrive, Qt::Key_Right, 3},
        {"folder list, Space", w->myPath, Qt::Key_Space, 3},
        {"folder list, Right", w->myPath, Qt::Key_Right, 3},
        {"file list, Space", w->myFiles, Qt::Key_Space, 3},
        {"file list, Right", w->myFiles, Qt::Key_Right, 3},
        {"file list, End", w->myFiles, Qt::Key_End, 4},
        {"file list, Home", w->myFiles, Qt::Key_Home, 0},
        {"check box, Right", w->chkStretch, Qt::Key_Right, 3},
        {"check box, Space toggles it", w->chkStretch, Qt::Key_Space, 2},
        {"button, End", w->btnRename, Qt::Key_End, 4},
        {"seconds arrows, Space", w->scrSeconds, Qt::Key_Space, 3},
        {"seconds arrows, Right moves them", w->scrSeconds, Qt::Key_Right, 2},
        {"seconds arrows, End moves them", w->scrSeconds, Qt::Key_End, 2},
        {"seconds box, Right", w->txtSeconds, Qt::Key_Right, 2},
        {"seconds box, Home", w->txtSeconds, Qt::Key_Home, 2},
        {"seconds box, BackSpace", w->txtSeconds, Qt::Key_Backspace, 2},
        {"seconds box, Space", w->txtSeconds, Qt::Key_Space, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        w->myFiles->setSelectedIndex(2);
        w->txtSeconds->setText("12");
        w->txtSeconds->setCursorPosition(1);
        const bool stretch = w->chkStretch->isChecked();
        const int seconds = w->scrSeconds->value();
        pressOn(c.widget, c.key);
        EXPECT_EQ(w->myFiles->selectedIndex(), c.selected);
        EXPECT_FALSE(w->myDrive->view()->isVisible()) << "the drive list stays closed";
        EXPECT_EQ(w->chkStretch->isChecked() != stretch,
                  c.widget == w->chkStretch && c.key == Qt::Key_Space);
        if (c.widget != w->txtSeconds) {
            EXPECT_EQ(w->scrSeconds->value() != seconds,
                      c.widget == w->scrSeconds && c.key != Qt::Key_Space);
        }
        // Space is no digit: the box takes it and does nothing with it.
        if (c.widget == w->txtSeconds && c.key != Qt::Key_Space) {
            EXPECT_FALSE(w->txtSeconds->cursorPosition() == 1 && w->txtSeconds->text() == "12")
                << "the box edits its text";
        }
    }
    w->chkStretch->setChecked(true);

    // The window itself, the panel hidden with F11 (Left and BackSpace step back only then).
    w->setFocus();
    QTest::keyClick(w.get(), Qt::Key_F11);
    ASSERT_TRUE(w->frameSettings->isHidden());
    const struct {
        Qt::Key key;
        qsizetype selected;
    } walk[] = {{Qt::Key_Left, 1},  {Qt::Key_Backspace, 1}, {Qt::Key_Right, 3},
                {Qt::Key_Space, 3}, {Qt::Key_End, 4},       {Qt::Key_Home, 0}};
    for (const auto& c : walk) {
        SCOPED_TRACE(QTest::toString(c.key));
        w->myFiles->setSelectedIndex(2);
        QTest::keyClick(w.get(), c.key);
        EXPECT_EQ(w->myFiles->selectedIndex(), c.selected);
    }
    QTest::keyClick(w.get(), Qt::Key_F11);
    EXPECT_FALSE(w->frameSettings->isHidden());
    EXPECT_EQ(exits, 0);
}

TEST_F(InputTest, ClickOnThePictureGivesTheWindowTheFocus) {
    makePictures(1);
    auto w = start();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_FALSE(w->myPicture->isHidden());
    w->chkStretch->setFocus();
    QTest::mouseClick(w->myPicture, Qt::LeftButton, Qt::NoModifier, w->myPicture->rect().center());
    EXPECT_TRUE(w->hasFocus());
}

TEST_F(InputTest, TypedSecondsAreTheSecondsShownUsedAndSaved) {
    makePictures(3);
    const struct {
        const char* typed;
        const char* shown;
        int seconds;
    } cases[] = {
        {"25", "25", 25}, {"x7y", "7", 7}, // letters cannot be typed
        {"45", "4", 4},                    // nor a number above 30
        {"31", "3", 3},   {"-5", "5", 5},  {"07", "7", 7}, {"30", "30", 30}, {"1", "1", 1},
    };
    auto w = start();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        w->txtSeconds->setFocus();
        w->txtSeconds->selectAll();
        QTest::keyClicks(w->txtSeconds, c.typed);
        EXPECT_EQ(w->txtSeconds->text(), c.shown);
        EXPECT_EQ(w->scrSeconds->value(), c.seconds);
        // F4 in the box starts the slideshow at the seconds the box shows.
        QTest::keyClick(w->txtSeconds, Qt::Key_F4);
        EXPECT_TRUE(w->myTimer->isActive());
        EXPECT_EQ(w->myTimer->interval(), c.seconds * 1000);
        EXPECT_EQ(w->currentSettings().loopSeconds, c.seconds);
        QTest::keyClick(w->txtSeconds, Qt::Key_F5);
    }
    // A running slideshow takes a typed number at once, as it takes the arrows.
    w->StartSlideshow();
    w->txtSeconds->selectAll();
    QTest::keyClicks(w->txtSeconds, "12");
    EXPECT_TRUE(w->myTimer->isActive());
    EXPECT_EQ(w->myTimer->interval(), 12000);
    w->StopSlideShow();

    // What is no number yet goes back to the last good one when the typing ends.
    w->txtSeconds->selectAll();
    QTest::keyClick(w->txtSeconds, Qt::Key_Backspace);
    EXPECT_EQ(w->txtSeconds->text(), "");
    EXPECT_EQ(w->scrSeconds->value(), 12);
    w->btnStartSlideshow->setFocus(); // the focus leaves
    EXPECT_EQ(w->txtSeconds->text(), "12");
    w->txtSeconds->setFocus();
    w->txtSeconds->selectAll();
    QTest::keyClicks(w->txtSeconds, "0");
    EXPECT_EQ(w->txtSeconds->text(), "0");
    QTest::keyClick(w->txtSeconds, Qt::Key_Return);
    EXPECT_EQ(w->txtSeconds->text(), "12");
    EXPECT_EQ(w->myTimer->interval(), 12000);

    // The seconds saved at exit are the ones the next start uses.
    w->ExitProgram();
    auto next = start();
    EXPECT_EQ(next->txtSeconds->text(), "12");
    EXPECT_EQ(next->scrSeconds->value(), 12);
    EXPECT_EQ(next->myTimer->interval(), 12000);
}

TEST_F(InputTest, SlideshowTicksWalkTheFolderThenStopOrLoop) {
    makePictures(3);
    for (bool loop : {false, true}) {
        SCOPED_TRACE(loop ? "loop on" : "loop off");
        platform.slideSounds = 0;
        auto w = start();
        w->chkLoop->setChecked(loop);
        w->StartSlideshow();
        EXPECT_EQ(w->btnStartSlideshow->text(), "&Stop");
        EXPECT_FALSE(w->Menus().mStartSlideshow->isEnabled());
        EXPECT_TRUE(w->Menus().mStopSlideshow->isEnabled());
        w->myTimer_Timer(); // first tick: the first picture
        EXPECT_EQ(w->myFiles->selectedIndex(), 0);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(w->txtFile->text(), path("p1.jpg"));
        w->myTimer_Timer();
        EXPECT_EQ(w->myFiles->selectedIndex(), 1);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(w->txtFile->text(), path("p2.jpg"));
        w->myTimer_Timer();
        EXPECT_EQ(w->myFiles->selectedIndex(), 2);
        w->myTimer_Timer();
        if (loop) {
            EXPECT_EQ(w->myFiles->selectedIndex(), 0);
            EXPECT_TRUE(w->myTimer->isActive());
        } else {
            EXPECT_EQ(w->myFiles->selectedIndex(), 2);
            EXPECT_FALSE(w->myTimer->isActive());
            EXPECT_EQ(w->btnStartSlideshow->text(), "&Start");
            EXPECT_TRUE(w->Menus().mStartSlideshow->isEnabled());
        }
        // "Play Slide Sound" sounds every tick, the stopping one too.
        EXPECT_EQ(platform.slideSounds, 4);
    }
}

TEST_F(InputTest, SecondsSpinnerKeepsOneToThirtyAndRetimesARunningShow) {
    makePictures(1);
    auto w = start();
    EXPECT_EQ(w->scrSeconds->minimum(), 1);
    EXPECT_EQ(w->scrSeconds->maximum(), 30);
    w->scrSeconds->setValue(0);
    EXPECT_EQ(w->scrSeconds->value(), 1);
    EXPECT_EQ(w->txtSeconds->text(), "1");
    EXPECT_EQ(w->myTimer->interval(), 1000);
    w->scrSeconds->setValue(30);
    EXPECT_EQ(w->txtSeconds->text(), "30");
    EXPECT_EQ(w->myTimer->interval(), 30000);
    w->StartSlideshow();
    w->scrSeconds->setValue(7);
    EXPECT_TRUE(w->myTimer->isActive());
    EXPECT_EQ(w->myTimer->interval(), 7000);
    w->btnStartSlideshow->click();
    EXPECT_FALSE(w->myTimer->isActive());
}

TEST_F(InputTest, DeleteMovesTheFileToTheTrashAndShowsTheOneInItsPlace) {
    makePictures(3);
    auto w = start();
    w->myFiles->setSelectedIndex(1);
    w->StartSlideshow();
    w->Form_KeyDown(vk::Delete, 0);
    EXPECT_FALSE(QFile::exists(path("p2.jpg")));
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    EXPECT_TRUE(QFile::exists(trash + "/files/p2.jpg"));
    EXPECT_TRUE(QFile::exists(trash + "/info/p2.jpg.trashinfo"));
    EXPECT_EQ(w->myFiles->count(), 2);
    EXPECT_EQ(w->myFiles->selectedName(), "p3.jpg");
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(w->txtFile->text(), path("p3.jpg"));
    EXPECT_TRUE(w->myTimer->isActive()); // paused around the delete only
    w->StopSlideShow();

    // The last one, with Shift: deleted for good, and the new last is shown.
    w->Form_KeyDown(vk::Delete, ShiftMask);
    EXPECT_FALSE(QFile::exists(path("p3.jpg")));
    EXPECT_FALSE(QFile::exists(trash + "/files/p3.jpg"));
    EXPECT_EQ(w->myFiles->names(), QStringList{"p1.jpg"});
    EXPECT_EQ(w->myFiles->selectedName(), "p1.jpg");

    // Another program removed files meanwhile: the selection stays in the list.
    makePictures(5);
    w->myFiles->refresh();
    w->myFiles->setSelectedIndex(4);
    QFile::remove(path("p1.jpg"));
    QFile::remove(path("p2.jpg"));
    w->Form_KeyDown(vk::Delete, 0);
    EXPECT_EQ(w->myFiles->names(), (QStringList{"p3.jpg", "p4.jpg"}));
    EXPECT_EQ(w->myFiles->selectedName(), "p4.jpg");

    // The only one: the list empties and the picture is hidden.
    w->Form_KeyDown(vk::Delete, 0);
    w->Form_KeyDown(vk::Delete, 0);
    EXPECT_EQ(w->myFiles->count(), 0);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(w->myPicture->isHidden());
    w->Form_KeyDown(vk::Delete, 0); // on an empty list: nothing
    EXPECT_EQ(exits, 0);
}

TEST_F(InputTest, FileThatCannotBeDeletedStaysAndIsShownAgain) {
    makePictures(2);
    // Root removes files from read-only folders; an immutable file it cannot.
    if (QProcess::execute("chattr", {"+i", path("p1.jpg")}) != 0)
        GTEST_SKIP() << "chattr +i is not supported on this file system";
    auto w = start();
    w->myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    const int beeps = platform.beeps;
    for (const auto& [shift, words] : {std::pair{0, "could not be moved to the Trash"},
                                       std::pair{int(ShiftMask), "could not be deleted"}}) {
        SCOPED_TRACE(words);
        // The failure is said in a message box, which this answers.
        QString told;
        QTimer::singleShot(0, [&told] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                told = box->text();
                box->accept();
            }
        });
        w->Form_KeyDown(vk::Delete, shift);
        EXPECT_TRUE(told.contains(words)) << told.toStdString();
        EXPECT_TRUE(told.contains("p1.jpg")) << told.toStdString();
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_TRUE(QFile::exists(path("p1.jpg")));
        EXPECT_EQ(w->myFiles->selectedName(), "p1.jpg");
        EXPECT_FALSE(w->myPicture->isHidden());
    }
    QProcess::execute("chattr", {"-i", path("p1.jpg")});
    EXPECT_EQ(platform.beeps, beeps);
}

TEST_F(InputTest, ScreensaverEndsOnAMouseJumpOnly) {
    makePictures(3);
    test::rememberFolder(dir.path());
    randoms = {0.0, 0.9};
    auto w = start({"/s"});
    EXPECT_EQ(w->myFiles->selectedIndex(), 0);
    w->myTimer_Timer(); // random pick: 0.9 of three entries
    EXPECT_EQ(w->myFiles->selectedIndex(), 2);
    EXPECT_EQ(platform.slideSounds, 0); // the screensaver plays no sound

    w->Form_KeyDown(vk::Escape, 0); // keys do not end it
    EXPECT_EQ(exits, 0);
    w->Form_MouseMove(0, 0, 40000, 40000); // the first event only records, beyond 16 bits
    w->Form_MouseMove(0, 0, 40499, 40000);
    w->Form_MouseMove(0, 0, 40499, 39500.5);
    EXPECT_EQ(exits, 0);
    // Each widget remembers its own position.
    w->myPicture_MouseMove(0, 0, 100, 100);
    w->myPicture_MouseMove(0, 0, 100, 600);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(platform.cursorVisible);
}

TEST_F(InputTest, ScreensaverMouseJumpOfFiveHundredTwipsEnds) {
    makePictures(1);
    test::rememberFolder(dir.path());
    auto w = start({"/s"});
    w->Form_MouseMove(0, 0, 1000, 1000);
    w->Form_MouseMove(0, 0, 1500, 1000);
    EXPECT_EQ(exits, 1);
}

TEST_F(InputTest, CursorIsHiddenOnlyInTheScreensaverAndOnlyOnChanges) {
    makePictures(1);
    auto viewer = start();
    viewer->mySeconds_Timer();
    EXPECT_EQ(platform.cursorCalls, 0);
    for (int i = 0; i < 10; ++i)
        viewer->SetCursorVisible(false);
    viewer->SetCursorVisible(true);
    EXPECT_EQ(platform.cursorCalls, 2);
    EXPECT_TRUE(platform.cursorVisible);

    test::rememberFolder(dir.path());
    platform.cursorCalls = 0;
    auto saver = start({"/s"});
    saver->SetCursorVisible(true);
    saver->mySeconds_Timer();
    EXPECT_FALSE(platform.cursorVisible);
    saver->mySeconds_Timer();
    EXPECT_EQ(platform.cursorCalls, 3);
}

TEST_F(InputTest, RightClickOpensTheMenuExceptOnTheScreensaverPicture) {
    makePictures(1);
    test::rememberFolder(dir.path());
    auto w = start({"/s"});
    w->myPicture_MouseUp(2, 0, 10, 10);
    EXPECT_FALSE(w->Menus().myPopup->isVisible());
    w->Form_MouseUp(1, 0, 10, 10);
    EXPECT_FALSE(w->Menus().myPopup->isVisible());
    w->Form_MouseUp(2, 0, 10, 10);
    EXPECT_TRUE(w->Menus().myPopup->isVisible());
    w->Menus().myPopup->close();
    // A double click on the screensaver's picture does nothing; beside it, it toggles.
    w->myPicture_DblClick();
    EXPECT_TRUE(w->frameSettings->isHidden());
    w->Form_DblClick();
    EXPECT_FALSE(w->frameSettings->isHidden());
}

TEST_F(InputTest, ClicksOnThePanelsBackgroundNeitherToggleNorOpenTheMenu) {
    makePictures(1);
    auto w = start();
    // Beside the check boxes, on the panel's caption, and on a check box with the
    // right button (which the box itself does not use).
    const QList<std::pair<QWidget*, QPoint>> spots = {
        {w->frameChecks, QPoint(w->frameChecks->width() - 3, w->frameChecks->height() - 3)},
        {w->frameSettings, QPoint(20, 5)},
        {w->chkStretch, QPoint(5, 5)}};
    for (const auto& [widget, at] : spots) {
        SCOPED_TRACE(widget->metaObject()->className());
        QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, at);
        EXPECT_FALSE(w->frameSettings->isHidden());
        QTest::mouseClick(widget, Qt::RightButton, Qt::NoModifier, at);
        EXPECT_FALSE(w->Menus().myPopup->isVisible());
    }
    // The window's own background still has both gestures.
    QTest::mouseClick(w.get(), Qt::RightButton, Qt::NoModifier, QPoint(5, 300));
    EXPECT_TRUE(w->Menus().myPopup->isVisible());
    w->Menus().myPopup->close();
    QTest::mouseDClick(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 300));
    EXPECT_TRUE(w->frameSettings->isHidden());
}

TEST_F(InputTest, MenuHasItsItemsInOrderWithTheirStates) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("empty"));
    auto w = start();
    frmMenus& m = w->Menus();
    // Start-up stops the slideshow: Start enabled, Stop disabled.
    EXPECT_TRUE(m.mStartSlideshow->isEnabled());
    EXPECT_FALSE(m.mStopSlideshow->isEnabled());
    ASSERT_TRUE(w->myPath->setPath(path("empty")));
    QStringList texts;
    for (QAction* a : m.myPopup->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(texts,
              (QStringList{"&Rename File\tF2", "&Batch Rename\tF3", "-", "Start Slideshow\tF4",
                           "Stop Slideshow\tF5", "-", "Toggle Settings Tab Visibility\tF9", "-",
                           "&Print\tCtrl+P", "-", "About\tF12", "Help\tF1", "-", "Exit"}));
    // Plain lines: a separator with a caption would draw it beside the line.
    for (QAction* a : {m.div3, m.div2, m.div8, m.div9, m.div4}) {
        EXPECT_FALSE(a->isEnabled());
        EXPECT_TRUE(a->isSeparator());
        EXPECT_TRUE(a->text().isEmpty());
    }
    // Opening a folder without pictures disables Start, yet F4 still starts a slideshow.
    EXPECT_FALSE(m.mStartSlideshow->isEnabled());
    EXPECT_FALSE(m.mStopSlideshow->isEnabled());
    m.CheckShortcut(vk::F1 + 3);
    EXPECT_TRUE(w->myTimer->isActive());
    EXPECT_TRUE(m.mStopSlideshow->isEnabled());
    w->myTimer_Timer(); // ticks on an empty folder do nothing but the sound
    EXPECT_EQ(w->myFiles->selectedIndex(), -1);

    // F6 to F8 and F10 do nothing.
    for (int f : {117, 118, 119, 121})
        m.CheckShortcut(f);
    EXPECT_TRUE(w->myTimer->isActive());
    EXPECT_FALSE(w->frameSettings->isHidden());

    // The toggle item's mark follows the panel only once it is used.
    EXPECT_FALSE(m.mToggleVisibility->isChecked());
    m.mToggleVisibility->trigger();
    EXPECT_TRUE(w->frameSettings->isHidden());
    EXPECT_FALSE(m.mToggleVisibility->isChecked());
    m.mToggleVisibility->trigger();
    EXPECT_TRUE(m.mToggleVisibility->isChecked());

    m.mExit->trigger();
    EXPECT_EQ(exits, 1);
}

TEST_F(InputTest, TopMostFollowsTheProperty) {
    auto w = start();
    EXPECT_FALSE(w->TopMost());
    w->setTopMost(true);
    EXPECT_TRUE(w->TopMost());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w->isVisible());
    w->setTopMost(false);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
}
