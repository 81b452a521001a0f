#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/commandline.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/folderscan.h"
#include "viewer/tavlin.h"

using namespace tavlin;
using test::Part;

namespace {

// The orders below are those of the common Latin alphabet; a Swedish desktop, say,
// rightly puts "ä" after "z".
[[maybe_unused]] const bool englishOrder = [] {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return true;
}();

void touch(const QDir& dir, const QStringList& names) {
    for (const QString& name : names)
        test::writeFile(dir.filePath(name), "x");
}

} // namespace

TEST(FolderScan, JoinsPathsWithOneSeparator) {
    EXPECT_EQ(joinPath("/", "beach.jpg"), "/beach.jpg");
    EXPECT_EQ(joinPath("/home/pictures", "beach.jpg"), "/home/pictures/beach.jpg");
    EXPECT_EQ(joinPath("/home/pictures/", "beach.jpg"), "/home/pictures/beach.jpg");
}

TEST(FolderScan, NaturalCaseBlindOrder) {
    QStringList names = {"img10.jpg", "IMG2.jpg",   "img1.jpg", "Beach.jpg",
                         "apple.gif", "img002.jpg", "b.jpg",    "IMG100.jpg"};
    sortNatural(names);
    EXPECT_EQ(names, (QStringList{"apple.gif", "b.jpg", "Beach.jpg", "img1.jpg", "IMG2.jpg",
                                  "img002.jpg", "img10.jpg", "IMG100.jpg"}));
}

TEST(FolderScan, AccentedLettersSortWithTheirBaseLetters) {
    struct Case {
        QStringList in;
        QStringList sorted;
    };
    const Case cases[] = {
        {{"z.jpg", u"\u00e4.jpg"_qs, "a.jpg", u"\u00c9mile.jpg"_qs, "emma.jpg", "b.jpg"},
         {"a.jpg", u"\u00e4.jpg"_qs, "b.jpg", u"\u00c9mile.jpg"_qs, "emma.jpg", "z.jpg"}},
        // Digits by value and case-blind in names with accents too.
        {{u"\u00e9t\u00e910.jpg"_qs, u"\u00c9t\u00e92.jpg"_qs, "ete1.jpg"},
         {"ete1.jpg", u"\u00c9t\u00e92.jpg"_qs, u"\u00e9t\u00e910.jpg"_qs}},
        // A plain ASCII list keeps the same order as when a name with an accent joins it.
        {{"IMG10.jpg", "img2.jpg", "_x.jpg", "x-1.jpg", "x 1.jpg", "x.jpg", u"\u00f8.jpg"_qs},
         {"_x.jpg", "img2.jpg", "IMG10.jpg", u"\u00f8.jpg"_qs, "x 1.jpg", "x-1.jpg", "x.jpg"}},
    };
    for (const Case& c : cases) {
        QStringList names = c.in;
        sortNatural(names);
        EXPECT_EQ(names, c.sorted);
        // Without the one non-ASCII name, the fast path gives the same order.
        QStringList ascii, expected;
        for (const QString& n : c.in)
            if (n.toLatin1() == n.toUtf8())
                ascii << n;
        for (const QString& n : c.sorted)
            if (n.toLatin1() == n.toUtf8())
                expected << n;
        sortNatural(ascii);
        EXPECT_EQ(ascii, expected);
    }
}

TEST(FolderScan, NaturalOrderIsConsistentOverMixedNames) {
    // Plain ASCII and accented names, digits, punctuation and case: every pair is
    // antisymmetric and every triple transitive, so a sort cannot go wrong.
    const QStringList names = {"a",
                               "A",
                               u"\u00e4"_qs,
                               "b",
                               "a2",
                               "a10",
                               "a02",
                               u"\u00e42"_qs,
                               "a_b",
                               "a-b",
                               "a b",
                               "a.b",
                               "Zed",
                               u"\u00e9"_qs,
                               "e",
                               "x1y",
                               "x01y",
                               "x1Y",
                               u"\u00c5ngstr\u00f6m"_qs,
                               "z9"};
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const QString& a : names)
        for (const QString& b : names) {
            ASSERT_EQ(sign(compareNatural(a, b)), -sign(compareNatural(b, a)))
                << a.toStdString() << " / " << b.toStdString();
            for (const QString& c : names) {
                if (compareNatural(a, b) <= 0 && compareNatural(b, c) <= 0) {
                    ASSERT_LE(compareNatural(a, c), 0)
                        << a.toStdString() << " <= " << b.toStdString()
                        << " <= " << c.toStdString();
                }
            }
        }
    // The sort agrees with the comparison.
    QStringList sorted = names;
    sortNatural(sorted);
    for (qsizetype i = 1; i < sorted.size(); ++i)
        EXPECT_LE(compareNatural(sorted[i - 1], sorted[i]), 0);
}

TEST(FileList, ListsMatchingRegularVisibleFilesInNaturalOrder) {
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    touch(dir, {"b10.JPG", "b2.jpg", "a.Gif", "c.bmp", "notes.txt", "jpg", ".hidden.jpg",
                "archive.jpg.zip", "x.JPEG", "y.jpe", "z.jpeg.txt"});
    ASSERT_TRUE(dir.mkdir("folder.jpg"));
    ASSERT_EQ(::mkfifo(dir.filePath("pipe.jpg").toLocal8Bit().constData(), 0600), 0);

    FileList list;
    list.setPattern("*.jpg;*.jpeg;*.jpe;*.bmp;*.gif");
    ASSERT_TRUE(list.setFolder(dir.path()));
    EXPECT_EQ(list.names(),
              (QStringList{"a.Gif", "b2.jpg", "b10.JPG", "c.bmp", "x.JPEG", "y.jpe"}));
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.selectedName(), QString());
}

TEST(FileList, SelectionHandlerRunsOncePerRealChange) {
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    touch(dir, {"1.jpg", "2.jpg", "3.jpg"});
    FileList list;
    list.setPattern("*.jpg");
    ASSERT_TRUE(list.setFolder(dir.path()));
    QSignalSpy clicks(&list, &FileList::selectionChanged);

    list.setSelectedIndex(1);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(list.selectedName(), "2.jpg");
    list.setSelectedIndex(1); // the value it already has: nothing runs
    EXPECT_EQ(clicks.count(), 1);
    list.setSelectedIndex(7); // out of range: ignored
    EXPECT_EQ(list.selectedIndex(), 1);
    list.setSelectedIndex(2);
    EXPECT_EQ(clicks.count(), 2);

    // Re-reading the folder leaves no selection, and files added meanwhile appear.
    touch(dir, {"0.jpg"});
    ASSERT_TRUE(list.refresh());
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.count(), 4);
    list.setSelectedIndex(2);
    EXPECT_EQ(clicks.count(), 3);
    EXPECT_EQ(list.selectedName(), "2.jpg");
}

TEST(FileList, UnreadableOrVanishedFolderKeepsTheList) {
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    touch(dir, {"keep.jpg"});
    FileList list;
    list.setPattern("*.jpg");
    ASSERT_TRUE(list.setFolder(dir.path()));
    list.setSelectedIndex(0);

    EXPECT_FALSE(list.setFolder(dir.filePath("gone")));
    EXPECT_FALSE(list.setFolder(dir.filePath("keep.jpg")));
    EXPECT_EQ(list.folder(), dir.path());
    EXPECT_EQ(list.names(), QStringList{"keep.jpg"});
    EXPECT_EQ(list.selectedIndex(), 0);
}

TEST(FolderScan, UnreadableFolderIsAnErrorForAnOrdinaryUser) {
    if (!test::runningAsRoot())
        GTEST_SKIP() << "needs root to switch to an unprivileged user for the check";
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    ASSERT_TRUE(dir.mkdir("locked"));
    ASSERT_TRUE(QFile::setPermissions(
        tmp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ExeOther | QFileDevice::ReadOther));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("locked"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // Root reads every folder, so the scan runs in a child that drops to "nobody".
    const QString locked = dir.filePath("locked");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        std::error_code error;
        scanFolder(locked, error);
        ::_exit(error ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "an unreadable folder was listed as empty";
}

TEST(FolderList, ShowsAncestorsAndVisibleSubfoldersAndNotifiesOnChange) {
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    for (const char* sub : {"trip 10", "trip 2", ".cache", "Archive"})
        ASSERT_TRUE(dir.mkdir(sub));
    touch(dir, {"file.jpg"});

    FolderList list;
    QSignalSpy changes(&list, &FolderList::pathChanged);
    ASSERT_TRUE(list.setPath(dir.path()));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(list.path(), dir.path());
    QStringList shown;
    for (int i = 0; i < list.count(); ++i)
        shown << list.item(i)->text().trimmed();
    EXPECT_EQ(shown.first(), "/");
    EXPECT_EQ(shown.mid(shown.size() - 3), (QStringList{"Archive", "trip 2", "trip 10"}));
    EXPECT_EQ(list.currentItem()->text().trimmed(), dir.dirName());

    EXPECT_TRUE(list.setPath(dir.path() + "/")); // the same folder: nothing runs
    EXPECT_EQ(changes.count(), 1);
    EXPECT_FALSE(list.setPath(dir.filePath("missing")));
    EXPECT_EQ(list.path(), dir.path());
    EXPECT_EQ(changes.count(), 1);

    // Opening an entry (double click or Enter) changes the folder.
    Q_EMIT list.itemActivated(list.item(list.count() - 1));
    EXPECT_EQ(list.path(), dir.filePath("trip 10"));
    EXPECT_EQ(changes.count(), 2);

    ASSERT_TRUE(list.setPath("/"));
    EXPECT_EQ(list.path(), "/");
}

TEST(FolderList, LargeFolderIsReadOnAWorkerAndTheNewestRequestWins) {
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    ASSERT_TRUE(dir.mkdir("big"));
    ASSERT_TRUE(dir.mkdir("small"));
    QDir big(dir.filePath("big"));
    ASSERT_TRUE(big.mkdir("sub"));
    touch(big, {"p10.jpg", "p2.jpg", "notes.txt"});
    touch(QDir(dir.filePath("small")), {"s.jpg"});

    FolderList list;
    list.setFilePattern("*.jpg");
    list.setBackgroundBytes(0); // every folder counts as large
    QSignalSpy changes(&list, &FolderList::pathChanged);
    ASSERT_TRUE(list.setPath(dir.path()));
    EXPECT_TRUE(list.isReading());
    EXPECT_EQ(changes.count(), 0); // the lists change when the read is done
    EXPECT_EQ(list.path(), dir.path()); // the path is the folder asked for at once
    QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, 5000);
    EXPECT_FALSE(list.isReading());

    // One read gives the subfolders and the matching files, sorted.
    ASSERT_TRUE(list.setPath(big.path()));
    QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 2, 5000);
    EXPECT_EQ(list.item(list.count() - 1)->text().trimmed(), "sub");
    EXPECT_EQ(list.takeFiles(), (QStringList{"p2.jpg", "p10.jpg"}));

    // Two requests in a row: only the newer one is shown, and the handler runs once.
    ASSERT_TRUE(list.setPath(dir.path()));
    ASSERT_TRUE(list.setPath(dir.filePath("small")));
    EXPECT_EQ(list.path(), dir.filePath("small"));
    QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 3, 5000);
    QTest::qWait(50); // a bounded look for a late, stale result
    EXPECT_EQ(list.path(), dir.filePath("small"));
    EXPECT_EQ(changes.count(), 3);
    EXPECT_EQ(list.takeFiles(), QStringList{"s.jpg"});
}

// The main window over a temporary folder, with a fresh settings store.
class BrowsingWindow : public ::testing::Test {
protected:
    std::unique_ptr<Tavlin> make() {
        return std::make_unique<Tavlin>(test::windowOptions(platform, exits));
    }
    test::TempConfigHome config;
    QTemporaryDir tmp;
    test::CountingPlatform platform;
    int exits = 0;
};

TEST_F(BrowsingWindow, PictureNamedAtStartIsShownOnceALargeFolderIsRead) {
    QDir dir(tmp.path());
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        test::writePicture(dir.filePath(name), test::patternImage(64, 48));
    auto w = make();
    auto d = test::drive(*w);
    d.setFolderBackgroundBytes(0); // read on the worker, as a large folder is
    ASSERT_TRUE(d.start(parseCommandLine({dir.filePath("b.jpg")})));
    // Start-up did not wait for the read; the lists fill, then the picture is selected.
    QTRY_COMPARE_WITH_TIMEOUT(d.selectedName(), QString("b.jpg"), 5000);
    EXPECT_EQ(d.folder(), dir.path());
    EXPECT_EQ(d.count(), 3);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(d.shown(Part::Picture));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(BrowsingWindow, OpeningAFolderFinishesACutShortBatchBeforeListingIt) {
    QDir dir(tmp.path());
    ASSERT_TRUE(dir.mkdir("trip"));
    QDir trip(dir.filePath("trip"));
    touch(trip, {"old.jpg", "other.jpg"});
    // A batch cut short in its second phase: old.jpg was still to become trip1.jpg.
    test::writeFile(trip.filePath(".tavlin-rename.journal"),
                    "tavlin-batch-rename 1\nphase 2\ncount 1\ne old.jpg * trip1.jpg\nend\n");
    auto w = make();
    auto d = test::drive(*w);
    ASSERT_TRUE(d.start(parseCommandLine({dir.path()})));
    ASSERT_TRUE(d.openFolder(trip.path()));
    EXPECT_EQ(d.names(), (QStringList{"other.jpg", "trip1.jpg"}));
    EXPECT_FALSE(QFile::exists(trip.filePath(".tavlin-rename.journal")));
}

TEST(DriveList, DriveIsTheVolumeWithTheLongestRootPrefix) {
    const QStringList roots = {"/", "/media/usb", "/media/usb2", "/home"};
    EXPECT_EQ(DriveList::driveOf("/media/usb2/pics", roots), "/media/usb2");
    EXPECT_EQ(DriveList::driveOf("/media/usb", roots), "/media/usb");
    EXPECT_EQ(DriveList::driveOf("/media/usbstick", roots), "/");
    EXPECT_EQ(DriveList::driveOf("/home/someone", roots), "/home");
    EXPECT_EQ(DriveList::driveOf("/etc", roots), "/");
    EXPECT_TRUE(DriveList::volumeRoots().contains("/"));
}
