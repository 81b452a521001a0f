// The screensaver's picture tree: every picture under a folder, links kept inside the tree.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/testsupport.h"
#include "viewer/picturetree.h"

using namespace tavlin;

TEST(PictureTree, ListsEveryPictureUnderTheFolderAndFollowsNoLinkOutOrRound) {
    QTemporaryDir dir;
    QTemporaryDir outside;
    const QDir root(dir.path());
    for (const char* folder : {"sub/deeper", "sub 10", "sub 9", ".hidden", "empty"})
        ASSERT_TRUE(root.mkpath(folder));
    for (const char* file : {"a.jpg", "sub/b.jpg", "sub/deeper/c.JPG", "sub 10/x.gif",
                             "sub 9/y.bmp", ".hidden/d.jpg", ".e.jpg", "notes.txt"})
        test::writeFile(root.filePath(file), "x");
    test::writeFile(QDir(outside.path()).filePath("far.jpg"), "x");
    ASSERT_TRUE(QFile::link(root.path(), root.filePath("sub/loop"))); // round
    ASSERT_TRUE(QFile::link(outside.path(), root.filePath("away")));  // out, a folder
    ASSERT_TRUE(QFile::link(QDir(outside.path()).filePath("far.jpg"), root.filePath("far.jpg")));
    ASSERT_TRUE(QFile::link(root.filePath("sub/b.jpg"), root.filePath("link.jpg"))); // inside

    QStringList told;
    int tellings = 0;
    const QStringList pictures =
        listPictureTree(root.path(), NamePattern(QStringLiteral("*.jpg;*.jpeg;*.jpe;*.bmp;*.gif")),
                        [&](const QStringList& soFar) {
                            told = soFar;
                            ++tellings;
                        });
    EXPECT_EQ(pictures, (QStringList{"a.jpg", "link.jpg", "sub/b.jpg", "sub/deeper/c.JPG",
                                     "sub 9/y.bmp", "sub 10/x.gif"}));
    EXPECT_EQ(told, pictures);
    EXPECT_EQ(tellings, 5) << "once for each folder that added pictures";

    // Stopped before it starts: nothing.
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(
        listPictureTree(root.path(), NamePattern(QStringLiteral("*.jpg")), {}, &stop).isEmpty());
}
