// Sending a picture to the desktop's Trash: the home Trash for files beside it, the Trash at the
// top of another file system for files there, names by their exact bytes, and a file that no
// Trash can take left where it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "bindfsmount.h"
#include "fileops/trash.h"
#include "platform/filenames.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

QByteArray readBytesFile(const QByteArray& path);

QByteArray trashInfo(const QByteArray& trash, const QByteArray& name) {
    return readBytesFile(trash + "/info/" + name + ".trashinfo");
}

// Files named by their bytes: QFile would spell a byte that is not UTF-8 differently.
void writeBytesFile(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.toStdString();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

QByteArray readBytesFile(const QByteArray& path) {
    QByteArray bytes(4096, '\0');
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return {};
    const ssize_t n = ::read(fd, bytes.data(), size_t(bytes.size()));
    ::close(fd);
    return bytes.left(n < 0 ? 0 : n);
}

bool existsBytes(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray home() {
    return qgetenv("XDG_DATA_HOME") + "/Trash";
}

} // namespace

// A file beside the home Trash goes there with its info file, under its exact bytes; a second
// file of the same name does not replace the first.
TEST(Trash, TakesFilesIntoTheHomeTrashUnderTheirOwnBytes) {
    test::TempConfigHome config;
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray file;
        QByteArray trashedAs;
        QByteArray recorded; // the Path line, percent-encoded
    } cases[] = {
        {"plain", "photo.jpg", "photo.jpg", "photo.jpg"},
        {"the same name again", "photo.jpg", "photo 2.jpg", "photo.jpg"},
        {"a space and UTF-8", "sommar \xc3\xa4.jpg", "sommar \xc3\xa4.jpg", "sommar%20%C3%A4.jpg"},
        {"a byte that is not UTF-8", "a\xff.jpg", "a\xff.jpg", "a%FF.jpg"},
        {"no ending", "README", "README", "README"},
    };
    const QByteArray folder = QFile::encodeName(dir.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray file = folder + '/' + c.file;
        writeBytesFile(file, c.file);
        const TrashResult result = MoveToTrash(decodeFileName(file));
        ASSERT_EQ(result.error, 0) << result.problem.toStdString();
        EXPECT_FALSE(existsBytes(file));
        EXPECT_EQ(result.trashedAs, home() + "/files/" + c.trashedAs);
        EXPECT_EQ(readBytesFile(result.trashedAs), c.file);
        const QByteArray info = trashInfo(home(), c.trashedAs);
        EXPECT_TRUE(info.startsWith("[Trash Info]\nPath=" + folder.toPercentEncoding("/") + '/' +
                                    c.recorded + "\nDeletionDate="))
            << info.toStdString();
    }
    struct stat st {};
    ASSERT_EQ(::stat(home().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the Trash is the user's alone";
}

// On another file system (a FUSE mount here) the file goes to that file system's own Trash,
// never copied to the home one; where no Trash can be made, the file stays and the reason is
// given.
TEST(Trash, UsesTheTrashOfTheFilesOwnFileSystemOrLeavesTheFile) {
    test::TempConfigHome config;
    test::BindfsMount mount;
    if (!mount.mounted())
        GTEST_SKIP() << mount.whyNot().toStdString();
    const QString file = mount.view() + QStringLiteral("/away.jpg");
    test::writeFile(file, "away");
    const TrashResult result = MoveToTrash(file);
    ASSERT_EQ(result.error, 0) << result.problem.toStdString();
    const QByteArray own =
        QFile::encodeName(mount.view()) + "/.Trash-" + QByteArray::number(qulonglong(::getuid()));
    EXPECT_EQ(result.trashedAs, own + "/files/away.jpg");
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(trashInfo(own, "away.jpg").startsWith("[Trash Info]\nPath=away.jpg\n"))
        << "the path from the top of its file system";
    EXPECT_FALSE(QDir(QString::fromLocal8Bit(home())).exists()) << "nothing in the home Trash";

    // The top of the mount turned immutable (root cannot write there either): no Trash can be
    // made, and the file stays.
    QDir(QFile::decodeName(own)).removeRecursively();
    test::writeFile(file, "stays");
    if (QProcess::execute("chattr", {"+i", mount.source()}) != 0)
        GTEST_SKIP() << "chattr +i is not supported on this file system";
    const TrashResult refused = MoveToTrash(file);
    QProcess::execute("chattr", {"-i", mount.source()});
    EXPECT_NE(refused.error, 0);
    EXPECT_TRUE(refused.problem.contains("no Trash can be made")) << refused.problem.toStdString();
    EXPECT_EQ(test::readAll(file), "stays");
}

// A read-only file system takes nothing: the file stays, and the reason is the file system's.
TEST(Trash, LeavesAFileOnAReadOnlyFileSystem) {
    test::TempConfigHome config;
    test::BindfsMount mount(true);
    if (!mount.mounted())
        GTEST_SKIP() << mount.whyNot().toStdString();
    test::writeFile(mount.source() + QStringLiteral("/kept.jpg"), "kept");
    const TrashResult result = MoveToTrash(mount.view() + QStringLiteral("/kept.jpg"));
    EXPECT_EQ(result.error, EROFS) << result.problem.toStdString();
    EXPECT_FALSE(result.problem.isEmpty());
    EXPECT_EQ(test::readAll(mount.view() + QStringLiteral("/kept.jpg")), "kept");
}
