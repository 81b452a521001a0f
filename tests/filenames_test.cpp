// File names that are not valid UTF-8: converted without loss, and every action
// reaches the file listed, never another file whose name decodes alike.
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "app/commandline.h"
#include "fileops/batchinflight.h"
#include "fileops/batchrename.h"
#include "fileops/rename.h"
#include "platform/exists.h"
#include "platform/filenames.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/folderscan.h"
#include "viewer/keymap.h"
#include "viewer/tavlin.h"

using namespace tavlin;
using test::Part;

namespace {

// The text with "%XX" standing for the escape of the byte 0xXX (a lone surrogate, which
// a string literal cannot hold).
QString escaped(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size()) {
            out.append(QChar(char16_t(0xDC00 + text.mid(i + 1, 2).toInt(nullptr, 16))));
            i += 2;
        } else {
            out.append(text[i]);
        }
    }
    return out;
}

QByteArray bytesOf(const QString& path) {
    return QFile::encodeName(path);
}

bool existsBytes(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray contentOf(const QByteArray& path) {
    QByteArray data;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return data;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, n);
    ::close(fd);
    return data;
}

// Writes through the bytes, never through Qt's own name conversion.
void writeBytes(const QByteArray& path, const QByteArray& data) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, data.constData(), size_t(data.size())), data.size());
    ::close(fd);
}

QByteArray pictureBytes(int width, int height) {
    QTemporaryDir tmp;
    const QString file = tmp.filePath("p.jpg");
    test::writePicture(file, test::patternImage(width, height));
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

TEST(FileNames, ConvertBytesWithoutLoss) {
    struct Case {
        QByteArray bytes;
        QString text; // what the bytes decode to
    };
    const Case cases[] = {
        {"beach.jpg", u"beach.jpg"_qs},
        {"\xc3\xa9mile.jpg", u"\u00e9mile.jpg"_qs},     // valid UTF-8 as usual
        {"\xf0\x9f\x8c\x8a.jpg", u"\U0001F30A.jpg"_qs}, // beyond the BMP
        {"\xef\xbf\xbd.jpg", u"\uFFFD.jpg"_qs},         // a real U+FFFD stays one
        {"a\xff.jpg", u"a%FF.jpg"_qs},                  // a stray byte: its escape
        {"\xe9t\xe9.jpg", u"%E9t%E9.jpg"_qs},           // Latin-1 from an old disk
        {"\xc3(", u"%C3("_qs},                          // a cut-short sequence
        {"\xc0\xaf", u"%C0%AF"_qs},                     // overlong "/"
        {"\xed\xa0\x80", u"%ED%A0%80"_qs},              // an encoded surrogate
        {"\xf4\x90\x80\x80", u"%F4%90%80%80"_qs},       // past U+10FFFF
        {"\xe2\x82", u"%E2%82"_qs},                     // truncated at the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        const QString decoded = decodeFileName(c.bytes);
        EXPECT_EQ(decoded, escaped(c.text));
        EXPECT_EQ(encodeFileName(decoded), c.bytes);
    }
    // Every single byte and every pair of bytes comes back as it went in.
    for (int a = 1; a < 256; ++a)
        for (int b = 0; b < 256; b += a % 7 == 0 ? 1 : 17) {
            QByteArray bytes;
            bytes.append(char(a));
            if (b)
                bytes.append(char(b));
            ASSERT_EQ(encodeFileName(decodeFileName(bytes)), bytes) << bytes.toHex().toStdString();
        }
    // The text drawn shows U+FFFD for a stray byte; a pair of surrogates stays.
    EXPECT_EQ(displayFileName(escaped(u"a%FF\U0001F30A.jpg"_qs)), u"a\uFFFD\U0001F30A.jpg"_qs);
}

// A folder whose own name is not UTF-8, holding a picture named with a stray byte and
// another whose name is the UTF-8 of the replacement character: the two names a lossy
// conversion would confuse.
class NonUtf8Names : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        folderBytes = bytesOf(tmp.path()) + "/old\xe9"
                                            "disk";
        ASSERT_EQ(::mkdir(folderBytes.constData(), 0755), 0);
        folder = decodeFileName(folderBytes);
        writeBytes(strayBytes(), pictureBytes(320, 200));
        writeBytes(replacementBytes(), pictureBytes(200, 320));
    }

    QByteArray strayBytes() const { return folderBytes + "/a\xff.jpg"; }
    QByteArray replacementBytes() const { return folderBytes + "/a\xef\xbf\xbd.jpg"; }
    static QString stray() { return decodeFileName(QByteArray("a\xff.jpg")); }

    std::unique_ptr<Tavlin> start(const QStringList& args = {}) {
        auto w = std::make_unique<Tavlin>(test::windowOptions(platform, exits));
        test::drive(*w).start(parseCommandLine(args));
        return w;
    }

    // QTemporaryDir cannot remove names that are not UTF-8 (Qt's conversion loses them).
    void TearDown() override {
        ::nftw(
            bytesOf(tmp.path()).constData(),
            [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); },
            16, FTW_DEPTH | FTW_PHYS);
    }

    test::TempConfigHome config;
    QTemporaryDir tmp;
    QByteArray folderBytes;
    QString folder;
    test::CountingPlatform platform;
    int exits = 0;
};

TEST_F(NonUtf8Names, ExistenceTestsAndScanSeeTheExactBytes) {
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FileExists(joinPath(folder, stray())));
    // The lossy spelling of the folder names nothing.
    EXPECT_FALSE(FolderExists(QFile::decodeName(folderBytes)));

    std::error_code error;
    const FolderEntries entries = scanFolder(folder, error);
    ASSERT_FALSE(error);
    QStringList files = entries.files;
    files.sort();
    EXPECT_EQ(files, (QStringList{stray(), u"a\uFFFD.jpg"_qs}));
}

TEST_F(NonUtf8Names, ListedShownAndDeletedUnderTheirOwnBytes) {
    auto w = start({tmp.path()});
    auto d = test::drive(*w);
    // Opened from the folder list, as a double click on it does.
    ASSERT_TRUE(d.openFolder(folder));
    ASSERT_EQ(d.folder(), folder);
    const QStringList names = d.names();
    ASSERT_EQ(names.size(), 2);
    const qsizetype index = names.indexOf(stray());
    ASSERT_GE(index, 0);

    // Shown: the stray-byte file is 320 x 200, the other one 200 x 320.
    d.select(index);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(platform.beeps, 0);
    EXPECT_TRUE(d.shown(Part::Picture));
    EXPECT_EQ(d.text(Part::WidthLine), "Width: 320");
    // The list draws U+FFFD for the stray byte.
    EXPECT_EQ(d.listedText(index), u"a\uFFFD.jpg"_qs);

    // Delete removes that file only, never the other one whose name looks alike.
    const QByteArray other = contentOf(replacementBytes());
    d.select(index);
    d.keyDown(vk::Delete, 0);
    EXPECT_FALSE(existsBytes(strayBytes()));
    ASSERT_TRUE(existsBytes(replacementBytes()));
    EXPECT_EQ(contentOf(replacementBytes()), other);
    EXPECT_EQ(d.names(), QStringList{u"a\uFFFD.jpg"_qs});
}

TEST_F(NonUtf8Names, RenamedAndBatchRenamedUnderTheirOwnBytes) {
    const QByteArray stray = contentOf(strayBytes());
    const QByteArray other = contentOf(replacementBytes());

    // A new name that is itself not UTF-8 keeps its bytes too.
    const QString newName = decodeFileName(QByteArray("b\xfe.jpg"));
    ASSERT_TRUE(RenameFile(folder, this->stray(), newName));
    EXPECT_FALSE(existsBytes(strayBytes()));
    EXPECT_EQ(contentOf(folderBytes + "/b\xfe.jpg"), stray);
    EXPECT_EQ(contentOf(replacementBytes()), other);

    const std::vector<BatchEntry> plan = PlanBatchRename("trip", {u"a\uFFFD.jpg"_qs, newName});
    const BatchOutcome outcome = ExecuteBatchRename(folder, plan);
    EXPECT_TRUE(outcome.failures.empty());
    EXPECT_EQ(contentOf(folderBytes + "/trip1.jpg"), other);
    EXPECT_EQ(contentOf(folderBytes + "/trip2.jpg"), stray);
}

TEST_F(NonUtf8Names, FolderIsRememberedAndOpenedAgainAtTheNextStart) {
    {
        auto w = start({tmp.path()});
        auto d = test::drive(*w);
        ASSERT_EQ(d.folder(), tmp.path());
        // The user opens the folder from the folder list.
        ASSERT_TRUE(d.openFolder(folder));
        ASSERT_EQ(d.count(), 2);
        w->ExitProgram();
    }
    const Settings stored = LoadRegistrySettings(QString());
    EXPECT_EQ(encodeFileName(stored.lastDirectory), folderBytes);
    auto w = start();
    auto d = test::drive(*w);
    EXPECT_EQ(d.folder(), folder);
    EXPECT_EQ(d.count(), 2);
}

TEST_F(NonUtf8Names, BatchInFlightListKeepsTheFolderBytes) {
    // The folder a batch runs in is what the next start must finish: a lossy spelling
    // would name no folder, and the batch would be dropped unfinished.
    ASSERT_EQ(RememberBatchFolder(folder), Remembered::Now);
    EXPECT_EQ(BatchFoldersInFlight(), QStringList{folder});
    EXPECT_EQ(RememberBatchFolder(folder), Remembered::Already) << "listed once";
    ForgetBatchFolder(folder);
    EXPECT_TRUE(BatchFoldersInFlight().isEmpty());
}
