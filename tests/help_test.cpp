#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "desktop/help.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

// Restores the process's current folder, which some cases change.
class HelpTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(working.isValid() && elsewhere.isValid()); }
    void TearDown() override { QDir::setCurrent(saved); }

    QString helpIn(const QTemporaryDir& dir) const {
        return QDir(dir.path()).filePath(QString::fromLatin1(kHelpFileName));
    }

    QString saved = QDir::currentPath();
    QTemporaryDir working;
    QTemporaryDir elsewhere;
    test::CountingPlatform platform;
};

} // namespace

TEST_F(HelpTest, OpensTheDocumentInTheWorkingDirectory) {
    test::writeFile(helpIn(working), "<html><body>help</body></html>");
    QDir::setCurrent(elsewhere.path()); // the working directory, not the current folder, counts
    EXPECT_TRUE(OpenHelpFile(working.path(), platform));
    ASSERT_EQ(platform.openedUrls.size(), 1);
    EXPECT_EQ(platform.openedUrls.front(), QUrl::fromLocalFile(helpIn(working)));
    EXPECT_TRUE(platform.openedUrls.front().isLocalFile());
}

TEST_F(HelpTest, WithoutAWorkingDirectoryTheCurrentFolderIsUsed) {
    test::writeFile(helpIn(elsewhere), "<html></html>");
    QDir::setCurrent(elsewhere.path());
    EXPECT_TRUE(OpenHelpFile(QString(), platform));
    ASSERT_EQ(platform.openedUrls.size(), 1);
    EXPECT_EQ(platform.openedUrls.front().toLocalFile(),
              QFileInfo(helpIn(elsewhere)).absoluteFilePath());
}

TEST_F(HelpTest, MissingHelpOpensNothing) {
    // A folder of that name is no document either.
    QDir(elsewhere.path()).mkdir(QString::fromLatin1(kHelpFileName));
    for (const QString& dir :
         {working.path(), elsewhere.path(), QStringLiteral("/no/such/folder")}) {
        EXPECT_FALSE(OpenHelpFile(dir, platform)) << dir.toStdString();
    }
    EXPECT_TRUE(platform.openedUrls.isEmpty());
}

TEST(HelpFileCandidates, WorkingDirectoryFirstThenBesideTheProgramThenItsData) {
    EXPECT_EQ(helpFileCandidates(QStringLiteral("/home/u/pics"), QStringLiteral("/usr/bin")),
              (QStringList{"/home/u/pics/Tavlin.html", "/usr/bin/Tavlin.html",
                           "/usr/share/tavlin/help/Tavlin.html"}));
    EXPECT_EQ(helpFileCandidates(QStringLiteral("/opt/t"), QStringLiteral("/opt/t")),
              (QStringList{"/opt/t/Tavlin.html", "/opt/share/tavlin/help/Tavlin.html"}));
}

TEST(HelpDocument, ShipsWithTheProgram) {
    QFile help(QDir(test::sourceDir()).filePath(QStringLiteral("assets/help/Tavlin.html")));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly)) << help.fileName().toStdString();
    const QString text = QString::fromUtf8(help.readAll());
    for (const char* topic : {"<title>", "F1", "F12", "Escape", "tavlin /s", "tavlin /c",
                              "Batch Rename", "HKEY_CURRENT_USER.reg"})
        EXPECT_TRUE(text.contains(QLatin1String(topic))) << topic;
}
