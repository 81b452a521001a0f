#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include "fileops/batchrenamehost.h"
#include "fileops/frmgetprefix.h"
#include "fileops/renamesingle.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

using namespace tavlin;

namespace {

// A batch notes its folder in the settings store while it runs: a private store.
test::TempConfigHome configHome;

// A stand-in for the main window over a real folder: its list shows the folder's
// pictures, and it records what the batch asked of it.
class FolderHost : public BatchRenameHost {
public:
    explicit FolderHost(QString folder) : m_folder(std::move(folder)) { batchRefreshFiles(); }

    QString batchFolder() const override { return m_folder; }
    QStringList batchFileNames() const override { return m_files; }
    void batchRefreshFiles() override {
        m_files = QDir(m_folder).entryList({"*.jpg", "*.bmp", "*.gif"}, QDir::Files,
                                           QDir::Name | QDir::IgnoreCase);
        ++refreshes;
    }
    void batchSelectFirstFile() override { ++firstSelected; }
    bool batchSlideshowRunning() const override { return slideshow; }
    void batchStopSlideshow() override {
        slideshow = false;
        ++stops;
    }
    void batchStartSlideshow() override {
        slideshow = true;
        ++starts;
    }
    void batchSetControlsEnabled(bool enabled) override { controls.append(enabled); }
    void batchShowMessage(const QString& title, const QString& text) override {
        messages.append(title + ": " + text);
    }

    bool slideshow = false;
    int stops = 0, starts = 0, refreshes = 0, firstSelected = 0;
    QList<bool> controls;
    QStringList messages;

private:
    QString m_folder;
    QStringList m_files;
};

void makeFiles(const QString& folder, const QStringList& names) {
    for (const QString& name : names)
        test::writeFile(folder + QLatin1Char('/') + name, name.toUtf8());
}

QStringList allNames(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::AllDirs | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

TEST(RenameFilesUsingPrefix, RenamesTheListedPicturesOnlyAndRestoresTheWindow) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"b.JPG", "a.gif", "pic.old.GIF", "notes.txt", ".hidden.jpg"});
    QDir(dir.path()).mkdir("sub.jpg");
    FolderHost host(dir.path());
    host.slideshow = true;
    QString prefix = "trip";
    EXPECT_TRUE(RenameFilesUsingPrefix(host, prefix, nullptr));
    EXPECT_EQ(allNames(dir.path()), QStringList({".hidden.jpg", "notes.txt", "sub.jpg", "trip1.gif",
                                                 "trip2.jpg", "trip3.old.gif"}));
    EXPECT_EQ(host.stops, 1);
    EXPECT_EQ(host.starts, 1);
    EXPECT_TRUE(host.slideshow) << "a running slideshow runs again";
    EXPECT_EQ(host.controls, QList<bool>({false, true}));
    EXPECT_EQ(host.firstSelected, 1);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(host.batchFileNames(), QStringList({"trip1.gif", "trip2.jpg", "trip3.old.gif"}));

    // A stopped slideshow stays stopped.
    host.slideshow = false;
    prefix = "x";
    EXPECT_TRUE(RenameFilesUsingPrefix(host, prefix, nullptr));
    EXPECT_EQ(host.starts, 1);
    EXPECT_FALSE(host.slideshow);
}

TEST(RenameFilesUsingPrefix, RefusesASeparatorAndAnEmptyListBeforeAnythingMoves) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("sub");
    makeFiles(dir.path(), {"a.jpg", "b.jpg"});
    FolderHost host(dir.path());
    host.slideshow = true;
    for (const char* bad : {"sub/x", "../x", "..", ".x"}) {
        QString prefix = QString::fromUtf8(bad);
        EXPECT_FALSE(RenameFilesUsingPrefix(host, prefix, nullptr)) << bad;
    }
    EXPECT_EQ(host.messages.size(), 4);
    EXPECT_EQ(allNames(dir.path()), QStringList({"a.jpg", "b.jpg", "sub"}));
    EXPECT_EQ(host.stops, 0) << "nothing of the window is touched";
    EXPECT_TRUE(host.controls.isEmpty());

    QTemporaryDir empty;
    FolderHost none(empty.path());
    QString prefix = "trip";
    EXPECT_FALSE(RenameFilesUsingPrefix(none, prefix, nullptr));
    EXPECT_TRUE(none.messages.isEmpty());
    EXPECT_TRUE(none.controls.isEmpty());
}

TEST(RenameFilesUsingPrefix, OneMessageAtTheEndCountsTheFilesThatKeptTheirNames) {
    QTemporaryDir dir;
    makeFiles(dir.path(), {"a.jpg", "b.jpg", "c.jpg"});
    FolderHost host(dir.path());
    QString prefix(300, QLatin1Char('p'));
    EXPECT_TRUE(RenameFilesUsingPrefix(host, prefix, nullptr));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].startsWith("Batch Rename: 3 files could not be renamed:"))
        << host.messages[0].toStdString();
    EXPECT_TRUE(host.messages[0].contains("the name is too long"));
    EXPECT_EQ(allNames(dir.path()), QStringList({"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(host.controls, QList<bool>({false, true}));
}

TEST(BatchFailureMessage, ListsWhatFitsAndCountsTheRest) {
    BatchOutcome out;
    out.started = true;
    for (int i = 0; i < 50; ++i)
        out.failures.push_back({QStringLiteral("old%1.jpg").arg(i),
                                QStringLiteral("new%1.jpg").arg(i),
                                QStringLiteral("old%1.jpg").arg(i),
                                {RenameStatus::NameTaken, EEXIST}});
    const QStringList lines = batchFailureMessage(out, 11).split('\n');
    ASSERT_EQ(lines.size(), 1 + 10 + 1);
    EXPECT_EQ(lines.front(), "50 files could not be renamed:");
    EXPECT_TRUE(lines[10].startsWith("old9.jpg (not new9.jpg: ")) << lines[10].toStdString();
    EXPECT_EQ(lines.back(), "\u2026 and 40 more");
    // Entries that wrap to three lines each: three of them fill nine lines.
    const QStringList wrapped =
        batchFailureMessage(out, 11, [](const QString&) { return 3; }).split('\n');
    EXPECT_EQ(wrapped.size(), 1 + 3 + 1);
    EXPECT_EQ(wrapped.back(), "\u2026 and 47 more");
    // Everything listed when it fits, with no count line.
    out.failures.resize(2);
    EXPECT_EQ(batchFailureMessage(out, 11).split('\n').size(), 3);
}

TEST(BatchFailureMessage, TheBoxWrapsLongNamesAndStaysOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QString text = QStringLiteral("40 files could not be renamed:");
    const QString name = QString(200, QLatin1Char('n')) + ".jpg";
    for (int i = 0; i < 4; ++i)
        text += '\n' + name + " (not trip1.jpg: the name is taken)";
    text += QStringLiteral("\n\u2026 and 36 more");
    QRect shown;
    QString plain;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->frameGeometry();
        plain = box->text();
        box->accept();
    });
    showWrappedWarning(nullptr, "Batch Rename", text);
    EXPECT_LE(shown.width(), screen.width());
    EXPECT_LE(shown.height(), screen.height());
    // Every character is there, only break chances added.
    QTextDocument doc;
    doc.setHtml(plain);
    EXPECT_EQ(doc.toPlainText().remove(QChar(0x200B)).replace(QChar(0x2029), '\n'), text);
}

class PrefixDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    frmGetPrefix dialog{nullptr, 15};
};

TEST_F(PrefixDialog, PromptStateAndEnterStartsTheBatchInTheProgressState) {
    EXPECT_EQ(dialog.windowTitle(), "Enter Renaming Prefix:");
    EXPECT_EQ(dialog.txtText->text(), "Enter batch renaming prefix:");
    EXPECT_TRUE(dialog.txtPrefix->isVisible());
    EXPECT_TRUE(dialog.txtPrefix->hasFocus());
    EXPECT_FALSE(dialog.txtFile1->isVisible());
    EXPECT_EQ(dialog.btnOk->text(), "&OK");
    EXPECT_EQ(dialog.btnCancel->text(), "&Cancel");
    const int promptHeight = dialog.height();
    EXPECT_LE(promptHeight, dialog.myProgress->y()) << "the bar lies below the visible part";

    QTemporaryDir dir;
    makeFiles(dir.path(), {"b.jpg", "a.jpg", "c.jpg"});
    FolderHost host(dir.path());
    QStringList seen;
    QObject::connect(&dialog, &frmGetPrefix::prefixAccepted, [&](QString& prefix) {
        seen << prefix;
        EXPECT_EQ(dialog.windowTitle(), "Renaming Files:");
        EXPECT_EQ(dialog.txtText->text(), "Renaming:  ");
        EXPECT_FALSE(dialog.txtPrefix->isVisible());
        EXPECT_FALSE(dialog.btnOk->isVisible());
        EXPECT_TRUE(dialog.txtFile1->isVisible());
        EXPECT_GT(dialog.height(), promptHeight);
        EXPECT_GE(dialog.myProgress->y() + dialog.myProgress->height(), 0);
        EXPECT_LE(dialog.myProgress->y() + dialog.myProgress->height(), dialog.height());
        dialog.txtPrefix->setText("again");
        QTest::keyClick(dialog.txtPrefix, Qt::Key_Return);
        RenameFilesUsingPrefix(host, prefix, &dialog);
        EXPECT_EQ(dialog.txtFile1->text(), "c.jpg");
        EXPECT_EQ(dialog.txtFile2->text(), "trip3.jpg");
        EXPECT_EQ(dialog.myProgress->value(), dialog.myProgress->maximum());
        EXPECT_TRUE(dialog.isVisible()) << "Escape cannot close it while files move";
    });
    QTest::keyClicks(dialog.txtPrefix, "trip");
    QTest::keyPress(dialog.txtPrefix, Qt::Key_Escape);
    ASSERT_TRUE(dialog.isVisible()) << "Escape acts on release only, and the press was eaten";
    QTest::keyPress(dialog.txtPrefix, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter acts when released";
    QTest::keyRelease(dialog.txtPrefix, Qt::Key_Return);
    EXPECT_EQ(seen, QStringList({"trip"})) << "one batch, none started from inside it";
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(allNames(dir.path()), QStringList({"trip1.jpg", "trip2.jpg", "trip3.jpg"}));
}

TEST_F(PrefixDialog, ARefusedPrefixIsToldWhileThePromptStillShows) {
    QStringList told;
    dialog.setWarningTeller([&](const QString& title, const QString& text) {
        // The dialog has not switched to the batch yet.
        EXPECT_EQ(dialog.windowTitle(), "Enter Renaming Prefix:");
        EXPECT_TRUE(dialog.txtPrefix->isVisible());
        EXPECT_FALSE(dialog.txtFile1->isVisible());
        told << title + ": " + text;
    });
    int batches = 0;
    QObject::connect(&dialog, &frmGetPrefix::prefixAccepted, [&](QString&) { ++batches; });
    const int promptHeight = dialog.height();
    for (const char* bad : {".x", "a/b"}) {
        dialog.txtPrefix->setText(QString::fromUtf8(bad));
        QTest::keyClick(dialog.txtPrefix, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible()) << bad;
        EXPECT_EQ(dialog.height(), promptHeight) << bad;
        EXPECT_EQ(dialog.txtPrefix->text(), QString::fromUtf8(bad)) << "kept to be mended";
    }
    ASSERT_EQ(told.size(), 2);
    EXPECT_TRUE(told[0].startsWith("Batch Rename: The prefix .x is not allowed"))
        << told[0].toStdString();
    EXPECT_EQ(batches, 0);
}

TEST_F(PrefixDialog, EnterOnAFocusedButtonPressesThatButton) {
    int batches = 0;
    QObject::connect(&dialog, &frmGetPrefix::prefixAccepted, [&](QString&) { ++batches; });
    QTest::keyClicks(dialog.txtPrefix, "trip");
    dialog.btnCancel->setFocus();
    QTest::keyClick(dialog.btnCancel, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(batches, 0);

    dialog.show();
    QTest::keyClicks(dialog.txtPrefix, "trip");
    dialog.btnOk->setFocus();
    QTest::keyClick(dialog.btnOk, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(batches, 1);
    EXPECT_FALSE(dialog.isVisible());
}

// Left to right without overlap, and inside the window.
void expectInRow(const QWidget& window, const QList<QWidget*>& row) {
    for (qsizetype i = 0; i < row.size(); ++i) {
        EXPECT_GE(row[i]->x(), 0) << row[i]->objectName().toStdString() << i;
        EXPECT_LE(row[i]->x() + row[i]->width(), window.width()) << i;
        if (i > 0) {
            EXPECT_LE(row[i - 1]->x() + row[i - 1]->width(), row[i]->x()) << i;
        }
    }
}

// Whole texts: a label as wide as its text, blanks included; a button as its caption.
void expectWhole(QLabel* label) {
    EXPECT_GE(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text()))
        << label->text().toStdString();
}

TEST(PrefixDialogText, EveryTextFitsAtTheDesignedFontAndAtTwiceItsSize) {
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        frmGetPrefix dialog(nullptr, 15);
        if (scale == 2) {
            for (QWidget* w : dialog.findChildren<QWidget*>()) {
                QFont f = w->font();
                f.setPointSizeF(f.pointSizeF() * 2);
                w->setFont(f);
            }
        }
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_EQ(dialog.txtText->text(), "Enter batch renaming prefix:");
        expectWhole(dialog.txtText);
        expectInRow(dialog, {dialog.txtText, dialog.txtPrefix, dialog.btnOk, dialog.btnCancel});
        for (QPushButton* b : {dialog.btnOk, dialog.btnCancel})
            EXPECT_GE(b->width(), b->sizeHint().width());

        QTemporaryDir dir;
        const QString longName = QString(120, QLatin1Char('c')) + ".jpg";
        makeFiles(dir.path(), {"a.jpg", longName});
        FolderHost host(dir.path());
        QObject::connect(&dialog, &frmGetPrefix::prefixAccepted, [&](QString& prefix) {
            EXPECT_EQ(dialog.txtText->text(), "Renaming:  ");
            expectWhole(dialog.txtText);
            RenameFilesUsingPrefix(host, prefix, &dialog);
            // The long old name is shortened, never printed over the new one.
            EXPECT_EQ(dialog.txtFile1->toolTip(), longName);
            EXPECT_EQ(dialog.txtFile2->text(), "trip2.jpg");
            expectWhole(dialog.txtFile1);
            expectInRow(dialog, {dialog.txtText, dialog.txtFile1, dialog.txtFile2});
        });
        dialog.txtPrefix->setText("trip");
        dialog.btnOk_Click();
    }
}

TEST_F(PrefixDialog, EscapeCancelAndAnEmptyPrefixCloseWithoutABatch) {
    int batches = 0;
    QObject::connect(&dialog, &frmGetPrefix::prefixAccepted, [&](QString&) { ++batches; });
    const int promptHeight = dialog.height();

    QTest::keyClicks(dialog.txtPrefix, "trip");
    QTest::keyClick(dialog.txtPrefix, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());

    dialog.show();
    EXPECT_TRUE(dialog.txtPrefix->text().isEmpty()) << "re-opened empty";
    EXPECT_EQ(dialog.height(), promptHeight);
    QTest::keyClicks(dialog.txtPrefix, "trip");
    QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());

    dialog.show();
    QTest::mouseClick(dialog.btnOk, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(batches, 0);
}
