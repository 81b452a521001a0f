#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "decode/jpegscan.h"
#include "decode/pictureloader.h"
#include "pictureloader_fixtures.h"
#include "registry_testutil.h"
#include "support/testsupport.h"

// The loader's bounds: what would take too long or hold too much is refused before it is
// decoded, what fits the budget only reduced is decoded reduced, and every read stops at
// the end of the picture.

using namespace tavlin;
namespace fx = tavlin::test::fixtures;
using fx::fixedSize;
using fx::meanDifference;
using fx::reference;

// Ways around the scan and size guards: each is refused before anything is decoded.
TEST(PictureLoader, RefusesWhatWouldTakeTooLongOrTooMuchMemory) {
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* errorWords;
    };
    const Case cases[] = {
        // libjpeg skips a segment whose length is below 2 and reads on.
        {"scans behind a comment of length 0",
         fx::afterSoi(fx::manyScanJpeg(400), QByteArray("\xFF\xFE\x00\x00", 4)), "scans"},
        {"scans behind an APP0 of length 1",
         fx::afterSoi(fx::manyScanJpeg(400), QByteArray("\xFF\xE0\x00\x01", 4)), "scans"},
        {"299 scans over 100 megapixels", fx::scanHeavyJpeg(10000, 10000, 299), "scans"},
        // Arithmetic coding has no end-of-band runs: each block of a scan decodes its
        // coefficients out of zeros past the data, so a scan costs what its blocks may hold.
        {"255 arithmetic-coded scans of 64 bytes over 16 megapixels",
         fx::arithmeticScansJpeg(4096, 255, 63, char(0x80), 64), "scans"},
        {"60 arithmetic-coded scans of 24 coefficients over 16 megapixels",
         fx::arithmeticScansJpeg(4096, 60, 24, char(0x01), 64), "scans"},
        {"22 arithmetic-coded scans of 24 coefficients over 16 megapixels",
         fx::arithmeticScansJpeg(4096, 22, 24, char(0x01), 64), "scans"},
        {"GIF canvas of 8449 x 14337", fx::gifHeader(8449, 14337), "canvas of 8449 \u00d7 14337"},
        {"GIF frame far outside a small screen",
         [] {
             // Without a screen size the frame's extent sets the canvas: 60001 x 60001.
             QByteArray gif = fx::gifHeader(0, 0);
             gif[19 + 1] = char(0x60);
             gif[19 + 2] = char(0xEA);
             gif[19 + 3] = char(0x60);
             gif[19 + 4] = char(0xEA);
             return gif;
         }(),
         "canvas"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("hostile"));
        test::writeFile(path, c.bytes);
        bool planned = false;
        const LoadedPicture p = loadPicture(path, [&](QSize) {
            planned = true;
            return DecodeRequest{QSize(1920, 1080), {}};
        });
        EXPECT_FALSE(planned) << "refused before anything was decoded";
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.image.isNull());
        EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.errorWords))) << p.error.toStdString();
    }
}

// What the scan cost keeps out is hostile, never a photo: an arithmetic-coded progressive
// picture of 24 megapixels, made the usual way, shows.
TEST(PictureLoader, AnArithmeticCodedPhotoOfTwentyFourMegapixelsShows) {
    QTemporaryDir dir;
    const QString ppm = dir.filePath("photo.ppm");
    const QString jpeg = dir.filePath("photo.jpg");
    ASSERT_TRUE(test::patternImage(6000, 4000).save(ppm));
    ASSERT_EQ(QProcess::execute("cjpeg", {"-arithmetic", "-progressive", "-outfile", jpeg, ppm}),
              0);
    const LoadedPicture p = loadPicture(jpeg, fixedSize(QSize(1920, 1080)));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.size, QSize(6000, 4000));
}

// A picture within the limits but too large for the caller's budget is refused with the
// figures; shown reduced, the same picture fits.
TEST(PictureLoader, HonoursTheCallersMemoryBudget) {
    QTemporaryDir dir;
    const QString gif = dir.filePath("big.gif");
    ASSERT_TRUE(bench::writeGif(gif, test::patternImage(2000, 2000)));
    const QString bmp = dir.filePath("big.bmp");
    test::writePicture(bmp, test::patternImage(2000, 2000));
    LoadControl small;
    small.memoryBudget = 8 << 20;

    const LoadedPicture refused = loadPicture(gif, fixedSize(QSize(500, 500)), small);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.contains("MB")) << refused.error.toStdString();
    EXPECT_TRUE(loadPicture(gif, fixedSize(QSize(500, 500))).ok);

    const LoadedPicture reduced = loadPicture(bmp, fixedSize(QSize(500, 500)), small);
    ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
    EXPECT_LT(meanDifference(reduced.image, reference(bmp, QSize(500, 500), {})), 3.0);
    const LoadedPicture whole = loadPicture(bmp, fixedSize(QSize(2000, 2000)), small);
    EXPECT_FALSE(whole.ok);
    EXPECT_TRUE(whole.error.contains("8 MB")) << whole.error.toStdString();

    // Stretched over an 8K screen: the decoded picture and its 100 MB enlargement are alive
    // together, never all the copies at once.
    const QString jpeg = dir.filePath("small.jpg");
    test::writePicture(jpeg, test::patternImage(800, 600));
    const LoadedPicture stretched = loadPicture(jpeg, fixedSize(QSize(5760, 4320)));
    ASSERT_TRUE(stretched.ok) << stretched.error.toStdString();
    EXPECT_EQ(stretched.image.size(), QSize(5760, 4320));
}

// 100-megapixel BMPs show reduced, rows read straight into the reduced picture: every
// quadrant keeps its colour and place, whichever way the file stores its rows.
TEST(PictureLoader, ShowsAHundredMegapixelBmpReduced) {
    QTemporaryDir dir;
    struct Case {
        const char* name;
        std::function<bool(const QString&)> write;
    };
    const Case cases[] = {
        {"4-bit bottom-up",
         [](const QString& p) { return fx::writeQuadrantBmp4(p, 10000, 10000, false); }},
        {"4-bit top-down",
         [](const QString& p) { return fx::writeQuadrantBmp4(p, 10000, 10000, true); }},
        {"RLE8",
         [](const QString& p) {
             test::writeFile(p, fx::quadrantBmpRle8(10000, 10000));
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("huge.bmp");
        ASSERT_TRUE(c.write(path));
        const LoadedPicture p = loadPicture(path, fixedSize(QSize(1000, 1000)));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.size, QSize(10000, 10000));
        ASSERT_EQ(p.image.size(), QSize(1000, 1000));
        const QPoint probes[4] = {{250, 250}, {750, 250}, {250, 750}, {750, 750}};
        for (int q = 0; q < 4; ++q)
            EXPECT_EQ(p.image.pixel(probes[q]) | 0xFF000000, fx::kQuadrants[q]) << q;
        // At its own size through a window straddling the middle: only that part is read.
        const QRect window(4000, 4500, 1920, 1080);
        const LoadedPicture part = loadPicture(path, fixedSize(QSize(10000, 10000), window));
        ASSERT_TRUE(part.ok) << part.error.toStdString();
        EXPECT_EQ(part.image.size(), window.size());
        EXPECT_EQ(part.image.pixel(10, 10) | 0xFF000000, fx::kQuadrants[0]);
        EXPECT_EQ(part.image.pixel(1900, 1070) | 0xFF000000, fx::kQuadrants[3]);
        QFile::remove(path);
    }
}

// The decoder sees the bytes that were checked, never what was added after the check:
// here the rest of a cut-off picture arrives between the check and the decode.
TEST(PictureLoader, DecodesOnlyTheBytesItChecked) {
    QTemporaryDir dir;
    const QString path = dir.filePath("growing.jpg");
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, 256, 64, Qt::black);
    const QByteArray whole = fx::encodeJpeg(image);
    const qsizetype data = whole.indexOf("\xFF\xDA");
    const QByteArray cut = whole.left(data + (whole.size() - data) / 8); // within the black top
    test::writeFile(path, cut);
    const LoadedPicture p = fx::loadWhileItGrows(path, whole.mid(cut.size()));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_LT(qGray(p.image.pixel(128, 240)), 200) << "the appended white bottom was decoded";
}

// A small picture followed by gigabytes of nothing (sparse): the walk stops at the end of
// the picture, or where a scan's data runs past what its blocks can take (the decoder reads
// no further), or at the budget (32 MB here) when a large picture's data never ends.
TEST(PictureLoader, StopsReadingAtTheEndOfThePicture) {
    QTemporaryDir dir;
    const std::int64_t fourGB = std::int64_t(4) << 30;
    struct Case {
        const char* name;
        QByteArray start;
        bool ok;
    };
    const QByteArray jpeg = fx::encodeJpeg(test::patternImage(64, 48));
    const QByteArray large = fx::flatGrayJpeg(8000, 8000);
    const Case cases[] = {
        {"JPEG then zeros", jpeg, true},
        {"JPEG without its end", jpeg.left(jpeg.size() - 2), true},
        {"64-megapixel JPEG without its end", large.left(large.size() - 2), false},
        {"BMP claiming few rows", fx::bmpHeader(64, 48), true},
    };
    LoadControl control;
    control.memoryBudget = 32 << 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("sparse");
        test::writeFile(path, c.start);
        ASSERT_TRUE(QFile::resize(path, fourGB));
        const std::int64_t before = test::ioCounts().read;
        const LoadedPicture p = loadPicture(path, fixedSize(QSize(64, 48)), control);
        const std::int64_t read = test::ioCounts().read - before;
        EXPECT_EQ(p.ok, c.ok) << p.error.toStdString();
        if (c.ok) {
            EXPECT_LE(read, 1 << 20);
        } else {
            EXPECT_TRUE(p.error.contains("32 MB")) << p.error.toStdString();
            EXPECT_LE(read, control.memoryBudget + (8 << 20));
        }
        QFile::remove(path);
    }
}

// Segments the decoder only passes over are passed over on the file and never held: a small
// picture behind 262 MB of APP2 segments (sparse) shows, its orientation read behind them,
// holding the picture's own bytes and reading a fraction of the file. What the decoder does
// read stays: an Adobe segment telling RGB from YCbCr, here cut to what the decoder reads.
TEST(PictureLoader, KeepsOnlyTheSegmentsTheDecoderReads) {
    QTemporaryDir dir;
    const QString path = dir.filePath("segments.jpg");
    const QByteArray jpeg = fx::encodeJpeg(test::patternImage(64, 48));
    const QByteArray exif = fx::withExifOrientation(QByteArray("\xFF\xD8", 2), 6).mid(2);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(jpeg.left(2));
        for (int i = 0; i < 4000; ++i) {
            file.write(QByteArray("\xFF\xE2\xFF\xFF", 4));
            ASSERT_TRUE(file.seek(file.pos() + 0xFFFF - 2)); // a hole: no disk, no writing
        }
        file.write(exif + jpeg.mid(2));
    }
    const std::int64_t before = test::ioCounts().read;
    const LoadedPicture p = loadPicture(path, fixedSize(QSize(48, 64)));
    const std::int64_t read = test::ioCounts().read - before;
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.size, QSize(48, 64)) << "the orientation behind the segments";
    EXPECT_LE(read, QFileInfo(path).size() / 8);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray kept;
    const JpegScanReport scan = scanJpeg(file, JpegScanLimits{}, &kept);
    EXPECT_EQ(scan.end, jpeg.size()) << "the picture's own bytes, nothing of the segments";
    EXPECT_EQ(scan.exifOrientation, 6);

    // cjpeg marks RGB with an Adobe segment and the components' letters; with plain numbers
    // for components only the Adobe segment tells the decoder the colours are not YCbCr.
    const QImage picture = test::patternImage(64, 48);
    const QString ppm = dir.filePath("rgb.ppm");
    ASSERT_TRUE(picture.save(ppm));
    QProcess cjpeg;
    cjpeg.start("cjpeg", {"-rgb", "-quality", "95", ppm});
    ASSERT_TRUE(cjpeg.waitForFinished(60000));
    QByteArray rgb = cjpeg.readAllStandardOutput();
    const qsizetype adobe = rgb.indexOf("\xFF\xEE\x00\x0E"
                                        "Adobe");
    ASSERT_GT(adobe, 0);
    for (const char* segment : {"\xFF\xC0", "\xFF\xDA"}) {
        const qsizetype at = rgb.indexOf(segment);
        ASSERT_GT(at, 0);
        const int count = rgb[at + (segment[1] == '\xC0' ? 9 : 4)];
        const int first = at + (segment[1] == '\xC0' ? 10 : 5);
        const int step = segment[1] == '\xC0' ? 3 : 2;
        for (int c = 0; c < count; ++c)
            rgb[first + c * step] = char(c + 1);
    }
    // The segment grown past the 12 bytes the decoder reads, so the walk cuts it.
    rgb[adobe + 3] = char(0x0E + 100);
    rgb.insert(adobe + 4 + 12, QByteArray(100, 'x'));
    test::writeFile(path, rgb);
    const LoadedPicture colours = loadPicture(path, fixedSize(QSize(64, 48)));
    ASSERT_TRUE(colours.ok) << colours.error.toStdString();
    EXPECT_LT(meanDifference(colours.image, picture), 4.0);
}

// A load is stopped from outside once it is no longer wanted.
TEST(PictureLoader, StopsWhenCancelled) {
    QTemporaryDir dir;
    const QString jpeg = dir.filePath("a.jpg");
    test::writePicture(jpeg, test::patternImage(800, 600));
    const QString bmp = dir.filePath("a.bmp");
    test::writePicture(bmp, test::patternImage(800, 600));
    for (const QString& path : {jpeg, bmp}) {
        const LoadedPicture p = fx::loadCancelledAfterHeader(path);
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.cancelled) << path.toStdString();
        EXPECT_TRUE(p.image.isNull());
    }
}

// Every kind of BMP the row decoder reads shows as Qt's own reader shows it, whole and
// reduced: palette kinds written by Qt and by hand, bit fields and OS/2 by ImageMagick.
TEST(PictureLoader, DecodesEveryKindOfBmpLikeQt) {
    QTemporaryDir dir;
    const QImage source = test::patternImage(200, 150);
    const QImage indexed = source.convertToFormat(QImage::Format_Indexed8);
    QList<QRgb> sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen << qRgb(i * 17, 255 - i * 17, (i * 97) % 256);
    struct Case {
        const char* name;
        std::function<void(const QString&)> write;
        double tolerance;
    };
    auto qtWrites = [](QImage image) {
        return [image](const QString& path) { ASSERT_TRUE(image.save(path, "BMP")); };
    };
    const Case cases[] = {
        {"8-bit", qtWrites(indexed), 3},
        {"4-bit", qtWrites(source.convertToFormat(QImage::Format_Indexed8, sixteen)), 3},
        {"1-bit", qtWrites(source.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither)), 3},
        {"RLE8", [&](const QString& path) { test::writeFile(path, fx::rle8Bmp(indexed)); }, 3},
        {"16-bit bit fields", {}, 3},
        {"32-bit bit fields", {}, 3},
        {"24-bit OS-2", {}, 3},
    };
    // One ImageMagick run writes the rest: each start costs a good part of a second.
    const QString png = dir.filePath("source.png");
    ASSERT_TRUE(source.save(png));
    auto name = [&](const char* n) { return dir.filePath(QString::fromUtf8(n) + ".bmp"); };
    ASSERT_EQ(QProcess::execute("convert", {png,
                                            "(",
                                            "+clone",
                                            "-define",
                                            "bmp:subtype=RGB565",
                                            "-write",
                                            "BMP:" + name("16-bit bit fields"),
                                            "+delete",
                                            ")",
                                            "(",
                                            "+clone",
                                            "-alpha",
                                            "on",
                                            "-write",
                                            "BMP:" + name("32-bit bit fields"),
                                            "+delete",
                                            ")",
                                            "-write",
                                            "BMP2:" + name("24-bit OS-2"),
                                            "null:"}),
              0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = name(c.name);
        if (c.write)
            c.write(path);
        for (const QSize scaled : {QSize(200, 150), QSize(100, 75), QSize(70, 50)}) {
            const LoadedPicture p = loadPicture(path, fixedSize(scaled));
            ASSERT_TRUE(p.ok) << p.error.toStdString();
            EXPECT_EQ(p.size, QSize(200, 150));
            EXPECT_LT(meanDifference(p.image, reference(path, scaled, {})), c.tolerance)
                << scaled.width();
        }
    }
}

// Damaged BMPs end with a reason or show what they hold; none reads out of bounds or hangs
// (the sanitizer build checks the first).
TEST(PictureLoader, ReadsDamagedBmpsSafely) {
    auto rle = [](const QByteArray& data, int width = 16, int height = 8) {
        return fx::bmpFileHeader(width, height, 8, 1, data.size(), 4) + data;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* errorWords; // nullptr: shows
    };
    const Case cases[] = {
        {"header only", fx::bmpHeader(640, 480), "ends before its pixels"},
        {"RLE8 runs past the row end and deltas past the last row",
         rle(QByteArray("\xFF\x01\x00\x02\xFF\xFF\x10\x02\x00\x00\x00\x03\x01\x02\x03\x00", 16)),
         nullptr},
        {"RLE8 literal run cut short", rle(QByteArray("\x00\xFF\x01\x02", 4)), nullptr},
        {"RLE8 with top-down rows",
         fx::bmpFileHeader(16, -8, 8, 1, 4, 4) + QByteArray("\x04\x01\x00\x01", 4), "kind of BMP"},
        {"bit fields of 32 bits each",
         [] {
             QByteArray b = fx::bmpFileHeader(4, 4, 32, 3, 12 + 64, 0);
             b.replace(10, 4, QByteArray("\x42\x00\x00\x00", 4));
             return b + QByteArray(12, char(0xFF)) + QByteArray(64, char(0x80));
         }(),
         nullptr},
        {"colour table of 70000 entries",
         [] {
             QByteArray b = fx::bmpFileHeader(4, 4, 8, 0, 16, 0);
             b.replace(46, 4, QByteArray("\x70\x11\x01\x00", 4));
             return b + QByteArray(16, '\0');
         }(),
         "colour table"},
        {"height of -2^31", fx::bmpHeader(4, INT_MIN), "claims"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("damaged.bmp");
        test::writeFile(path, c.bytes);
        const LoadedPicture p = loadPicture(path, fixedSize(QSize(32, 16)));
        EXPECT_EQ(p.ok, c.errorWords == nullptr) << p.error.toStdString();
        if (c.errorWords) {
            EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.errorWords))) << p.error.toStdString();
        }
    }
}
