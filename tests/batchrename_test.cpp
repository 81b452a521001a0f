#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "bindfsmount.h"
#include "fileops/batchinflight.h"
#include "fileops/batchjournal.h"
#include "fileops/batchrename.h"
#include "fileops/batchrenamehost.h"
#include "fileops/rename.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every entry of the folder, hidden ones included, with its contents.
std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        files[name] = readAll(dir.filePath(name));
    return files;
}

// Files whose contents are their own names, so every move can be traced.
void makeFiles(const QString& folder, const QStringList& names) {
    for (const QString& name : names)
        test::writeFile(folder + QLatin1Char('/') + name, name.toUtf8());
}

QStringList sorted(QStringList names) {
    names.sort();
    return names;
}

} // namespace

TEST(PlanBatchRename, NumberWidthFollowsTheCount) {
    struct Case {
        qsizetype count;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        {1, "trip1.jpg", "trip1.jpg"},          {9, "trip1.jpg", "trip9.jpg"},
        {10, "trip01.jpg", "trip10.jpg"},       {12, "trip01.jpg", "trip12.jpg"},
        {99, "trip01.jpg", "trip99.jpg"},       {100, "trip001.jpg", "trip100.jpg"},
        {1000, "trip0001.jpg", "trip1000.jpg"},
    };
    for (const Case& c : cases) {
        QStringList names;
        for (qsizetype i = 0; i < c.count; ++i)
            names << QStringLiteral("IMG_%1.jpg").arg(i);
        const std::vector<BatchEntry> plan = PlanBatchRename("trip", names);
        ASSERT_EQ(qsizetype(plan.size()), c.count);
        EXPECT_EQ(plan.front().newName, c.first) << c.count;
        EXPECT_EQ(plan.back().newName, c.last) << c.count;
        EXPECT_EQ(plan.front().oldName, "IMG_0.jpg");
    }
}

TEST(PlanBatchRename, ExtensionFromTheFirstDotInLowerCase) {
    QStringList names;
    for (int i = 0; i < 12; ++i)
        names << QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
    names[2] = "pic.old.GIF";
    names[10] = "Beach.JPG";
    names[4] = "noextension";
    names[5] = ".hidden.BMP";
    const std::vector<BatchEntry> plan = PlanBatchRename("trip", names);
    EXPECT_EQ(plan[2].newName, "trip03.old.gif");
    EXPECT_EQ(plan[10].newName, "trip11.jpg");
    EXPECT_EQ(plan[4].newName, "trip05");
    EXPECT_EQ(plan[5].newName, "trip06");
    EXPECT_TRUE(PlanBatchRename("trip", {}).empty());
}

TEST(BatchPrefix, SeparatorsAndALeadingDotAreRefused) {
    // A leading dot would hide every renamed picture from the file list.
    for (const char* bad : {"a/b", "/", ".", "..", "../up", ".x", "...", ".trip."})
        EXPECT_FALSE(BatchPrefixProblem(QString::fromUtf8(bad)).isEmpty()) << bad;
    for (const char* fine : {"trip", "a.b", "trip.", " x ", " .x"})
        EXPECT_TRUE(BatchPrefixProblem(QString::fromUtf8(fine)).isEmpty()) << fine;
}

// Lists in the order the batch takes them; each file's contents name where it started.
TEST(ExecuteBatchRename, NamesThatChainOrSwapInsideTheBatch) {
    struct Case {
        QStringList order;
        std::map<QString, QByteArray> after;
    };
    const Case cases[] = {
        {{"a.jpg", "b.jpg", "trip1.jpg", "trip2.jpg"},
         {{"trip1.jpg", "a.jpg"},
          {"trip2.jpg", "b.jpg"},
          {"trip3.jpg", "trip1.jpg"},
          {"trip4.jpg", "trip2.jpg"}}},
        {{"trip2.jpg", "trip1.jpg"}, {{"trip1.jpg", "trip2.jpg"}, {"trip2.jpg", "trip1.jpg"}}},
        {{"TRIP2.JPG", "trip1.jpg", "x.gif"},
         {{"trip1.jpg", "TRIP2.JPG"}, {"trip2.jpg", "trip1.jpg"}, {"trip3.gif", "x.gif"}}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        makeFiles(dir.path(), c.order);
        qsizetype calls = 0;
        const BatchOutcome out = ExecuteBatchRename(
            dir.path(), PlanBatchRename("trip", c.order),
            [&](const QString& oldName, const QString&, qsizetype index, qsizetype count) {
                EXPECT_EQ(index, ++calls);
                EXPECT_EQ(count, c.order.size());
                EXPECT_EQ(oldName, c.order[index - 1]);
            });
        EXPECT_TRUE(out.started) << out.problem.toStdString();
        EXPECT_EQ(out.renamed, c.order.size());
        EXPECT_TRUE(out.failures.empty());
        EXPECT_EQ(calls, c.order.size());
        EXPECT_EQ(snapshot(dir.path()), c.after) << c.order.join(' ').toStdString();
    }
}

TEST(ExecuteBatchRename, RunTwiceWithTheSamePrefixAndAgainWithAFileAdded) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"c.jpg", "d.jpg", "e.jpg"});
    ExecuteBatchRename(dir.path(),
                       PlanBatchRename("t", sorted(QDir(dir.path()).entryList(QDir::Files))));
    const auto once = snapshot(dir.path());

    const BatchOutcome again = ExecuteBatchRename(
        dir.path(), PlanBatchRename("t", QDir(dir.path()).entryList(QDir::Files)));
    EXPECT_EQ(again.alreadyNamed, 3);
    EXPECT_EQ(again.renamed, 0);
    EXPECT_TRUE(again.failures.empty());
    EXPECT_EQ(snapshot(dir.path()), once);

    // A file sorted first shifts every number by one: each new name is another's old one.
    makeFiles(dir.path(), {"a.jpg"});
    const BatchOutcome shifted = ExecuteBatchRename(
        dir.path(), PlanBatchRename("t", QDir(dir.path()).entryList(QDir::Files, QDir::Name)));
    EXPECT_EQ(shifted.renamed, 4);
    const std::map<QString, QByteArray> expected{
        {"t1.jpg", "a.jpg"}, {"t2.jpg", "c.jpg"}, {"t3.jpg", "d.jpg"}, {"t4.jpg", "e.jpg"}};
    EXPECT_EQ(snapshot(dir.path()), expected);
}

TEST(ExecuteBatchRename, AFileThatCannotBeRenamedKeepsItsNameAndIsCounted) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"a.jpg", "b.jpg", "c.jpg", "x.jpg", "t1.jpg"});
    const QString locked = dir.filePath("b.jpg");
    if (QProcess::execute("chattr", {"+i", locked}) != 0)
        GTEST_SKIP() << "chattr +i is not available here (needs root and ext2/3/4 or similar)";
    struct Unlock {
        QString path;
        ~Unlock() { QProcess::execute("chattr", {"-i", path}); }
    } unlock{locked};
    const auto before = snapshot(dir.path());

    // a -> t1 waits for t1 -> t2; b is immutable; c -> t3; x -> t4.
    const BatchOutcome out = ExecuteBatchRename(
        dir.path(), PlanBatchRename("t", {"a.jpg", "t1.jpg", "b.jpg", "c.jpg", "x.jpg"}));
    ASSERT_EQ(out.failures.size(), 1u);
    EXPECT_EQ(out.failures[0].keptName, "b.jpg");
    EXPECT_EQ(out.failures[0].result.status, RenameStatus::AccessDenied);
    EXPECT_EQ(out.renamed, 4);
    const std::map<QString, QByteArray> expected{{"t1.jpg", "a.jpg"},
                                                 {"t2.jpg", "t1.jpg"},
                                                 {"b.jpg", "b.jpg"},
                                                 {"t4.jpg", "c.jpg"},
                                                 {"t5.jpg", "x.jpg"}};
    EXPECT_EQ(snapshot(dir.path()), expected);
    EXPECT_EQ(before.size(), expected.size());

    // The immutable file holds a name the batch wants: the file aiming at it keeps its own.
    const BatchOutcome second =
        ExecuteBatchRename(dir.path(), {{"t1.jpg", "b.jpg"}, {"t2.jpg", "t9.jpg"}});
    ASSERT_EQ(second.failures.size(), 1u);
    EXPECT_EQ(second.failures[0].result.status, RenameStatus::NameTaken);
    EXPECT_EQ(readAll(dir.filePath("t1.jpg")), "a.jpg");
    EXPECT_EQ(readAll(dir.filePath("b.jpg")), "b.jpg");
    EXPECT_EQ(readAll(dir.filePath("t9.jpg")), "t1.jpg");
}

TEST(ExecuteBatchRename, NamesTooLongForTheFileSystemLeaveEveryFileAsItWas) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"a.jpg", "b.jpg", "t1.jpg"});
    const auto before = snapshot(dir.path());
    const QString prefix(300, QLatin1Char('p'));
    const BatchOutcome out =
        ExecuteBatchRename(dir.path(), PlanBatchRename(prefix, {"a.jpg", "b.jpg", "t1.jpg"}));
    EXPECT_TRUE(out.started);
    ASSERT_EQ(out.failures.size(), 3u);
    for (const BatchFailure& f : out.failures)
        EXPECT_EQ(f.result.status, RenameStatus::NameTooLong);
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(ExecuteBatchRename, AParkedFileWhoseNamesAreBothTakenGetsASpareName) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"b.jpg", "trip1.jpg"});
    // A folder is not in the file list but holds the name trip1.jpg wants.
    QDir(dir.path()).mkdir("trip2.jpg");
    const BatchOutcome out =
        ExecuteBatchRename(dir.path(), PlanBatchRename("trip", {"b.jpg", "trip1.jpg"}));
    EXPECT_EQ(out.renamed, 1);
    ASSERT_EQ(out.failures.size(), 1u);
    EXPECT_EQ(out.failures[0].keptName, "trip1 (1).jpg");
    const std::map<QString, QByteArray> expected{{"trip1.jpg", "b.jpg"},
                                                 {"trip1 (1).jpg", "trip1.jpg"}};
    EXPECT_EQ(snapshot(dir.path()), expected);
    const QString message = batchFailureMessage(out);
    EXPECT_TRUE(message.startsWith("1 file could not be renamed:")) << message.toStdString();
    EXPECT_TRUE(message.contains("trip1 (1).jpg"));
}

TEST(ExecuteBatchRename, ASpareNameIsShortenedToFitTheNameLimit) {
    // Old names of 254 and 253 bytes: "<long> (1).jpg" would pass the 255-byte limit.
    for (const QString& stem : {QString(249, QLatin1Char('L')), QString(124, QChar(u'\u00e9'))}) {
        SCOPED_TRACE(stem.size());
        QTemporaryDir dir;
        const QString parked = stem + "2.jpg";
        makeFiles(dir.path(), {"b.jpg", parked});
        // A folder holds the parked file's new name; b.jpg takes its old name first.
        QDir(dir.path()).mkdir(stem + "1.jpg");
        const std::vector<BatchEntry> plan{{"b.jpg", parked}, {parked, stem + "1.jpg"}};
        const BatchOutcome out = ExecuteBatchRename(dir.path(), plan);
        EXPECT_EQ(out.renamed, 1);
        ASSERT_EQ(out.failures.size(), 1u);
        const QString kept = out.failures[0].keptName;
        EXPECT_FALSE(kept.startsWith('.')) << kept.toStdString();
        EXPECT_LE(QFile::encodeName(kept).size(), 255);
        EXPECT_TRUE(kept.endsWith(" (1).jpg")) << kept.toStdString();
        const std::map<QString, QByteArray> expected{{parked, "b.jpg"}, {kept, parked.toUtf8()}};
        EXPECT_EQ(snapshot(dir.path()), expected) << "every file visible, no journal left";
    }
}

TEST(ExecuteBatchRename, YieldsWhileItParksFilesAndWritesItsJournal) {
    QTemporaryDir dir;
    QStringList names;
    for (int i = 1; i <= 20; ++i)
        names << QStringLiteral("trip%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    makeFiles(dir.path(), names);
    // Every name is wanted by another file, so all twenty are parked first.
    std::vector<BatchEntry> plan;
    for (int i = 0; i < 20; ++i)
        plan.push_back({names[i], names[(i + 1) % 20]});
    int breathsBeforeFirstName = 0;
    bool renaming = false;
    const BatchOutcome out = ExecuteBatchRename(
        dir.path(), plan, [&](auto&&...) { renaming = true; },
        [&] {
            if (!renaming)
                ++breathsBeforeFirstName;
        });
    EXPECT_EQ(out.renamed, 20);
    EXPECT_GE(breathsBeforeFirstName, 20 + 2) << "once per parked file and around the journal";
}

TEST(ExecuteBatchRename, AJournalThatCannotBeUpdatedKeepsTheFolderListedWhileFilesStayHidden) {
    QTemporaryDir dir;
    test::TempConfigHome config;
    makeFiles(dir.path(), {"x.jpg", "y.jpg"});
    const std::vector<BatchEntry> swap{{"x.jpg", "y.jpg"}, {"y.jpg", "x.jpg"}};
    // Once both files are parked the folder turns immutable (root included): the journal's
    // next step cannot be written, and the parked files cannot go back either.
    bool frozen = false;
    const BatchOutcome out = RunBatchRename(dir.path(), swap, {}, [&] {
        const QStringList parked =
            QDir(dir.path()).entryList({".tavlin-rename-*"}, QDir::Files | QDir::Hidden);
        if (!frozen && parked.size() == 2)
            frozen = QProcess::execute("chattr", {"+i", dir.path()}) == 0;
    });
    if (!frozen)
        GTEST_SKIP() << "chattr +i is not supported on this file system";
    QProcess::execute("chattr", {"-i", dir.path()});
    EXPECT_FALSE(out.started);
    EXPECT_TRUE(out.journalKept);
    EXPECT_TRUE(out.problem.contains("could not be updated")) << out.problem.toStdString();
    EXPECT_TRUE(out.problem.contains("hidden names")) << out.problem.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(batchjournal::kFileName)));
    // So the next start finishes the batch in this folder.
    EXPECT_EQ(BatchFoldersInFlight(), QStringList{dir.path()});
}

// The folder is noted in the settings before the first file moves, so that any start can
// finish a batch cut short. Settings that cannot be saved (an immutable settings folder,
// which root cannot write either) leave no such note: the batch does not start.
TEST(RunBatchRename, DoesNotStartWhenItsFolderCannotBeNotedInTheSettings) {
    QTemporaryDir dir;
    test::TempConfigHome config;
    makeFiles(dir.path(), {"x.jpg", "y.jpg"});
    // The settings file and its folder are there, as after any earlier start.
    ASSERT_EQ(RememberBatchFolder(QStringLiteral("/elsewhere")), Remembered::Now);
    ForgetBatchFolder(QStringLiteral("/elsewhere"));
    const QString settingsFolder = QFileInfo(test::hiveFile()).absolutePath();
    if (QProcess::execute("chattr", {"+i", settingsFolder}) != 0)
        GTEST_SKIP() << "chattr +i is not supported on this file system";
    const std::vector<BatchEntry> swap{{"x.jpg", "y.jpg"}, {"y.jpg", "x.jpg"}};
    const BatchOutcome out = RunBatchRename(dir.path(), swap);
    QProcess::execute("chattr", {"-i", settingsFolder});
    EXPECT_FALSE(out.started);
    EXPECT_TRUE(out.problem.contains("Nothing was renamed")) << out.problem.toStdString();
    EXPECT_TRUE(out.problem.contains("settings could not be saved")) << out.problem.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"x.jpg", "y.jpg"}));
    EXPECT_EQ(test::readAll(dir.filePath("x.jpg")), QByteArray("x.jpg"));
}

TEST(RecoverBatchRename, FinishesPhaseTwoRollsBackPhaseOneAndDropsALinkLeftByACrash) {
    struct Case {
        int phase;
        std::map<QString, QByteArray> left; // what the crash left
        QStringList hardLinked;             // second name of the first file listed
        std::map<QString, QByteArray> after;
    };
    using batchjournal::Entry;
    const std::vector<Entry> entries{
        {"a.jpg", ".tmp-0", "t2.jpg"}, {"t2.jpg", ".tmp-1", "t3.jpg"}, {"z.jpg", "", "t1.jpg"}};
    const Case cases[] = {
        // Phase 1: parked files go back, the direct move is not made.
        {1,
         {{".tmp-0", "A"}, {"t2.jpg", "T2"}, {"z.jpg", "Z"}},
         {},
         {{"a.jpg", "A"}, {"t2.jpg", "T2"}, {"z.jpg", "Z"}}},
        // Phase 2: everything goes forward.
        {2,
         {{".tmp-0", "A"}, {".tmp-1", "T2"}, {"z.jpg", "Z"}},
         {},
         {{"t2.jpg", "A"}, {"t3.jpg", "T2"}, {"t1.jpg", "Z"}}},
        // Killed between link and unlink while parking.
        {1,
         {{"a.jpg", "A"}, {"t2.jpg", "T2"}, {"z.jpg", "Z"}},
         {"a.jpg", ".tmp-0"},
         {{"a.jpg", "A"}, {"t2.jpg", "T2"}, {"z.jpg", "Z"}}},
        // Killed between link and unlink on the way to the new names.
        {2,
         {{".tmp-0", "A"}, {"t3.jpg", "T2"}, {"z.jpg", "Z"}},
         {".tmp-0", "t2.jpg"},
         {{"t2.jpg", "A"}, {"t3.jpg", "T2"}, {"t1.jpg", "Z"}}},
        {2,
         {{"t2.jpg", "A"}, {"t3.jpg", "T2"}, {"z.jpg", "Z"}},
         {"z.jpg", "t1.jpg"},
         {{"t2.jpg", "A"}, {"t3.jpg", "T2"}, {"t1.jpg", "Z"}}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        for (const auto& [name, bytes] : c.left)
            test::writeFile(dir.filePath(name), bytes);
        if (!c.hardLinked.isEmpty()) {
            ASSERT_EQ(::link(QFile::encodeName(dir.filePath(c.hardLinked[0])),
                             QFile::encodeName(dir.filePath(c.hardLinked[1]))),
                      0);
        }
        fsops::FolderHandle fd(dir.path());
        ASSERT_EQ(batchjournal::write(fd.fd(), {c.phase, entries}), 0);

        const RecoveryOutcome rec = RecoverBatchRename(dir.path());
        EXPECT_TRUE(rec.journalFound);
        EXPECT_TRUE(rec.problem.isEmpty());
        EXPECT_EQ(snapshot(dir.path()), c.after) << "phase " << c.phase;
        EXPECT_FALSE(RecoverBatchRename(dir.path()).journalFound) << "the journal is gone";
    }
}

TEST(ExecuteBatchRename, ADamagedJournalOrARunningBatchStopsANewBatchBeforeAnythingMoves) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"a.jpg"});
    test::writeFile(dir.filePath(batchjournal::kFileName), "not a journal");
    BatchOutcome out = ExecuteBatchRename(dir.path(), PlanBatchRename("t", {"a.jpg"}));
    EXPECT_FALSE(out.started);
    EXPECT_TRUE(out.problem.contains("damaged"));
    EXPECT_TRUE(QFile::exists(dir.filePath("a.jpg")));
    QFile::remove(dir.filePath(batchjournal::kFileName));

    fsops::FolderHandle other(dir.path());
    ASSERT_EQ(::flock(other.fd(), LOCK_EX), 0);
    out = ExecuteBatchRename(dir.path(), PlanBatchRename("t", {"a.jpg"}));
    EXPECT_FALSE(out.started);
    EXPECT_TRUE(out.problem.contains("Another batch"));
    EXPECT_TRUE(QFile::exists(dir.filePath("a.jpg")));
}

// Names the program keeps in a picture folder, planted there as pipes or links: nothing
// waits on a pipe, and nothing is written through a link to a file elsewhere.
TEST(ExecuteBatchRename, PipesAndLinksUnderTheProgramsOwnNamesAreRefused) {
    QTemporaryDir outside;
    const QString victim = outside.filePath("victim.txt");
    test::writeFile(victim, "keep me");
    const auto pipe = [](const QString& path) {
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    };
    const auto link = [&](const QString& path) { return QFile::link(victim, path); };
    struct Case {
        const char* name;
        std::function<bool(const QString&)> plant;
        bool batchRuns;
    };
    const Case cases[] = {
        {batchjournal::kFileName, pipe, false},
        // A leftover of the journal's temporary name is cleared before a batch begins.
        {batchjournal::kTempFileName, pipe, true},
        {batchjournal::kTempFileName, link, true},
        {fsops::kCaseMarkerName, pipe, true},
        {fsops::kCaseMarkerName, link, true},
    };
    // A pipe waited on would hang for ever: the alarm turns that into a failure.
    ::alarm(60);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        makeFiles(dir.path(), {"a.jpg"});
        ASSERT_TRUE(c.plant(dir.filePath(c.name)));
        RecoverBatchRename(dir.path());
        const BatchOutcome out = ExecuteBatchRename(dir.path(), PlanBatchRename("t", {"a.jpg"}));
        EXPECT_EQ(out.renamed == 1, c.batchRuns) << out.problem.toStdString();
        EXPECT_EQ(readAll(victim), "keep me");
    }
    ::alarm(0);
}

TEST(ExecuteBatchRename, SwapsOnAFileSystemThatRefusesTheNoReplaceFlag) {
    test::BindfsMount mount;
    if (!mount.mounted())
        GTEST_SKIP() << "FUSE is not available, link fall-back untested: "
                     << mount.whyNot().constData();
    makeFiles(mount.view(), {"trip2.jpg", "trip1.jpg", "a.jpg"});
    const BatchOutcome out = ExecuteBatchRename(
        mount.view(), PlanBatchRename("trip", {"trip2.jpg", "trip1.jpg", "a.jpg"}));
    EXPECT_EQ(out.renamed, 3);
    const std::map<QString, QByteArray> expected{
        {"trip1.jpg", "trip2.jpg"}, {"trip2.jpg", "trip1.jpg"}, {"trip3.jpg", "a.jpg"}};
    EXPECT_EQ(snapshot(mount.source()), expected);
}
