#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fileops/batchjournal.h"
#include "fileops/batchrename.h"

using namespace tavlin;
using namespace tavlin::batchjournal;

namespace {

class JournalFolder {
public:
    JournalFolder() : fd_(::open(QFile::encodeName(dir_.path()).constData(), O_RDONLY)) {}
    ~JournalFolder() { ::close(fd_); }
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;

    int fd() const { return fd_; }
    QString path(const char* name = kFileName) const { return dir_.filePath(QLatin1String(name)); }
    void put(const QByteArray& bytes, const char* name = kFileName) const {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

private:
    QTemporaryDir dir_;
    int fd_;
};

QByteArray journalOf(const QByteArray& phase, const QList<QByteArray>& entries,
                     qsizetype count = -1) {
    QByteArray text = "tavlin-batch-rename 1\nphase " + phase + "\ncount " +
                      QByteArray::number(count < 0 ? entries.size() : count) + '\n';
    for (const QByteArray& e : entries)
        text += "e " + e + '\n';
    return text + "end\n";
}

} // namespace

TEST(BatchJournal, WhatIsWrittenReadsBackExactly) {
    JournalFolder folder;
    Journal journal;
    journal.phase = 2;
    journal.entries = {
        {"IMG 1.JPG", ".tavlin-rename-0000abcd-0", "trip1.jpg"},
        {QByteArray("caf\xe9 *%.gif"), {}, "trip2.gif"},
        {"a.bmp", {}, "A b%20.bmp"},
    };
    ASSERT_EQ(write(folder.fd(), journal), 0);
    const ReadResult read = batchjournal::read(folder.fd());
    ASSERT_EQ(read.status, ReadStatus::Ok);
    EXPECT_EQ(read.journal.phase, 2);
    ASSERT_EQ(read.journal.entries.size(), journal.entries.size());
    for (size_t i = 0; i < journal.entries.size(); ++i) {
        EXPECT_EQ(read.journal.entries[i].oldName, journal.entries[i].oldName);
        EXPECT_EQ(read.journal.entries[i].tempName, journal.entries[i].tempName);
        EXPECT_EQ(read.journal.entries[i].newName, journal.entries[i].newName);
    }
}

// A journal is a file anyone can put in a folder: whatever is not exactly what a batch writes
// is damaged, and nothing of it is acted on.
TEST(BatchJournal, AnythingButAJournalAsWrittenIsDamaged) {
    const struct {
        const char* what;
        QByteArray text;
    } cases[] = {
        {"empty file", ""},
        {"binary junk", QByteArray("\x00\xff\xfe\x01tavlin\x00\n\n\x80", 13)},
        {"no end line", journalOf("2", {"a.jpg * b.jpg"}).chopped(4)},
        {"lines after the end", journalOf("2", {"a.jpg * b.jpg"}) + "e c.jpg * d.jpg\n"},
        {"count larger than the entries", journalOf("2", {"a.jpg * b.jpg"}, 999999999999)},
        {"count that is no number",
         journalOf("2", {"a.jpg * b.jpg"}).replace("count 1", "count 1x")},
        {"unknown phase", journalOf("3", {"a.jpg * b.jpg"})},
        {"old name leaves the folder", journalOf("2", {"..%2Fkeep.jpg * b.jpg"})},
        {"new name leaves the folder", journalOf("2", {"a.jpg * ..%2F..%2Fb.jpg"})},
        {"parked name is a path", journalOf("1", {"a.jpg sub%2Ft b.jpg"})},
        {"name is ..", journalOf("2", {".. * b.jpg"})},
        {"name is .", journalOf("2", {"a.jpg * ."})},
        {"name holds NUL", journalOf("2", {"a.jpg%00x * b.jpg"})},
        {"name longer than a file system allows",
         journalOf("2", {QByteArray(256, 'n') + " * b.jpg"})},
        {"file moved onto its own name", journalOf("2", {"a.jpg * a.jpg"})},
        {"direct move that only changes letter case", journalOf("2", {"A.JPG * a.jpg"})},
        {"parked under its old name", journalOf("1", {"a.jpg a.jpg b.jpg"})},
        {"parked under its new name", journalOf("1", {"a.jpg b.jpg b.jpg"})},
        {"missing old name", journalOf("2", {"* * b.jpg"})},
        {"a 100 MB line", "tavlin-batch-rename 1\nphase 2\ncount 1\ne " +
                              QByteArray(100 << 20, 'x') + " * b.jpg\nend\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        JournalFolder folder;
        folder.put(c.text);
        const ReadResult read = batchjournal::read(folder.fd());
        EXPECT_EQ(read.status, ReadStatus::Damaged);
        EXPECT_TRUE(read.journal.entries.empty());
        // Reading never changes the journal.
        EXPECT_EQ(QFileInfo(folder.path()).size(), c.text.size());
    }
}

TEST(BatchJournal, HostileJournalLosesNoFile) {
    // Without the reader's checks, replaying these deleted a.jpg or moved keep.jpg out of
    // the folder.
    for (const QByteArray& text :
         {journalOf("2", {"a.jpg * a.jpg"}), journalOf("1", {"a.jpg a.jpg b.jpg"}),
          journalOf("2", {"..%2Fkeep.jpg * stolen.jpg"})}) {
        SCOPED_TRACE(text.toStdString());
        QTemporaryDir outer;
        const QString folder = outer.filePath(QStringLiteral("pictures"));
        ASSERT_TRUE(QDir().mkpath(folder));
        for (const QString& file :
             {folder + QStringLiteral("/a.jpg"), outer.filePath(QStringLiteral("keep.jpg"))}) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("picture");
        }
        QFile journal(folder + u'/' + QLatin1String(kFileName));
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.write(text);
        journal.close();

        const RecoveryOutcome outcome = RecoverBatchRename(folder);
        EXPECT_FALSE(outcome.problem.isEmpty());
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/a.jpg")));
        EXPECT_TRUE(QFileInfo::exists(outer.filePath(QStringLiteral("keep.jpg"))));
        EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/stolen.jpg")));
    }
}
