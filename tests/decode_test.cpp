#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include "app/commandline.h"
#include "decode/displayplan.h"
#include "decode/picturedecoder.h"
#include "decode/prefetchplan.h"
#include "pictureloader_fixtures.h"
#include "registry/settings.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "support/windowdriver.h"
#include "viewer/tavlin.h"

using namespace tavlin;
using test::Part;

namespace {

// What standard error receives while it lives.
class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        saved_ = ::dup(2);
        ::dup2(file_.handle(), 2);
    }
    ~StderrCapture() { restore(); }
    QStringList lines() {
        restore();
        file_.seek(0);
        return QString::fromLocal8Bit(file_.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

QImage solid(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A main window on a 1024 x 768 screen over a folder of real pictures.
class DecodeTest : public ::testing::Test {
protected:
    std::unique_ptr<Tavlin> start(const QStringList& args, bool prefetch = true) {
        TavlinOptions options = test::windowOptions(platform, exits);
        options.prefetch = prefetch;
        if (random)
            options.random = random;
        auto w = std::make_unique<Tavlin>(options);
        test::drive(*w).start(parseCommandLine(args));
        return w;
    }

    // Waits until nothing is decoding, prefetches included.
    static bool settle(Tavlin& w) {
        QCoreApplication::processEvents(); // what a finished step queued
        return QTest::qWaitFor([&w] { return w.decoder().idle(); }, 20000);
    }

    static QColor shownColour(Tavlin& w) {
        const QImage& image = test::drive(w).picture();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    test::TempConfigHome config;
    QTemporaryDir dir;
    test::CountingPlatform platform;
    int exits = 0;
    std::function<double()> random;
};

} // namespace

TEST_F(DecodeTest, ManyRequestsInARowEndWithTheLastPictureAndItsOwnLines) {
    // Each picture has its own colour and width, so a line and an image that belong to
    // different pictures show.
    struct Shown {
        QColor colour;
        int width;
    };
    QMap<QString, Shown> pictures;
    for (int i = 0; i < 12; ++i) {
        const QString name = QString("p%1.bmp").arg(i, 2, 10, QChar('0'));
        const Shown s{QColor::fromHsv(i * 30, 255, 255), 1200 + 20 * i};
        test::writePicture(path(name), solid({s.width, 900}, s.colour));
        pictures.insert(path(name), s);
    }
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    for (int i = 0; i < 12; ++i) {
        d.select(i);
        // Some requests are superseded before they start, some while they decode.
        if (i % 3 != 0)
            continue;
        for (int turn = 0; turn < 5; ++turn) {
            QTest::qWait(2);
            if (!d.shown(Part::Picture))
                continue;
            const Shown& s = pictures.value(d.text(Part::FileLine));
            ASSERT_EQ(shownColour(*w).rgb(), s.colour.rgb())
                << d.text(Part::FileLine).toStdString();
            ASSERT_EQ(d.text(Part::WidthLine), widthText(s.width));
        }
    }
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.text(Part::FileLine), path("p11.bmp"));
    EXPECT_EQ(d.text(Part::NumberLine), "Picture:  12 of  12");
    EXPECT_EQ(d.text(Part::WidthLine), "Width: 1420");
    EXPECT_EQ(shownColour(*w).rgb(), pictures.value(path("p11.bmp")).colour.rgb());
    EXPECT_TRUE(d.shown(Part::Picture));
    EXPECT_EQ(platform.beeps, 0);
    // No queue of stale decodes: the superseded requests mostly never started.
    EXPECT_LT(w->decoder().stats().decodes, 12 + 2);
}

TEST_F(DecodeTest, APictureWhoseFileChangedAfterItsPrefetchShowsTheNewContent) {
    // A BMP of the same size keeps the byte count; the time of change is put back too.
    const std::pair<const char*, bool> ways[] = {{"replaced by a rename", true},
                                                 {"rewritten in place", false}};
    for (auto [what, byRename] : ways) {
        SCOPED_TRACE(what);
        QTemporaryDir folder;
        const QString a = QDir(folder.path()).filePath("a.bmp");
        const QString b = QDir(folder.path()).filePath("b.bmp");
        test::writePicture(a, solid({400, 300}, Qt::red));
        test::writePicture(b, solid({400, 300}, Qt::green));
        auto w = start({folder.path()});
        auto d = test::drive(*w);
        d.select(0);
        ASSERT_TRUE(test::waitForPicture(*w));
        ASSERT_TRUE(settle(*w));
        ASSERT_NE(w->decoder().cached(b, w->displayContext()), nullptr) << "b was not prefetched";

        const QDateTime modified = QFileInfo(b).lastModified();
        const qint64 size = QFileInfo(b).size();
        QByteArray blue;
        {
            const QString tmp = b + ".new.bmp";
            test::writePicture(tmp, solid({400, 300}, Qt::blue));
            QFile f(tmp);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            blue = f.readAll();
            f.close();
            if (byRename) {
                ASSERT_EQ(::rename(tmp.toLocal8Bit().constData(), b.toLocal8Bit().constData()), 0);
            } else {
                QFile::remove(tmp);
                QFile target(b);
                ASSERT_TRUE(target.open(QIODevice::WriteOnly)); // same file, truncated
                ASSERT_EQ(target.write(blue), blue.size());
            }
        }
        QFile touched(b);
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(modified, QFileDevice::FileModificationTime));
        touched.close();
        ASSERT_EQ(QFileInfo(b).size(), size);

        d.select(1);
        ASSERT_TRUE(test::waitForPicture(*w));
        EXPECT_EQ(shownColour(*w), QColor(Qt::blue));
        EXPECT_EQ(d.text(Part::FileLine), b);
    }
}

TEST_F(DecodeTest, AChangedOptionOrPanelNeverReusesAPictureLaidOutForTheOld) {
    for (int i = 1; i <= 2; ++i)
        test::writePicture(path(QString("land%1.jpg").arg(i)), test::patternImage(800, 600));
    auto w = start({dir.path()});
    auto d = test::drive(*w);
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    ASSERT_TRUE(settle(*w)); // land2 is decoded ahead for the panel shown
    ASSERT_EQ(d.pictureGeometry(), QRect(0, 72, 831, 623));

    d.toggleControls(); // panel hidden: the whole width is free
    ASSERT_TRUE(test::waitForPicture(*w));
    d.select(1);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.pictureGeometry(), QRect(0, 0, 1024, 768));
    EXPECT_EQ(d.picture().size(), QSize(1024, 768));

    ASSERT_TRUE(settle(*w));
    d.setChecked(Part::Stretch, false); // its own size, centred
    ASSERT_TRUE(test::waitForPicture(*w));
    d.select(0);
    ASSERT_TRUE(test::waitForPicture(*w));
    EXPECT_EQ(d.pictureGeometry(), QRect(112, 84, 800, 600));
    EXPECT_EQ(d.picture().size(), QSize(800, 600));
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(DecodeTest, ScreensaverShowsTheSameRandomSequenceWithAndWithoutPrefetching) {
    for (int i = 0; i < 7; ++i)
        test::writePicture(path(QString("s%1.jpg").arg(i)), test::patternImage(320, 240));
    test::rememberFolder(dir.path());
    std::vector<std::int64_t> sequences[2];
    for (bool prefetch : {false, true}) {
        SCOPED_TRACE(prefetch ? "prefetching" : "not prefetching");
        auto generator = std::make_shared<std::mt19937>(2024);
        random = [generator] { return std::uniform_real_distribution<double>(0, 1)(*generator); };
        auto w = start({"/s"}, prefetch);
        auto d = test::drive(*w);
        auto& seen = sequences[prefetch];
        ASSERT_TRUE(test::waitForPicture(*w));
        seen.push_back(d.selected());
        for (int tick = 0; tick < 20; ++tick) {
            ASSERT_TRUE(settle(*w)); // the next pick has had its chance to be decoded
            d.slideshowTick();
            ASSERT_TRUE(test::waitForPicture(*w));
            seen.push_back(d.selected());
            EXPECT_EQ(d.text(Part::FileLine), w->selectedFilePath());
        }
        if (prefetch) { // every pick was decoded ahead and shown from there
            const DecoderStats& stats = w->decoder().stats();
            EXPECT_EQ(stats.fromCache + stats.adopted, stats.requests);
            EXPECT_GE(stats.requests, 10);
        }
    }
    EXPECT_EQ(sequences[1], sequences[0]);
}

// A file that is refused, or shows only in part because it is cut short, says nothing while
// it is decoded ahead, and one line on standard error each time it is shown.
TEST_F(DecodeTest, AFaultyFileMetWhilePrefetchingStaysSilentUntilItIsShown) {
    using namespace test::fixtures;
    enum Outcome { Refused, Shows, ShowsCutShort };
    QByteArray bmp;
    {
        QBuffer buffer(&bmp);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(test::patternImage(320, 240).save(&buffer, "BMP"));
    }
    const QByteArray jpeg = encodeJpeg(test::patternImage(320, 240));
    const struct {
        const char* name;
        QByteArray bytes;
        Outcome outcome;
    } cases[] = {
        {"b_scans.jpg", manyScanJpeg(5000), Refused},
        {"b_claims.bmp", bmpHeader(60000, 60000), Refused},
        {"b_text.jpg", QByteArray("not a picture"), Refused},
        {"b_vast.jpg", flatGrayJpeg(16000, 16000), Shows}, // 256 megapixels, decoded at 1/8
        {"b_short.bmp", bmp.left(bmp.size() - 4), ShowsCutShort},
        {"b_short.jpg", jpeg.left(jpeg.size() / 2), ShowsCutShort},
    };
    for (const auto& [name, bytes, outcome] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir folder;
        test::writePicture(QDir(folder.path()).filePath("a_good.jpg"),
                           test::patternImage(200, 150));
        test::writeFile(QDir(folder.path()).filePath(name), bytes);
        platform.beeps = 0;
        StderrCapture errors;
        auto w = start({folder.path()});
        auto d = test::drive(*w);
        d.select(0);
        ASSERT_TRUE(test::waitForPicture(*w));
        ASSERT_TRUE(settle(*w)) << "the prefetch did not end";
        EXPECT_EQ(platform.beeps, 0);
        EXPECT_FALSE(d.shown(Part::ErrorPicture));
        EXPECT_TRUE(d.shown(Part::Picture));
        EXPECT_LE(w->decoder().cachedBytes(), w->decoder().cacheLimit());

        const bool shows = outcome != Refused;
        for (int round = 1; round <= 2; ++round) {
            d.select(1);
            ASSERT_TRUE(test::waitForPicture(*w));
            EXPECT_EQ(d.shown(Part::ErrorPicture), !shows);
            EXPECT_EQ(d.shown(Part::Picture), shows);
            EXPECT_EQ(platform.beeps, shows ? 0 : round);
            d.select(0);
            ASSERT_TRUE(test::waitForPicture(*w));
        }
        const QStringList lines = errors.lines();
        if (outcome == Shows) {
            EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
        } else {
            // One line for each time it was shown, naming the file and why.
            ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
            EXPECT_TRUE(lines[0].startsWith("tavlin: ")) << lines[0].toStdString();
            EXPECT_TRUE(lines[0].contains(name)) << lines[0].toStdString();
            EXPECT_EQ(lines[0].contains("is cut short"), outcome == ShowsCutShort)
                << lines[0].toStdString();
        }
    }
}

TEST_F(DecodeTest, TheFirstPictureIsDecodedWhileTheSplashIsUp) {
    for (int i = 0; i < 4; ++i)
        test::writePicture(path(QString("f%1.jpg").arg(i)), test::patternImage(1600, 1200));
    test::rememberFolder(dir.path());
    random = [] { return 0.5; };
    for (const QStringList& args : {QStringList{path("f1.jpg")}, QStringList{"/s"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        TavlinOptions options = test::windowOptions(platform, exits);
        options.showSplash = true;
        options.random = random;
        Tavlin w(options);
        auto d = test::drive(w);
        ASSERT_TRUE(d.start(parseCommandLine(args)));
        // Painted the moment start-up ends, from the decode made during the splash.
        EXPECT_FALSE(w.pictureRequestPending());
        EXPECT_TRUE(d.shown(Part::Picture));
        EXPECT_EQ(d.text(Part::FileLine), path(args[0] == "/s" ? "f2.jpg" : "f1.jpg"));
        EXPECT_EQ(w.decoder().stats().fromCache, 1);
    }
}

TEST(DisplayPlan, LaysOutAndPlansTheDecodeFromPlainValues) {
    struct Case {
        const char* what;
        QSize picture;
        QSize screen;
        DisplayOptions options;
        double dpr;
        QRect placed;
        QSize scaled;
        QRect visible;
    };
    const DisplayOptions fit{true, true, false, 2895};
    const DisplayOptions own{false, true, false, 2895};
    const Case cases[] = {
        {"24 MP fitted to 1920 x 1080",
         {6000, 4000},
         {1920, 1080},
         fit,
         1,
         {150, 0, 1620, 1080},
         {1620, 1080},
         {0, 0, 1620, 1080}},
        {"with the panel",
         {800, 600},
         {1024, 768},
         {true, true, true, 2895},
         1,
         {0, 72, 831, 623},
         {831, 623},
         {0, 0, 831, 623}},
        {"twice the pixels on a dense screen",
         {6000, 4000},
         {1920, 1080},
         fit,
         2,
         {150, 0, 1620, 1080},
         {3240, 2160},
         {0, 0, 3240, 2160}},
        {"own size: only what is on the screen",
         {4000, 3000},
         {1920, 1080},
         own,
         1,
         {-1040, -960, 4000, 3000},
         {4000, 3000},
         {1040, 960, 1920, 1080}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DisplayPlan plan = planDisplay(c.picture, {c.screen, 15, c.options, c.dpr});
        EXPECT_EQ(plan.placed, c.placed);
        EXPECT_EQ(plan.request.scaledSize, c.scaled);
        EXPECT_EQ(plan.request.visible, c.visible);
    }
}

TEST(PrefetchPlan, PicksThePicturesLikelyToBeAskedForNext) {
    auto state = [](std::int64_t selected, std::int64_t count, bool slideshow = false,
                    bool screensaver = false, bool loop = false,
                    std::optional<std::int64_t> nextPick = std::nullopt) {
        return BrowsingState{selected, count, slideshow, screensaver, loop, nextPick};
    };
    struct Case {
        const char* what;
        BrowsingState state;
        std::vector<std::int64_t> indices;
    };
    const Case cases[] = {
        {"browsing: next, then previous", state(5, 10), {6, 4}},
        {"first entry", state(0, 10), {1}},
        {"last entry", state(9, 10), {8}},
        {"slideshow: the next slide", state(5, 10, true), {6}},
        {"slideshow started with nothing selected", state(-1, 10, true), {1}},
        {"slideshow at the end, looping", state(9, 10, true, false, true), {0}},
        {"slideshow at the end, not looping", state(9, 10, true), {}},
        {"screensaver: the pick drawn early", state(3, 10, true, true, true, 7), {7}},
        {"screensaver before its number is drawn", state(3, 10, true, true, true), {}},
        {"empty folder", state(-1, 0), {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(likelyNextIndices(c.state), c.indices) << c.what;
}

TEST(PictureDecoder, KeepsItsCacheWithinItsBoundInBytes) {
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        paths << QDir(dir.path()).filePath(QString("c%1.bmp").arg(i));
        test::writePicture(paths.last(), solid({640, 480}, QColor::fromHsv(i * 50, 200, 200)));
    }
    const DisplayContext context{{640, 480}, 15, {true, true, false, 2895}, 1};
    PictureDecoder decoder;
    const std::int64_t onePicture = 640 * 480 * 4;
    decoder.setCacheLimit(2 * onePicture);
    QSignalSpy ready(&decoder, &PictureDecoder::ready);
    for (const QString& p : paths) {
        ASSERT_EQ(decoder.request(p, context), nullptr);
        ASSERT_TRUE(ready.wait(20000));
        EXPECT_LE(decoder.cachedBytes(), 2 * onePicture);
    }
    EXPECT_EQ(decoder.cached(paths[0], context), nullptr);
    EXPECT_NE(decoder.cached(paths[5], context), nullptr);
    EXPECT_NE(decoder.request(paths[4], context), nullptr); // served at once
}
