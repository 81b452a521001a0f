#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "decode/decodesource.h"
#include "decode/pictureloader.h"
#include "decode/readers.h"
#include "pictureloader_fixtures.h"
#include "png_fixtures.h"
#include "support/testsupport.h"

using namespace tavlin;
namespace fx = tavlin::test::fixtures;
namespace png = tavlin::test::png;
using fx::fixedSize;
using fx::meanDifference;

namespace {

// A picture with colour in both directions, whose alpha runs from clear to opaque.
QImage alphaPicture(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgba(x * 255 / width, y * 255 / height, (x + y) * 7 % 256,
                                 (x * 3 + y * 5) * 255 / (3 * width + 5 * height)));
    return image;
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    test::writeFile(path, bytes);
    return path;
}

LoadedPicture loadWhole(const QString& path) {
    return loadPicture(path, [](QSize s) { return DecodeRequest{s, {}}; });
}

// Opens `path` with the PNG reader alone, to see what it says of the file.
bool openSource(const QString& path, Source& source, QString& error,
                const LoadControl& control = {}) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    return openPng(path, file, control, source, error);
}

// A sample of `bits` bits that varies over the picture.
int ramp(int x, int y, int c, int bits) {
    return (x * 7 + y * 13 + c * 31) % (1 << bits);
}

QByteArray palette(int count) {
    QByteArray body;
    for (int i = 0; i < count; ++i) {
        body.append(char(i * 67 % 256));
        body.append(char(255 - i * 29 % 256));
        body.append(char(i * 113 % 256));
    }
    return png::chunk("PLTE", body);
}

} // namespace

// Every colour type at every bit depth PNG allows, with and without tRNS, shows exactly as
// ImageMagick decodes it, over black where it is transparent.
TEST(PngReader, ShowsEveryKindOfPngLikeImageMagick) {
    constexpr int w = 23;
    constexpr int h = 11;
    struct Case {
        const char* name;
        int depth;
        int colourType;
        QByteArray extra; // PLTE, tRNS
    };
    auto key = [](std::initializer_list<int> samples) {
        QByteArray body;
        for (const int s : samples)
            png::put16(body, s);
        return png::chunk("tRNS", body);
    };
    QByteArray paletteAlpha;
    for (int i = 0; i < 13; ++i)
        paletteAlpha.append(char(i * 20));
    const Case cases[] = {
        {"grey 1", 1, 0, {}},
        {"grey 2", 2, 0, {}},
        {"grey 4", 4, 0, {}},
        {"grey 8", 8, 0, {}},
        {"grey 16", 16, 0, {}},
        {"grey 8 colour key", 8, 0, key({ramp(3, 0, 0, 8)})},
        {"grey 16 colour key", 16, 0, key({ramp(3, 0, 0, 16)})},
        {"grey 2 colour key", 2, 0, key({1})},
        {"grey and alpha 8", 8, 4, {}},
        {"grey and alpha 16", 16, 4, {}},
        {"RGB 8", 8, 2, {}},
        {"RGB 16", 16, 2, {}},
        {"RGB 8 colour key", 8, 2, key({ramp(5, 1, 0, 8), ramp(5, 1, 1, 8), ramp(5, 1, 2, 8)})},
        {"RGB 16 colour key", 16, 2,
         key({ramp(5, 1, 0, 16), ramp(5, 1, 1, 16), ramp(5, 1, 2, 16)})},
        {"RGBA 8", 8, 6, {}},
        {"RGBA 16", 16, 6, {}},
        {"palette 1", 1, 3, palette(2)},
        {"palette 2", 2, 3, palette(4)},
        {"palette 4", 4, 3, palette(16)},
        {"palette 8", 8, 3, palette(256)},
        {"palette 8 with alpha", 8, 3, palette(256) + png::chunk("tRNS", paletteAlpha)},
        {"palette 4 with alpha", 4, 3, palette(16) + png::chunk("tRNS", paletteAlpha)},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path =
            write(dir, QString::fromLatin1(c.name).replace(' ', '-') + ".png",
                  png::encode(
                      w, h, c.depth, c.colourType,
                      [&](int x, int y, int ch) { return ramp(x, y, ch, c.depth); }, c.extra));
        const LoadedPicture p = loadWhole(path);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_TRUE(p.warning.isEmpty()) << p.warning.toStdString();
        EXPECT_EQ(p.format, "png");
        const QImage expected = png::referenceOverBlack(path, QSize(w, h));
        ASSERT_FALSE(expected.isNull());
        EXPECT_LE(png::largestDifference(p.image, expected), 1);
    }
}

// Files ImageMagick writes, interlaced or not, shown whole like ImageMagick shows them, and
// reduced like a smooth downscale of the whole picture; a clipped part matches its place.
TEST(PngReader, ShowsInterlacedAndReducedPicturesLikeAFullDecode) {
    QTemporaryDir dir;
    const QString opaque = dir.filePath("opaque.png");
    test::writePicture(opaque, test::patternImage(640, 480));
    const QString transparent = dir.filePath("transparent.png");
    ASSERT_TRUE(alphaPicture(640, 480).save(transparent));
    struct Case {
        const char* name;
        QString source;
        QStringList options;
        std::array<int, 3> header; // depth, colour type, interlace
    };
    const Case cases[] = {
        {"rgb", opaque, {"-define", "png:color-type=2"}, {8, 2, 0}},
        {"rgb-interlaced", opaque, {"-interlace", "PNG", "-define", "png:color-type=2"}, {8, 2, 1}},
        {"rgba-interlaced", transparent, {"-interlace", "PNG"}, {8, 6, 1}},
        {"rgba16-interlaced",
         transparent,
         {"-interlace", "PNG", "-define", "png:bit-depth=16", "-define", "png:color-type=6"},
         {16, 6, 1}},
        {"grey16-interlaced",
         opaque,
         {"-colorspace", "Gray", "-depth", "16", "-interlace", "PNG"},
         {16, 0, 1}},
        {"palette-interlaced",
         opaque,
         {"-colors", "16", "-interlace", "PNG", "-define", "png:color-type=3"},
         {4, 3, 1}},
        {"rgba16",
         transparent,
         {"-define", "png:bit-depth=16", "-define", "png:color-type=6"},
         {16, 6, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".png");
        ASSERT_EQ(
            png::convert(QStringList{c.source} + c.options + png::kNoChunks + QStringList{path}),
            0);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_EQ(png::headerOf(file.read(64)), c.header);

        const LoadedPicture whole = loadWhole(path);
        ASSERT_TRUE(whole.ok) << whole.error.toStdString();
        const QImage expected = png::referenceOverBlack(path, QSize(640, 480));
        EXPECT_LE(png::largestDifference(whole.image, expected), 1);

        // 1/4 and 1/2 by box reduction, with and without a resample after it.
        for (const QSize scaled : {QSize(160, 120), QSize(213, 160), QSize(320, 240)}) {
            const LoadedPicture reduced = loadPicture(path, fixedSize(scaled));
            ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
            const QImage smooth =
                expected.scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            EXPECT_LT(meanDifference(reduced.image, smooth), 2.5) << scaled.width();
        }
        const QRect visible(50, 40, 100, 60);
        const LoadedPicture part = loadPicture(path, fixedSize(QSize(320, 240), visible));
        ASSERT_TRUE(part.ok) << part.error.toStdString();
        EXPECT_EQ(part.imageRect, visible);
        EXPECT_LT(meanDifference(part.image, expected
                                                 .scaled(QSize(320, 240), Qt::IgnoreAspectRatio,
                                                         Qt::SmoothTransformation)
                                                 .copy(visible)),
                  2.5);
    }
}

// An animated PNG shows its default image, the IDAT one, not a later frame; and a PNG named
// as a JPEG shows all the same.
TEST(PngReader, ShowsTheFirstFrameOfAnAnimationAndPngsNamedOtherwise) {
    auto flat = [](int r, int g, int b) {
        return [=](int, int, int c) { return c == 0 ? r : c == 1 ? g : b; };
    };
    const QByteArray red = png::encode(20, 10, 8, 2, flat(255, 0, 0));
    const QByteArray blue = png::encode(20, 10, 8, 2, flat(0, 0, 255));
    QByteArray actl;
    png::put32(actl, 2); // frames
    png::put32(actl, 0); // plays forever
    auto fctl = [](int sequence) {
        QByteArray body;
        png::put32(body, std::uint32_t(sequence));
        png::put32(body, 20);
        png::put32(body, 10);
        png::put32(body, 0);
        png::put32(body, 0);
        png::put16(body, 1);
        png::put16(body, 10);
        body.append('\0');
        body.append('\0');
        return png::chunk("fcTL", body);
    };
    const qsizetype blueData = png::findChunk(blue, "IDAT");
    QByteArray fdat;
    png::put32(fdat, 2);
    fdat.append(blue.mid(blueData + 8, qsizetype(png::get32(blue, blueData))));
    QByteArray apng = png::afterIhdr(red, png::chunk("acTL", actl));
    apng = png::beforeIdat(apng, fctl(0));
    const qsizetype end = png::findChunk(apng, "IEND");
    apng = apng.left(end) + fctl(1) + png::chunk("fdAT", fdat) + apng.mid(end);

    QTemporaryDir dir;
    for (const auto& [name, bytes] : {std::pair{"animation.png", apng}, {"photo.jpg", red}}) {
        SCOPED_TRACE(name);
        const LoadedPicture p = loadWhole(write(dir, name, bytes));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.format, "png");
        EXPECT_EQ(p.image.pixel(10, 5), qRgb(255, 0, 0));
        EXPECT_TRUE(p.warning.isEmpty()) << p.warning.toStdString();
    }
}

// eXIf turns the picture as it asks, before scaling.
TEST(PngReader, TurnsThePictureAsItsExifAsks) {
    // 40 x 20, a white top-left corner on black.
    const QByteArray plain =
        png::encode(40, 20, 8, 0, [](int x, int y, int) { return x < 8 && y < 4 ? 255 : 0; });
    struct Case {
        int orientation;
        QSize shown;
        QPoint white; // where the stored top-left corner lands
    };
    const Case cases[] = {
        {1, QSize(40, 20), QPoint(1, 1)},  {3, QSize(40, 20), QPoint(38, 18)},
        {6, QSize(20, 40), QPoint(18, 1)}, {8, QSize(20, 40), QPoint(1, 38)},
        {2, QSize(40, 20), QPoint(38, 1)},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        const QString path =
            write(dir, "turned.png", png::beforeIdat(plain, png::exifChunk(c.orientation)));
        const LoadedPicture p = loadWhole(path);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.size, c.shown);
        EXPECT_EQ(p.image.size(), c.shown);
        EXPECT_EQ(p.image.pixel(c.white), qRgb(255, 255, 255));
        EXPECT_EQ(qGray(p.image.pixel(c.shown.width() / 2, c.shown.height() / 2)), 0);
        // Reduced, the corner stays where it turned to.
        const LoadedPicture half = loadPicture(path, fixedSize(c.shown / 2));
        ASSERT_TRUE(half.ok) << half.error.toStdString();
        EXPECT_GT(qGray(half.image.pixel(c.white / 2)), 100);
    }
}

// What the colour chunks say reaches the colour conversion; a profile that cannot be kept
// leaves the colours undescribed and the picture still shows.
TEST(PngReader, PassesOnWhatItsColourChunksSay) {
    const QByteArray plain = png::encode(
        16, 8, 8, 2, [](int x, int y, int c) { return (x * 16 + y * 8 + c * 50) % 256; });
    QByteArray gama;
    png::put32(gama, 45455);
    QByteArray chrm;
    for (const int v : {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000})
        png::put32(chrm, std::uint32_t(v));
    const QByteArray profile = png::iccProfile();
    QByteArray bomb = png::iccProfile(64 << 20);
    bomb.append(QByteArray((64 << 20) - bomb.size(), '\0'));

    QTemporaryDir dir;
    {
        SCOPED_TRACE("gAMA and cHRM");
        Source source;
        QString error;
        const QString path =
            write(dir, "gamma.png",
                  png::afterIhdr(plain, png::chunk("gAMA", gama) + png::chunk("cHRM", chrm)));
        ASSERT_TRUE(openSource(path, source, error)) << error.toStdString();
        EXPECT_NEAR(source.colours.pngGamma, 0.45455, 1e-6);
        ASSERT_TRUE(source.colours.hasChromaticities);
        const double expected[8] = {0.3127, 0.329, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
        for (int i = 0; i < 8; ++i)
            EXPECT_NEAR(source.colours.chromaticities[i], expected[i], 1e-6) << i;
        EXPECT_FALSE(source.colours.pngSrgb);
        EXPECT_TRUE(source.colours.iccProfile.isEmpty());
    }
    {
        SCOPED_TRACE("sRGB");
        Source source;
        QString error;
        const QString path =
            write(dir, "srgb.png", png::afterIhdr(plain, png::chunk("sRGB", QByteArray(1, '\0'))));
        ASSERT_TRUE(openSource(path, source, error)) << error.toStdString();
        EXPECT_TRUE(source.colours.pngSrgb);
    }
    {
        SCOPED_TRACE("iCCP");
        Source source;
        QString error;
        const QString path =
            write(dir, "profile.png", png::afterIhdr(plain, png::iccpChunk(profile)));
        ASSERT_TRUE(openSource(path, source, error)) << error.toStdString();
        EXPECT_EQ(source.colours.iccProfile, profile);
    }
    {
        // 64 MB of profile in a 64 KB chunk, and gAMA beside it.
        SCOPED_TRACE("an iCCP too large to keep");
        Source source;
        QString error;
        const QString path =
            write(dir, "bomb.png",
                  png::afterIhdr(plain, png::chunk("gAMA", gama) + png::iccpChunk(bomb)));
        ASSERT_LT(QFileInfo(path).size(), 1 << 20);
        ASSERT_TRUE(openSource(path, source, error)) << error.toStdString();
        EXPECT_TRUE(source.colours.isEmpty());
        const LoadedPicture p = loadWhole(path);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(
            png::largestDifference(
                p.image, png::referenceOverBlack(write(dir, "plain.png", plain), QSize(16, 8))),
            0);
    }
}

// Chunks that would cost much to keep (compressed text that inflates to 64 MB, thousands of
// suggested palettes, a large unknown chunk) or that are damaged (a CRC error in an ancillary
// chunk) cost nothing, and the picture shows.
TEST(PngReader, PassesOverCostlyAndDamagedAncillaryChunks) {
    const QByteArray plain = png::encode(
        30, 20, 8, 2, [](int x, int y, int c) { return (x * 8 + y * 12 + c * 70) % 256; });
    QByteArray ztxt("Comment\0\0", 9);
    ztxt.append(png::zlib(QByteArray(64 << 20, 'a')));
    QByteArray splt;
    for (int i = 0; i < 5000; ++i)
        splt.append(png::chunk("sPLT", QByteArray("p\0\x08\x01\x02\x03\x04\0\x05", 10)));
    QByteArray badCrc = png::chunk("gAMA", QByteArray("\0\0\xB1\x8F", 4));
    badCrc[badCrc.size() - 1] = char(badCrc[badCrc.size() - 1] ^ 0x55);
    const std::pair<const char*, QByteArray> cases[] = {
        {"zTXt of 64 MB", png::chunk("zTXt", ztxt)},
        {"5000 sPLT", splt},
        {"unknown chunk of 6 MB", png::chunk("prIv", QByteArray(6 << 20, 'x'))},
        {"iTXt", png::chunk("iTXt", QByteArray("Title\0\0\0\0\0Text", 15))},
        {"gAMA with a wrong CRC", badCrc},
    };
    QTemporaryDir dir;
    const QImage expected = png::referenceOverBlack(write(dir, "plain.png", plain), QSize(30, 20));
    for (const auto& [name, chunks] : cases) {
        SCOPED_TRACE(name);
        const QString path = write(dir, "chunks.png", png::afterIhdr(plain, chunks));
        const LoadedPicture p = loadWhole(path);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_TRUE(p.warning.isEmpty()) << p.warning.toStdString();
        EXPECT_EQ(png::largestDifference(p.image, expected), 0);
    }
}

// A file cut short, or damaged in its pixel data, shows the rows it holds and says so; one
// that holds no row is refused with a reason. Rows below the part shown are never read, so a
// file cut there shows that part whole.
TEST(PngReader, ShowsWhatACutShortPngHoldsAndSaysSo) {
    QTemporaryDir dir;
    QImage picture(200, 150, QImage::Format_RGB32);
    {
        QPainter painter(&picture);
        QLinearGradient gradient(0, 0, 200, 150);
        gradient.setColorAt(0, Qt::red);
        gradient.setColorAt(1, Qt::blue);
        painter.fillRect(picture.rect(), gradient);
    }
    const QString opaque = dir.filePath("source.png");
    ASSERT_TRUE(picture.save(opaque));
    const QString plainPath = dir.filePath("plain.png");
    const QString interlacedPath = dir.filePath("interlaced.png");
    // Stored uncompressed, so a byte offset stands for a row.
    const QStringList stored{"-define", "png:compression-level=0",
                             "-define", "png:compression-filter=0",
                             "-define", "png:color-type=2"};
    ASSERT_EQ(png::convert(QStringList{opaque} + stored + png::kNoChunks + QStringList{plainPath}),
              0);
    ASSERT_EQ(png::convert(QStringList{opaque, "-interlace", "PNG"} + stored + png::kNoChunks +
                           QStringList{interlacedPath}),
              0);
    QFile plainFile(plainPath);
    ASSERT_TRUE(plainFile.open(QIODevice::ReadOnly));
    const QByteArray plain = plainFile.readAll();
    QFile interlacedFile(interlacedPath);
    ASSERT_TRUE(interlacedFile.open(QIODevice::ReadOnly));
    const QByteArray interlaced = interlacedFile.readAll();
    const QImage expected = png::referenceOverBlack(plainPath, QSize(200, 150));
    const qsizetype data = png::findChunk(plain, "IDAT");
    QByteArray damaged = plain;
    for (qsizetype i = 0; i < 64; ++i)
        damaged[plain.size() / 2 + i] = char(0xFF); // the middle of the pixel data
    struct Case {
        const char* name;
        QByteArray bytes;
        QRect held;    // shows as the whole file shows it
        QRect missing; // black
    };
    const Case cases[] = {
        {"cut in half", plain.left(plain.size() / 2), QRect(0, 0, 200, 70), QRect(0, 80, 200, 70)},
        {"without its last 20 bytes", plain.left(plain.size() - 20), QRect(0, 0, 200, 149), {}},
        {"damaged in its pixel data", damaged, QRect(0, 0, 200, 70), {}},
        {"interlaced cut in its last pass", interlaced.left(interlaced.size() * 3 / 4), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LoadedPicture p = loadWhole(write(dir, "cut.png", c.bytes));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_TRUE(p.warning.contains(QString::fromUtf8("\u201ccut.png\u201d is cut short")))
            << p.warning.toStdString();
        if (!c.held.isEmpty())
            EXPECT_EQ(png::largestDifference(p.image.copy(c.held), expected.copy(c.held)), 0);
        else // the last pass fills every other row: the rest shows the rows above them
            EXPECT_LT(meanDifference(p.image, expected), 4.0);
        if (!c.missing.isEmpty()) {
            QImage black(c.missing.size(), QImage::Format_RGB32);
            black.fill(Qt::black);
            EXPECT_EQ(png::largestDifference(p.image.copy(c.missing), black), 0);
        }
    }

    // Cut below the top half: the top half shows whole, and nothing is said to be missing.
    const QString cutBelow = write(dir, "cut-below.png", plain.left(plain.size() * 3 / 4));
    const LoadedPicture top =
        loadPicture(cutBelow, fixedSize(QSize(200, 150), QRect(0, 0, 200, 60)));
    ASSERT_TRUE(top.ok) << top.error.toStdString();
    EXPECT_TRUE(top.warning.isEmpty()) << top.warning.toStdString();
    EXPECT_EQ(png::largestDifference(top.image, expected.copy(0, 0, 200, 60)), 0);

    // Nothing of the picture: refused, with the reason.
    const std::pair<const char*, QByteArray> refused[] = {
        {"cut before its pixels", plain.left(data - 3)},
        {"cut after its data's chunk header", plain.left(data + 8)},
    };
    for (const auto& [name, bytes] : refused) {
        SCOPED_TRACE(name);
        const LoadedPicture p = loadWhole(write(dir, "nothing.png", bytes));
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, QString::fromUtf8("\u201cnothing.png\u201d could not be decoded: the "
                                             "file is cut short."));
    }
}

// Hostile and broken files fail at once with a sentence naming the file and the reason.
TEST(PngReader, RefusesWhatIsNotAShowablePng) {
    const QByteArray small = png::encode(4, 4, 8, 2, [](int, int, int) { return 128; });
    auto claiming = [&](std::uint32_t width, std::uint32_t height) {
        return png::kSignature + png::ihdr(width, height, 8, 6) +
               small.mid(png::findChunk(small, "IDAT"));
    };
    QByteArray badHeaderCrc = small;
    badHeaderCrc[29] = char(badHeaderCrc[29] ^ 1);
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* error; // what follows the quoted name
    };
    const Case cases[] = {
        {"60000 x 60000", claiming(60000, 60000),
         " claims to be 60000 \u00d7 60000 pixels, more than can be shown (at most 268 "
         "megapixels)."},
        {"70000 x 10", claiming(70000, 10),
         " claims to be 70000 \u00d7 10 pixels, more than can be shown (at most 268 "
         "megapixels)."},
        {"garbage after the signature",
         png::kSignature + QByteArray("\x13\x37garbage that is no chunk at all", 32),
         " could not be decoded: "},
        {"a damaged header", badHeaderCrc, " could not be decoded: IHDR: CRC error."},
        {"bit depth 3", png::kSignature + png::ihdr(4, 4, 3, 0) + small.mid(33),
         " could not be decoded: "},
        {"no header", png::kSignature + small.mid(33), " could not be decoded: "},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LoadedPicture p = loadWhole(write(dir, "bad.png", c.bytes));
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.error.startsWith(QString::fromUtf8("\u201cbad.png\u201d") +
                                       QString::fromUtf8(c.error)))
            << p.error.toStdString();
        EXPECT_TRUE(p.error.endsWith('.')) << p.error.toStdString();
    }
}

// The caller's budget is honoured before the decode: an interlaced picture is held whole
// while its passes fill it, a plain one a few rows at a time.
TEST(PngReader, HonoursTheCallersMemoryBudget) {
    QTemporaryDir dir;
    const QString source = dir.filePath("source.png");
    test::writePicture(source, test::patternImage(2000, 2000));
    const QString interlaced = dir.filePath("interlaced.png");
    ASSERT_EQ(png::convert({source, "-interlace", "PNG", interlaced}), 0);
    LoadControl small;
    small.memoryBudget = 8 << 20;

    const LoadedPicture reduced = loadPicture(source, fixedSize(QSize(500, 500)), small);
    ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
    EXPECT_LT(meanDifference(reduced.image, fx::reference(source, QSize(500, 500), {})), 2.0);

    const LoadedPicture whole = loadPicture(source, fixedSize(QSize(2000, 2000)), small);
    EXPECT_FALSE(whole.ok);
    EXPECT_EQ(whole.error, QString::fromUtf8("\u201csource.png\u201d would need 16 MB of memory "
                                             "to be shown, more than the 8 MB one picture may "
                                             "use."));

    const LoadedPicture passes = loadPicture(interlaced, fixedSize(QSize(500, 500)), small);
    EXPECT_FALSE(passes.ok);
    EXPECT_TRUE(passes.error.contains("8 MB one picture may use")) << passes.error.toStdString();
    EXPECT_TRUE(loadPicture(interlaced, fixedSize(QSize(500, 500))).ok);
}

// A load no longer wanted stops: a flag set before the pixels, or from another thread while
// rows are being read.
TEST(PngReader, StopsWhenCancelled) {
    QTemporaryDir dir;
    const QString path = dir.filePath("noisy.png");
    QImage noisy(3000, 3000, QImage::Format_RGB32);
    std::uint32_t seed = 7;
    for (int y = 0; y < noisy.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(noisy.scanLine(y));
        for (int x = 0; x < noisy.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = 0xFF000000u | seed >> 8;
        }
    }
    ASSERT_TRUE(noisy.save(path));
    const QString interlaced = dir.filePath("interlaced.png");
    ASSERT_EQ(png::convert({path, "-interlace", "PNG", interlaced}), 0);
    for (const QString& file : {path, interlaced}) {
        SCOPED_TRACE(file.toStdString());
        std::atomic<bool> cancel{false};
        LoadControl control;
        control.cancelled = &cancel;
        const LoadedPicture before = loadPicture(
            file,
            [&](QSize s) {
                cancel = true;
                return DecodeRequest{s, {}};
            },
            control);
        EXPECT_TRUE(before.cancelled);
        EXPECT_FALSE(before.ok);

        // The reader itself stops between rows: its decode, called with the flag set.
        {
            Source source;
            QString error;
            ASSERT_TRUE(openSource(file, source, error, control)) << error.toStdString();
            DecodePlan plan{QRect(QPoint(0, 0), source.stored), source.stored / 2,
                            QRectF(0, 0, 1500, 1500)};
            bool stopped = false;
            bool cutShort = false;
            EXPECT_TRUE(source.decode(plan, error, stopped, cutShort).isNull());
            EXPECT_TRUE(stopped);
            EXPECT_FALSE(cutShort);
        }

        // Turned from another thread once the picture's size is known.
        cancel = false;
        std::atomic<bool> started{false};
        std::thread canceller([&] {
            while (!started)
                std::this_thread::yield();
            cancel = true;
        });
        const auto start = std::chrono::steady_clock::now();
        const LoadedPicture during = loadPicture(
            file,
            [&](QSize s) {
                started = true;
                return DecodeRequest{s, {}};
            },
            control);
        canceller.join();
        EXPECT_TRUE(during.cancelled);
        EXPECT_TRUE(during.image.isNull());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    }
}
