#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/commandline.h"
#include "desktop/help.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/frmabout.h"
#include "viewer/frmmenus.h"
#include "viewer/keymap.h"
#include "viewer/tavlin.h"

using namespace tavlin;
using test::Part;

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
        test::drive(*w).start(parseCommandLine(args.isEmpty() ? QStringList{dir.path()} : args));
        w->show();
        w->activateWindow();
        return w;
    }

    // Stores `folder` as the last folder, as an earlier run would have.
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

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
    auto d = test::drive(*w);
    d.select(0);
    // The Stretch box keeps its keys: Escape does not end the program.
    d.press(Part::Stretch, Qt::Key_Escape);
    EXPECT_EQ(exits, 0);
    d.press(Part::ExitButton, Qt::Key_Escape);
    EXPECT_EQ(exits, 0);
    // Down on the slideshow button reaches the key map; Up does not move (panel shown).
    d.press(Part::StartButton, Qt::Key_Down);
    EXPECT_EQ(d.selected(), 1);
    d.press(Part::StartButton, Qt::Key_Up);
    EXPECT_EQ(d.selected(), 1);
    // Down in the file list moves exactly one entry (the list keeps that key).
    d.press(Part::Files, Qt::Key_Up);
    EXPECT_EQ(d.selected(), 0);
    d.press(Part::Files, Qt::Key_Down);
    EXPECT_EQ(d.selected(), 1);
    // Down in the folder list moves its highlight and also the file selection.
    d.press(Part::Folders, Qt::Key_Down);
    EXPECT_EQ(d.selected(), 2);
    // The Center box hands Escape on: the program ends.
    d.press(Part::Center, Qt::Key_Escape);
    EXPECT_EQ(exits, 1);
}

TEST_F(InputTest, WithNothingSelectedDownShowsTheFirstPictureAndDecodesNoOther) {
    makePictures(3);
    // Reaching the list by Tab, by a click and with focus from elsewhere.
    for (Qt::FocusReason reason :
         {Qt::TabFocusReason, Qt::MouseFocusReason, Qt::OtherFocusReason}) {
        SCOPED_TRACE(reason);
        auto w = start();
        auto d = test::drive(*w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        int shown = 0;
        d.onSelectionChanged([&] { ++shown; });
        QWidget* files = d.part(Part::Files);
        files->setFocus(reason);
        ASSERT_TRUE(files->hasFocus());
        EXPECT_EQ(d.selected(), -1) << "focus alone selects nothing";
        QTest::keyClick(files, Qt::Key_Down);
        EXPECT_EQ(d.selected(), 0);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(d.text(Part::FileLine), path("p1.jpg"));
        EXPECT_EQ(shown, 1);
        QTest::keyClick(files, Qt::Key_Down);
        EXPECT_EQ(d.selected(), 1);
        EXPECT_EQ(shown, 2);
    }
    // The same from a widget that hands its keys on, and Escape shows nothing before ending.
    auto w = start();
    auto d = test::drive(*w);
    int shown = 0;
    d.onSelectionChanged([&] { ++shown; });
    d.press(Part::StartButton, Qt::Key_Down);
    EXPECT_EQ(d.selected(), 0);
    EXPECT_EQ(shown, 1);
    auto fresh = start();
    auto f = test::drive(*fresh);
    f.onSelectionChanged([&] { ++shown; });
    f.press(Part::Center, Qt::Key_Escape);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(shown, 1) << "no picture decoded on the way out";
}

TEST_F(InputTest, HiddenPanelGivesTheWindowTheKeysAndShortcuts) {
    makePictures(3);
    auto w = start();
    auto d = test::drive(*w);
    d.menus().mToggleVisibility_Click();
    ASSERT_FALSE(d.shown(Part::Panel));
    ASSERT_FALSE(d.controlsShown());
    w->setFocus();
    QTest::keyClick(w.get(), Qt::Key_Down);
    EXPECT_EQ(d.selected(), 0);
    QTest::keyClick(w.get(), Qt::Key_Down);
    EXPECT_EQ(d.selected(), 1);
    QTest::keyClick(w.get(), Qt::Key_Up);
    EXPECT_EQ(d.selected(), 0);
    QTest::keyClick(w.get(), Qt::Key_PageDown);
    EXPECT_EQ(d.selected(), 2);
    // F4 on key-up starts the slideshow, F5 stops it.
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_TRUE(d.slideshowRunning());
    QTest::keyClick(w.get(), Qt::Key_F5, Qt::ShiftModifier);
    EXPECT_FALSE(d.slideshowRunning());
    // F9 shows the panel again and checks the menu item.
    QTest::keyClick(w.get(), Qt::Key_F9);
    EXPECT_TRUE(d.shown(Part::Panel));
    EXPECT_TRUE(d.menus().mToggleVisibility->isChecked());
}

TEST_F(InputTest, MenuShortcutsActWhicheverPanelWidgetHasTheFocus) {
    makePictures(3);
    auto w = start();
    auto d = test::drive(*w);
    // F1 opens the help document in the working folder.
    test::writeFile(path(kHelpFileName), "<html></html>");
    d.setWorkingDirectory(dir.path());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    // Right after start the panel is shown and one of its widgets has the focus.
    ASSERT_TRUE(d.part(Part::Panel)->isAncestorOf(QApplication::focusWidget()));
    const std::pair<const char*, Part> parts[] = {
        {"drive list", Part::Drives},
        {"folder list", Part::Folders},
        {"file list", Part::Files},
        {"Center Picture", Part::Center},
        {"Stretch to Screen", Part::Stretch},
        {"Loop Slideshow", Part::Loop},
        {"Play Slide Sound", Part::PlaySound},
        {"Show Pict Number", Part::ShowNumber},
        {"Show Filename", Part::ShowFilename},
        {"Show File Size", Part::ShowFileSize},
        {"Show Dimensions", Part::ShowDimensions},
        {"slideshow button", Part::StartButton},
        {"seconds box", Part::Seconds},
        {"batch rename button", Part::RenameButton},
        {"exit button", Part::ExitButton},
    };
    for (auto [name, part] : parts) {
        SCOPED_TRACE(name);
        QWidget* widget = d.part(part);
        widget->setFocus();
        ASSERT_TRUE(widget->hasFocus());
        const bool stretch = d.checked(Part::Stretch);
        // The drive list would open its list on F4; the slideshow starts instead.
        QTest::keyClick(widget, Qt::Key_F4);
        EXPECT_TRUE(d.slideshowRunning());
        EXPECT_FALSE(d.driveListOpen());
        QTest::keyClick(widget, Qt::Key_F5, Qt::ShiftModifier);
        EXPECT_FALSE(d.slideshowRunning());
        const qsizetype opened = platform.openedUrls.size();
        QTest::keyClick(widget, Qt::Key_F1);
        EXPECT_EQ(platform.openedUrls.size(), opened + 1) << "F1 opens the help";
        QTest::keyClick(widget, Qt::Key_F12);
        ASSERT_NE(frmAbout::openWindow(), nullptr) << "F12 opens About";
        delete frmAbout::openWindow();
        EXPECT_EQ(d.checked(Part::Stretch), stretch) << "the check box saw none of these keys";
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_F9);
        EXPECT_FALSE(d.shown(Part::Panel)) << "F9 hides the panel";
        QTest::keyClick(w.get(), Qt::Key_F9);
        EXPECT_TRUE(d.shown(Part::Panel));
    }
    EXPECT_EQ(exits, 0);

    // Ctrl+P reaches the key map from a box that keeps its other keys: with nothing
    // selected, it shows the first picture and prints it.
    auto fresh = start();
    auto f = test::drive(*fresh);
    f.press(Part::Stretch, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(f.selected(), 0);
    // Keys the focused widget needs stay with it: Space presses a button, letters and
    // digits go into the seconds box.
    f.press(Part::StartButton, Qt::Key_Space);
    EXPECT_TRUE(f.slideshowRunning());
    f.press(Part::StartButton, Qt::Key_Space);
    EXPECT_FALSE(f.slideshowRunning());
    f.typeSeconds("12");
    EXPECT_EQ(f.secondsText(), "12");
}

// Right and Space step on, Left and BackSpace back, Home and End go to the ends, F11 shows
// or hides the panel: from the window, and from any widget of the panel that has no use for
// the key itself. A widget that uses the key keeps it, and the pictures stay.
TEST_F(InputTest, ViewerKeysWalkThePicturesUnlessTheFocusedWidgetUsesThem) {
    makePictures(5);
    auto w = start();
    auto d = test::drive(*w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    const struct {
        const char* name;
        Part part;
        Qt::Key key;
        qsizetype selected; // from the third picture
    } cases[] = {
        {"drive list, Space", Part::Drives, Qt::Key_Space, 3},
        {"drive list, Right", Part::Drives, Qt::Key_Right, 3},
        {"folder list, Space", Part::Folders, Qt::Key_Space, 3},
        {"folder list, Right", Part::Folders, Qt::Key_Right, 3},
        {"file list, Space", Part::Files, Qt::Key_Space, 3},
        {"file list, Right", Part::Files, Qt::Key_Right, 3},
        {"file list, End", Part::Files, Qt::Key_End, 4},
        {"file list, Home", Part::Files, Qt::Key_Home, 0},
        {"check box, Right", Part::Stretch, Qt::Key_Right, 3},
        {"check box, Space toggles it", Part::Stretch, Qt::Key_Space, 2},
        {"button, End", Part::RenameButton, Qt::Key_End, 4},
        // The box hands every key on to the window, then steps with the arrows.
        {"seconds box, Up steps it", Part::Seconds, Qt::Key_Up, 2},
        {"seconds box, Down steps it", Part::Seconds, Qt::Key_Down, 3},
        {"seconds box, Right", Part::Seconds, Qt::Key_Right, 2},
        {"seconds box, Home", Part::Seconds, Qt::Key_Home, 2},
        {"seconds box, BackSpace", Part::Seconds, Qt::Key_Backspace, 2},
        {"seconds box, Space", Part::Seconds, Qt::Key_Space, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        d.select(2);
        d.setSecondsText("12", 1);
        const bool stretch = d.checked(Part::Stretch);
        const int seconds = d.seconds();
        d.press(c.part, c.key);
        EXPECT_EQ(d.selected(), c.selected);
        EXPECT_FALSE(d.driveListOpen()) << "the drive list stays closed";
        EXPECT_EQ(d.checked(Part::Stretch) != stretch,
                  c.part == Part::Stretch && c.key == Qt::Key_Space);
        if (c.part != Part::Seconds || c.key == Qt::Key_Up || c.key == Qt::Key_Down) {
            EXPECT_EQ(d.seconds() != seconds, c.part == Part::Seconds);
        }
        // Space is no digit: the box takes it and does nothing with it.
        if (c.part == Part::Seconds && c.key != Qt::Key_Space) {
            EXPECT_FALSE(d.secondsCursor() == 1 && d.secondsText() == "12")
                << "the box edits its text";
        }
    }
    d.setChecked(Part::Stretch, true);

    // The window itself, the panel hidden with F11 (Left and BackSpace step back only then).
    w->setFocus();
    QTest::keyClick(w.get(), Qt::Key_F11);
    ASSERT_FALSE(d.shown(Part::Panel));
    const struct {
        Qt::Key key;
        qsizetype selected;
    } walk[] = {{Qt::Key_Left, 1},  {Qt::Key_Backspace, 1}, {Qt::Key_Right, 3},
                {Qt::Key_Space, 3}, {Qt::Key_End, 4},       {Qt::Key_Home, 0}};
    for (const auto& c : walk) {
        SCOPED_TRACE(QTest::toString(c.key));
        d.select(2);
        QTest::keyClick(w.get(), c.key);
        EXPECT_EQ(d.selected(), c.selected);
    }
    QTest::keyClick(w.get(), Qt::Key_F11);
    EXPECT_TRUE(d.shown(Part::Panel));
    EXPECT_EQ(exits, 0);
}

TEST_F(InputTest, ClickOnThePictureGivesTheWindowTheFocus) {
    makePictures(1);
    auto w = start();
    auto d = test::drive(*w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_TRUE(d.shown(Part::Picture));
    d.part(Part::Stretch)->setFocus();
    QWidget* picture = d.part(Part::Picture);
    QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, picture->rect().center());
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
        {"31", "3", 3},   {"-5", "5", 5},  {"07", "07", 7}, {"30", "30", 30}, {"1", "1", 1},
    };
    auto w = start();
    auto d = test::drive(*w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        d.typeSeconds(c.typed);
        EXPECT_EQ(d.secondsText(), c.shown);
        EXPECT_EQ(d.seconds(), c.seconds);
        // F4 in the box starts the slideshow at the seconds the box shows.
        d.press(Part::Seconds, Qt::Key_F4);
        EXPECT_TRUE(d.slideshowRunning());
        EXPECT_EQ(d.slideshowIntervalMs(), c.seconds * 1000);
        EXPECT_EQ(w->currentSettings().loopSeconds, c.seconds);
        d.press(Part::Seconds, Qt::Key_F5);
    }
    // A running slideshow takes a typed number at once, as it takes the arrows.
    d.startSlideshow();
    d.typeSeconds("12");
    EXPECT_TRUE(d.slideshowRunning());
    EXPECT_EQ(d.slideshowIntervalMs(), 12000);
    d.stopSlideshow();

    // What is no number yet goes back to the last good one when the typing ends.
    d.typeSeconds(""); // selects what the box shows
    d.press(Part::Seconds, Qt::Key_Backspace);
    EXPECT_EQ(d.secondsText(), "");
    EXPECT_EQ(d.seconds(), 12);
    d.part(Part::StartButton)->setFocus(); // the focus leaves
    EXPECT_EQ(d.secondsText(), "12");
    d.typeSeconds("0");
    EXPECT_EQ(d.secondsText(), "0");
    d.press(Part::Seconds, Qt::Key_Return);
    EXPECT_EQ(d.secondsText(), "12");
    EXPECT_EQ(d.slideshowIntervalMs(), 12000);

    // The seconds saved at exit are the ones the next start uses.
    w->ExitProgram();
    auto next = start();
    auto n = test::drive(*next);
    EXPECT_EQ(n.secondsText(), "12");
    EXPECT_EQ(n.seconds(), 12);
    EXPECT_EQ(n.slideshowIntervalMs(), 12000);
}

TEST_F(InputTest, SlideshowTicksWalkTheFolderThenStopOrLoop) {
    makePictures(3);
    for (bool loop : {false, true}) {
        SCOPED_TRACE(loop ? "loop on" : "loop off");
        platform.slideSounds = 0;
        auto w = start();
        auto d = test::drive(*w);
        d.setChecked(Part::Loop, loop);
        d.startSlideshow();
        EXPECT_EQ(d.text(Part::StartButton), "&Stop");
        EXPECT_FALSE(d.menus().mStartSlideshow->isEnabled());
        EXPECT_TRUE(d.menus().mStopSlideshow->isEnabled());
        d.slideshowTick(); // first tick: the first picture
        EXPECT_EQ(d.selected(), 0);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(d.text(Part::FileLine), path("p1.jpg"));
        d.slideshowTick();
        EXPECT_EQ(d.selected(), 1);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(d.text(Part::FileLine), path("p2.jpg"));
        d.slideshowTick();
        EXPECT_EQ(d.selected(), 2);
        d.slideshowTick();
        if (loop) {
            EXPECT_EQ(d.selected(), 0);
            EXPECT_TRUE(d.slideshowRunning());
        } else {
            EXPECT_EQ(d.selected(), 2);
            EXPECT_FALSE(d.slideshowRunning());
            EXPECT_EQ(d.text(Part::StartButton), "&Start");
            EXPECT_TRUE(d.menus().mStartSlideshow->isEnabled());
        }
        // "Play Slide Sound" sounds every tick, the stopping one too.
        EXPECT_EQ(platform.slideSounds, 4);
    }
}

TEST_F(InputTest, SecondsSpinnerKeepsOneToThirtyAndRetimesARunningShow) {
    makePictures(1);
    auto w = start();
    auto d = test::drive(*w);
    EXPECT_EQ(d.minimumSeconds(), 1);
    EXPECT_EQ(d.maximumSeconds(), 30);
    d.setSeconds(0);
    EXPECT_EQ(d.seconds(), 1);
    EXPECT_EQ(d.secondsText(), "1");
    EXPECT_EQ(d.slideshowIntervalMs(), 1000);
    d.setSeconds(30);
    EXPECT_EQ(d.secondsText(), "30");
    EXPECT_EQ(d.slideshowIntervalMs(), 30000);
    d.startSlideshow();
    d.setSeconds(7);
    EXPECT_TRUE(d.slideshowRunning());
    EXPECT_EQ(d.slideshowIntervalMs(), 7000);
    d.click(Part::StartButton);
    EXPECT_FALSE(d.slideshowRunning());
}

TEST_F(InputTest, DeleteMovesTheFileToTheTrashAndShowsTheOneInItsPlace) {
    makePictures(3);
    auto w = start();
    auto d = test::drive(*w);
    d.select(1);
    d.startSlideshow();
    d.keyDown(vk::Delete, 0);
    EXPECT_FALSE(QFile::exists(path("p2.jpg")));
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    EXPECT_TRUE(QFile::exists(trash + "/files/p2.jpg"));
    EXPECT_TRUE(QFile::exists(trash + "/info/p2.jpg.trashinfo"));
    EXPECT_EQ(d.count(), 2);
    EXPECT_EQ(d.selectedName(), "p3.jpg");
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.text(Part::FileLine), path("p3.jpg"));
    EXPECT_TRUE(d.slideshowRunning()); // paused around the delete only
    d.stopSlideshow();

    // The last one, with Shift: deleted for good, and the new last is shown.
    d.keyDown(vk::Delete, ShiftMask);
    EXPECT_FALSE(QFile::exists(path("p3.jpg")));
    EXPECT_FALSE(QFile::exists(trash + "/files/p3.jpg"));
    EXPECT_EQ(d.names(), QStringList{"p1.jpg"});
    EXPECT_EQ(d.selectedName(), "p1.jpg");

    // Another program removed files meanwhile: the selection stays in the list.
    makePictures(5);
    d.refreshFiles();
    d.select(4);
    QFile::remove(path("p1.jpg"));
    QFile::remove(path("p2.jpg"));
    d.keyDown(vk::Delete, 0);
    EXPECT_EQ(d.names(), (QStringList{"p3.jpg", "p4.jpg"}));
    EXPECT_EQ(d.selectedName(), "p4.jpg");

    // The only one: the list empties and the picture is hidden.
    d.keyDown(vk::Delete, 0);
    d.keyDown(vk::Delete, 0);
    EXPECT_EQ(d.count(), 0);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_FALSE(d.shown(Part::Picture));
    d.keyDown(vk::Delete, 0); // on an empty list: nothing
    EXPECT_EQ(exits, 0);
}

TEST_F(InputTest, FileThatCannotBeDeletedStaysAndIsShownAgain) {
    makePictures(2);
    // Root removes files from read-only folders; an immutable file it cannot.
    if (QProcess::execute("chattr", {"+i", path("p1.jpg")}) != 0)
        GTEST_SKIP() << "chattr +i is not supported on this file system";
    auto w = start();
    auto d = test::drive(*w);
    d.select(0);
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
        d.keyDown(vk::Delete, shift);
        EXPECT_TRUE(told.contains(words)) << told.toStdString();
        EXPECT_TRUE(told.contains("p1.jpg")) << told.toStdString();
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_TRUE(QFile::exists(path("p1.jpg")));
        EXPECT_EQ(d.selectedName(), "p1.jpg");
        EXPECT_TRUE(d.shown(Part::Picture));
    }
    QProcess::execute("chattr", {"-i", path("p1.jpg")});
    EXPECT_EQ(platform.beeps, beeps);
}

TEST_F(InputTest, ScreensaverEndsOnAMouseJumpOnly) {
    makePictures(3);
    test::rememberFolder(dir.path());
    randoms = {0.0, 0.9};
    auto w = start({"/s"});
    auto d = test::drive(*w);
    EXPECT_EQ(d.selected(), 0);
    d.slideshowTick(); // random pick: 0.9 of three entries
    EXPECT_EQ(d.selected(), 2);
    EXPECT_EQ(platform.slideSounds, 0); // the screensaver plays no sound

    d.keyDown(vk::Escape, 0); // keys do not end it
    EXPECT_EQ(exits, 0);
    d.mouseMove(0, 0, 40000, 40000); // the first event only records, beyond 16 bits
    d.mouseMove(0, 0, 40499, 40000);
    d.mouseMove(0, 0, 40499, 39500.5);
    EXPECT_EQ(exits, 0);
    // Each widget remembers its own position.
    d.pictureMouseMove(0, 0, 100, 100);
    d.pictureMouseMove(0, 0, 100, 600);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(platform.cursorVisible);
}

TEST_F(InputTest, ScreensaverMouseJumpOfFiveHundredTwipsEnds) {
    makePictures(1);
    test::rememberFolder(dir.path());
    auto w = start({"/s"});
    auto d = test::drive(*w);
    d.mouseMove(0, 0, 1000, 1000);
    d.mouseMove(0, 0, 1500, 1000);
    EXPECT_EQ(exits, 1);
}

TEST_F(InputTest, CursorIsHiddenOnlyInTheScreensaverAndOnlyOnChanges) {
    makePictures(1);
    auto viewer = start();
    auto v = test::drive(*viewer);
    v.cursorTimerTick();
    EXPECT_EQ(platform.cursorCalls, 0);
    for (int i = 0; i < 10; ++i)
        v.setCursorVisible(false);
    v.setCursorVisible(true);
    EXPECT_EQ(platform.cursorCalls, 2);
    EXPECT_TRUE(platform.cursorVisible);

    test::rememberFolder(dir.path());
    platform.cursorCalls = 0;
    auto saver = start({"/s"});
    auto s = test::drive(*saver);
    s.setCursorVisible(true);
    s.cursorTimerTick();
    EXPECT_FALSE(platform.cursorVisible);
    s.cursorTimerTick();
    EXPECT_EQ(platform.cursorCalls, 3);
}

TEST_F(InputTest, RightClickOpensTheMenuExceptOnTheScreensaverPicture) {
    makePictures(1);
    test::rememberFolder(dir.path());
    auto w = start({"/s"});
    auto d = test::drive(*w);
    d.pictureMouseUp(2, 0, 10, 10);
    EXPECT_FALSE(d.menus().myPopup->isVisible());
    d.mouseUp(1, 0, 10, 10);
    EXPECT_FALSE(d.menus().myPopup->isVisible());
    d.mouseUp(2, 0, 10, 10);
    EXPECT_TRUE(d.menus().myPopup->isVisible());
    d.menus().myPopup->close();
    // A double click on the screensaver's picture does nothing; beside it, it toggles.
    d.pictureDoubleClick();
    EXPECT_FALSE(d.shown(Part::Panel));
    d.doubleClick();
    EXPECT_TRUE(d.shown(Part::Panel));
}

TEST_F(InputTest, ClicksOnThePanelsBackgroundNeitherToggleNorOpenTheMenu) {
    makePictures(1);
    auto w = start();
    auto d = test::drive(*w);
    // Beside the check boxes, on the panel's caption, and on a check box with the
    // right button (which the box itself does not use).
    QWidget* checks = d.part(Part::Checks);
    const QList<std::pair<QWidget*, QPoint>> spots = {
        {checks, QPoint(checks->width() - 3, checks->height() - 3)},
        {d.part(Part::Panel), QPoint(20, 5)},
        {d.part(Part::Stretch), QPoint(5, 5)}};
    for (const auto& [widget, at] : spots) {
        SCOPED_TRACE(widget->metaObject()->className());
        QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, at);
        EXPECT_TRUE(d.shown(Part::Panel));
        QTest::mouseClick(widget, Qt::RightButton, Qt::NoModifier, at);
        EXPECT_FALSE(d.menus().myPopup->isVisible());
    }
    // The window's own background still has both gestures.
    QTest::mouseClick(w.get(), Qt::RightButton, Qt::NoModifier, QPoint(5, 300));
    EXPECT_TRUE(d.menus().myPopup->isVisible());
    d.menus().myPopup->close();
    QTest::mouseDClick(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 300));
    EXPECT_FALSE(d.shown(Part::Panel));
}

TEST_F(InputTest, MenuHasItsItemsInOrderWithTheirStates) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("empty"));
    auto w = start();
    auto d = test::drive(*w);
    frmMenus& m = d.menus();
    // Start-up stops the slideshow: Start enabled, Stop disabled.
    EXPECT_TRUE(m.mStartSlideshow->isEnabled());
    EXPECT_FALSE(m.mStopSlideshow->isEnabled());
    ASSERT_TRUE(d.openFolder(path("empty")));
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
    EXPECT_TRUE(d.slideshowRunning());
    EXPECT_TRUE(m.mStopSlideshow->isEnabled());
    d.slideshowTick(); // ticks on an empty folder do nothing but the sound
    EXPECT_EQ(d.selected(), -1);

    // F6 to F8 and F10 do nothing.
    for (int f : {117, 118, 119, 121})
        m.CheckShortcut(f);
    EXPECT_TRUE(d.slideshowRunning());
    EXPECT_TRUE(d.shown(Part::Panel));

    // The toggle item's mark follows the panel only once it is used.
    EXPECT_FALSE(m.mToggleVisibility->isChecked());
    m.mToggleVisibility->trigger();
    EXPECT_FALSE(d.shown(Part::Panel));
    EXPECT_FALSE(m.mToggleVisibility->isChecked());
    m.mToggleVisibility->trigger();
    EXPECT_TRUE(m.mToggleVisibility->isChecked());

    m.mExit->trigger();
    EXPECT_EQ(exits, 1);
}

TEST_F(InputTest, TopMostFollowsTheProperty) {
    auto w = start();
    auto d = test::drive(*w);
    EXPECT_FALSE(d.topMost());
    w->setTopMost(true);
    EXPECT_TRUE(d.topMost());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w->isVisible());
    w->setTopMost(false);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
}
