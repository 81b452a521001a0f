#include <cerrno>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>
#include <utility>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QInputDialog>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include "bindfsmount.h"
#include "fileops/rename.h"
#include "fileops/renamesingle.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

TEST(GetExtension, FromTheFirstDotUnlessTheNameStartsWithOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"beach.JPG", ".JPG"},
        {"trip.2002.jpg", ".2002.jpg"},
        {"archive.tar.gz", ".tar.gz"},
        {"notes", ""},
        {".hidden", ""},
        {".hidden.jpg", ""},
        {"", ""},
        {"a.", "."},
        {"x.y", ".y"},
    };
    for (const auto& [name, ext] : cases)
        EXPECT_EQ(GetExtension(QString::fromUtf8(name)), QString::fromUtf8(ext)) << name;
}

// Each case runs on the local file system and, where FUSE works, on the fall-back path.
class RenameFileTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) {
            m_mount.emplace();
            if (!m_mount->mounted())
                GTEST_SKIP() << "FUSE is not available, link fall-back untested: "
                             << m_mount->whyNot().constData();
            m_folder = m_mount->view();
        } else {
            m_folder = m_local.path();
        }
    }
    QString path(const QString& name) const { return m_folder + QLatin1Char('/') + name; }
    bool onFallback() const { return GetParam(); }

    QTemporaryDir m_local;
    std::optional<test::BindfsMount> m_mount;
    QString m_folder;
};

TEST_P(RenameFileTest, RenamesToAFreeNameAndNeverOverwrites) {
    test::writeFile(path("a.jpg"), "alpha");
    test::writeFile(path("b.jpg"), "beta");

    const RenameResult taken = RenameFile(m_folder, "a.jpg", "b.jpg");
    EXPECT_EQ(taken.status, RenameStatus::NameTaken);
    EXPECT_EQ(readAll(path("a.jpg")), "alpha");
    EXPECT_EQ(readAll(path("b.jpg")), "beta");

    const RenameResult moved = RenameFile(m_folder + "/", "a.jpg", "c.jpg");
    ASSERT_TRUE(moved.ok()) << moved.describe().toStdString();
    EXPECT_EQ(moved.viaLink, onFallback());
    EXPECT_EQ(namesIn(m_folder), QStringList({"b.jpg", "c.jpg"}));
    EXPECT_EQ(readAll(path("c.jpg")), "alpha");

    const RenameResult gone = RenameFile(m_folder, "a.jpg", "d.jpg");
    EXPECT_EQ(gone.status, RenameStatus::FileGone);
}

TEST_P(RenameFileTest, LinkPathRefusesATakenNameEvenWhenTheFlagIsBypassed) {
    // The kernel answers EEXIST itself for a target it knows, so call the link path
    // directly to prove it cannot replace a file either.
    test::writeFile(path("a.jpg"), "alpha");
    test::writeFile(path("b.jpg"), "beta");
    fsops::FolderHandle dir(m_folder);
    ASSERT_TRUE(dir.isOpen());
    EXPECT_EQ(fsops::linkThenUnlink(dir.fd(), "a.jpg", "b.jpg").status, RenameStatus::NameTaken);
    EXPECT_EQ(readAll(path("a.jpg")), "alpha");
    EXPECT_EQ(readAll(path("b.jpg")), "beta");

    const RenameResult moved = fsops::linkThenUnlink(dir.fd(), "a.jpg", "e.jpg");
    ASSERT_TRUE(moved.ok());
    EXPECT_EQ(namesIn(m_folder), QStringList({"b.jpg", "e.jpg"}));
}

TEST_P(RenameFileTest, ChangesOnlyTheLetterCase) {
    test::writeFile(path("beach.JPG"), "sand");
    ASSERT_TRUE(RenameFile(m_folder, "beach.JPG", "beach.jpg").ok());
    EXPECT_EQ(namesIn(m_folder), QStringList({"beach.jpg"}));
    EXPECT_EQ(readAll(path("beach.jpg")), "sand");
}

INSTANTIATE_TEST_SUITE_P(FileSystems, RenameFileTest, ::testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "FuseWithoutFlag" : "Local");
                         });

TEST(RenameFile, RefusesNamesThatLeaveTheFolderWithoutTouchingTheDisk) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("sub");
    test::writeFile(dir.filePath("a.jpg"), "alpha");
    const std::pair<const char*, const char*> cases[] = {
        {"a.jpg", ""},         {"", "b.jpg"},  {"a.jpg", "sub/a.jpg"},
        {"a.jpg", "../a.jpg"}, {"a.jpg", "."}, {"a.jpg", ".."},
    };
    for (const auto& [from, to] : cases) {
        const RenameResult r = RenameFile(dir.path(), from, to);
        EXPECT_FALSE(r.ok()) << from << " -> " << to;
    }
    EXPECT_FALSE(RenameFile("", "a.jpg", "b.jpg").ok());
    EXPECT_EQ(namesIn(dir.path()), QStringList({"a.jpg"}));
    EXPECT_TRUE(namesIn(dir.filePath("sub")).isEmpty());
}

TEST(RenameFile, SaysWhatFailed) {
    QTemporaryDir dir;
    test::writeFile(dir.filePath("a.jpg"), "alpha");
    const RenameResult tooLong = RenameFile(dir.path(), "a.jpg", QString(300, QLatin1Char('x')));
    EXPECT_EQ(tooLong.status, RenameStatus::NameTooLong);
    // Said as too long, with the folder's own limit (255 bytes on the usual file systems).
    EXPECT_TRUE(tooLong.describe().startsWith("the name is too long: a file name here may have at "
                                              "most 255 bytes"))
        << tooLong.describe().toStdString();
    EXPECT_EQ(RenameResult({RenameStatus::ReadOnly, EROFS}).describe(),
              "the folder is on a read-only file system");
    EXPECT_EQ(RenameFile(dir.filePath("nowhere"), "a.jpg", "b.jpg").status, RenameStatus::FileGone);
    EXPECT_EQ(RenameResult({RenameStatus::OtherError, ENOSPC}).describe(),
              "No space left on device");
}

TEST(RenameFile, TwoHardLinkedNamesAreNotMergedByACaseChange) {
    // Looks like a case-blind file system to the rename (EEXIST, same inode): the detour
    // through a temporary name must come back and leave both names.
    QTemporaryDir dir;
    test::writeFile(dir.filePath("a.jpg"), "alpha");
    ASSERT_EQ(
        ::link(QFile::encodeName(dir.filePath("a.jpg")), QFile::encodeName(dir.filePath("A.jpg"))),
        0);
    EXPECT_EQ(RenameFile(dir.path(), "a.jpg", "A.jpg").status, RenameStatus::NameTaken);
    EXPECT_EQ(namesIn(dir.path()), QStringList({"A.jpg", "a.jpg"}));
}

TEST(RenameFile, RecoveryPutsBackAFileLeftUnderACaseChangeTemporaryName) {
    // A crash between the two steps of a case change: the marker names the target.
    QTemporaryDir dir;
    test::writeFile(dir.filePath(".tavlin-case-beach.jpg"), "sand");
    test::writeFile(dir.filePath(fsops::kCaseMarkerName), "beach.jpg");
    fsops::FolderHandle folder(dir.path());
    EXPECT_EQ(fsops::recoverCaseRenames(folder.fd()), 1);
    EXPECT_EQ(namesIn(dir.path()), QStringList({"beach.jpg"}));
    // Nothing left to do: the next recovery finds no marker.
    EXPECT_EQ(fsops::recoverCaseRenames(folder.fd()), 0);
}

// The single rename with a scripted user: one answer, and every warning recorded.
class SingleRename : public ::testing::Test {
protected:
    SingleRenameOutcome rename(const QString& oldName, std::optional<QString> answer) {
        asked = false;
        return RenameSingleFile(
            dir.path(), oldName,
            [&](const QString& prompt, const QString& title, const QString& defaultText) {
                asked = true;
                lastPrompt = prompt;
                lastTitle = title;
                EXPECT_TRUE(defaultText.isEmpty());
                return answer;
            },
            [&](const QString& title, const QString& text) {
                told.append({title, text});
            });
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    bool asked = false;
    QString lastPrompt, lastTitle;
    QList<std::pair<QString, QString>> told;
};

TEST_F(SingleRename, BuildsTheNewNameFromTheAnswer) {
    struct Case {
        const char* old;
        const char* answer;
        const char* result;
    };
    const Case cases[] = {
        {"beach.JPG", "sunset", "sunset.JPG"}, {"beach2.JPG", "sunset.png", "sunset.png"},
        {"trip.2002.jpg", "x", "x.2002.jpg"},  {"beach.jpg", "summer.2002", "summer.2002"},
        {"notes", "plain", "plain"},
    };
    for (const Case& c : cases) {
        test::writeFile(path(c.old), c.old);
        const SingleRenameOutcome out = rename(c.old, QString::fromUtf8(c.answer));
        EXPECT_EQ(out.kind, SingleRenameOutcome::Kind::Renamed) << c.old;
        EXPECT_EQ(out.newName, c.result);
        EXPECT_EQ(readAll(path(c.result)), c.old) << "contents travel with the name";
        EXPECT_FALSE(QFile::exists(path(c.old)));
    }
    EXPECT_EQ(lastTitle, "Enter New Filename:");
    EXPECT_TRUE(told.isEmpty());
    rename("beach.JPG", std::nullopt);
    EXPECT_EQ(lastPrompt, "Enter new filename for beach.JPG:");
}

TEST_F(SingleRename, ATakenNameIsNamedInTheWarningAndNothingMoves) {
    test::writeFile(path("beach.JPG"), "sand");
    test::writeFile(path("sunset.JPG"), "sky");
    const SingleRenameOutcome out = rename("beach.JPG", QStringLiteral("sunset"));
    EXPECT_EQ(out.kind, SingleRenameOutcome::Kind::Failed);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0].first, "File Already Exists!");
    EXPECT_EQ(told[0].second, "A file with the name sunset.JPG already exists!");
    EXPECT_EQ(readAll(path("beach.JPG")), "sand");
    EXPECT_EQ(readAll(path("sunset.JPG")), "sky");
}

TEST_F(SingleRename, AnswersThatLeaveTheFolderAreRefusedWithAMessage) {
    QDir(dir.path()).mkdir("sub");
    test::writeFile(path("beach.JPG"), "sand");
    // A leading dot hides the file from the list.
    for (const char* answer : {"sub/x", "../x", "..", ".", ".secret", ".x.jpg"}) {
        told.clear();
        const SingleRenameOutcome out = rename("beach.JPG", QString::fromUtf8(answer));
        EXPECT_EQ(out.kind, SingleRenameOutcome::Kind::Refused) << answer;
        ASSERT_EQ(told.size(), 1) << answer;
        EXPECT_EQ(told[0].first, "Name Not Allowed");
        EXPECT_FALSE(told[0].second.contains("already exists"));
    }
    EXPECT_EQ(namesIn(dir.path()), QStringList({"beach.JPG"}));
    EXPECT_TRUE(namesIn(path("sub")).isEmpty());
}

TEST_F(SingleRename, AFailureThatIsNotATakenNameSaysWhatItIs) {
    test::writeFile(path("beach.JPG"), "sand");
    const SingleRenameOutcome out = rename("beach.JPG", QString(300, QLatin1Char('y')));
    EXPECT_EQ(out.kind, SingleRenameOutcome::Kind::Failed);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0].first, "Rename Failed");
    EXPECT_TRUE(told[0].second.contains("the name is too long: a file name here may have at most"));
    told.clear();
    ::unlink(QFile::encodeName(path("beach.JPG")));
    rename("beach.JPG", QStringLiteral("sunset"));
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].second.endsWith("the file is gone."));
}

TEST_F(SingleRename, CaseOnlyChangeSucceeds) {
    test::writeFile(path("beach.JPG"), "sand");
    EXPECT_EQ(rename("beach.JPG", QStringLiteral("Beach.jpg")).kind,
              SingleRenameOutcome::Kind::Renamed);
    EXPECT_EQ(namesIn(dir.path()), QStringList({"Beach.jpg"}));
}

TEST_F(SingleRename, CancelEmptyAnswerAndNoSelectionDoNothing) {
    test::writeFile(path("beach.JPG"), "sand");
    EXPECT_EQ(rename("beach.JPG", std::nullopt).kind, SingleRenameOutcome::Kind::Cancelled);
    EXPECT_EQ(rename("beach.JPG", QString()).kind, SingleRenameOutcome::Kind::Cancelled);
    EXPECT_EQ(rename(QString(), QStringLiteral("x")).kind, SingleRenameOutcome::Kind::NoSelection);
    EXPECT_FALSE(asked) << "no selection asks nothing";
    EXPECT_TRUE(told.isEmpty());
    EXPECT_EQ(namesIn(dir.path()), QStringList({"beach.JPG"}));
}

TEST(SingleRenameBox, ALongNameWrapsAndKeepsTheButtonsOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QString prompt = renametext::prompt(QString(200, QLatin1Char('n')) + ".jpg");
    QRect shown;
    QString label;
    QList<QRect> buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->frameGeometry();
        label = box->labelText();
        for (QPushButton* b : box->findChildren<QPushButton*>())
            buttons << QRect(b->mapToGlobal(QPoint(0, 0)), b->size());
        box->reject();
    });
    const std::optional<QString> answer = inputBoxAsker(nullptr)(prompt, "Enter New Filename:", {});
    EXPECT_FALSE(answer.has_value());
    EXPECT_LE(shown.width(), screen.width());
    ASSERT_EQ(buttons.size(), 2);
    for (const QRect& b : buttons)
        EXPECT_TRUE(screen.contains(b)) << b.x() << "," << b.y();
    EXPECT_EQ(label.remove(QChar(0x200B)), prompt) << "the whole prompt, only break chances added";
}
