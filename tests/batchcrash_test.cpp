#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "app/commandline.h"
#include "fileops/batchinflight.h"
#include "fileops/batchrename.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/tavlin.h"

extern char** environ;

using namespace tavlin;

namespace {

constexpr int kFiles = 1000;
constexpr int kRuns = 50;

// Names that collide with the batch's own new names, so parking, chains and direct moves
// all happen: 700 "a" files take trip0001..trip0700, many of which are held by "trip" files.
QStringList scrambledNames(std::mt19937& rng) {
    std::vector<int> numbers(kFiles);
    for (int i = 0; i < kFiles; ++i)
        numbers[size_t(i)] = i + 1;
    std::shuffle(numbers.begin(), numbers.end(), rng);
    QStringList names;
    for (int i = 0; i < kFiles; ++i) {
        const QString stem = i < 700 ? QStringLiteral("a") : QStringLiteral("trip");
        const QString ext = i < 700 ? QStringLiteral(".jpg") : QStringLiteral(".JPG");
        names << stem + QStringLiteral("%1").arg(numbers[size_t(i)], 4, 10, QLatin1Char('0')) + ext;
    }
    std::shuffle(names.begin(), names.end(), rng);
    return names;
}

QStringList visibleNames(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// Busy-waits, so the kill lands at a point the scheduler did not choose for us.
void spin(std::chrono::microseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
    }
}

struct Child {
    pid_t pid = -1;
    int out = -1;
};

// Every picture of the folder visible under exactly one name, with its contents.
void expectAllVisible(const QString& folder, const std::multiset<QString>& expected,
                      const std::string& where) {
    const QDir dir(folder);
    std::multiset<QString> found;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        ASSERT_FALSE(name.startsWith('.')) << name.toStdString() << " left in " << where;
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(dir.filePath(name)), &st), 0);
        ASSERT_EQ(st.st_nlink, 1u) << name.toStdString() << " has a second name";
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        found.insert(QString::fromUtf8(f.readAll()));
    }
    ASSERT_EQ(found, expected) << where;
}

Child startBatch(const QString& folder, const char* dieAtStep = nullptr) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const QByteArray path = TAVLIN_BATCH_CHILD;
    const QByteArray dir = QFile::encodeName(folder);
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>(dir.constData()),
                    const_cast<char*>("trip"), const_cast<char*>(dieAtStep), nullptr};
    Child child;
    if (::posix_spawn(&child.pid, path.constData(), &actions, nullptr, argv, environ) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    child.out = fds[0];
    return child;
}

// Reads up to n progress bytes; false when the child has already finished.
bool readSteps(int fd, int n) {
    char buffer[256];
    while (n > 0) {
        const ssize_t got = ::read(fd, buffer, size_t(std::min(n, int(sizeof buffer))));
        if (got <= 0)
            return false;
        n -= int(got);
    }
    return true;
}

} // namespace

TEST(BatchRenameCrash, KilledAtRandomPointsEveryPictureSurvivesUnderOneName) {
    test::TempConfigHome config; // the child notes its folder there
    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    RecordProperty("seed", std::to_string(seed));
    int interrupted = 0;
    // Creating files is slow on some file systems, so one set is made and then shuffled
    // under new names (by the batch itself) before every run.
    QTemporaryDir dir;
    QStringList contents;
    for (int i = 0; i < kFiles; ++i) {
        contents << QStringLiteral("picture %1").arg(i);
        test::writeFile(dir.filePath(QStringLiteral("x%1").arg(i)), contents.back().toUtf8());
    }
    const std::multiset<QString> expected(contents.begin(), contents.end());
    for (int run = 0; run < kRuns; ++run) {
        const QStringList current = visibleNames(dir.path());
        const QStringList targets = scrambledNames(rng);
        std::vector<BatchEntry> scramble;
        for (qsizetype i = 0; i < current.size(); ++i)
            scramble.push_back({current[i], targets[i]});
        const BatchOutcome shuffled = ExecuteBatchRename(dir.path(), scramble);
        ASSERT_TRUE(shuffled.failures.empty() && shuffled.started) << "run " << run;

        const Child child = startBatch(dir.path());
        ASSERT_GT(child.pid, 0) << "cannot start " << TAVLIN_BATCH_CHILD;
        if (readSteps(child.out, 1)) {
            // A third of the kills land before the first new name (journal, parking), the
            // rest after a random number of files.
            if (rng() % 3 == 0) {
                spin(std::chrono::microseconds(rng() % 4000));
            } else if (readSteps(child.out, 1 + int(rng() % kFiles))) {
                spin(std::chrono::microseconds(rng() % 50));
            }
        }
        ::kill(child.pid, SIGKILL);
        int status = 0;
        ::waitpid(child.pid, &status, 0);
        ::close(child.out);
        if (WIFSIGNALED(status))
            ++interrupted;
        else
            ASSERT_EQ(WEXITSTATUS(status), 0) << "the batch itself failed in run " << run;

        // What the next start of the program does, whatever folder it opens.
        const QStringList problems = RecoverBatchesInFlight();
        ASSERT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
        ASSERT_TRUE(BatchFoldersInFlight().isEmpty()) << "run " << run;
        expectAllVisible(dir.path(), expected,
                         "run " + std::to_string(run) + " (seed " + std::to_string(seed) + ")");
        if (HasFatalFailure())
            return;
    }
    std::cout << interrupted << " of " << kRuns << " batches were killed midway\n";
}

TEST(BatchRenameCrash, TheNextStartFinishesTheBatchWhicheverFolderItOpens) {
    test::TempConfigHome config;
    QTemporaryDir dir, elsewhere;
    std::mt19937 rng(7);
    const QStringList names = scrambledNames(rng);
    std::multiset<QString> expected;
    for (const QString& name : names) {
        test::writeFile(dir.filePath(name), name.toUtf8());
        expected.insert(name);
    }
    // Killed once the files are parked and the first new names given.
    const Child child = startBatch(dir.path(), "3");
    ASSERT_GT(child.pid, 0) << "cannot start " << TAVLIN_BATCH_CHILD;
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ::close(child.out);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(BatchFoldersInFlight(), QStringList{dir.path()});
    const QStringList hidden =
        QDir(dir.path()).entryList({".tavlin-rename-*"}, QDir::Files | QDir::Hidden);
    ASSERT_FALSE(hidden.isEmpty()) << "the kill should leave parked files";

    // The next start opens another folder.
    test::CountingPlatform platform;
    int exits = 0;
    Tavlin window(test::windowOptions(platform, exits));
    test::drive(window).start(parseCommandLine({elsewhere.path()}));
    expectAllVisible(dir.path(), expected, "after the next start");
    EXPECT_TRUE(BatchFoldersInFlight().isEmpty());
}
