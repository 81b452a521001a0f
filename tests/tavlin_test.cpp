#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/commandline.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/drivelist.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"
#include "viewer/imageview.h"
#include "viewer/tavlin.h"

using namespace tavlin;

namespace {

// A main window on a 1024 x 768 screen at 15 twips per pixel, over a folder of
// twelve pictures, with beeps and exits counted instead of performed.
class TavlinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir d(dir.path());
        for (int i = 1; i <= 9; ++i)
            test::writePicture(d.filePath(QString("land%1.jpg").arg(i)),
                               test::patternImage(800, 600));
        test::writePicture(d.filePath("portrait.bmp"), test::patternImage(600, 800));
        test::writePicture(d.filePath("square.gif"), test::patternImage(300, 300));
        test::writeFile(d.filePath("text.jpg"), "not a picture");
    }

    std::unique_ptr<Tavlin> start(const QStringList& args, QSize screen = {1024, 768}) {
        TavlinOptions options = test::windowOptions(platform, exits);
        options.screenPixels = screen;
        options.random = [] { return 0.5; };
        auto window = std::make_unique<Tavlin>(options);
        shown = test::drive(*window).start(parseCommandLine(args));
        return window;
    }

    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    test::TempConfigHome config; // a fresh settings store per test
    QTemporaryDir dir;
    test::CountingPlatform platform;
    int exits = 0;
    bool shown = false;
};

struct Texts {
    QString file, picture, width, height, size;
    bool operator==(const Texts&) const = default;
};

void PrintTo(const Texts& t, std::ostream* os) {
    for (const QString& line : {t.file, t.picture, t.width, t.height, t.size})
        *os << '"' << line.toStdString() << "\" ";
}

Texts textsOf(const Tavlin& w) {
    return {w.txtFile->text(), w.txtPicture->text(), w.txtWidth->text(), w.txtHeight->text(),
            w.txtFileSize->text()};
}

} // namespace

TEST_F(TavlinTest, WidgetTreeHasItsCaptionsAndColours) {
    auto w = start({dir.path()});
    EXPECT_EQ(w->windowTitle(), "Tavlin 2.0");
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(w->frameSettings->title(), "Settings");
    const std::pair<QAbstractButton*, const char*> captions[] = {
        {w->chkCenter, "Center Picture"},
        {w->chkStretch, "Stretch to Screen"},
        {w->chkLoop, "Loop Slideshow"},
        {w->chkPlaySound, "Play Slide Sound"},
        {w->chkShowPictureNumber, "Show Pict Number"},
        {w->chkFilename, "Show Filename"},
        {w->chkFileSize, "Show File Size"},
        {w->chkDimensions, "Show Dimensions"},
        {w->btnRename, "Batch &Rename"},
        {w->btnExit, "E&xit"},
        {w->btnStartSlideshow, "&Start"}, // start-up stopped the slideshow once
    };
    for (auto [button, caption] : captions)
        EXPECT_EQ(button->text(), caption);
    for (QLabel* label : {w->txtFile, w->txtPicture, w->txtWidth, w->txtHeight, w->txtFileSize})
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    EXPECT_EQ(w->myFiles->pattern(),
              "*.jpg;*.jpeg;*.jpe;*.bmp;*.gif;*.png;*.webp;*.tif;*.tiff;*.heic;"
              "*.heif;*.hif;*.avif;*.jxl");
    EXPECT_EQ(w->mySeconds->interval(), 3000);
    EXPECT_FALSE(w->myTimer->isActive());
    EXPECT_EQ(w->scrSeconds->minimum(), 1);
    EXPECT_EQ(w->scrSeconds->maximum(), 30);
    // The panel draws over the information lines, which draw over the picture.
    const QObjectList kids = w->children();
    EXPECT_LT(kids.indexOf(w->myPicture), kids.indexOf(w->txtPicture));
    EXPECT_LT(kids.indexOf(w->txtFile), kids.indexOf(w->imgError));
    EXPECT_LT(kids.indexOf(w->imgError), kids.indexOf(w->frameSettings));
}

TEST_F(TavlinTest, ViewerStartLaysOutForTheScreenAndShowsNothingYet) {
    auto w = start({dir.path()});
    ASSERT_TRUE(shown);
    EXPECT_FALSE(w->bScreensaverMode);
    EXPECT_FALSE(w->bTopMost);
    EXPECT_EQ(w->twipGeometry(w->frameSettings).left, 12435);
    EXPECT_EQ(w->twipGeometry(w->frameSettings).height, 11520);
    EXPECT_EQ(w->twipGeometry(w->frameChecks).top, 7320); // 7325 to whole pixels
    EXPECT_EQ(w->twipGeometry(w->imgError), (TwipRect{4680, 4635, 6000, 2250}));
    EXPECT_EQ(w->myPath->path(), dir.path());
    EXPECT_EQ(w->myFiles->count(), 12);
    EXPECT_EQ(w->myFiles->selectedIndex(), -1);
    EXPECT_TRUE(w->myPicture->isHidden());
    EXPECT_TRUE(w->imgError->isHidden());
    EXPECT_EQ(w->txtFile->text(), "");
    EXPECT_EQ(w->txtPicture->text(), "Picture:");
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, SelectingAPictureShowsItFittedWithItsInformation) {
    auto w = start({dir.path()});
    w->myFiles->setSelectedIndex(2); // land3.jpg
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_FALSE(w->myPicture->isHidden());
    EXPECT_TRUE(w->imgError->isHidden());
    EXPECT_EQ(textsOf(*w),
              (Texts{path("land3.jpg"), "Picture:  3 of  12", "Width: 800", "Height: 600",
                     "File Size:  " + QString::number(QFileInfo(path("land3.jpg")).size())}));
    // 800 x 600 fills the 831 pixels left of the panel, centred on the height.
    EXPECT_EQ(w->myPicture->geometry(), QRect(0, 72, 831, 623));
    EXPECT_EQ(w->myPicture->picture().size(), QSize(831, 623));

    w->myFiles->setSelectedIndex(9); // portrait.bmp fills the height
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(w->myPicture->geometry(), QRect(128, 0, 576, 768));
    EXPECT_EQ(w->txtWidth->text(), "Width: 600");
    EXPECT_EQ(w->txtHeight->text(), "Height: 800");

    // Layout options redraw the current picture at once.
    w->chkStretch->setChecked(false);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(w->myPicture->geometry(), QRect(116, -16, 600, 800));
    w->chkCenter->setChecked(false);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(w->myPicture->geometry(), QRect(0, 0, 600, 800));
    // Only the part on the screen is decoded.
    EXPECT_EQ(w->myPicture->picture().size(), QSize(600, 768));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, OverlayOptionsShowAndHideTheirLines) {
    auto w = start({dir.path()});
    w->myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    w->chkDimensions->setChecked(false);
    EXPECT_TRUE(w->txtWidth->isHidden());
    EXPECT_TRUE(w->txtHeight->isHidden());
    w->myFiles->setSelectedIndex(9); // texts still follow the picture while hidden
    ASSERT_TRUE(test::waitForPicture(*w));
    w->chkDimensions->setChecked(true);
    EXPECT_FALSE(w->txtWidth->isHidden());
    EXPECT_EQ(w->txtWidth->text(), "Width: 600");
    for (auto [box, label] : {std::pair{w->chkShowPictureNumber, w->txtPicture},
                              {w->chkFilename, w->txtFile},
                              {w->chkFileSize, w->txtFileSize}}) {
        box->setChecked(false);
        EXPECT_TRUE(label->isHidden());
        box->setChecked(true);
        EXPECT_FALSE(label->isHidden());
    }
}

TEST_F(TavlinTest, LayoutOptionWithoutSelectionDrawsNothing) {
    auto w = start({dir.path()});
    w->chkStretch->setChecked(false);
    w->chkCenter->setChecked(false);
    EXPECT_TRUE(w->myPicture->isHidden());
    EXPECT_TRUE(w->imgError->isHidden());
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, FailuresShowTheErrorPictureBeepOnceAndNameTheFailedFile) {
    auto w = start({dir.path()});
    w->myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(*w));

    // Chosen in the list: the lines name the failed file, its number and its size,
    // not those of the picture shown before; a file that did not load has no dimensions.
    const qsizetype text = w->myFiles->names().indexOf("text.jpg");
    ASSERT_EQ(text, 11);
    w->myFiles->setSelectedIndex(text);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(w->myPicture->isHidden());
    EXPECT_FALSE(w->imgError->isHidden());
    EXPECT_EQ(textsOf(*w), (Texts{path("text.jpg"), "Picture:  12 of  12",
                                  "Width:", "Height:", "File Size:  13"}));
    int beeps = 1;
    EXPECT_EQ(platform.beeps, beeps);

    QDir d(dir.path());
    test::writeFile(path("empty.jpg"), "");
    ASSERT_TRUE(d.mkdir("folder.jpg"));
    ASSERT_EQ(::mkfifo(path("pipe.jpg").toLocal8Bit().constData(), 0600), 0);
    test::writePicture(path("gone.jpg"), test::patternImage(20, 20));
    ASSERT_TRUE(QFile::remove(path("gone.jpg")));
    // A folder's own size depends on its file system: its size line is not compared.
    const std::pair<QString, const char*> cases[] = {
        {path("empty.jpg"), "File Size:  0"}, {path("folder.jpg"), nullptr},
        {path("pipe.jpg"), "File Size:  0"},  {QString(), "File Size:"},
        {path("gone.jpg"), "File Size:"},     {dir.path(), nullptr}};
    for (const auto& [file, size] : cases) {
        SCOPED_TRACE(file.toStdString());
        w->DisplayPict(w->myPicture, file);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_TRUE(w->myPicture->isHidden());
        EXPECT_FALSE(w->imgError->isHidden());
        EXPECT_EQ(platform.beeps, ++beeps);
        const Texts shown = textsOf(*w);
        EXPECT_EQ(shown.file, file);
        EXPECT_EQ(shown.picture, "Picture:  12 of  12");
        EXPECT_EQ(shown.width, "Width:");
        EXPECT_EQ(shown.height, "Height:");
        if (size) {
            EXPECT_EQ(shown.size, size);
        }
    }
    // The next good picture hides the error picture again and has its own lines.
    w->myFiles->setSelectedIndex(1);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(w->imgError->isHidden());
    EXPECT_FALSE(w->myPicture->isHidden());
    EXPECT_EQ(textsOf(*w), (Texts{path("land2.jpg"), "Picture:  2 of  12", "Width: 800",
                                  "Height: 600", w->txtFileSize->text()}));
}

TEST_F(TavlinTest, DisabledWindowShowsNothing) {
    auto w = start({dir.path()});
    w->setEnabled(false);
    w->DisplayPict(w->myPicture, path("land1.jpg"));
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(w->myPicture->isHidden());
    EXPECT_EQ(w->txtFile->text(), "");
}

TEST_F(TavlinTest, HugeScreenWithoutPanelDisplays) {
    auto w = start({dir.path()}, {7680, 4320});
    w->frameSettings->hide();
    w->myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_FALSE(w->myPicture->isHidden());
    EXPECT_EQ(w->myPicture->geometry(), QRect(960, 0, 5760, 4320));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, HighDensityScreenDecodesUpToOnePixelPerDevicePixel) {
    QTemporaryDir big;
    test::writePicture(QDir(big.path()).filePath("a_large.jpg"), test::patternImage(2000, 1500));
    test::writePicture(QDir(big.path()).filePath("b_medium.jpg"), test::patternImage(1200, 900));
    TavlinOptions options = test::windowOptions(platform, exits);
    options.devicePixelRatio = 2;
    Tavlin w(options);
    ASSERT_TRUE(test::drive(w).start(parseCommandLine({big.path()})));

    w.myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(w));
    // Laid out in logical pixels as on any screen, decoded at twice that.
    EXPECT_EQ(w.myPicture->geometry(), QRect(0, 72, 831, 623));
    EXPECT_EQ(w.myPicture->picture().size(), QSize(1662, 1246));
    EXPECT_EQ(w.myPicture->picture().devicePixelRatio(), 2.0);
    EXPECT_EQ(w.myPicture->pictureRect(), QRectF(0, 0, 831, 623));

    w.myFiles->setSelectedIndex(1); // never more pixels than the picture has
    ASSERT_TRUE(test::waitForPicture(w));
    EXPECT_EQ(w.myPicture->picture().size(), QSize(1200, 900));
    EXPECT_EQ(w.myPicture->pictureRect().size().toSize(), QSize(831, 623));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, PictureOnTheCommandLineOpensSelected) {
    auto w = start({path("square.gif")});
    EXPECT_EQ(w->myPath->path(), dir.path());
    EXPECT_EQ(w->myFiles->selectedName(), "square.gif");
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(w->txtFile->text(), path("square.gif"));
}

TEST_F(TavlinTest, PreviewEndsAtOnce) {
    for (const char* line : {"/p", "/P 1234", "-p"}) {
        auto w = start(QString(line).split(' '));
        EXPECT_FALSE(shown) << line;
        EXPECT_TRUE(w->hasExited());
        EXPECT_FALSE(w->isVisible());
    }
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, SettingsRunModeEndsWithoutTheViewer) {
    // The settings dialog is modal: cancel it once it is up.
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    auto w = start({"/c:1234"});
    EXPECT_FALSE(shown);
    EXPECT_TRUE(w->bScreensaverMode);
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(TavlinTest, ScreensaverStartsARandomFullScreenSlideshow) {
    test::rememberFolder(dir.path()); // the screensaver shows the remembered folder
    auto w = start({"/S"});
    ASSERT_TRUE(shown);
    EXPECT_TRUE(w->bScreensaverMode);
    EXPECT_FALSE(w->bShowControls);
    EXPECT_TRUE(w->frameSettings->isHidden());
    EXPECT_TRUE(w->bTopMost);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(platform.cursorCalls, 1);
    EXPECT_FALSE(platform.cursorVisible);
    EXPECT_TRUE(w->myTimer->isActive());
    EXPECT_EQ(w->btnStartSlideshow->text(), "&Stop");
    EXPECT_FALSE(w->chkPlaySound->isChecked());
    // 0.5 of twelve entries picks the seventh.
    EXPECT_EQ(w->myFiles->selectedIndex(), 6);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_FALSE(w->myPicture->isHidden());
    // Without the panel the whole width is free.
    EXPECT_EQ(w->myPicture->geometry(), QRect(0, 0, 1024, 768));

    w->ExitProgram();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(platform.cursorVisible);
}

TEST_F(TavlinTest, ScreensaverOnAFolderWithoutPicturesShowsBlack) {
    QTemporaryDir empty;
    test::rememberFolder(empty.path());
    auto w = start({"/s"});
    EXPECT_EQ(w->myFiles->count(), 0);
    QTest::qWait(100); // a bounded look for a late error picture
    // Not the error picture of a folder, nor a beep: a black screen.
    EXPECT_TRUE(w->imgError->isHidden());
    EXPECT_TRUE(w->myPicture->isHidden());
    EXPECT_EQ(platform.beeps, 0);
    EXPECT_TRUE(w->myTimer->isActive());
}

TEST_F(TavlinTest, ClosingFromOutsideRunsTheNormalExit) {
    auto w = start({dir.path()});
    w->show();
    w->close();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(w->hasExited());
    w->ExitProgram(); // once is enough
    EXPECT_EQ(exits, 1);
}

TEST_F(TavlinTest, FolderChangeStopsTheSlideshowAndKeepsThePicture) {
    auto w = start({dir.path()});
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    w->myFiles->setSelectedIndex(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    w->StartSlideshow();
    ASSERT_TRUE(w->myPath->setPath(path("sub")));
    EXPECT_FALSE(w->myTimer->isActive());
    EXPECT_EQ(w->btnStartSlideshow->text(), "&Start");
    EXPECT_EQ(w->myFiles->count(), 0);
    EXPECT_EQ(w->myFiles->selectedIndex(), -1);
    EXPECT_FALSE(w->myPicture->isHidden());
}
