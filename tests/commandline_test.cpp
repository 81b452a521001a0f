#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>

#include "app/commandline.h"
#include "platform/display.h"
#include "platform/filenames.h"
#include "support/testsupport.h"

using namespace tavlin;

TEST(CommandLine, OnlyTheExactSwitchesChooseARunMode) {
    const struct {
        const char* line;
        RunMode mode;
    } cases[] = {
        {"/p", RunMode::Preview},
        {"/P 1234", RunMode::Preview},
        {"-p 77", RunMode::Preview},
        {"/s", RunMode::Screensaver},
        {"-S", RunMode::Screensaver},
        {"/c", RunMode::Settings},
        {"/c:1234", RunMode::Settings},
        {"-C", RunMode::Settings},
        {"-c:9", RunMode::Settings},
        {"", RunMode::Viewer},
        // Absolute paths start with "/": a path that begins like a switch is a path.
        {"/srv/photos-not-mounted", RunMode::Viewer},
        {"/pictures/holiday", RunMode::Viewer},
        {"/sx", RunMode::Viewer},
        {"/S:123", RunMode::Viewer},
        {"/c:12x", RunMode::Viewer},
        {"/p x", RunMode::Viewer},
        {"/x", RunMode::Viewer},
        {"/", RunMode::Viewer},
        {"photos", RunMode::Viewer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(runModeOf(QString::fromUtf8(c.line)), c.mode);
        EXPECT_EQ(parseCommandLine(QString::fromUtf8(c.line).split(' ', Qt::SkipEmptyParts)).mode,
                  c.mode);
    }
}

TEST(CommandLine, ExistingFolderOrPictureOpensInTheViewer) {
    QTemporaryDir dir;
    // A folder whose name looks like a switch is still a folder.
    ASSERT_TRUE(QDir(dir.path()).mkpath("-s"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("My Pictures"));
    test::writeFile(dir.filePath("My Pictures/beach one.jpg"), "x");

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const StartRequest switchLike = parseCommandLine({"-s"});
    QDir::setCurrent(previous);
    EXPECT_EQ(switchLike.mode, RunMode::Viewer);
    EXPECT_EQ(switchLike.folder, QDir(dir.path()).filePath("-s"));

    // Arguments are joined by single blanks, so a path with a blank arrives whole.
    const StartRequest folder = parseCommandLine(dir.filePath("My Pictures").split(' '));
    EXPECT_EQ(folder.mode, RunMode::Viewer);
    EXPECT_EQ(folder.folder, dir.filePath("My Pictures"));
    EXPECT_TRUE(folder.picture.isEmpty());

    const StartRequest picture = parseCommandLine({dir.filePath("My Pictures/beach one.jpg")});
    EXPECT_EQ(picture.folder, dir.filePath("My Pictures"));
    EXPECT_EQ(picture.picture, "beach one.jpg");

    EXPECT_EQ(parseCommandLine({dir.filePath("missing")}).folder, QString());

    // "Open with" on several files passes each as an argument: the first one's folder opens
    // with that picture shown, and nothing else is refused.
    test::writeFile(dir.filePath("My Pictures/two.jpg"), "x");
    const QStringList several{dir.filePath("My Pictures/two.jpg"),
                              dir.filePath("My Pictures/beach one.jpg"), dir.filePath("gone.jpg")};
    const StartRequest first = parseCommandLine(several);
    EXPECT_EQ(first.mode, RunMode::Viewer);
    EXPECT_EQ(first.folder, dir.filePath("My Pictures"));
    EXPECT_EQ(first.picture, "two.jpg");
    EXPECT_FALSE(earlyExitFor(several).has_value());
    // A first path that is not there is refused.
    EXPECT_TRUE(
        earlyExitFor({dir.filePath("gone.jpg"), dir.filePath("My Pictures/two.jpg")}).has_value());

    // A folder and a picture whose names are not UTF-8 open under their own bytes.
    const QByteArray oddFolder = encodeFileName(dir.path()) + "/old\xe9"
                                                              "disk";
    ASSERT_EQ(::mkdir(oddFolder.constData(), 0755), 0);
    std::FILE* f = std::fopen((oddFolder + "/a\xff.jpg").constData(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const StartRequest odd = parseCommandLine({decodeFileName(oddFolder)});
    EXPECT_EQ(encodeFileName(odd.folder), oddFolder);
    const StartRequest oddPicture = parseCommandLine({decodeFileName(oddFolder + "/a\xff.jpg")});
    EXPECT_EQ(encodeFileName(oddPicture.folder), oddFolder);
    EXPECT_EQ(encodeFileName(oddPicture.picture), QByteArray("a\xff.jpg"));
}

TEST(CommandLine, ConventionalOptionsEndBeforeAnyWindow) {
    const struct {
        QStringList args;
        int exitCode;
        const char* outStart; // first characters of standard output
        const char* errStart; // first characters of standard error
    } cases[] = {
        {{"--help"}, 0, "Usage: tavlin", ""},
        {{"-h"}, 0, "Usage: tavlin", ""},
        {{"/s", "--help"}, 0, "Usage: tavlin", ""},
        {{"--version"}, 0, "Tavlin 2.0.109\n", ""},
        {{"--frobnicate"}, 2, "", "tavlin: unknown option '--frobnicate' (see tavlin --help)\n"},
        {{"-x"}, 2, "", "tavlin: unknown option '-x' (see tavlin --help)\n"},
        {{"-sx"}, 2, "", "tavlin: unknown option '-sx' (see tavlin --help)\n"},
        {{"/srv/photos-not-mounted"},
         2,
         "",
         "tavlin: \u201c/srv/photos-not-mounted\u201d does not exist"},
        {{"/pictures/holiday", "2024"},
         2,
         "",
         "tavlin: \u201c/pictures/holiday 2024\u201d does not exist"},
        {{"-window-id"}, 2, "", "tavlin: -window-id needs a window number"},
        {{"-window-id", "0xzz"}, 2, "", "tavlin: -window-id needs a window number"},
        {{"-root", "-seconds", "31"}, 2, "", "tavlin: -seconds needs a whole number from 1 to 30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto early = earlyExitFor(c.args);
        ASSERT_TRUE(early.has_value());
        EXPECT_EQ(early->exitCode, c.exitCode);
        const QString out = QString::fromUtf8(c.outStart), err = QString::fromUtf8(c.errStart);
        EXPECT_EQ(early->out.left(out.size()), out);
        EXPECT_EQ(early->err.left(err.size()), err);
        EXPECT_EQ(early->out.isEmpty(), *c.outStart == '\0');
        // A refusal is one line, not the whole help.
        if (c.exitCode != 0) {
            EXPECT_EQ(early->err.count(QLatin1Char('\n')), 1);
        }
    }
    // The usage names every run mode, switch and key.
    for (const char* word :
         {"/s", "/c", "/p", "-root", "-window-id", "XSCREENSAVER_WINDOW", "--version", "Right",
          "Space", "BackSpace", "Home", "End", "F11", "Delete", "Shift+Delete", "Trash", "Ctrl+P"})
        EXPECT_TRUE(usageText().contains(QString::fromUtf8(word))) << word;
    // The old switches, a folder and a picture run.
    for (const QStringList& args :
         {QStringList{}, QStringList{"/s"}, QStringList{"-c"}, QStringList{"/p", "1234"},
          QStringList{"/C:42"}, QStringList{"-root"}, QStringList{"-window-id", "4242"}})
        EXPECT_FALSE(earlyExitFor(args).has_value()) << args.join(' ').toStdString();

    // A folder called "--help" is a folder.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("--help"));
    EXPECT_FALSE(earlyExitFor({dir.filePath("--help")}).has_value());
}

TEST(CommandLine, XscreensaverSwitchesChooseTheDisplayMode) {
    const struct {
        QStringList args;
        const char* environment; // XSCREENSAVER_WINDOW
        std::uint64_t windowId;
        const char* folder;
        int seconds;
    } cases[] = {
        {{"-root"}, "", 0, "", 0},
        {{"-root"}, "0x1e00007", 0x1e00007, "", 0},
        {{"-root"}, "31457287", 31457287, "", 0},
        {{"-window-id", "0x2A"}, "", 42, "", 0},
        {{"-window-id", "42"}, "0x99", 42, "", 0},
        {{"-root", "-folder", "/srv/pictures", "-seconds", "7"}, "0x10", 16, "/srv/pictures", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const StartRequest request = parseCommandLine(c.args, QString::fromUtf8(c.environment));
        EXPECT_EQ(request.mode, RunMode::Display);
        EXPECT_EQ(request.windowId, c.windowId);
        EXPECT_EQ(request.displayFolder, QString::fromUtf8(c.folder));
        EXPECT_EQ(request.displaySeconds, c.seconds);
    }
    EXPECT_TRUE(earlyExitFor({"-root"}, "not-a-window").has_value());
    for (const char* bad : {"", "0", "0x", "-5", "12abc", "0x100000000"})
        EXPECT_FALSE(parseWindowId(QString::fromUtf8(bad)).has_value()) << bad;
}

TEST(CommandLine, AWindowToDrawInOnADisplayThatCannotBeReachedSaysWhichDisplay) {
    // Whatever else the environment names, the window's own display is the one reported.
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", ":4242");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    QString error;
    const auto window = ForeignWindow::open(0x1234, &error);
    qputenv("DISPLAY", display);
    qputenv("WAYLAND_DISPLAY", wayland);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(error, QStringLiteral("cannot open the display \":4242\""));
}
