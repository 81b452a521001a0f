#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/testsupport.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/folderscan.h"

using namespace tavlin;

namespace {

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
    QStringList names = {"img10.jpg", "IMG2.jpg", "img1.jpg", "Beach.jpg", "apple.gif",
                         "img002.jpg", "b.jpg", "IMG100.jpg"};
    sortNatural(names);
    EXPECT_EQ(names, (QStringList{"apple.gif", "b.jpg", "Beach.jpg", "img1.jpg", "IMG2.jpg",
                                  "img002.jpg", "img10.jpg", "IMG100.jpg"}));
}

TEST(FileList, ListsMatchingRegularVisibleFilesInNaturalOrder) {
    QTemporaryDir tmp;
    QDir dir(tmp.path());
    touch(dir, {"b10.JPG", "b2.jpg", "a.Gif", "c.bmp", "notes.txt", "jpg", ".hidden.jpg",
                "archive.jpg.zip", "x.jpeg"});
    ASSERT_TRUE(dir.mkdir("folder.jpg"));
    ASSERT_EQ(::mkfifo(dir.filePath("pipe.jpg").toLocal8Bit().constData(), 0600), 0);

    FileList list;
    list.setPattern("*.jpg;*.bmp;*.gif");
    ASSERT_TRUE(list.setFolder(dir.path()));
    EXPECT_EQ(list.names(), (QStringList{"a.Gif", "b2.jpg", "b10.JPG", "c.bmp"}));
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
    ASSERT_TRUE(QFile::setPermissions(tmp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner | QFileDevice::ExeOther |
                                                      QFileDevice::ReadOther));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner |
                                                                  QFileDevice::ExeOwner));
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

TEST(DriveList, DriveIsTheVolumeWithTheLongestRootPrefix) {
    const QStringList roots = {"/", "/media/usb", "/media/usb2", "/home"};
    EXPECT_EQ(DriveList::driveOf("/media/usb2/pics", roots), "/media/usb2");
    EXPECT_EQ(DriveList::driveOf("/media/usb", roots), "/media/usb");
    EXPECT_EQ(DriveList::driveOf("/media/usbstick", roots), "/");
    EXPECT_EQ(DriveList::driveOf("/home/someone", roots), "/home");
    EXPECT_EQ(DriveList::driveOf("/etc", roots), "/");
    EXPECT_TRUE(DriveList::volumeRoots().contains("/"));
}
