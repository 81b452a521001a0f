#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "decode/pictureloader.h"
#include "decode/readers.h"
#include "pictureloader_fixtures.h"
#include "support/testsupport.h"
#include "tiff_fixtures.h"

// TIFF pictures: every kind libtiff converts to RGBA shows as libtiff's own decode shows it,
// reduced strip by strip or tile by tile, and what is damaged, cut short, too large or no
// longer wanted ends with a sentence, the part it holds, or nothing.

using namespace tavlin;
namespace fx = tavlin::test::fixtures;
namespace tf = tavlin::test::tiff;
using fx::fixedSize;
using fx::meanDifference;

namespace {

struct Variant {
    const char* name;
    QStringList convert; // ImageMagick's options
    bool alpha = false;
    const char* tiffcp = nullptr; // options of a second pass through tiffcp
};

// Makes `v` from the test picture of `size` in `dir`; the path.
QString make(const QDir& dir, const Variant& v, QSize size) {
    QString path = dir.filePath(QString::fromLatin1(v.name).replace(u' ', u'-') + ".tif");
    EXPECT_TRUE(tf::convertTo(path, tf::picture(size.width(), size.height(), v.alpha), v.convert))
        << v.name;
    if (v.tiffcp) {
        const QString copy = path + ".tiffcp.tif";
        EXPECT_EQ(QProcess::execute("tiffcp", QString::fromLatin1(v.tiffcp).split(u' ') +
                                                  QStringList{path, copy}),
                  0);
        QFile::remove(path);
        QFile::rename(copy, path);
    }
    return path;
}

LoadedPicture loadWhole(const QString& path, const LoadControl& control = {}) {
    return loadPicture(
        path,
        [](QSize s) {
            return DecodeRequest{s, {}};
        },
        control);
}

} // namespace

// Each kind of TIFF at its own size equals libtiff's decode; at a third of its size (a box
// reduction by two, then a resample) it is a smooth downscale of it, as near as two ways of
// averaging dithered palette and bilevel pixels come; a window of it at its own
// size is that window.
TEST(TiffReader, DecodesEveryKindLikeLibtiff) {
    const Variant variants[] = {
        {"strips", {"-compress", "None"}},
        {"strips LZW", {"-compress", "LZW"}},
        {"strips Deflate", {"-compress", "Zip"}},
        {"strips PackBits", {"-compress", "RLE"}},
        {"strips JPEG", {"-compress", "JPEG", "-quality", "90"}},
        {"one strip LZW", {"-compress", "LZW", "-define", "tiff:rows-per-strip=1000"}},
        {"tiles", {"-compress", "None", "-define", "tiff:tile-geometry=64x64"}},
        {"tiles LZW", {"-compress", "LZW", "-define", "tiff:tile-geometry=64x64"}},
        {"tiles JPEG", {"-compress", "JPEG", "-define", "tiff:tile-geometry=64x64"}},
        {"tiles by tiffcp", {"-compress", "None"}, false, "-t -w 64 -l 64 -c zip"},
        {"YCbCr JPEG by tiffcp", {"-compress", "None"}, false, "-c jpeg -r 16"},
        {"YCbCr JPEG tiles by tiffcp", {"-compress", "None"}, false, "-t -w 64 -l 64 -c jpeg"},
        {"grey", {"-colorspace", "Gray", "-compress", "LZW"}},
        {"grey 16-bit", {"-colorspace", "Gray", "-depth", "16"}},
        {"RGB 16-bit", {"-depth", "16", "-compress", "Zip"}},
        {"RGB 16-bit big-endian", {"-depth", "16", "-endian", "MSB"}},
        {"palette", {"-type", "Palette", "-compress", "LZW"}},
        {"bilevel", {"-monochrome"}},
        {"CMYK", {"-colorspace", "CMYK", "-compress", "LZW"}},
        {"planes", {"-interlace", "Plane", "-compress", "LZW"}},
        {"planes tiles", {"-interlace", "Plane", "-define", "tiff:tile-geometry=64x64"}},
        {"RGBA associated", {"-define", "tiff:alpha=associated"}, true},
        {"RGBA unassociated", {"-define", "tiff:alpha=unassociated", "-compress", "LZW"}, true},
        {"RGBA 16-bit tiles",
         {"-depth", "16", "-define", "tiff:alpha=unassociated", "-define",
          "tiff:tile-geometry=64x64"},
         true},
        {"RGBA planes", {"-interlace", "Plane", "-define", "tiff:alpha=unassociated"}, true},
    };
    const QSize size(301, 203); // no multiple of a strip, a tile or a reduction
    QTemporaryDir dir;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        const QString path = make(QDir(dir.path()), v, size);
        const QImage expected = tf::libtiffDecode(path);
        ASSERT_EQ(expected.size(), size);

        const LoadedPicture whole = loadWhole(path);
        ASSERT_TRUE(whole.ok) << whole.error.toStdString();
        EXPECT_EQ(whole.format, "tiff");
        EXPECT_TRUE(whole.warning.isEmpty()) << whole.warning.toStdString();
        EXPECT_EQ(tf::largestDifference(whole.image, expected), 0);
        EXPECT_FALSE(whole.image.hasAlphaChannel()) << "shown over black";

        const QSize third(100, 67);
        const LoadedPicture reduced = loadPicture(path, fixedSize(third));
        ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
        ASSERT_EQ(reduced.image.size(), third);
        EXPECT_LT(meanDifference(reduced.image, expected.scaled(third, Qt::IgnoreAspectRatio,
                                                                Qt::SmoothTransformation)),
                  8.0);

        const QRect window(130, 70, 90, 100);
        const LoadedPicture part = loadPicture(path, fixedSize(size, window));
        ASSERT_TRUE(part.ok) << part.error.toStdString();
        EXPECT_EQ(tf::largestDifference(part.image, expected.copy(window)), 0);
    }
}

// Transparent pixels show the black behind them: the clear hole is black, the half-clear
// bottom half as dark.
TEST(TiffReader, ShowsTransparencyOverBlack) {
    QTemporaryDir dir;
    for (const char* alpha : {"associated", "unassociated"}) {
        SCOPED_TRACE(alpha);
        const Variant v{alpha, {"-define", QStringLiteral("tiff:alpha=%1").arg(alpha)}, true};
        const LoadedPicture p = loadWhole(make(QDir(dir.path()), v, QSize(160, 160)));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.image.pixel(125, 85), qRgb(0, 0, 0)) << "the clear hole";
        const QRgb top = tf::picture(160, 160).pixel(100, 2);
        EXPECT_LE(std::abs(qRed(p.image.pixel(100, 2)) - qRed(top)), 3) << "opaque at the top";
        EXPECT_LT(qGray(p.image.pixel(100, 158)), 6) << "clear at the bottom";
    }
}

// The first page of a multi-page file shows; later pages are not decoded.
TEST(TiffReader, ShowsTheFirstPageOfMany) {
    QTemporaryDir dir;
    const QString first = dir.filePath("first.png");
    const QString second = dir.filePath("second.png");
    ASSERT_TRUE(tf::picture(120, 80).save(first));
    QImage other(200, 150, QImage::Format_RGB32);
    other.fill(Qt::green);
    ASSERT_TRUE(other.save(second));
    const QString path = dir.filePath("pages.tif");
    ASSERT_EQ(QProcess::execute("convert", {first, second, path}), 0);
    const LoadedPicture p = loadWhole(path);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.size, QSize(120, 80));
    EXPECT_EQ(tf::largestDifference(p.image, tf::picture(120, 80)), 0);
}

// Every orientation the Orientation tag names, whole and through a window, and the turned
// size said before any pixel is decoded.
TEST(TiffReader, TurnsThePictureAsItsOrientationTagSays) {
    QTemporaryDir dir;
    const Variant plain{"plain", {"-compress", "LZW"}};
    const QString base = make(QDir(dir.path()), plain, QSize(90, 60));
    const QImage stored = tf::libtiffDecode(base);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString path = dir.filePath(QStringLiteral("turned%1.tif").arg(orientation));
        QFile::copy(base, path);
        ASSERT_EQ(QProcess::execute("tiffset", {"-s", "274", QString::number(orientation), path}),
                  0);
        const QImage shown = tf::asShown(stored, orientation);
        QSize planned;
        const LoadedPicture p = loadPicture(path, [&](QSize s) {
            planned = s;
            return DecodeRequest{s, {}};
        });
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(planned, shown.size());
        EXPECT_EQ(tf::largestDifference(p.image, shown), 0);
        const QRect window(10, 20, 30, 25);
        const LoadedPicture part = loadPicture(path, fixedSize(shown.size(), window));
        ASSERT_TRUE(part.ok) << part.error.toStdString();
        EXPECT_EQ(tf::largestDifference(part.image, shown.copy(window)), 0);
    }
}

// The reader hands over the file's ICC profile and orientation, and says what it holds.
TEST(TiffReader, ReadsColourProfileAndOrientation) {
    QTemporaryDir dir;
    const QString path = dir.filePath("profile.tif");
    const QByteArray profile("a profile's bytes, passed on as they are", 40);
    {
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_LEFTBOT);
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(profile.size()), profile.constData());
        std::uint8_t row[16] = {};
        for (std::uint32_t y = 0; y < 8; ++y)
            TIFFWriteScanline(tif, row, y, 0);
        TIFFClose(tif);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    Source source;
    QString error;
    ASSERT_TRUE(openTiff(path, file, LoadControl{}, source, error)) << error.toStdString();
    EXPECT_EQ(source.colours.iccProfile, profile);
    EXPECT_EQ(source.transform, QImageIOHandler::TransformationRotate270);
    EXPECT_EQ(source.stored, QSize(16, 8));
    EXPECT_EQ(source.reduction, Reduction::PowerOfTwo);
    EXPECT_GT(source.heldBytes, 0);
}

// Cut short, a file shows the strips and tiles it holds, and as much of the strip it ends in
// as that strip's data gives, and says so.
TEST(TiffReader, ShowsWhatACutShortFileHolds) {
    struct Case {
        Variant variant;
        double kept; // of the file's bytes
        QRect held;  // shows as the whole file shows it
        QRect missing;
    };
    const Case cases[] = {
        {{"strips", {"-compress", "None"}}, 0.5, QRect(0, 0, 200, 60), QRect(0, 100, 200, 50)},
        {{"strips LZW", {"-compress", "LZW"}}, 0.5, QRect(0, 0, 200, 40), QRect(0, 120, 200, 30)},
        {{"one strip", {"-compress", "None", "-define", "tiff:rows-per-strip=150"}},
         0.5,
         QRect(0, 0, 200, 70),
         QRect(0, 80, 200, 70)},
        {{"one strip Deflate", {"-compress", "Zip", "-define", "tiff:rows-per-strip=150"}},
         0.5,
         QRect(0, 0, 200, 20),
         QRect(0, 130, 200, 20)},
        {{"tiles", {"-compress", "None", "-define", "tiff:tile-geometry=32x32"}},
         0.5,
         QRect(0, 0, 200, 60),
         QRect(0, 100, 200, 50)},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant.name);
        const QString path = make(QDir(dir.path()), c.variant, QSize(200, 150));
        // ImageMagick writes the directory after the pixels: in front of them, the cut lands
        // in the pixels.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = tf::directoryFirst(file.readAll());
        const QString front = path + ".front.tif";
        test::writeFile(front, bytes);
        const LoadedPicture whole = loadWhole(front);
        ASSERT_TRUE(whole.ok) << whole.error.toStdString();

        const QString cutPath = dir.filePath("cut.tif");
        test::writeFile(cutPath, bytes.left(qsizetype(bytes.size() * c.kept)));
        const LoadedPicture cut = loadWhole(cutPath);
        ASSERT_TRUE(cut.ok) << cut.error.toStdString();
        ASSERT_EQ(cut.image.size(), QSize(200, 150));
        EXPECT_TRUE(cut.warning.contains(QString::fromUtf8("\u201ccut.tif\u201d is cut short")))
            << cut.warning.toStdString();
        EXPECT_EQ(tf::largestDifference(cut.image.copy(c.held), whole.image.copy(c.held)), 0);
        EXPECT_GT(meanDifference(cut.image.copy(c.missing), whole.image.copy(c.missing)), 20.0);
        // What the file never reached is the black the picture starts as.
        QImage black(c.missing.size(), QImage::Format_RGB32);
        black.fill(Qt::black);
        EXPECT_EQ(tf::largestDifference(cut.image.copy(c.missing), black), 0);
    }
}

// The rest of a cut-off file arriving between the check and the decode is not read: the file
// is decoded as it was when it was opened.
TEST(TiffReader, ReadsNothingPastTheSizeItOpened) {
    QTemporaryDir dir;
    const QString source =
        make(QDir(dir.path()), {"strips", {"-compress", "None"}}, QSize(200, 150));
    const QString path = dir.filePath("growing.tif");
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = tf::directoryFirst(file.readAll());
    const QByteArray cut = whole.left(whole.size() / 2);
    test::writeFile(path, cut);
    const LoadedPicture p = fx::loadWhileItGrows(path, whole.mid(cut.size()));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_FALSE(p.warning.isEmpty()) << "decoded what was added after the check";
    EXPECT_EQ(p.image.pixel(100, 145), qRgb(0, 0, 0));
}

// Files that must fail with a sentence naming the file and the reason, never crash or
// allocate what their headers claim; the huge ones before anything is planned.
TEST(TiffReader, RefusesWhatItCannotShow) {
    QTemporaryDir dir;
    const QDir d(dir.path());
    struct Case {
        const char* name;
        std::function<QString()> make;
        const char* errorWords;
        bool beforePlanning;
    };
    auto file = [&](const char* name, const QByteArray& bytes) {
        return [=] {
            test::writeFile(d.filePath(name), bytes);
            return d.filePath(name);
        };
    };
    QByteArray garbage("II*\0", 4);
    for (int i = 0; i < 400; ++i)
        garbage.append(char(i * 73 % 251));
    QByteArray damaged = tf::greyHeader(64, 64, 200, 64 * 64);
    damaged.append(QByteArray(200 - damaged.size(), '\0'));
    damaged.append(QByteArray(64 * 64, '\x7F'));
    damaged[8 + 2 + 3 * 12 + 8] = char(5); // Compression: LZW, over bytes that are not LZW
    const Case cases[] = {
        {"60000 x 60000", file("huge.tif", tf::greyHeader(60000, 60000)), "60000 \u00d7 60000",
         true},
        {"garbage after the signature", file("garbage.tif", garbage), "could not be decoded", true},
        {"signature alone", file("bare.tif", QByteArray("MM\0*", 4)), "could not be decoded", true},
        {"damaged LZW data", file("damaged.tif", damaged), "could not be decoded", false},
        {"32-bit float samples",
         [&] {
             const QString p = d.filePath("float.tif");
             EXPECT_TRUE(
                 tf::convertTo(p, tf::picture(32, 32),
                               {"-define", "quantum:format=floating-point", "-depth", "32"}));
             return p;
         },
         "could not be decoded", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.make();
        bool planned = false;
        const LoadedPicture p = loadPicture(path, [&](QSize s) {
            planned = true;
            return DecodeRequest{s, {}};
        });
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.image.isNull());
        EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.errorWords))) << p.error.toStdString();
        EXPECT_TRUE(p.error.startsWith(QString::fromUtf8("\u201c") + QFileInfo(path).fileName()))
            << p.error.toStdString();
        EXPECT_TRUE(p.error.endsWith(u'.')) << p.error.toStdString();
        if (c.beforePlanning) {
            EXPECT_FALSE(planned);
        }
    }
}

// A TIFF named like a JPEG is read as the TIFF it is.
TEST(TiffReader, ShowsATiffNamedJpg) {
    QTemporaryDir dir;
    const QString path = dir.filePath("holiday.jpg");
    ASSERT_TRUE(
        tf::convertTo(dir.filePath("holiday.tif"), tf::picture(64, 48), {"-compress", "LZW"}));
    ASSERT_TRUE(QFile::rename(dir.filePath("holiday.tif"), path));
    const LoadedPicture p = loadWhole(path);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.format, "tiff");
    EXPECT_EQ(tf::largestDifference(p.image, tf::picture(64, 48)), 0);
}

// A load no longer wanted ends as cancelled: when the flag was set before, between the
// header and the pixels, and from another thread during the decode of a large picture.
TEST(TiffReader, StopsWhenCancelled) {
    QTemporaryDir dir;
    const QString path = make(
        QDir(dir.path()), {"large", {"-compress", "None", "-define", "tiff:tile-geometry=256x256"}},
        QSize(6000, 4000));
    for (int when = 0; when < 3; ++when) {
        SCOPED_TRACE(when);
        std::atomic<bool> cancel{when == 0};
        LoadControl control;
        control.cancelled = &cancel;
        std::thread canceller;
        const auto start = std::chrono::steady_clock::now();
        const LoadedPicture p = loadPicture(
            path,
            [&](QSize s) {
                if (when == 1)
                    cancel = true;
                if (when == 2)
                    canceller = std::thread([&] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        cancel = true;
                    });
                return DecodeRequest{s, {}};
            },
            control);
        if (canceller.joinable())
            canceller.join();
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.cancelled);
        EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    }
}

// A smaller budget refuses a picture whose one strip holds all of it decoded, with the
// figures; the same picture in many strips shows reduced within it.
TEST(TiffReader, HonoursTheCallersMemoryBudget) {
    QTemporaryDir dir;
    const QDir d(dir.path());
    const QString oneStrip =
        make(d, {"one strip", {"-compress", "LZW", "-define", "tiff:rows-per-strip=2000"}},
             QSize(2000, 2000));
    const QString strips = make(d, {"strips", {"-compress", "LZW"}}, QSize(2000, 2000));
    const QString tiles =
        make(d, {"tiles", {"-compress", "LZW", "-define", "tiff:tile-geometry=128x128"}},
             QSize(2000, 2000));
    LoadControl small;
    small.memoryBudget = 8 << 20;

    const LoadedPicture refused = loadPicture(oneStrip, fixedSize(QSize(500, 500)), small);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.contains("8 MB")) << refused.error.toStdString();
    EXPECT_TRUE(loadPicture(oneStrip, fixedSize(QSize(500, 500))).ok);

    for (const QString& path : {strips, tiles}) {
        SCOPED_TRACE(path.toStdString());
        const LoadedPicture reduced = loadPicture(path, fixedSize(QSize(500, 500)), small);
        ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
        EXPECT_LT(meanDifference(reduced.image,
                                 tf::libtiffDecode(path).scaled(500, 500, Qt::IgnoreAspectRatio,
                                                                Qt::SmoothTransformation)),
                  3.0);
        const LoadedPicture whole = loadPicture(path, fixedSize(QSize(2000, 2000)), small);
        EXPECT_FALSE(whole.ok);
        EXPECT_TRUE(whole.error.contains("MB")) << whole.error.toStdString();
    }
}
