#include <gtest/gtest.h>
#include <map>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/defaultfolder.h"
#include "platform/hivestore.h"
#include "platform/hivestore_text.h"
#include "registry/registrymanager.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

const QString kKey = QStringLiteral("Software\\Zan\\Tavlin");

// Every value under the settings key, by its stored name, as text without the terminator.
std::map<QString, QString> storedValues() {
    const hivestore::HiveParse parse =
        hivestore::parseHive(test::readAll(test::hiveFile()), QStringLiteral("HKEY_CURRENT_USER"));
    EXPECT_TRUE(parse.badLines.isEmpty());
    std::map<QString, QString> values;
    if (const hivestore::HiveKeyEntry* entry = parse.tree.find(kKey.split(u'\\'))) {
        for (const auto& [folded, value] : entry->values) {
            EXPECT_EQ(value.type, regtype::Sz) << value.name.toStdString();
            QByteArray data = value.data;
            EXPECT_TRUE(data.endsWith('\0'));
            data.chop(1);
            values[value.name] = QString::fromUtf8(data);
        }
    }
    return values;
}

// A complete set of stored values that differ from every first-start value.
std::map<QString, QString> laterValues(const QString& folder) {
    return {
        {QStringLiteral("Show Controls"), QStringLiteral("false")},
        {QStringLiteral("Center Picture"), QStringLiteral("TRUE")},
        {QStringLiteral("Stretch Picture"), QStringLiteral("false")},
        {QStringLiteral("Loop Slideshow"), QStringLiteral("True")},
        {QStringLiteral("Play Slideshow Sound"), QStringLiteral("yes")},
        {QStringLiteral("Last Directory"), folder},
        {QStringLiteral("Working Directory"), QStringLiteral("/opt/tavlin")},
        {QStringLiteral("Show Dimensions"), QStringLiteral("1")},
        {QStringLiteral("Show File Size"), QStringLiteral("true")},
        {QStringLiteral("Loop Seconds"), QStringLiteral("7")},
        {QStringLiteral("Show Filename"), QStringLiteral("on")},
        {QStringLiteral("Show Picture Number"), QString()},
    };
}

} // namespace

TEST(SettingsText, LoopSecondsAreClampedIntoOneToThirty) {
    const std::pair<const char*, int> cases[] = {
        {"7", 7},   {"1", 1},   {"30", 30},  {"0", 1},
        {"45", 30}, {"abc", 1}, {"", 1},     {"-3", 1},
        {"7.5", 8}, {"6.5", 6}, {"12x", 12}, {"  9", 9},
        {"+4", 4},  {".6", 1},  {"2.6", 3},  {"99999999999999999999999", 30},
        {"1e3", 1}, {"٣", 1},
    };
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(LoopSecondsFromText(QString::fromUtf8(text)), seconds) << text;
}

TEST(SettingsText, SwitchesAreOnOnlyForTrueInAnyLetterCase) {
    for (const char* on : {"true", "TRUE", "True", "tRuE"})
        EXPECT_TRUE(SwitchIsOn(QString::fromUtf8(on))) << on;
    for (const char* off : {"false", "", "yes", "1", "on", " true", "true "})
        EXPECT_FALSE(SwitchIsOn(QString::fromUtf8(off))) << off;
    EXPECT_EQ(SwitchText(true), QStringLiteral("true"));
    EXPECT_EQ(SwitchText(false), QStringLiteral("false"));
}

TEST(Settings, FirstStartStoresTheTwelveDefaults) {
    test::TempConfigHome home;
    const Settings s = LoadRegistrySettings(QString());
    Settings expected;
    expected.lastDirectory = DefaultFolder();
    expected.workingDirectory = QDir::toNativeSeparators(QDir::currentPath());
    expected.loopSeconds = 10;
    EXPECT_EQ(s, expected);

    const std::map<QString, QString> want = {
        {QStringLiteral("Show Controls"), QStringLiteral("true")},
        {QStringLiteral("Center Picture"), QStringLiteral("true")},
        {QStringLiteral("Stretch Picture"), QStringLiteral("true")},
        {QStringLiteral("Loop Slideshow"), QStringLiteral("true")},
        {QStringLiteral("Play Slideshow Sound"), QStringLiteral("true")},
        {QStringLiteral("Last Directory"), DefaultFolder()},
        {QStringLiteral("Working Directory"), expected.workingDirectory},
        {QStringLiteral("Show Dimensions"), QStringLiteral("true")},
        {QStringLiteral("Show File Size"), QStringLiteral("true")},
        {QStringLiteral("Loop Seconds"), QStringLiteral("5")},
        {QStringLiteral("Show Filename"), QStringLiteral("true")},
        {QStringLiteral("Show Picture Number"), QStringLiteral("true")},
    };
    EXPECT_EQ(storedValues(), want);

    // The next start finds the key and takes the stored 5 seconds.
    EXPECT_EQ(LoadRegistrySettings(QString()).loopSeconds, 5);
}

TEST(Settings, FolderOnTheCommandLineOpensOnTheFirstStartToo) {
    test::TempConfigHome home;
    QTemporaryDir pictures;
    EXPECT_EQ(LoadRegistrySettings(pictures.path()).lastDirectory, pictures.path());
}

TEST(Settings, LaterStartRestoresWhatIsStored) {
    test::TempConfigHome home;
    QTemporaryDir pictures;
    const QString folder = pictures.filePath(QStringLiteral("À trier"));
    ASSERT_TRUE(QDir().mkpath(folder));
    test::storeSettings(laterValues(folder));
    const std::map<QString, QString> before = storedValues();

    const Settings s = LoadRegistrySettings(QString());
    EXPECT_FALSE(s.showControls);
    EXPECT_TRUE(s.centerPicture);
    EXPECT_FALSE(s.stretchPicture);
    EXPECT_TRUE(s.loopSlideshow);
    EXPECT_FALSE(s.playSlideshowSound);
    EXPECT_EQ(s.lastDirectory, folder);
    EXPECT_EQ(s.workingDirectory, QStringLiteral("/opt/tavlin"));
    EXPECT_FALSE(s.showDimensions);
    EXPECT_TRUE(s.showFileSize);
    EXPECT_EQ(s.loopSeconds, 7);
    EXPECT_FALSE(s.showFilename);
    EXPECT_FALSE(s.showPictureNumber);
    EXPECT_EQ(storedValues(), before) << "a later start writes nothing while the folder exists";
}

TEST(Settings, MissingValuesLoadAsOffAndOneSecond) {
    test::TempConfigHome home;
    test::storeSettings({});
    const Settings s = LoadRegistrySettings(QString());
    EXPECT_FALSE(s.showControls || s.centerPicture || s.stretchPicture || s.loopSlideshow ||
                 s.playSlideshowSound || s.showDimensions || s.showFileSize || s.showFilename ||
                 s.showPictureNumber);
    EXPECT_EQ(s.loopSeconds, 1);
    EXPECT_TRUE(s.workingDirectory.isEmpty());
    EXPECT_EQ(s.lastDirectory, DefaultFolder());
    EXPECT_EQ(storedValues().at(QStringLiteral("Last Directory")), DefaultFolder());
}

TEST(Settings, LastFolderAndCommandLine) {
    QTemporaryDir pictures;
    const QString stored = pictures.filePath(QStringLiteral("stored"));
    const QString given = pictures.filePath(QStringLiteral("given"));
    const QString gone = pictures.filePath(QStringLiteral("gone"));
    const QString file = pictures.filePath(QStringLiteral("cat.jpg"));
    ASSERT_TRUE(QDir().mkpath(stored));
    ASSERT_TRUE(QDir().mkpath(given));
    test::writeFile(file, "x");
    const struct {
        const char* what;
        QString lastDirectory;
        QString commandLine;
        QString loaded;
        QString storedAfter;
    } cases[] = {
        {"stored folder", stored, QString(), stored, stored},
        {"command-line folder wins", stored, given, given, stored},
        {"quoted command line is no folder", stored, u'"' + given + u'"', stored, stored},
        {"a file on the command line is no folder", stored, file, stored, stored},
        {"deleted folder falls back to the default folder", gone, QString(), DefaultFolder(),
         DefaultFolder()},
        {"command line rescues a deleted folder", gone, given, given, gone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempConfigHome home;
        test::storeSettings({{QStringLiteral("Last Directory"), c.lastDirectory}});
        EXPECT_EQ(LoadRegistrySettings(c.commandLine).lastDirectory, c.loaded);
        EXPECT_EQ(storedValues().at(QStringLiteral("Last Directory")), c.storedAfter);
    }
}

TEST(Settings, SaveWritesElevenValuesAndLoadGetsThemBack) {
    test::TempConfigHome home;
    QTemporaryDir pictures;
    LoadRegistrySettings(QString());
    const QString workingDirectory = storedValues().at(QStringLiteral("Working Directory"));

    Settings s;
    s.showControls = false;
    s.centerPicture = false;
    s.loopSlideshow = false;
    s.showFileSize = false;
    s.showPictureNumber = false;
    s.lastDirectory = pictures.path();
    s.workingDirectory = QStringLiteral("/somewhere/else");
    s.loopSeconds = 23;
    ASSERT_TRUE(SaveRegistrySettings(s));

    const std::map<QString, QString> values = storedValues();
    EXPECT_EQ(values.size(), 12u);
    EXPECT_EQ(values.at(QStringLiteral("Working Directory")), workingDirectory);
    EXPECT_EQ(values.at(QStringLiteral("Show Controls")), QStringLiteral("false"));
    EXPECT_EQ(values.at(QStringLiteral("Stretch Picture")), QStringLiteral("true"));
    EXPECT_EQ(values.at(QStringLiteral("Loop Seconds")), QStringLiteral("23"));

    Settings expected = s;
    expected.workingDirectory = workingDirectory;
    EXPECT_EQ(LoadRegistrySettings(QString()), expected);
}

TEST(Settings, SaveNeverCreatesTheKey) {
    test::TempConfigHome home;
    Settings s;
    s.lastDirectory = DefaultFolder();
    EXPECT_FALSE(SaveRegistrySettings(s));
    EXPECT_FALSE(SaveScreensaverSettings(s));
    EXPECT_TRUE(storedValues().empty());
}

// The six values shared with the viewer and the screensaver's own two; the viewer's other
// values stay as they were.
TEST(Settings, ScreensaverDialogStoresOnlyItsOwnValues) {
    test::TempConfigHome home;
    QTemporaryDir pictures;
    test::storeSettings(laterValues(QStringLiteral("/before")));
    Settings s;
    s.showControls = true;
    s.stretchPicture = true;
    s.playSlideshowSound = true;
    s.lastDirectory = pictures.path();
    s.workingDirectory = QStringLiteral("/not/stored");
    s.showDimensions = true;
    s.showFileSize = false;
    s.loopSeconds = 12;
    s.showFilename = true;
    s.showPictureNumber = true;
    s.shuffle = true;
    ASSERT_TRUE(SaveScreensaverSettings(s));

    std::map<QString, QString> expected = laterValues(QStringLiteral("/before"));
    expected[QStringLiteral("Last Directory")] = pictures.path();
    expected[QStringLiteral("Show Dimensions")] = QStringLiteral("true");
    expected[QStringLiteral("Show File Size")] = QStringLiteral("false");
    expected[QStringLiteral("Loop Seconds")] = QStringLiteral("12");
    expected[QStringLiteral("Show Filename")] = QStringLiteral("true");
    expected[QStringLiteral("Show Picture Number")] = QStringLiteral("true");
    expected[QStringLiteral("Shuffle")] = QStringLiteral("true");
    expected[QStringLiteral("Include Subfolders")] = QStringLiteral("false");
    EXPECT_EQ(storedValues(), expected);
    const Settings loaded = LoadRegistrySettings(QString());
    EXPECT_TRUE(loaded.shuffle);
    EXPECT_FALSE(loaded.includeSubfolders);
}

TEST(Settings, ReadOnlySettingsFileStillLoads) {
    test::TempConfigHome home;
    QTemporaryDir pictures;
    test::storeSettings(laterValues(pictures.path()));
    const QByteArray before = test::readAll(test::hiveFile());
    test::ReadOnlyFile readOnly(test::hiveFile());
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a file read-only for this user here (chattr +i refused)";
    const Settings s = LoadRegistrySettings(QString());
    EXPECT_EQ(s.loopSeconds, 7);
    EXPECT_FALSE(s.showControls);
    EXPECT_EQ(s.lastDirectory, pictures.path());
    EXPECT_FALSE(SaveRegistrySettings(s));
    EXPECT_EQ(test::readAll(test::hiveFile()), before);
}

TEST(Settings, UnreadableSettingsFileRunsWithDefaultsAndIsKept) {
    test::TempConfigHome home;
    // A folder in the file's place cannot be read even by root.
    ASSERT_TRUE(QDir().mkpath(test::hiveFile()));
    testing::internal::CaptureStderr();
    const Settings s = LoadRegistrySettings(QString());
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(s.showControls && s.centerPicture);
    EXPECT_EQ(s.loopSeconds, 10);
    EXPECT_EQ(s.lastDirectory, DefaultFolder());
    EXPECT_NE(report.find("cannot be read"), std::string::npos) << report;
    EXPECT_FALSE(SaveRegistrySettings(s));
    EXPECT_TRUE(QFileInfo(test::hiveFile()).isDir());
}
