#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/commandline.h"
#include "bindfsmount.h"
#include "fileops/frmgetprefix.h"
#include "platform/hivestore.h"
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

// The main window with its commands and settings, over real files and a real
// settings store in temporary folders.
class WindowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"Beach.JPG", "cat.gif", "dog.bmp"})
            test::writePicture(path(name), test::patternImage(60, 40));
    }

    std::unique_ptr<Tavlin> start(const QStringList& args) {
        TavlinOptions options = test::windowOptions(platform, exits);
        auto w = std::make_unique<Tavlin>(options);
        test::drive(*w).start(parseCommandLine(args));
        return w;
    }

    // Answers the next modal dialog once it is up.
    static void whenModal(std::function<void(QWidget*)> answer) {
        QTimer::singleShot(0, [answer] {
            if (QWidget* modal = QApplication::activeModalWidget())
                answer(modal);
        });
    }

    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QByteArray storedSettings() const { return test::readAll(test::hiveFile()); }

    test::TempConfigHome config;
    QTemporaryDir dir;
    test::CountingPlatform platform;
    int exits = 0;
};

} // namespace

TEST_F(WindowCommandsTest, F2RenamesTheSelectedPictureAndKeepsItSelected) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.select(1); // cat.gif
    whenModal([](QWidget* modal) {
        auto* input = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(input, nullptr);
        input->setTextValue("kitten");
        input->accept();
    });
    d.menus().CheckShortcut(vk::F1 + 1);
    EXPECT_FALSE(QFile::exists(path("cat.gif")));
    EXPECT_TRUE(QFile::exists(path("kitten.gif")));
    EXPECT_EQ(d.selectedName(), "kitten.gif");
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.text(Part::FileLine), path("kitten.gif"));
}

TEST_F(WindowCommandsTest, DeleteAndRenameInAReadOnlyFolderSayWhyAndKeepTheFile) {
    test::BindfsMount mount(/*readOnly=*/true);
    if (!mount.mounted())
        GTEST_SKIP() << "no read-only view to try in: " << mount.whyNot().toStdString();
    for (const char* name : {"a.jpg", "b.jpg"})
        test::writePicture(QDir(mount.source()).filePath(name), test::patternImage(60, 40));
    auto w = start({mount.view()});
    auto d = test::drive(*w);
    ASSERT_EQ(d.names(), (QStringList{"a.jpg", "b.jpg"}));
    d.select(1);
    ASSERT_TRUE(test::waitForPicture(*w));
    const QString shown = QDir(mount.view()).filePath("b.jpg");
    ASSERT_EQ(d.text(Part::FileLine), shown);

    // Delete: the removal failed silently before; now it says so and nothing moves.
    QString told;
    whenModal([&told](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        told = QTextDocumentFragment::fromHtml(box->text()).toPlainText().remove(QChar(0x200B));
        box->accept();
    });
    d.keyDown(vk::Delete, 0);
    EXPECT_EQ(told, "b.jpg could not be moved to the Trash: the folder is on a read-only file "
                    "system. It is still there; Shift+Delete deletes it for good.");
    whenModal([&told](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        told = QTextDocumentFragment::fromHtml(box->text()).toPlainText().remove(QChar(0x200B));
        box->accept();
    });
    d.keyDown(vk::Delete, ShiftMask);
    EXPECT_EQ(told, "b.jpg could not be deleted: the folder is on a read-only file system.");
    EXPECT_TRUE(QFile::exists(QDir(mount.source()).filePath("b.jpg")));
    EXPECT_EQ(d.names(), (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(d.selectedName(), "b.jpg");
    EXPECT_EQ(d.text(Part::FileLine), shown);

    // F2: a read-only file system is said as such, not as "access is denied".
    told.clear();
    whenModal([&told](QWidget* modal) {
        auto* input = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(input, nullptr);
        input->setTextValue("c");
        whenModal([&told](QWidget* next) {
            auto* box = qobject_cast<QMessageBox*>(next);
            ASSERT_NE(box, nullptr);
            told = QTextDocumentFragment::fromHtml(box->text()).toPlainText().remove(QChar(0x200B));
            box->accept();
        });
        input->accept();
    });
    d.menus().CheckShortcut(vk::F1 + 1);
    EXPECT_TRUE(told.endsWith("the folder is on a read-only file system."))
        << told.toStdString();
    EXPECT_EQ(d.names(), (QStringList{"a.jpg", "b.jpg"}));
}

TEST_F(WindowCommandsTest, ARenameToAnEndingTheListDoesNotShowIsRefusedAndTheLinesStayTrue) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.select(1); // cat.gif
    ASSERT_TRUE(test::waitForPicture(*w));
    for (const char* answer : {"notes.txt", "cat.gif.bak"}) {
        QString told;
        whenModal([answer, &told](QWidget* modal) {
            auto* input = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(input, nullptr);
            input->setTextValue(QString::fromUtf8(answer));
            whenModal([&told](QWidget* next) {
                auto* box = qobject_cast<QMessageBox*>(next);
                ASSERT_NE(box, nullptr);
                told = QTextDocumentFragment::fromHtml(box->text())
                           .toPlainText()
                           .remove(QChar(0x200B));
                box->accept();
            });
            input->accept();
        });
        d.menus().CheckShortcut(vk::F1 + 1);
        // Accepted without a word before: the file left the list and the lines went stale.
        EXPECT_TRUE(told.contains("the picture would leave it")) << told.toStdString();
        EXPECT_TRUE(QFile::exists(path("cat.gif"))) << answer;
        EXPECT_EQ(d.names(), (QStringList{"Beach.JPG", "cat.gif", "dog.bmp"}));
        EXPECT_EQ(d.selectedName(), "cat.gif");
        EXPECT_EQ(d.text(Part::FileLine), path("cat.gif"));
    }
}

TEST_F(WindowCommandsTest, BatchRenameNumbersTheFolderAndResumesTheSlideshow) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.startSlideshow();
    whenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<frmGetPrefix*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->txtPrefix->setText("trip");
        dialog->btnOk_Click();
    });
    d.click(Part::RenameButton);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
              (QStringList{"trip1.jpg", "trip2.gif", "trip3.bmp"}));
    EXPECT_EQ(d.names(), (QStringList{"trip1.jpg", "trip2.gif", "trip3.bmp"}));
    EXPECT_EQ(d.selected(), 0);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.text(Part::FileLine), path("trip1.jpg"));
    EXPECT_TRUE(d.slideshowRunning());
    for (Part control : {Part::Files, Part::ExitButton, Part::RenameButton})
        EXPECT_TRUE(d.part(control)->isEnabled());
}

TEST_F(WindowCommandsTest, AboutAndHelpOpenFromTheirKeys) {
    QTemporaryDir working;
    test::writeFile(QDir(working.path()).filePath("Tavlin.html"), "<html></html>");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(working.path()); // the first start records the working folder
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    QDir::setCurrent(previous);

    d.keyUp(vk::F1, CtrlMask); // F1 opens the help whatever the shift state
    ASSERT_EQ(platform.openedUrls.size(), 1);
    EXPECT_EQ(platform.openedUrls[0].toLocalFile(), QDir(working.path()).filePath("Tavlin.html"));

    d.keyUp(vk::F12, 0);
    int abouts = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<frmAbout*>(top) && top->isVisible())
            ++abouts;
    EXPECT_EQ(abouts, 1);
    d.keyUp(vk::F12, 0);
    int again = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<frmAbout*>(top) && top->isVisible())
            ++again;
    EXPECT_EQ(again, 1);
}

TEST_F(WindowCommandsTest, SettingsComeBackOnTheNextStart) {
    {
        auto first = start({dir.path()});
        auto d = test::drive(*first);
        // The very first start runs at ten seconds with everything on.
        EXPECT_EQ(d.seconds(), 10);
        EXPECT_EQ(d.slideshowIntervalMs(), 10000);
        EXPECT_EQ(d.folder(), dir.path()); // a folder named on the first start opens
        d.setChecked(Part::Stretch, false);
        d.setChecked(Part::ShowFilename, false);
        d.setChecked(Part::PlaySound, false);
        d.setSeconds(7);
        d.menus().mToggleVisibility_Click();
        first->ExitProgram();
    }
    auto w = start({});
    auto d = test::drive(*w);
    EXPECT_EQ(d.folder(), dir.path());
    EXPECT_FALSE(d.checked(Part::Stretch));
    EXPECT_FALSE(d.checked(Part::ShowFilename));
    EXPECT_FALSE(d.shown(Part::FileLine));
    EXPECT_FALSE(d.checked(Part::PlaySound));
    EXPECT_TRUE(d.checked(Part::Center));
    EXPECT_EQ(d.seconds(), 7);
    EXPECT_EQ(d.secondsText(), "7");
    EXPECT_EQ(d.slideshowIntervalMs(), 7000);
    EXPECT_FALSE(d.controlsShown());
    EXPECT_FALSE(d.shown(Part::Panel));
}

TEST_F(WindowCommandsTest, ScreensaverRunsSaveNothing) {
    start({dir.path()})->ExitProgram();
    const QByteArray stored = storedSettings();
    ASSERT_FALSE(stored.isEmpty());
    for (const char* line : {"/s", "-S"}) {
        auto w = start({line});
        test::drive(*w).setChecked(Part::ShowFilename, false);
        w->ExitProgram();
        EXPECT_EQ(storedSettings(), stored) << line;
    }
    EXPECT_TRUE(storedSettings().contains("\"Show Controls\"=\"true\""));
}

TEST_F(WindowCommandsTest, ACommandLineFolderWinsOverTheLastOne) {
    QTemporaryDir other;
    start({dir.path()})->ExitProgram();
    auto w = start({other.path()});
    auto d = test::drive(*w);
    EXPECT_EQ(d.folder(), other.path());
    w->ExitProgram();
    EXPECT_TRUE(storedSettings().contains(other.path().toUtf8()));
}
