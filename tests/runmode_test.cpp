// The run mode comes from the parsed command line everywhere it is read, and
// the screen is kept awake exactly while a slideshow runs.
#include <gtest/gtest.h>
#include <set>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/commandline.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"

using namespace tavlin;
using test::Part;

namespace {

class RunModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        for (int i = 1; i <= 3; ++i)
            test::writePicture(QDir(dir.path()).filePath(QString("p%1.jpg").arg(i)),
                               test::patternImage(40, 30));
        test::rememberFolder(dir.path());
    }

    std::unique_ptr<Tavlin> start(const QStringList& args) {
        auto w = std::make_unique<Tavlin>(test::windowOptions(platform, exits));
        shown = test::drive(*w).start(parseCommandLine(args));
        return w;
    }

    test::TempConfigHome config; // never the user's own settings
    QTemporaryDir dir;
    test::CountingPlatform platform;
    int exits = 0;
    bool shown = false;
};

// The cursor timer ticking while the settings dialog of the "/c" run is open.
TEST_F(RunModeTest, SettingsDialogKeepsTheCursorWhateverTheSwitchLooksLike) {
    for (const QString line : {"/c", "-c", "/C:1234", "-C"}) {
        SCOPED_TRACE(line.toStdString());
        platform = {};
        bool ticked = false;
        std::function<void(int)> poll = [&](int turnsLeft) {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal && turnsLeft > 0) {
                QTimer::singleShot(1, [&, turnsLeft] { poll(turnsLeft - 1); });
                return;
            }
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* window = qobject_cast<Tavlin*>(top)) {
                    test::drive(*window).cursorTimerTick();
                    ticked = true;
                }
            if (modal)
                modal->close();
        };
        QTimer::singleShot(0, [&] { poll(2000); });
        auto w = start(line.split(' '));
        EXPECT_EQ(w->runMode(), RunMode::Settings);
        EXPECT_TRUE(ticked);
        EXPECT_EQ(platform.cursorCalls, 0) << "the cursor timer hid the pointer over the dialog";
        EXPECT_TRUE(platform.cursorVisible);
        EXPECT_FALSE(shown);
    }
}

TEST_F(RunModeTest, DashSwitchesActAsSlashSwitches) {
    for (const QString line : {"/s", "-s", "-S"}) {
        SCOPED_TRACE(line.toStdString());
        platform = {};
        auto w = start({line});
        auto d = test::drive(*w);
        EXPECT_TRUE(shown);
        EXPECT_EQ(w->runMode(), RunMode::Screensaver);
        EXPECT_TRUE(d.screensaverMode());
        EXPECT_TRUE(d.topMost());
        w->SetCursorVisible(true);
        d.cursorTimerTick();
        EXPECT_FALSE(platform.cursorVisible);
    }
}

TEST_F(RunModeTest, ScreenStaysAwakeExactlyWhileASlideshowRuns) {
    auto viewer = start({});
    EXPECT_FALSE(platform.screenAwake); // start-up stops the slideshow
    test::drive(*viewer).startSlideshow();
    EXPECT_TRUE(platform.screenAwake);
    test::drive(*viewer).startSlideshow();
    EXPECT_EQ(platform.awakeHolds, 1);
    test::drive(*viewer).stopSlideshow();
    EXPECT_FALSE(platform.screenAwake);
    test::drive(*viewer).startSlideshow();
    viewer->ExitProgram(); // leaving with a slideshow running gives the hold back
    EXPECT_FALSE(platform.screenAwake);
    EXPECT_EQ(platform.awakeHolds, 2);

    platform = {};
    auto saver = start({"/s"});
    EXPECT_TRUE(platform.screenAwake);
    saver->ExitProgram();
    EXPECT_FALSE(platform.screenAwake);

    // Drawn for a screensaver daemon, the screen may blank as the daemon decides.
    platform = {};
    auto display = start({"-root"});
    EXPECT_TRUE(shown);
    EXPECT_EQ(display->runMode(), RunMode::Display);
    EXPECT_TRUE(test::drive(*display).slideshowRunning());
    EXPECT_EQ(platform.awakeHolds, 0);
}

TEST_F(RunModeTest, DisplayModeUsesTheDaemonsFolderAndSecondsAndSavesNothing) {
    QTemporaryDir other;
    test::writePicture(QDir(other.path()).filePath("only.jpg"), test::patternImage(40, 30));
    const QByteArray before = test::readAll(test::hiveFile());
    auto w = start({"-window-id", "0x400001", "-folder", other.path(), "-seconds", "3"});
    auto d = test::drive(*w);
    EXPECT_TRUE(shown);
    EXPECT_EQ(d.count(), 1);
    EXPECT_EQ(d.slideshowIntervalMs(), 3000);
    EXPECT_FALSE(d.shown(Part::Panel));
    EXPECT_FALSE(d.topMost());
    w->ExitProgram();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(test::readAll(test::hiveFile()), before);
}

// With "Shuffle" stored, the screensaver shows each of the folder's pictures once before any
// comes back, the first pick included; -shuffle asks the same of a daemon's run.
TEST_F(RunModeTest, ShuffledScreensaverShowsEveryPictureOnceBeforeAnyRepeats) {
    for (int i = 4; i <= 7; ++i)
        test::writePicture(QDir(dir.path()).filePath(QString("p%1.jpg").arg(i)),
                           test::patternImage(40, 30));
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(rm.WriteValue(QStringLiteral("Shuffle"), QStringLiteral("true"), regtype::Sz));
    for (const QStringList& args : {QStringList{"/s"}, QStringList{"-root", "-shuffle"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        if (args.contains("-shuffle")) {
            ASSERT_TRUE(
                rm.WriteValue(QStringLiteral("Shuffle"), QStringLiteral("false"), regtype::Sz));
        }
        auto w = start(args);
        auto d = test::drive(*w);
        ASSERT_TRUE(shown);
        ASSERT_EQ(d.count(), 7);
        for (int round = 0; round < 3; ++round) {
            std::set<std::int64_t> seen;
            for (int i = 0; i < 7; ++i) {
                if (round > 0 || i > 0)
                    d.slideshowTick();
                seen.insert(d.selected());
            }
            EXPECT_EQ(seen.size(), 7u) << "round " << round;
        }
    }
}

// With "Include Subfolders" the screensaver's pictures are those of the folder's whole tree,
// read in the background: a folder that holds only subfolders still starts at once, and with
// "Shuffle" every picture of the tree comes once before any comes back.
TEST_F(RunModeTest, ScreensaverOverAPictureTreeShowsEveryPictureOfIt) {
    QTemporaryDir tree;
    const QDir root(tree.path());
    QStringList all;
    for (int folder = 1; folder <= 3; ++folder) {
        for (int i = 1; i <= 3; ++i) {
            const QString name = QString("album %1/deeper/p%2.jpg").arg(folder).arg(i);
            ASSERT_TRUE(root.mkpath(QFileInfo(root.filePath(name)).path()));
            test::writePicture(root.filePath(name), test::patternImage(40, 30));
            all << name;
        }
    }
    ASSERT_TRUE(QFile::link(tree.path(), root.filePath("album 1/loop")));
    test::rememberFolder(tree.path());
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(
        rm.WriteValue(QStringLiteral("Include Subfolders"), QStringLiteral("true"), regtype::Sz));
    ASSERT_TRUE(rm.WriteValue(QStringLiteral("Shuffle"), QStringLiteral("true"), regtype::Sz));
    auto w = start({"/s"});
    auto d = test::drive(*w);
    ASSERT_TRUE(shown);
    for (int turns = 0; turns < 2000 && d.count() < all.size(); ++turns)
        QTest::qWait(5);
    all.sort();
    QStringList listed = d.names();
    listed.sort();
    EXPECT_EQ(listed, all);
    ASSERT_GE(d.selected(), 0) << "the first picture is picked once listed";
    for (int round = 0; round < 2; ++round) {
        std::set<std::int64_t> seen;
        for (qsizetype i = 0; i < all.size(); ++i) {
            d.slideshowTick();
            seen.insert(d.selected());
        }
        EXPECT_EQ(seen.size(), std::size_t(all.size())) << "round " << round;
    }
    EXPECT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(d.text(Part::FileLine).startsWith(tree.path() + "/album "))
        << d.text(Part::FileLine).toStdString();
}

// Drawn for a daemon on a first start, nothing is written: the run saves nothing, so it leaves
// no settings behind. Inside a window smaller than the screen (a preview) the information
// lines shrink with it and stay inside it.
TEST_F(RunModeTest, DisplayModeWritesNoFirstStartSettingsAndShrinksItsLinesInAPreview) {
    test::TempConfigHome fresh;
    const auto linesIn = [&](QSize window, QSize whole) {
        TavlinOptions options = test::windowOptions(platform, exits);
        options.screenPixels = window;
        options.wholeScreenPixels = whole;
        auto w = std::make_unique<Tavlin>(options);
        auto d = test::drive(*w);
        shown = d.start(parseCommandLine({"-window-id", "0x400001", "-folder", dir.path()}));
        EXPECT_TRUE(shown);
        EXPECT_TRUE(test::waitForPicture(*w));
        for (Part line : {Part::FileLine, Part::NumberLine, Part::WidthLine, Part::HeightLine,
                          Part::FileSizeLine})
            EXPECT_LE(d.part(line)->geometry().bottom(), window.height())
                << d.text(line).toStdString();
        return std::pair(d.part(Part::FileLine)->font().pointSizeF(),
                         d.part(Part::WidthLine)->font().pointSizeF());
    };
    const auto full = linesIn({1920, 1080}, {});
    const auto preview = linesIn({1440, 810}, {1920, 1080});
    EXPECT_NEAR(preview.first, full.first * 0.75, 0.01);
    EXPECT_NEAR(preview.second, full.second * 0.75, 0.01);
    EXPECT_FALSE(QFileInfo::exists(test::hiveFile()));
    EXPECT_TRUE(QDir(fresh.path()).isEmpty());
}

} // namespace
