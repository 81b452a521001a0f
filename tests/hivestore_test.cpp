#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include "platform/hivestore.h"
#include "platform/hivestore_text.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;
using namespace tavlin::hivestore;

namespace {

const QString kSettingsPath = QStringLiteral("Software\\Zan\\Tavlin");

// Creates the settings key and opens it for reading and writing.
HiveKey makeKey(const QString& path = kSettingsPath) {
    HiveKey key;
    EXPECT_EQ(
        createKey(hkey::CurrentUser, path, regaccess::KeyRead | regaccess::KeyWrite, key, nullptr),
        regstatus::Success);
    return key;
}

QByteArray valueOf(const HiveKey& key, const QString& name) {
    QByteArray data;
    qint64 size = -1;
    EXPECT_EQ(queryValue(key, name, nullptr, &data, &size), regstatus::Success)
        << name.toStdString();
    return data;
}

HiveParse parseFile(std::uint32_t hive = hkey::CurrentUser) {
    return parseHive(test::readAll(test::hiveFile(hive)), hiveName(hive));
}

QStringList folderEntries() {
    return QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(HiveStore, ValuesSurviveTheTextFileExactly) {
    test::TempConfigHome home;
    HiveKey key = makeKey();
    QByteArray big;
    for (int i = 0; i < 10000; ++i)
        big.append(char(i % 251));
    const struct {
        QString name;
        std::uint32_t type;
        QByteArray data;
    } cases[] = {
        {QStringLiteral("Show Controls"), regtype::Sz, QByteArray("true", 5)},
        {QString(), regtype::Sz, QByteArray("default", 8)},
        {QStringLiteral("Empty"), regtype::Sz, QByteArray("", 1)},
        {QStringLiteral("Folder"), regtype::Sz, QStringLiteral("/home/À trier").toUtf8() + '\0'},
        {QStringLiteral("Quote \"and\" back\\slash"), regtype::Sz, QByteArray("a\\\"b\\", 6)},
        {QStringLiteral("@"), regtype::Sz, QByteArray("named at", 9)},
        {QStringLiteral("Fill byte"), regtype::Sz, QByteArray("a\x80z", 4)},
        {QStringLiteral("No terminator"), regtype::Sz, QByteArray("abc")},
        {QStringLiteral("Inner NUL"), regtype::Sz, QByteArray("a\0b", 4)},
        {QStringLiteral("Line break"), regtype::Sz, QByteArray("a\nb", 4)},
        {QStringLiteral("Binary"), regtype::Binary, QByteArray("\x00\xff\x10", 3)},
        {QStringLiteral("Nothing"), regtype::None, QByteArray()},
        {QStringLiteral("Big"), regtype::Binary, big},
    };
    for (const auto& c : cases)
        ASSERT_EQ(setValue(key, c.name, c.type, c.data), regstatus::Success)
            << c.name.toStdString();

    const HiveParse parse = parseFile();
    EXPECT_TRUE(parse.badLines.isEmpty());
    const HiveKeyEntry* entry = parse.tree.find(kSettingsPath.split(u'\\'));
    ASSERT_NE(entry, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        std::uint32_t type = 0;
        EXPECT_EQ(valueOf(key, c.name), c.data);
        EXPECT_EQ(queryValue(key, c.name, &type, nullptr, nullptr), regstatus::Success);
        EXPECT_EQ(type, c.type);
        const auto it = entry->values.find(foldName(c.name));
        ASSERT_NE(it, entry->values.end());
        EXPECT_EQ(it->second.data, c.data);
        EXPECT_EQ(it->second.name, c.name);
    }

    // A person reading the file sees the familiar regedit form.
    const QString text = QString::fromUtf8(test::readAll(test::hiveFile()));
    EXPECT_TRUE(text.startsWith(QLatin1String("Windows Registry Editor Version 5.00\n")));
    EXPECT_TRUE(text.contains(QLatin1String("\n[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n")));
    EXPECT_TRUE(text.contains(QLatin1String("\n\"Show Controls\"=\"true\"\n")));
    EXPECT_TRUE(text.contains(QLatin1String("\n@=\"default\"\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\"Folder\"=\"/home/À trier\"\n")));
    EXPECT_TRUE(text.contains(QLatin1String("\n\"Fill byte\"=hex(1):61,80,7a,00\n")));
    for (const QString& line : text.split(u'\n'))
        EXPECT_LE(line.size(), 80) << line.left(40).toStdString();
}

TEST(HiveStore, NamesAreCaseBlindAndKeepTheirFirstSpelling) {
    test::TempConfigHome home;
    HiveKey key = makeKey();
    ASSERT_EQ(setValue(key, QStringLiteral("Loop Seconds"), regtype::Sz, "5"), regstatus::Success);
    ASSERT_EQ(setValue(key, QStringLiteral("LOOP SECONDS"), regtype::Sz, "7"), regstatus::Success);
    EXPECT_EQ(valueOf(key, QStringLiteral("loop seconds")), QByteArray("7"));

    HiveKey other;
    EXPECT_EQ(openKey(hkey::CurrentUser, QStringLiteral("SOFTWARE\\zan\\TAVLIN"),
                      regaccess::KeyRead, other),
              regstatus::Success);
    EXPECT_EQ(valueOf(other, QStringLiteral("Loop Seconds")), QByteArray("7"));

    const QString text = QString::fromUtf8(test::readAll(test::hiveFile()));
    EXPECT_TRUE(text.contains(QLatin1String("\"Loop Seconds\"=")));
    EXPECT_FALSE(text.contains(QLatin1String("LOOP")));
    EXPECT_TRUE(text.contains(QLatin1String("[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]")));
}

TEST(HiveStore, CreateMakesThePathAndTellsNewFromExisting) {
    test::TempConfigHome home;
    HiveKey key;
    std::uint32_t disposition = 0;
    ASSERT_EQ(createKey(hkey::CurrentUser, QStringLiteral("a\\b\\c"), regaccess::KeyWrite, key,
                        &disposition),
              regstatus::Success);
    EXPECT_EQ(disposition, regdisposition::CreatedNewKey);
    for (const QString& path :
         {QStringLiteral("a"), QStringLiteral("a\\b"), QStringLiteral("A\\B\\C\\")})
        EXPECT_EQ(openKey(hkey::CurrentUser, path, regaccess::KeyRead, key), regstatus::Success)
            << path.toStdString();
    ASSERT_EQ(createKey(hkey::CurrentUser, QStringLiteral("A\\b"), regaccess::KeyWrite, key,
                        &disposition),
              regstatus::Success);
    EXPECT_EQ(disposition, regdisposition::OpenedExistingKey);

    // An empty key survives a round trip through the file, and each hive has its own file.
    ASSERT_EQ(createKey(hkey::ClassesRoot, QStringLiteral(".jpg"), regaccess::KeyWrite, key,
                        &disposition),
              regstatus::Success);
    EXPECT_TRUE(
        parseFile().tree.find({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_TRUE(parseFile(hkey::ClassesRoot).tree.find({QStringLiteral(".JPG")}));
    EXPECT_FALSE(parseFile().tree.find({QStringLiteral(".jpg")}));
}

TEST(HiveStore, StatusCodes) {
    test::TempConfigHome home;
    HiveKey key = makeKey();
    ASSERT_EQ(setValue(key, QStringLiteral("Name"), regtype::Sz, QByteArray("abcd", 5)),
              regstatus::Success);

    HiveKey probe;
    EXPECT_EQ(
        openKey(hkey::CurrentUser, QStringLiteral("Software\\Nobody"), regaccess::KeyRead, probe),
        regstatus::NotFound);
    EXPECT_FALSE(probe.open);
    EXPECT_EQ(openKey(hkey::CurrentUser, QString(), regaccess::KeyAllAccess, probe),
              regstatus::Success);
    EXPECT_EQ(openKey(hkey::PerformanceData, QString(), regaccess::KeyRead, probe),
              regstatus::InvalidHandle);
    for (const QString& bad : {QStringLiteral("\\Software"), QStringLiteral("a\\\\b"),
                               QStringLiteral("a\nb"), QString(256, u'k')})
        EXPECT_EQ(createKey(hkey::CurrentUser, bad, regaccess::KeyWrite, probe, nullptr),
                  regstatus::BadPathname);

    QByteArray data;
    qint64 size = 4;
    EXPECT_EQ(queryValue(key, QStringLiteral("Name"), nullptr, &data, &size), regstatus::MoreData);
    EXPECT_EQ(size, 5);
    size = 5;
    EXPECT_EQ(queryValue(key, QStringLiteral("Name"), nullptr, &data, &size), regstatus::Success);
    EXPECT_EQ(data, QByteArray("abcd", 5));
    EXPECT_EQ(queryValue(key, QStringLiteral("Missing"), nullptr, &data, nullptr),
              regstatus::NotFound);

    HiveKey readOnly;
    ASSERT_EQ(openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyRead, readOnly),
              regstatus::Success);
    EXPECT_EQ(setValue(readOnly, QStringLiteral("Name"), regtype::Sz, "x"),
              regstatus::AccessDenied);
    EXPECT_EQ(closeKey(readOnly), regstatus::Success);
    EXPECT_EQ(closeKey(readOnly), regstatus::InvalidHandle);
    EXPECT_EQ(queryValue(readOnly, QStringLiteral("Name"), nullptr, &data, nullptr),
              regstatus::InvalidHandle);
}

TEST(HiveStore, DamagedFileKeepsItsGoodLinesAndIsCopiedBeforeTheRewrite) {
    test::TempConfigHome home;
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QByteArray damaged = "Windows Registry Editor Version 5.00\n"
                               "\"Orphan\"=\"before any key\"\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n"
                               "\"Show Controls\"=\"false\"\n"
                               "\"Broken=\"true\"\n"
                               "\"Bad escape\"=\"a\\qb\"\n"
                               "\"Center Picture\"=\"true\"\n"
                               "\"Bad hex\"=hex:4,zz\n"
                               "\"Not UTF-8\"=\"\xc3\x28\"\n"
                               "garbage line\n"
                               "[HKEY_LOCAL_MACHINE\\Elsewhere]\n"
                               "\"Lost\"=\"under a foreign hive\"\n"
                               "[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n"
                               "\"Loop Seconds\"=\"7\"\n";
    test::writeFile(test::hiveFile(), damaged);

    testing::internal::CaptureStderr();
    HiveKey key;
    ASSERT_EQ(openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyAllAccess, key),
              regstatus::Success);
    EXPECT_EQ(valueOf(key, QStringLiteral("Show Controls")), QByteArray("false", 6));
    EXPECT_EQ(valueOf(key, QStringLiteral("Loop Seconds")), QByteArray("7", 2));
    const std::string readReport = testing::internal::GetCapturedStderr();
    EXPECT_NE(readReport.find("2, 6, 7, 9, 10, 11, 12, 13"), std::string::npos) << readReport;
    // Reading alone never touches the file.
    EXPECT_EQ(test::readAll(test::hiveFile()), damaged);

    testing::internal::CaptureStderr();
    ASSERT_EQ(setValue(key, QStringLiteral("Stretch Picture"), regtype::Sz, QByteArray("true", 5)),
              regstatus::Success);
    const std::string writeReport = testing::internal::GetCapturedStderr();
    const QStringList copies =
        QDir(folder()).entryList({QStringLiteral("HKEY_CURRENT_USER.reg.damaged-*")});
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(test::readAll(QDir(folder()).filePath(copies.first())), damaged);
    EXPECT_NE(writeReport.find(copies.first().toStdString()), std::string::npos) << writeReport;

    const HiveParse after = parseFile();
    EXPECT_TRUE(after.badLines.isEmpty());
    EXPECT_EQ(valueOf(key, QStringLiteral("Center Picture")), QByteArray("true", 5));
    EXPECT_EQ(valueOf(key, QStringLiteral("Stretch Picture")), QByteArray("true", 5));

    // The rewritten file is clean, so a second save keeps no second copy.
    ASSERT_EQ(setValue(key, QStringLiteral("Show Controls"), regtype::Sz, "true"),
              regstatus::Success);
    EXPECT_EQ(QDir(folder()).entryList({QStringLiteral("HKEY_CURRENT_USER.reg.damaged-*")}).size(),
              1);
}

TEST(HiveStore, UnreadableFileIsNeverReplaced) {
    test::TempConfigHome home;
    // A folder where the hive file should be cannot be read even by root.
    ASSERT_TRUE(QDir().mkpath(test::hiveFile()));
    testing::internal::CaptureStderr();
    HiveKey key;
    EXPECT_EQ(openKey(hkey::CurrentUser, QString(), regaccess::KeyRead, key), regstatus::Success);
    EXPECT_EQ(openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyRead, key),
              regstatus::NotFound);
    EXPECT_EQ(openKey(hkey::CurrentUser, QString(), regaccess::KeyAllAccess, key),
              regstatus::AccessDenied);
    EXPECT_EQ(createKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyWrite, key, nullptr),
              regstatus::AccessDenied);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("cannot be read"), std::string::npos) << report;
    EXPECT_TRUE(QFileInfo(test::hiveFile()).isDir());
}

TEST(HiveStore, ReadOnlyFileRefusesWritesAndStillReads) {
    test::TempConfigHome home;
    HiveKey key = makeKey();
    ASSERT_EQ(setValue(key, QStringLiteral("Name"), regtype::Sz, "kept"), regstatus::Success);
    const QByteArray before = test::readAll(test::hiveFile());
    test::ReadOnlyFile readOnly(test::hiveFile());
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a file read-only for this user here (chattr +i refused)";

    EXPECT_EQ(valueOf(key, QStringLiteral("Name")), QByteArray("kept"));
    EXPECT_EQ(setValue(key, QStringLiteral("Name"), regtype::Sz, "new"), regstatus::AccessDenied);
    EXPECT_EQ(
        createKey(hkey::CurrentUser, QStringLiteral("Other"), regaccess::KeyWrite, key, nullptr),
        regstatus::AccessDenied);
    HiveKey probe;
    EXPECT_EQ(openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyAllAccess, probe),
              regstatus::AccessDenied);
    EXPECT_EQ(openKey(hkey::CurrentUser, kSettingsPath, regaccess::KeyRead, probe),
              regstatus::Success);
    EXPECT_EQ(test::readAll(test::hiveFile()), before);
}

TEST(HiveStore, LeftBehindLockIsTakenOver) {
    const struct {
        const char* what;
        QByteArray content;
    } locks[] = {
        {"empty lock file", QByteArray()},
        {"lock of a process that is gone", QByteArray("2147483600\ntavlin\n\n")},
    };
    for (const auto& lock : locks) {
        SCOPED_TRACE(lock.what);
        test::TempConfigHome home;
        HiveKey key = makeKey();
        test::writeFile(test::hiveFile() + QStringLiteral(".lock"), lock.content);
        EXPECT_EQ(setValue(key, QStringLiteral("Name"), regtype::Sz, "saved"), regstatus::Success);
        EXPECT_EQ(valueOf(key, QStringLiteral("Name")), QByteArray("saved"));
        EXPECT_FALSE(QFileInfo::exists(test::hiveFile() + QStringLiteral(".lock")));
    }
}

#ifdef TAVLIN_HIVEWRITER

namespace {

struct WriterRun {
    bool ended = false;
    int exitCode = -1;
    std::string said;
    qint64 ms = 0;
};

// Saves one value ("Value 0") from a second process, as another copy of the program would.
// A save that waits on the lock for ever is killed after half a minute (`ended` false).
WriterRun saveFromAnotherProcess() {
    WriterRun run;
    QProcess writer;
    QElapsedTimer clock;
    clock.start();
    writer.start(QStringLiteral(TAVLIN_HIVEWRITER),
                 {QStringLiteral("many"), QStringLiteral("Value "), QStringLiteral("1")});
    run.ended = writer.waitForFinished(30000);
    run.ms = clock.elapsed();
    if (!run.ended) {
        writer.kill();
        writer.waitForFinished();
    }
    run.exitCode = writer.exitCode();
    run.said = writer.readAllStandardError().toStdString();
    return run;
}

} // namespace

// What is in the lock's place is never opened in a way that could wait: the save is refused
// with a message, and both the settings and the thing in the way are left as they are.
TEST(HiveStoreProcesses, SomethingOtherThanAFileInPlaceOfTheLockIsRefusedWithoutWaiting) {
    for (const bool throughLink : {false, true}) {
        SCOPED_TRACE(throughLink ? "a link to a pipe" : "a pipe");
        test::TempConfigHome home;
        HiveKey key = makeKey();
        ASSERT_EQ(setValue(key, QStringLiteral("Name"), regtype::Sz, "kept"), regstatus::Success);
        const QByteArray before = test::readAll(test::hiveFile());
        const QByteArray lock = QFile::encodeName(test::hiveFile() + QStringLiteral(".lock"));
        const QByteArray pipe = throughLink ? QFile::encodeName(home.path() + "/pipe") : lock;
        ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
        if (throughLink) {
            ASSERT_EQ(::symlink(pipe.constData(), lock.constData()), 0);
        }

        const WriterRun run = saveFromAnotherProcess();
        ASSERT_TRUE(run.ended) << "the save waited on the pipe";
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.said.find("in the way of the settings lock"), std::string::npos) << run.said;
        EXPECT_EQ(test::readAll(test::hiveFile()), before);
        struct stat st {};
        ASSERT_EQ(::lstat(lock.constData(), &st), 0);
        EXPECT_TRUE(throughLink ? S_ISLNK(st.st_mode) : S_ISFIFO(st.st_mode));
    }
}

// A lock that another live process holds (here this one, through flock) is waited for about
// a second; then the save says the change was not saved, and stores nothing.
TEST(HiveStoreProcesses, LockHeldByALiveProcessIsGivenUpAfterAboutASecond) {
    test::TempConfigHome home;
    HiveKey key = makeKey();
    ASSERT_EQ(setValue(key, QStringLiteral("Name"), regtype::Sz, "kept"), regstatus::Success);
    const QByteArray before = test::readAll(test::hiveFile());
    const QString lock = test::hiveFile() + QStringLiteral(".lock");
    const int held = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    const WriterRun run = saveFromAnotherProcess();
    ASSERT_TRUE(run.ended) << "the save waited on the lock";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.said.find("locked by another process; the change was not saved"),
              std::string::npos)
        << run.said;
    // A person waits about a second at exit; four leave room for a busy machine.
    EXPECT_LT(run.ms, 4000);
    EXPECT_EQ(test::readAll(test::hiveFile()), before);

    // Once let go, the lock file left behind is taken over by the next save.
    ::close(held);
    const WriterRun after = saveFromAnotherProcess();
    EXPECT_EQ(after.exitCode, 0) << after.said;
    EXPECT_EQ(valueOf(key, QStringLiteral("Value 0")), QByteArray("0", 2));
    EXPECT_FALSE(QFileInfo::exists(lock));
}

TEST(HiveStoreProcesses, KilledWriterLeavesTheLastOrThePreviousValue) {
    test::TempConfigHome home;
    HiveKey key = makeKey();
    // Padding makes each save long enough for kills to land in the middle of it.
    const QByteArray padding(20000, 'p');
    ASSERT_EQ(setValue(key, QStringLiteral("Padding"), regtype::Binary, padding),
              regstatus::Success);
    ASSERT_EQ(setValue(key, QStringLiteral("Counter"), regtype::Sz, "0"), regstatus::Success);

    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> delayUs(0, 6000);
    long next = 1;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        QProcess writer;
        writer.start(QStringLiteral(TAVLIN_HIVEWRITER),
                     {QStringLiteral("count"), QStringLiteral("Counter"), QString::number(next)});
        ASSERT_TRUE(writer.waitForStarted());
        // Wait until the first save has returned, so the kill lands inside the save loop.
        while (!writer.canReadLine())
            ASSERT_TRUE(writer.waitForReadyRead(30000))
                << writer.readAllStandardError().toStdString();
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(30000));

        const QList<QByteArray> printed = writer.readAllStandardOutput().trimmed().split('\n');
        const long confirmed = printed.last().toLong();
        const HiveParse parse = parseFile();
        ASSERT_TRUE(parse.badLines.isEmpty());
        const HiveKeyEntry* entry = parse.tree.find(kSettingsPath.split(u'\\'));
        ASSERT_NE(entry, nullptr);
        ASSERT_EQ(entry->values.at(foldName(QStringLiteral("Padding"))).data, padding);
        const long stored = entry->values.at(foldName(QStringLiteral("Counter"))).data.toLong();
        ASSERT_TRUE(stored == confirmed || stored == confirmed + 1)
            << "stored " << stored << ", last confirmed " << confirmed;
        next = stored + 1;
    }
    // Saves cut short leave no temporary files behind once the next save has run.
    ASSERT_EQ(setValue(key, QStringLiteral("Counter"), regtype::Sz, "done"), regstatus::Success);
    QStringList leftovers = folderEntries();
    leftovers.removeAll(QStringLiteral("HKEY_CURRENT_USER.reg"));
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(u' ').toStdString();
}

TEST(HiveStoreProcesses, TwoWritersAtOnceLoseNothing) {
    test::TempConfigHome home;
    makeKey();
    constexpr int kCount = 200;
    QProcess first;
    QProcess second;
    first.start(QStringLiteral(TAVLIN_HIVEWRITER),
                {QStringLiteral("many"), QStringLiteral("First "), QString::number(kCount)});
    second.start(QStringLiteral(TAVLIN_HIVEWRITER),
                 {QStringLiteral("many"), QStringLiteral("Second "), QString::number(kCount)});
    for (QProcess* writer : {&first, &second}) {
        ASSERT_TRUE(writer->waitForFinished(240000));
        EXPECT_EQ(writer->exitCode(), 0) << writer->readAllStandardError().toStdString();
    }
    const HiveParse parse = parseFile();
    EXPECT_TRUE(parse.badLines.isEmpty());
    const HiveKeyEntry* entry = parse.tree.find(kSettingsPath.split(u'\\'));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->values.size(), size_t(2 * kCount));
    for (int i = 0; i < kCount; ++i) {
        for (const char* prefix : {"first ", "second "}) {
            const auto it = entry->values.find(QLatin1String(prefix) + QString::number(i));
            ASSERT_NE(it, entry->values.end()) << prefix << i;
            EXPECT_EQ(it->second.data, QByteArray::number(i) + '\0');
        }
    }
}

#endif
