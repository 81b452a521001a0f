#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>

#include "support/testsupport.h"
#include "viewer/frmabout.h"
#include "viewer/tavlin.h"

using namespace tavlin;

namespace {

// Lets the deferred delete of a closed window run.
void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int openAboutWindows() {
    int count = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        count += qobject_cast<frmAbout*>(top) && top->isVisible();
    return count;
}

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        TavlinOptions options;
        options.platform = &platform;
        options.showSplash = false;
        options.screenPixels = {1024, 768};
        options.twipsPerPixel = 15;
        options.exitProcess = [] {};
        window = std::make_unique<Tavlin>(options);
    }
    void TearDown() override {
        if (frmAbout* open = frmAbout::openWindow())
            open->close();
        flushDeletes();
    }

    test::CountingPlatform platform;
    std::unique_ptr<Tavlin> window;
};

} // namespace

TEST(VersionLine, WritesEachNumberInPlainDecimal) {
    const std::pair<const char*, const char*> cases[] = {
        {"2.0.109", "Version 2.0.109"},
        {"2.00.0109", "Version 2.0.109"},
        {"10.20.30", "Version 10.20.30"},
    };
    for (auto [version, line] : cases)
        EXPECT_EQ(VersionLine(QString::fromLatin1(version)), line) << version;
}

TEST_F(AboutTest, ShowsTheBannerTheBuildsVersionAndTheCopyright) {
    frmAbout* about = frmAbout::showAbout(window.get());
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->txtVersion->text(), "Version 2.0.109");
    EXPECT_EQ(about->txtCopyright->text(), QString::fromUtf8(kTavlinCopyright));
    EXPECT_FALSE(about->txtCopyright->text().isEmpty());
    EXPECT_EQ(about->Label1->text(), QString::fromUtf8(kTavlinContactLine));
    EXPECT_EQ(about->windowTitle(), "About Viewer");
    EXPECT_TRUE(about->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(about->size(), QSize(5565 / 15, 3315 / 15));
    EXPECT_EQ(about->palette().color(QPalette::Window), QColor(Qt::black));
    // The banner at its own size, not stretched.
    EXPECT_EQ(about->Image2->pixmap().size(), QSize(350, 100));
    EXPECT_EQ(about->Image2->geometry(), QRect(120 / 15, 240 / 15, 350, 100));
    EXPECT_FALSE(about->Image2->hasScaledContents());
    for (QLabel* line : {about->txtVersion, about->txtCopyright, about->Label1}) {
        EXPECT_TRUE(line->font().bold());
        EXPECT_EQ(line->font().pointSize(), 12);
        EXPECT_EQ(line->palette().color(QPalette::WindowText), QColor(Qt::white));
        // The lines grow to their text.
        EXPECT_GE(line->width(), line->sizeHint().width());
        EXPECT_TRUE(about->rect().contains(line->geometry())) << line->text().toStdString();
    }
    EXPECT_EQ(about->txtVersion->pos(), QPoint(1800 / 15, 1800 / 15));
    EXPECT_EQ(about->txtCopyright->pos(), QPoint(1800 / 15, 2160 / 15));
    EXPECT_EQ(about->Label1->pos(), QPoint(3600 / 15, 2880 / 15));
}

TEST_F(AboutTest, AnyClickClosesAndFreesItKeysDoNot) {
    const std::pair<const char*, QWidget* (*)(frmAbout*)> targets[] = {
        {"background", [](frmAbout* a) -> QWidget* { return a; }},
        {"banner", [](frmAbout* a) -> QWidget* { return a->Image2; }},
        {"version", [](frmAbout* a) -> QWidget* { return a->txtVersion; }},
        {"copyright", [](frmAbout* a) -> QWidget* { return a->txtCopyright; }},
        {"contact", [](frmAbout* a) -> QWidget* { return a->Label1; }},
    };
    for (auto [name, target] : targets) {
        QPointer<frmAbout> about = frmAbout::showAbout(window.get());
        ASSERT_TRUE(about);
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space, Qt::Key_F4})
            QTest::keyClick(about, key);
        EXPECT_TRUE(about->isVisible()) << name;
        QWidget* widget = target(about);
        // A point on the widget itself and outside every label, for the background.
        const QPoint at = widget == about ? QPoint(about->width() - 3, about->height() - 3)
                                          : widget->rect().center();
        QTest::mouseClick(widget, Qt::LeftButton, {}, at);
        flushDeletes();
        EXPECT_FALSE(about) << name;
        EXPECT_EQ(frmAbout::openWindow(), nullptr) << name;
    }
}

TEST_F(AboutTest, OneWindowAtATimeModelessAndWithoutOwner) {
    frmAbout* first = frmAbout::showAbout(window.get());
    frmAbout* second = frmAbout::showAbout(window.get());
    EXPECT_EQ(first, second);
    EXPECT_EQ(openAboutWindows(), 1);
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_EQ(first->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // The main window keeps taking commands while it is open.
    EXPECT_TRUE(window->isEnabled());

    first->Form_Click();
    flushDeletes();
    EXPECT_EQ(openAboutWindows(), 0);
    // The next About loads a fresh window.
    frmAbout* third = frmAbout::showAbout(nullptr);
    EXPECT_EQ(openAboutWindows(), 1);
    EXPECT_EQ(third->txtVersion->text(), "Version 2.0.109");
}
