// The settings file as a hostile input, and the ways a save can fail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include "platform/hivestore.h"
#include "platform/hivestore_text.h"
#include "registry/registrymanager.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;
using namespace tavlin::hivestore;

namespace {

const QString kSettingsPath = QStringLiteral("Software\\Zan\\Tavlin");
const QByteArray kHeader = "Windows Registry Editor Version 5.00\n\n";
const QByteArray kSection = "[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n";

QByteArray valueOf(const QString& name, long* status = nullptr) {
    HiveKey key;
    QByteArray data;
    long s = openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyRead, key);
    if (s == regstatus::Success)
        s = queryValue(key, name, nullptr, &data, nullptr);
    if (status)
        *status = s;
    return data;
}

QStringList damagedCopies() {
    return QDir(folder()).entryList({QStringLiteral("HKEY_CURRENT_USER.reg.damaged-*")});
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

// Every file here holds a good value before and after its hostile part: those load, the
// hostile part is left out, and the first save keeps the file as it was in a dated copy.
TEST(HiveStoreHostile, AnyContentLoadsWhatItCanAndIsKeptBeforeTheRewrite) {
    QByteArray deep = "[HKEY_CURRENT_USER";
    for (int i = 0; i < 10000; ++i)
        deep += "\\k";
    deep += "]\n\"Deep\"=\"lost\"\n";
    QByteArray wideHex = "\"Wide\"=hex:";
    for (int i = 0; i < 2 * int(limits::maxValueBytes); ++i)
        wideHex += i % 25 == 24 ? "00,\\\n  " : "00,";
    wideHex += "00\n";
    const struct {
        const char* what;
        QByteArray hostile;
    } cases[] = {
        {"binary junk", QByteArray("\x00\x01\xff\xfe[\x00]\x80=\"\"\x7f\n\x89PNG\r\n\x1a\n", 20)},
        {"NUL bytes in a key and a value name",
         QByteArray("[HKEY_CURRENT_USER\\a\0b]\n\"Nul\"=\"x\"\n", 34) + kSection +
             QByteArray("\"N\0l\"=\"x\"\n", 10)},
        {"invalid UTF-8", "\"Bad\"=\"\xc3\x28\xed\xa0\x80\"\n\"\xff\"=\"x\"\n"},
        {"a 100 MB value on one line", "\"Huge\"=\"" + QByteArray(100 << 20, 'h') + "\"\n"},
        {"a value over the size limit",
         "\"Big\"=\"" + QByteArray(limits::maxValueBytes + 1, 'b') + "\"\n"},
        {"a hex list over the size limit", wideHex},
        {"a key nested 10,000 deep", deep},
        {"an unterminated hex continuation", "\"Cut\"=hex:01,02,\\\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The 100 MB file and its kept copy are written and synced; in RAM that is quick,
        // where the RAM disk has room for them (a container's may hold only 64 MB).
        const QString ramDisk = QStringLiteral("/dev/shm");
        const QStorageInfo ram(ramDisk);
        const bool roomy = QFileInfo(ramDisk).isWritable() && ram.isValid() &&
                           ram.bytesAvailable() > (512LL << 20);
        test::TempConfigHome home(roomy ? ramDisk : QString());
        ASSERT_TRUE(QDir().mkpath(folder()));
        const QByteArray file = kHeader + kSection + "\"Before\"=\"kept\"\n" + c.hostile +
                                kSection + "\"After\"=\"kept too\"\n";
        test::writeFile(test::hiveFile(), file);

        testing::internal::CaptureStderr();
        EXPECT_EQ(valueOf(QStringLiteral("Before")), QByteArray("kept", 5));
        EXPECT_EQ(valueOf(QStringLiteral("After")), QByteArray("kept too", 9));
        for (const char* name : {"Huge", "Big", "Wide", "Deep", "Cut", "Nul"}) {
            long status = 0;
            valueOf(QLatin1String(name), &status);
            EXPECT_EQ(status, regstatus::NotFound) << name;
        }
        HiveKey key;
        ASSERT_EQ(openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyWrite, key),
                  regstatus::Success);
        ASSERT_EQ(setValue(key, QStringLiteral("Saved"), regtype::Sz, "yes"), regstatus::Success);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("could not be read"), std::string::npos) << said.substr(0, 300);

        const QStringList copies = damagedCopies();
        ASSERT_EQ(copies.size(), 1);
        EXPECT_TRUE(test::readAll(QDir(folder()).filePath(copies.first())) == file);
        const HiveParse after =
            parseHive(test::readAll(test::hiveFile()), hiveName(hkey::CurrentUser));
        EXPECT_EQ(after.badLineCount, 0);
        EXPECT_EQ(valueOf(QStringLiteral("Before")), QByteArray("kept", 5));
        EXPECT_EQ(valueOf(QStringLiteral("Saved")), QByteArray("yes"));
    }
}

// Headers each one level deeper than the last, with a value in every section: keys down to
// the depth limit load and are saved again; deeper ones, and the values under them, are left
// out and said to be too deep.
TEST(HiveStoreHostile, KeysDeeperThanTheLimitAreLeftOutAndSaidSo) {
    test::TempConfigHome home;
    ASSERT_TRUE(QDir().mkpath(folder()));
    QByteArray file = kHeader + kSection + "\"Before\"=\"kept\"\n";
    QByteArray header = "[HKEY_CURRENT_USER";
    QStringList path;
    constexpr int kLevels = 3000;
    for (int depth = 1; depth <= kLevels; ++depth) {
        header += "\\k";
        // Leading blanks still make a header, and one that is too deep.
        file += (depth % 2 ? "" : " \t") + header + "]\n\"Level\"=\"" +
                QByteArray::number(depth) + "\"\n";
        if (depth <= limits::maxDepth)
            path.append(QStringLiteral("k"));
    }
    file += kSection + "\"After\"=\"kept too\"\n";
    test::writeFile(test::hiveFile(), file);

    auto levelAt = [](const QStringList& keys) {
        HiveKey key;
        QByteArray data;
        if (openKey(hkey::CurrentUser, keys.join(u'\\'), regaccess::KeyRead, key) ==
            regstatus::Success)
            queryValue(key, QStringLiteral("Level"), nullptr, &data, nullptr);
        return data;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(levelAt(path), QByteArray("512", 4));
    EXPECT_EQ(levelAt(path.mid(0, 7)), QByteArray("7", 2));
    HiveKey deeper;
    EXPECT_EQ(openKey(hkey::CurrentUser, path.join(u'\\') + QStringLiteral("\\k"),
                      regaccess::KeyRead, deeper),
              regstatus::BadPathname);
    EXPECT_EQ(valueOf(QStringLiteral("Before")), QByteArray("kept", 5));
    EXPECT_EQ(valueOf(QStringLiteral("After")), QByteArray("kept too", 9));
    const std::string said = testing::internal::GetCapturedStderr();
    const int tooDeep = kLevels - int(limits::maxDepth);
    EXPECT_NE(said.find(std::to_string(tooDeep) + " key(s) nested deeper than 512 levels"),
              std::string::npos)
        << said.substr(0, 300);

    // A save keeps everything that loaded, and nothing deeper.
    testing::internal::CaptureStderr();
    Settings s = LoadRegistrySettings(QString());
    s.loopSeconds = 9;
    ASSERT_TRUE(SaveRegistrySettings(s));
    testing::internal::GetCapturedStderr();
    const HiveParse after =
        parseHive(test::readAll(test::hiveFile()), hiveName(hkey::CurrentUser));
    EXPECT_EQ(after.badLineCount, 0);
    const HiveKeyEntry* last = after.tree.find(path);
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->children.empty());
    EXPECT_EQ(last->values.at(QStringLiteral("level")).data, QByteArray("512", 4));
    EXPECT_EQ(levelAt(path.mid(0, 100)), QByteArray("100", 4));
    EXPECT_EQ(valueOf(QStringLiteral("Before")), QByteArray("kept", 5));
    EXPECT_EQ(valueOf(QStringLiteral("Loop Seconds")), QByteArray("9", 2));
    ASSERT_EQ(damagedCopies().size(), 1);
    EXPECT_TRUE(test::readAll(QDir(folder()).filePath(damagedCopies().first())) == file);
}

TEST(HiveStoreHostile, ValueOverTheSizeLimitIsRefusedWithAMessage) {
    test::TempConfigHome home;
    HiveKey key;
    ASSERT_EQ(createKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyWrite, key, nullptr),
              regstatus::Success);
    ASSERT_EQ(setValue(key, QStringLiteral("Largest"), regtype::Binary,
                       QByteArray(limits::maxValueBytes, 'x')),
              regstatus::Success);
    const QByteArray before = test::readAll(test::hiveFile());
    testing::internal::CaptureStderr();
    EXPECT_EQ(setValue(key, QStringLiteral("Too large"), regtype::Binary,
                       QByteArray(limits::maxValueBytes + 1, 'x')),
              regstatus::InvalidParameter);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Too large"), std::string::npos) << said;
    EXPECT_TRUE(test::readAll(test::hiveFile()) == before);
    EXPECT_EQ(valueOf(QStringLiteral("Largest")).size(), limits::maxValueBytes);
}

// A start reads the settings file once, and an exit save reads it once and writes it once,
// however many values they touch.
TEST(HiveStoreHostile, StartReadsTheFileOnceAndExitSavesInOneWrite) {
    if (!test::ioCounts().ok)
        GTEST_SKIP() << "/proc/self/io is not available, so reads cannot be counted";
    test::TempConfigHome home;
    const QString lastFolder = home.path();
    QByteArray file = kHeader + kSection + "\"Last Directory\"=\"" + lastFolder.toUtf8() +
                      "\"\n\"Working Directory\"=\"/opt\"\n\"Loop Seconds\"=\"7\"\n";
    // 20,000 more values make the file large enough that a second read would show.
    for (int i = 0; i < 20000; ++i)
        file += "\"Other " + QByteArray::number(i) + "\"=\"value of some length\"\n";
    ASSERT_TRUE(QDir().mkpath(folder()));
    test::writeFile(test::hiveFile(), file);
    const qint64 size = file.size();

    const test::IoCounts beforeLoad = test::ioCounts();
    const Settings loaded = LoadRegistrySettings(QString());
    const test::IoCounts afterLoad = test::ioCounts();
    EXPECT_EQ(loaded.loopSeconds, 7);
    EXPECT_EQ(loaded.lastDirectory, lastFolder);
    EXPECT_GE(afterLoad.read - beforeLoad.read, size);
    EXPECT_LT(afterLoad.read - beforeLoad.read, 2 * size);

    Settings changed = loaded;
    changed.loopSeconds = 9;
    changed.showControls = false;
    const test::IoCounts beforeSave = test::ioCounts();
    ASSERT_TRUE(SaveRegistrySettings(changed));
    const test::IoCounts afterSave = test::ioCounts();
    EXPECT_LT(afterSave.read - beforeSave.read, 2 * size);
    EXPECT_LT(afterSave.written - beforeSave.written, 2 * size);

    EXPECT_EQ(LoadRegistrySettings(QString()), changed);
    EXPECT_EQ(valueOf(QStringLiteral("Other 19999")), QByteArray("value of some length", 21));
    EXPECT_EQ(valueOf(QStringLiteral("Working Directory")), QByteArray("/opt", 5));
}

TEST(HiveStoreHostile, LockThatCanNeverBeTakenIsReportedOnceWithoutWaiting) {
    test::TempConfigHome home;
    const QString lock = test::hiveFile() + QStringLiteral(".lock");
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(rm.CreateSubKey());
    ASSERT_TRUE(QDir().mkpath(lock + QStringLiteral("/inside")));

    testing::internal::CaptureStderr();
    Settings s;
    s.lastDirectory = home.path();
    EXPECT_FALSE(SaveRegistrySettings(s));
    EXPECT_FALSE(SaveRegistrySettings(s));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(said, "\n"), 1) << said;
    EXPECT_NE(said.find(".lock"), std::string::npos) << said;
    EXPECT_EQ(said.find("locked by another process"), std::string::npos) << said;

    // Said at start-up too, before any save is tried.
    testing::internal::CaptureStderr();
    LoadRegistrySettings(QString());
    const std::string atStart = testing::internal::GetCapturedStderr();
    EXPECT_NE(atStart.find("settings cannot be saved"), std::string::npos) << atStart;
}

TEST(HiveStoreHostile, LeftBehindLockThatCannotBeRemovedFailsAtOnce) {
    test::TempConfigHome home;
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(rm.CreateSubKey());
    const QString lock = test::hiveFile() + QStringLiteral(".lock");
    test::writeFile(lock, "2147483600\ntavlin\n\n");
    // Old enough to count as left behind.
    const utimbuf old{0, 1000000000};
    ASSERT_EQ(::utime(QFile::encodeName(lock).constData(), &old), 0);
    test::ReadOnlyFile immutable(lock);
    if (!immutable.ok() || ::geteuid() != 0)
        GTEST_SKIP() << "needs root and chattr +i to make a lock file that cannot be removed";

    testing::internal::CaptureStderr();
    EXPECT_FALSE(rm.WriteValue(QStringLiteral("Name"), QStringLiteral("x"), regtype::Sz));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot be taken"), std::string::npos) << said;
    EXPECT_EQ(said.find("locked by another process"), std::string::npos) << said;
}

TEST(HiveStoreHostile, FullDiskIsReportedAsAFullDisk) {
    test::TempConfigHome home;
    test::SmallTmpfs disk(home.path() + QStringLiteral("/tavlin"));
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    RegistryManager rm = SettingsKey();
    ASSERT_TRUE(rm.CreateSubKey());
    ASSERT_TRUE(rm.WriteValue(QStringLiteral("Before"), QStringLiteral("kept"), regtype::Sz));
    const QByteArray before = test::readAll(test::hiveFile());
    disk.fill();

    testing::internal::CaptureStderr();
    EXPECT_FALSE(rm.WriteValue(QStringLiteral("Padding"), QString(20000, u'p'), regtype::Sz));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
    EXPECT_EQ(said.find("locked by another process"), std::string::npos) << said;
    EXPECT_TRUE(test::readAll(test::hiveFile()) == before);
}

TEST(HiveStoreHostile, SettingsThatCannotBeSavedAreReportedOnceAtStart) {
    test::TempConfigHome home;
    LoadRegistrySettings(QString());
    test::ReadOnlyFile readOnly(test::hiveFile());
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a file read-only for this user here (chattr +i refused)";
    testing::internal::CaptureStderr();
    LoadRegistrySettings(QString());
    Settings s;
    s.lastDirectory = home.path();
    EXPECT_FALSE(SaveRegistrySettings(s));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(said, "settings cannot be saved"), 1) << said;
    EXPECT_EQ(count(said, "\n"), 1) << said;
}

TEST(HiveStoreHostile, APipeInPlaceOfTheFileIsRefusedWithoutWaiting) {
    test::TempConfigHome home;
    ASSERT_TRUE(QDir().mkpath(folder()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(test::hiveFile()).constData(), 0600), 0);
    // Reading a pipe with no writer would wait for ever: the alarm turns that into a failure.
    ::alarm(30);
    testing::internal::CaptureStderr();
    const Settings loaded = LoadRegistrySettings(QString());
    Settings s = loaded;
    s.lastDirectory = home.path();
    EXPECT_FALSE(SaveRegistrySettings(s));
    const std::string said = testing::internal::GetCapturedStderr();
    ::alarm(0);
    EXPECT_NE(said.find("cannot be read"), std::string::npos) << said;
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(test::hiveFile()).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is left as it is";
}
