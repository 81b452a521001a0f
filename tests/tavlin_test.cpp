#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/commandline.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/tavlin.h"

using namespace tavlin;
using test::Part;

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

Texts textsOf(const test::WindowDriver& d) {
    return {d.text(Part::FileLine), d.text(Part::NumberLine), d.text(Part::WidthLine),
            d.text(Part::HeightLine), d.text(Part::FileSizeLine)};
}

} // namespace

TEST_F(TavlinTest, WidgetTreeHasItsCaptionsAndColours) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    EXPECT_EQ(w->windowTitle(), "Tavlin 2.0");
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(d.text(Part::Panel), "Settings");
    const std::pair<Part, const char*> captions[] = {
        {Part::Center, "Center Picture"},       {Part::Stretch, "Stretch to Screen"},
        {Part::Loop, "Loop Slideshow"},         {Part::PlaySound, "Play Slide Sound"},
        {Part::ShowNumber, "Show Pict Number"}, {Part::ShowFilename, "Show Filename"},
        {Part::ShowFileSize, "Show File Size"}, {Part::ShowDimensions, "Show Dimensions"},
        {Part::RenameButton, "Batch &Rename"},  {Part::ExitButton, "E&xit"},
        {Part::StartButton, "&Start"}, // start-up stopped the slideshow once
    };
    for (auto [button, caption] : captions)
        EXPECT_EQ(d.text(button), caption);
    for (Part line :
         {Part::FileLine, Part::NumberLine, Part::WidthLine, Part::HeightLine, Part::FileSizeLine})
        EXPECT_EQ(d.part(line)->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    EXPECT_EQ(d.filePattern(), "*.jpg;*.jpeg;*.jpe;*.bmp;*.gif;*.png;*.webp;*.tif;*.tiff;*.heic;"
                               "*.heif;*.hif;*.avif;*.jxl");
    EXPECT_EQ(d.cursorTimerIntervalMs(), 3000);
    EXPECT_FALSE(d.slideshowRunning());
    EXPECT_EQ(d.minimumSeconds(), 1);
    EXPECT_EQ(d.maximumSeconds(), 30);
    // The panel draws over the information lines, which draw over the picture.
    const QObjectList kids = w->children();
    EXPECT_LT(kids.indexOf(d.part(Part::Picture)), kids.indexOf(d.part(Part::NumberLine)));
    EXPECT_LT(kids.indexOf(d.part(Part::FileLine)), kids.indexOf(d.part(Part::ErrorPicture)));
    EXPECT_LT(kids.indexOf(d.part(Part::ErrorPicture)), kids.indexOf(d.part(Part::Panel)));
}

TEST_F(TavlinTest, ViewerStartLaysOutForTheScreenAndShowsNothingYet) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    ASSERT_TRUE(shown);
    EXPECT_FALSE(d.screensaverMode());
    EXPECT_FALSE(d.topMost());
    EXPECT_EQ(d.twips(Part::Panel).left, 12435);
    EXPECT_EQ(d.twips(Part::Panel).height, 11520);
    EXPECT_EQ(d.twips(Part::Checks).top, 7320); // 7325 to whole pixels
    EXPECT_EQ(d.twips(Part::ErrorPicture), (TwipRect{4680, 4635, 6000, 2250}));
    EXPECT_EQ(d.folder(), dir.path());
    EXPECT_EQ(d.count(), 12);
    EXPECT_EQ(d.selected(), -1);
    EXPECT_FALSE(d.shown(Part::Picture));
    EXPECT_FALSE(d.shown(Part::ErrorPicture));
    EXPECT_EQ(d.text(Part::FileLine), "");
    EXPECT_EQ(d.text(Part::NumberLine), "Picture:");
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, SelectingAPictureShowsItFittedWithItsInformation) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.select(2); // land3.jpg
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_TRUE(d.shown(Part::Picture));
    EXPECT_FALSE(d.shown(Part::ErrorPicture));
    EXPECT_EQ(textsOf(d),
              (Texts{path("land3.jpg"), "Picture:  3 of  12", "Width: 800", "Height: 600",
                     "File Size:  " + QString::number(QFileInfo(path("land3.jpg")).size())}));
    // 800 x 600 fills the 831 pixels left of the panel, centred on the height.
    EXPECT_EQ(d.pictureGeometry(), QRect(0, 72, 831, 623));
    EXPECT_EQ(d.picture().size(), QSize(831, 623));

    d.select(9); // portrait.bmp fills the height
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.pictureGeometry(), QRect(128, 0, 576, 768));
    EXPECT_EQ(d.text(Part::WidthLine), "Width: 600");
    EXPECT_EQ(d.text(Part::HeightLine), "Height: 800");

    // Layout options redraw the current picture at once.
    d.setChecked(Part::Stretch, false);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.pictureGeometry(), QRect(116, -16, 600, 800));
    d.setChecked(Part::Center, false);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.pictureGeometry(), QRect(0, 0, 600, 800));
    // Only the part on the screen is decoded.
    EXPECT_EQ(d.picture().size(), QSize(600, 768));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, OverlayOptionsShowAndHideTheirLines) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    d.setChecked(Part::ShowDimensions, false);
    EXPECT_FALSE(d.shown(Part::WidthLine));
    EXPECT_FALSE(d.shown(Part::HeightLine));
    d.select(9); // texts still follow the picture while hidden
    ASSERT_TRUE(test::waitForPicture(*w));
    d.setChecked(Part::ShowDimensions, true);
    EXPECT_TRUE(d.shown(Part::WidthLine));
    EXPECT_EQ(d.text(Part::WidthLine), "Width: 600");
    for (auto [box, line] : {std::pair{Part::ShowNumber, Part::NumberLine},
                             {Part::ShowFilename, Part::FileLine},
                             {Part::ShowFileSize, Part::FileSizeLine}}) {
        d.setChecked(box, false);
        EXPECT_FALSE(d.shown(line));
        d.setChecked(box, true);
        EXPECT_TRUE(d.shown(line));
    }
}

TEST_F(TavlinTest, LayoutOptionWithoutSelectionDrawsNothing) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.setChecked(Part::Stretch, false);
    d.setChecked(Part::Center, false);
    EXPECT_FALSE(d.shown(Part::Picture));
    EXPECT_FALSE(d.shown(Part::ErrorPicture));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, FailuresShowTheErrorPictureBeepOnceAndNameTheFailedFile) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));

    // Chosen in the list: the lines name the failed file, its number and its size,
    // not those of the picture shown before; a file that did not load has no dimensions.
    const qsizetype text = d.names().indexOf("text.jpg");
    ASSERT_EQ(text, 11);
    d.select(text);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_FALSE(d.shown(Part::Picture));
    EXPECT_TRUE(d.shown(Part::ErrorPicture));
    EXPECT_EQ(textsOf(d), (Texts{path("text.jpg"), "Picture:  12 of  12",
                                 "Width:", "Height:", "File Size:  13"}));
    int beeps = 1;
    EXPECT_EQ(platform.beeps, beeps);

    test::writeFile(path("empty.jpg"), "");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.jpg"));
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
        d.showPicture(file);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_FALSE(d.shown(Part::Picture));
        EXPECT_TRUE(d.shown(Part::ErrorPicture));
        EXPECT_EQ(platform.beeps, ++beeps);
        const Texts shown = textsOf(d);
        EXPECT_EQ(shown.file, file);
        EXPECT_EQ(shown.picture, "Picture:  12 of  12");
        EXPECT_EQ(shown.width, "Width:");
        EXPECT_EQ(shown.height, "Height:");
        if (size) {
            EXPECT_EQ(shown.size, size);
        }
    }
    // The next good picture hides the error picture again and has its own lines.
    d.select(1);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_FALSE(d.shown(Part::ErrorPicture));
    EXPECT_TRUE(d.shown(Part::Picture));
    EXPECT_EQ(textsOf(d), (Texts{path("land2.jpg"), "Picture:  2 of  12", "Width: 800",
                                 "Height: 600", d.text(Part::FileSizeLine)}));
}

TEST_F(TavlinTest, DisabledWindowShowsNothing) {
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    w->setEnabled(false);
    d.showPicture(path("land1.jpg"));
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_FALSE(d.shown(Part::Picture));
    EXPECT_EQ(d.text(Part::FileLine), "");
}

TEST_F(TavlinTest, HugeScreenWithoutPanelDisplays) {
    auto w = start({dir.path()}, {7680, 4320});
    auto d = test::drive(*w);
    d.part(Part::Panel)->hide();
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_TRUE(d.shown(Part::Picture));
    EXPECT_EQ(d.pictureGeometry(), QRect(960, 0, 5760, 4320));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, HighDensityScreenDecodesUpToOnePixelPerDevicePixel) {
    QTemporaryDir big;
    test::writePicture(QDir(big.path()).filePath("a_large.jpg"), test::patternImage(2000, 1500));
    test::writePicture(QDir(big.path()).filePath("b_medium.jpg"), test::patternImage(1200, 900));
    TavlinOptions options = test::windowOptions(platform, exits);
    options.devicePixelRatio = 2;
    Tavlin w(options);
    auto d = test::drive(w);
    ASSERT_TRUE(d.start(parseCommandLine({big.path()})));

    d.select(0);
    ASSERT_TRUE(test::waitForPicture(w));
    // Laid out in logical pixels as on any screen, decoded at twice that.
    EXPECT_EQ(d.pictureGeometry(), QRect(0, 72, 831, 623));
    EXPECT_EQ(d.picture().size(), QSize(1662, 1246));
    EXPECT_EQ(d.picture().devicePixelRatio(), 2.0);
    EXPECT_EQ(d.pictureRect(), QRectF(0, 0, 831, 623));

    d.select(1); // never more pixels than the picture has
    ASSERT_TRUE(test::waitForPicture(w));
    EXPECT_EQ(d.picture().size(), QSize(1200, 900));
    EXPECT_EQ(d.pictureRect().size().toSize(), QSize(831, 623));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(TavlinTest, PictureOnTheCommandLineOpensSelected) {
    auto w = start({path("square.gif")});
    auto d = test::drive(*w);
    EXPECT_EQ(d.folder(), dir.path());
    EXPECT_EQ(d.selectedName(), "square.gif");
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.text(Part::FileLine), path("square.gif"));
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
    auto d = test::drive(*w);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(d.screensaverMode());
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(TavlinTest, ScreensaverStartsARandomFullScreenSlideshow) {
    test::rememberFolder(dir.path()); // the screensaver shows the remembered folder
    auto w = start({"/S"});
    auto d = test::drive(*w);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(d.screensaverMode());
    EXPECT_FALSE(d.controlsShown());
    EXPECT_FALSE(d.shown(Part::Panel));
    EXPECT_TRUE(d.topMost());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(platform.cursorCalls, 1);
    EXPECT_FALSE(platform.cursorVisible);
    EXPECT_TRUE(d.slideshowRunning());
    EXPECT_EQ(d.text(Part::StartButton), "&Stop");
    EXPECT_FALSE(d.checked(Part::PlaySound));
    // 0.5 of twelve entries picks the seventh.
    EXPECT_EQ(d.selected(), 6);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_TRUE(d.shown(Part::Picture));
    // Without the panel the whole width is free.
    EXPECT_EQ(d.pictureGeometry(), QRect(0, 0, 1024, 768));

    w->ExitProgram();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(platform.cursorVisible);
}

TEST_F(TavlinTest, ScreensaverOnAFolderWithoutPicturesShowsBlack) {
    QTemporaryDir empty;
    test::rememberFolder(empty.path());
    auto w = start({"/s"});
    auto d = test::drive(*w);
    EXPECT_EQ(d.count(), 0);
    QTest::qWait(100); // a bounded look for a late error picture
    // Not the error picture of a folder, nor a beep: a black screen.
    EXPECT_FALSE(d.shown(Part::ErrorPicture));
    EXPECT_FALSE(d.shown(Part::Picture));
    EXPECT_EQ(platform.beeps, 0);
    EXPECT_TRUE(d.slideshowRunning());
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
    auto d = test::drive(*w);
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    d.startSlideshow();
    ASSERT_TRUE(d.openFolder(path("sub")));
    EXPECT_FALSE(d.slideshowRunning());
    EXPECT_EQ(d.text(Part::StartButton), "&Start");
    EXPECT_EQ(d.count(), 0);
    EXPECT_EQ(d.selected(), -1);
    EXPECT_TRUE(d.shown(Part::Picture));
}
