#include <atomic>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QtEndian>

#include "bench/benchfixtures.h"
#include "decode/jpegscan.h"
#include "decode/pictureloader.h"
#include "pictureloader_fixtures.h"
#include "support/testsupport.h"

using namespace tavlin;
namespace fx = tavlin::test::fixtures;
using fx::fixedSize;
using fx::meanDifference;
using fx::reference;

namespace {

bool isDark(const QImage& image, QPoint at) {
    return qGray(image.pixel(at)) < 60;
}

} // namespace

// Decoded size and pixels for JPEG reductions of 1/2, 1/4, 1/8 with and without a resample
// after them, an upscale, a side that is no multiple of 8, and BMP and GIF.
TEST(PictureLoader, DecodesAtTheRequestedSizeLikeAFullDecode) {
    struct Case {
        const char* file;
        QSize picture;
        QSize scaled;
    };
    const Case cases[] = {
        {"exact-half.jpg", QSize(1000, 752), QSize(500, 376)},
        {"half-then-resample.jpg", QSize(1000, 752), QSize(333, 250)},
        {"quarter.jpg", QSize(1000, 752), QSize(125, 94)},
        {"eighth.jpg", QSize(1000, 752), QSize(120, 90)},
        {"odd-sides.jpg", QSize(1003, 751), QSize(250, 187)},
        {"upscale.jpg", QSize(300, 200), QSize(900, 600)},
        {"full.jpg", QSize(300, 200), QSize(300, 200)},
        {"picture.bmp", QSize(640, 480), QSize(200, 150)},
        {"picture.gif", QSize(320, 240), QSize(400, 300)},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(c.file);
        const QImage source = test::patternImage(c.picture.width(), c.picture.height());
        if (path.endsWith(".gif"))
            ASSERT_TRUE(bench::writeGif(path, source));
        else
            test::writePicture(path, source);
        QSize seen;
        const LoadedPicture p = loadPicture(path, [&](QSize s) {
            seen = s;
            return DecodeRequest{c.scaled, {}};
        });
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(seen, c.picture);
        EXPECT_EQ(p.size, c.picture);
        EXPECT_EQ(p.fileSize, QFileInfo(path).size());
        EXPECT_EQ(p.image.size(), c.scaled);
        EXPECT_EQ(p.imageRect, QRect(QPoint(0, 0), c.scaled));
        EXPECT_LT(meanDifference(p.image, reference(path, c.scaled, {})), 3.0);
    }
}

// The decoder's reduction is the largest power of two whose output still covers the shown size.
TEST(PictureLoader, PicksThePowerOfTwoReductionThatStillCovers) {
    struct Case {
        QSize picture;
        QSize shown;
        int reduction;
    };
    const Case cases[] = {
        {QSize(6000, 4000), QSize(1620, 1080), 2}, {QSize(4000, 3000), QSize(1440, 1080), 2},
        {QSize(1632, 1224), QSize(1440, 1080), 1}, {QSize(8640, 8640), QSize(1080, 1080), 8},
        {QSize(8639, 8639), QSize(1080, 1080), 4}, {QSize(10000, 10000), QSize(1080, 1080), 8},
        {QSize(300, 200), QSize(900, 600), 1},     {QSize(4000, 100), QSize(1920, 48), 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(jpegReduction(c.picture, c.shown), c.reduction) << c.picture.width();
}

// Every EXIF orientation: the planner sees the shown size, the dark top-left quarter of the
// stored picture lands in the right corner, and a visible part maps back through the turn.
TEST(PictureLoader, AppliesExifOrientationBeforeScalingAndClipping) {
    struct Case {
        int orientation;
        bool turned;
        QPoint darkCorner; // 0/1 for left/right, top/bottom of the shown picture
    };
    const Case cases[] = {
        {1, false, {0, 0}}, {2, false, {1, 0}}, {3, false, {1, 1}}, {4, false, {0, 1}},
        {5, true, {0, 0}},  {6, true, {1, 0}},  {7, true, {1, 1}},  {8, true, {0, 1}},
    };
    QTemporaryDir dir;
    const QByteArray plain = fx::encodeJpeg(test::patternImage(800, 600));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        const QString path = dir.filePath(QStringLiteral("o%1.jpg").arg(c.orientation));
        test::writeFile(path, fx::withExifOrientation(plain, c.orientation));
        const QSize shown = c.turned ? QSize(600, 800) : QSize(800, 600);
        const QSize scaled = shown / 4;

        QSize seen;
        const LoadedPicture whole = loadPicture(path, [&](QSize s) {
            seen = s;
            return DecodeRequest{scaled, {}};
        });
        ASSERT_TRUE(whole.ok) << whole.error.toStdString();
        EXPECT_EQ(seen, shown);
        EXPECT_EQ(whole.size, shown);
        ASSERT_EQ(whole.image.size(), scaled);
        const QPoint corner(c.darkCorner.x() ? scaled.width() - 5 : 4,
                            c.darkCorner.y() ? scaled.height() - 5 : 4);
        EXPECT_TRUE(isDark(whole.image, corner));
        const QPoint opposite(scaled.width() - 1 - corner.x(), scaled.height() - 1 - corner.y());
        EXPECT_FALSE(isDark(whole.image, opposite));

        // A band off-centre, shown at a larger size than stored: only it is decoded.
        const QSize big = shown * 2;
        const QRect visible(big.width() / 3, big.height() / 5, big.width() / 2, big.height() / 3);
        const LoadedPicture part = loadPicture(path, fixedSize(big, visible));
        ASSERT_TRUE(part.ok) << part.error.toStdString();
        EXPECT_EQ(part.imageRect, visible);
        EXPECT_LT(meanDifference(part.image, reference(path, big, visible)), 4.0);
    }
}

// A part of a JPEG reduced while decoding (1/4 here), off every edge and at the corner.
TEST(PictureLoader, DecodesOnlyTheVisiblePartOfAReducedJpeg) {
    QTemporaryDir dir;
    const QString path = dir.filePath("big.jpg");
    test::writePicture(path, test::patternImage(2403, 1601));
    const QSize scaled(600, 400);
    for (const QRect visible :
         {QRect(100, 50, 300, 200), QRect(450, 300, 150, 100), QRect(-20, -20, 100, 100)}) {
        const LoadedPicture p = loadPicture(path, fixedSize(scaled, visible));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        const QRect kept = visible & QRect(QPoint(0, 0), scaled);
        EXPECT_EQ(p.imageRect, kept);
        EXPECT_LT(meanDifference(p.image, reference(path, scaled, kept)), 4.0);
    }
}

// A 100-megapixel JPEG displays: fitted to a screen, and at its own size through a
// screen-sized window, holding no more than the screen's pixels.
TEST(PictureLoader, ShowsAHundredMegapixelJpegScaled) {
    QTemporaryDir dir;
    const QString path = dir.filePath("huge.jpg");
    test::writeFile(path, fx::flatGrayJpeg(10000, 10000));

    const LoadedPicture fitted = loadPicture(path, fixedSize(QSize(1080, 1080)));
    ASSERT_TRUE(fitted.ok) << fitted.error.toStdString();
    EXPECT_EQ(fitted.size, QSize(10000, 10000));
    EXPECT_EQ(fitted.image.size(), QSize(1080, 1080));
    EXPECT_NEAR(qGray(fitted.image.pixel(540, 540)), 128, 2);

    const QRect window(4000, 4500, 1920, 1080);
    const LoadedPicture natural = loadPicture(path, fixedSize(QSize(10000, 10000), window));
    ASSERT_TRUE(natural.ok) << natural.error.toStdString();
    EXPECT_EQ(natural.imageRect, window);
    EXPECT_EQ(natural.image.size(), window.size());
}

// A file cut short shows every row it holds, whichever way it stores its rows, and says it
// is cut short; the whole file says nothing.
TEST(PictureLoader, ShowsWhatACutShortFileHoldsAndSaysSo) {
    QImage picture(200, 150, QImage::Format_RGB32);
    {
        QPainter painter(&picture);
        QLinearGradient gradient(0, 0, 0, 150);
        gradient.setColorAt(0, Qt::red);
        gradient.setColorAt(1, Qt::blue);
        painter.fillRect(picture.rect(), gradient);
    }
    QByteArray bmp;
    {
        QBuffer buffer(&bmp);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(picture.save(&buffer, "BMP"));
    }
    // Qt writes rows bottom-up; the same rows top-down, with a negative height.
    const int offset = qFromLittleEndian<qint32>(bmp.constData() + 10);
    const int stride = 200 * 3;
    ASSERT_EQ(bmp.size(), offset + 150 * stride);
    QByteArray topDownBmp = bmp.left(offset);
    qToLittleEndian<qint32>(-150, topDownBmp.data() + 22);
    for (int row = 149; row >= 0; --row)
        topDownBmp += bmp.mid(offset + row * stride, stride);
    // Rows an RLE file does not hold show its first colour: black, unlike any of the picture.
    QList<QRgb> colours{qRgb(0, 0, 0)};
    for (int i = 1; i < 256; ++i)
        colours << qRgb(255 - i, 0, i);
    const QByteArray rle =
        fx::rle8Bmp(picture.convertToFormat(QImage::Format_Indexed8, colours, Qt::ThresholdDither));
    const int rleOffset = qFromLittleEndian<qint32>(rle.constData() + 10);
    const QByteArray baseline = fx::encodeJpeg(picture);
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(picture));
    }
    const int halfRows = offset + 75 * stride;
    struct Case {
        const char* name;
        QByteArray whole;
        qsizetype kept;
        QRect held;    // shows as the whole file shows it
        QRect missing; // shows otherwise
    };
    const Case cases[] = {
        {"bottom-up BMP without its last 4 bytes", bmp, bmp.size() - 4, QRect(0, 1, 200, 149),
         QRect(0, 0, 200, 1)},
        {"bottom-up BMP cut in half", bmp, halfRows, QRect(0, 75, 200, 75), QRect(0, 0, 200, 75)},
        {"top-down BMP cut in half", topDownBmp, halfRows, QRect(0, 0, 200, 75),
         QRect(0, 75, 200, 75)},
        {"RLE8 BMP cut in half", rle, (rleOffset + rle.size()) / 2, QRect(0, 120, 200, 30),
         QRect(0, 0, 200, 30)},
        {"baseline JPEG cut in half", baseline, baseline.size() / 2, QRect(0, 0, 200, 30),
         QRect(0, 120, 200, 30)},
        {"progressive JPEG cut in half", progressive, progressive.size() / 2, {}, {}},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("picture");
        test::writeFile(path, c.whole);
        const LoadedPicture whole = loadPicture(path, fixedSize(QSize(200, 150)));
        ASSERT_TRUE(whole.ok) << whole.error.toStdString();
        EXPECT_TRUE(whole.warning.isEmpty()) << whole.warning.toStdString();

        test::writeFile(path, c.whole.left(c.kept));
        const LoadedPicture cut = loadPicture(path, fixedSize(QSize(200, 150)));
        ASSERT_TRUE(cut.ok) << cut.error.toStdString();
        ASSERT_EQ(cut.image.size(), QSize(200, 150));
        EXPECT_TRUE(cut.warning.contains(QString::fromUtf8("\u201cpicture\u201d is cut short")))
            << cut.warning.toStdString();
        if (!c.held.isEmpty()) {
            EXPECT_LT(meanDifference(cut.image.copy(c.held), whole.image.copy(c.held)), 1.0);
            EXPECT_GT(meanDifference(cut.image.copy(c.missing), whole.image.copy(c.missing)), 20.0);
        }
    }
}

// Files that must fail at once with a sentence, never hang, crash or allocate their claims.
TEST(PictureLoader, RefusesWhatIsNotAShowablePicture) {
    struct Case {
        const char* name;
        std::function<QString(const QDir&)> make; // returns the path to load
        const char* errorWords;
    };
    auto file = [](const char* name, QByteArray bytes) {
        return [=](const QDir& d) {
            test::writeFile(d.filePath(name), bytes);
            return d.filePath(name);
        };
    };
    const Case cases[] = {
        {"text named .jpg", file("notes.jpg", "shopping list: milk, bread\n"), "not a JPEG"},
        {"zero bytes", file("empty.jpg", QByteArray()), "is empty"},
        {"directory",
         [](const QDir& d) {
             d.mkdir("folder.jpg");
             return d.filePath("folder.jpg");
         },
         "is a folder"},
        {"fifo",
         [](const QDir& d) {
             const QString p = d.filePath("pipe.jpg");
             EXPECT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
             return p;
         },
         "not a regular file"},
        {"device", [](const QDir&) { return QStringLiteral("/dev/null"); }, "not a regular file"},
        {"empty path", [](const QDir&) { return QString(); }, "No picture file"},
        {"deleted after listing",
         [](const QDir& d) {
             const QString p = d.filePath("gone.jpg");
             test::writePicture(p, test::patternImage(40, 30));
             QFile::remove(p);
             return p;
         },
         "does not exist"},
        {"60000 x 60000 JPEG", file("wide.jpg", fx::flatGrayJpeg(60000, 60000).left(400)),
         "60000 \u00d7 60000"},
        {"60000 x 60000 BMP", file("wide.bmp", fx::bmpHeader(60000, 60000)), "60000 \u00d7 60000"},
        {"60000 x 60000 GIF", file("wide.gif", fx::gifHeader(60000, 60000)), "60000 \u00d7 60000"},
        {"50,000 progressive scans", file("scans.jpg", fx::manyScanJpeg(50000)), "scans"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.make(QDir(dir.path()));
        bool planned = false;
        const LoadedPicture p = loadPicture(path, [&](QSize s) {
            planned = true;
            return DecodeRequest{s, {}};
        });
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.image.isNull());
        EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.errorWords))) << p.error.toStdString();
        EXPECT_FALSE(p.error.contains(dir.path())) << "errors name the file, not the machine path";
        if (QByteArray(c.name).startsWith("50,000") || QByteArray(c.name).startsWith("60000")) {
            EXPECT_FALSE(planned) << "refused before anything was decoded";
        }
    }
}

TEST(PictureLoader, RefusesAFileItMayNotRead) {
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString path = dir.filePath("secret.jpg");
    test::writePicture(path, test::patternImage(40, 30));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0000), 0);
    if (!test::runningAsRoot()) {
        const LoadedPicture p = loadPicture(path, fixedSize(QSize(40, 30)));
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.error.contains("Permission")) << p.error.toStdString();
        return;
    }
    // Root reads everything: load as the unprivileged "nobody" in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(77);
        const LoadedPicture p = loadPicture(path, fixedSize(QSize(40, 30)));
        ::_exit(!p.ok && p.error.contains("Permission") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "running as root and cannot drop to an unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The marker walk counts scans through stuffed bytes, restart markers, fill bytes and stray
// data, and notices a file that ends early.
TEST(JpegScan, CountsScansWithoutDecoding) {
    const QByteArray sos("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    const QByteArray eoi("\xFF\xD9", 2);
    const QByteArray tricky("\x12\xFF\x00\x34\xFF\xD3\x56\xFF\xFF\x00\x78\xFF\xD7", 13);
    struct Case {
        const char* name;
        QByteArray bytes;
        int scans;
        bool truncated;
    };
    const Case cases[] = {
        {"Qt baseline", fx::encodeJpeg(test::patternImage(64, 48)), 1, false},
        {"flat grey", fx::flatGrayJpeg(64, 64), 1, false},
        {"stuffing and restarts", fx::grayJpegHead(8, 8, 0xC2) + sos + tricky + sos + tricky + eoi,
         2, false},
        {"fill bytes before a marker",
         fx::grayJpegHead(8, 8, 0xC2) + sos + "\x01\xFF\xFF\xFF" + sos + eoi, 2, false},
        {"ends inside the data", fx::grayJpegHead(8, 8, 0xC2) + sos + tricky, 1, true},
        {"ends inside a segment", fx::grayJpegHead(8, 8, 0xC0).left(20), 0, true},
        {"many scans, counting stops early", fx::manyScanJpeg(5000), 301, false},
        {"comment of length 0 first",
         fx::afterSoi(fx::manyScanJpeg(5000), QByteArray("\xFF\xFE\x00\x00", 4)), 301, false},
        {"second SOI stops the walk", fx::afterSoi(fx::flatGrayJpeg(8, 8), "\xFF\xD8"), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = c.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const JpegScanReport r = scanJpeg(buffer, 300);
        EXPECT_TRUE(r.isJpeg);
        EXPECT_EQ(r.scans, c.scans);
        EXPECT_EQ(r.truncated, c.truncated);
    }
    QByteArray progressive;
    QBuffer out(&progressive);
    out.open(QIODevice::WriteOnly);
    QImageWriter writer(&out, "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(test::patternImage(64, 48)));
    QBuffer in(&progressive);
    in.open(QIODevice::ReadOnly);
    const JpegScanReport r = scanJpeg(in, 300);
    EXPECT_TRUE(r.progressive);
    EXPECT_EQ(r.frameSize, QSize(64, 48));
    EXPECT_GT(r.scans, 1);
    EXPECT_FALSE(r.truncated);
}

// A file cut anywhere in its frame header reports no frame and reads nothing past its end.
TEST(JpegScan, ReadsNothingBeyondAFileCutInItsFrameHeader) {
    const QByteArray whole = fx::grayJpegHead(640, 480, 0xC0);
    const int sof = int(whole.indexOf("\xFF\xC0"));
    for (int cut = sof; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        QByteArray bytes = whole.left(cut);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QByteArray kept;
        const JpegScanReport r = scanJpeg(buffer, JpegScanLimits{}, &kept);
        EXPECT_FALSE(r.frameSize.isValid());
        EXPECT_TRUE(r.truncated);
        EXPECT_EQ(r.end, cut);
        EXPECT_EQ(kept, bytes);
    }
}

TEST(PictureLoader, ABottomUpBmpCutShortShowsEveryRowItHolds) {
    // The usual BMP stores its rows from the bottom up: cut short, it lacks its top rows.
    QTemporaryDir dir;
    const QString full = dir.filePath("full.bmp");
    test::writePicture(full, test::patternImage(640, 480));
    QFile file(full);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    const QString shortPath = dir.filePath("short.bmp");
    test::writeFile(shortPath, bytes.left(bytes.size() - 4));
    const LoadedPicture whole = loadPicture(full, [](QSize s) { return DecodeRequest{s, {}}; });
    const LoadedPicture cut = loadPicture(shortPath, [](QSize s) { return DecodeRequest{s, {}}; });
    ASSERT_TRUE(whole.ok);
    ASSERT_TRUE(cut.ok) << cut.error.toStdString();
    ASSERT_EQ(cut.image.size(), QSize(640, 480));
    // Everything below the top row matches the whole file; before, nothing was decoded.
    EXPECT_EQ(cut.image.copy(0, 1, 640, 479), whole.image.copy(0, 1, 640, 479));
}
