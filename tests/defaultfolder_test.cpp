// The first start and a stored folder that is gone open the user's Pictures
// folder, or the home folder where there is none.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "app/commandline.h"
#include "platform/defaultfolder.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/tavlin.h"

using namespace tavlin;

namespace {

// HOME pointed at a temporary folder for the life of the object.
class TempHome {
public:
    TempHome() : saved_(qgetenv("HOME")) {
        QDir(dir_.path()).mkpath(QStringLiteral("home"));
        qputenv("HOME", path().toLocal8Bit());
    }
    ~TempHome() { qputenv("HOME", saved_); }
    QString path() const { return QDir(dir_.path()).filePath(QStringLiteral("home")); }
    QString file(const QString& name) const { return QDir(path()).filePath(name); }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
};

TEST(DefaultFolder, PicturesWhenThereElseHome) {
    test::TempConfigHome config;
    TempHome home;
    EXPECT_EQ(DefaultFolder(), home.path());

    ASSERT_TRUE(QDir().mkpath(home.file("Pictures")));
    EXPECT_EQ(DefaultFolder(), home.file("Pictures"));

    // A desktop in another language names the folder in user-dirs.dirs.
    ASSERT_TRUE(QDir().mkpath(home.file("Bilder")));
    test::writeFile(QDir(config.path()).filePath("user-dirs.dirs"),
                    "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(DefaultFolder(), home.file("Bilder"));
    ASSERT_TRUE(QDir(home.file("Bilder")).removeRecursively());
    EXPECT_EQ(DefaultFolder(), home.path());

    ASSERT_TRUE(QDir(home.path()).removeRecursively());
    EXPECT_EQ(DefaultFolder(), QDir::rootPath());
}

TEST(DefaultFolder, FirstStartAndAVanishedFolderOpenPictures) {
    test::TempConfigHome config;
    TempHome home;
    ASSERT_TRUE(QDir().mkpath(home.file("Pictures")));

    test::CountingPlatform platform;
    int exits = 0;
    {
        Tavlin window(test::windowOptions(platform, exits));
        auto d = test::drive(window);
        ASSERT_TRUE(d.start(parseCommandLine({})));
        EXPECT_EQ(d.folder(), home.file("Pictures"));
    }

    // The stored folder is gone: Pictures again, and stored back.
    Settings s = LoadRegistrySettings(QString());
    s.lastDirectory = home.file("gone");
    ASSERT_TRUE(SaveRegistrySettings(s));
    EXPECT_EQ(LoadRegistrySettings(QString()).lastDirectory, home.file("Pictures"));
    EXPECT_EQ(LoadRegistrySettings(QString()).lastDirectory, home.file("Pictures"));

    // Without a Pictures folder the home folder.
    ASSERT_TRUE(QDir(home.file("Pictures")).removeRecursively());
    EXPECT_EQ(LoadRegistrySettings(QString()).lastDirectory, home.path());
}

} // namespace
