#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/exists.h"
#include "support/testsupport.h"

using namespace tavlin;

TEST(Exists, AnswersForThePathExactlyAsGiven) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("À trier"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString picture = folder + QStringLiteral("/cat.jpg");
    test::writeFile(picture, "not really a picture");
    ASSERT_TRUE(QFile::link(folder, dir.filePath(QStringLiteral("folder link"))));
    ASSERT_TRUE(QFile::link(picture, dir.filePath(QStringLiteral("file link"))));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("gone")),
                            dir.filePath(QStringLiteral("dangling"))));

    const struct {
        QString path;
        bool folder;
        bool file;
    } cases[] = {
        {QDir::rootPath(), true, false},
        {folder, true, false},
        {folder + u'/', true, false},
        {picture, false, true},
        {picture + u'/', false, false},
        {u'"' + folder + u'"', false, false},
        {u' ' + folder, false, false},
        {dir.filePath(QStringLiteral("folder link")), true, false},
        {dir.filePath(QStringLiteral("file link")), false, true},
        {dir.filePath(QStringLiteral("dangling")), false, false},
        {dir.filePath(QStringLiteral("missing")), false, false},
        {QString(), false, false},
        {folder + QChar(u'\0') + QStringLiteral("x"), false, false},
        {picture + QChar(u'\0'), false, false},
        {QString(5000, u'a'), false, false},
        {QStringLiteral("/dev/null"), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.left(80).toStdString());
        EXPECT_EQ(FolderExists(c.path), c.folder);
        EXPECT_EQ(FileExists(c.path), c.file);
    }
}
