#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/commandline.h"
#include "support/testsupport.h"

using namespace tavlin;

TEST(CommandLine, FirstTwoCharactersChooseTheRunMode) {
    const struct {
        const char* line;
        RunMode mode;
    } cases[] = {
        {"/p", RunMode::Preview},        {"/P 1234", RunMode::Preview},
        {"/s", RunMode::Screensaver},    {"/S:123", RunMode::Screensaver},
        {"/sx", RunMode::Screensaver},   {"-s", RunMode::Screensaver},
        {"/c:1234", RunMode::Settings},  {"-C", RunMode::Settings},
        {"-p", RunMode::Preview},        {"", RunMode::Viewer},
        {"/x", RunMode::Viewer},         {"/", RunMode::Viewer},
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
}
