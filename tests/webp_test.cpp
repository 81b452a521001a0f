#include <atomic>
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
#include "decode/pictureloader.h"
#include "decode/readers.h"
#include "pictureloader_fixtures.h"
#include "registry_testutil.h"
#include "support/testsupport.h"
#include "webp_fixtures.h"

// WebP pictures through the loader: every kind shows as libwebp itself decodes it, reduced and
// cut while decoding; what cannot be shown is refused with a sentence before it is decoded.

using namespace tavlin;
namespace fx = tavlin::test::fixtures;
namespace wp = tavlin::test::webp;
using fx::fixedSize;
using fx::meanDifference;

namespace {

// The pattern picture with alpha: opaque on the left, fading to the right, its last quarter
// wholly transparent.
QImage alphaPattern(int width, int height) {
    QImage image = test::patternImage(width, height).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int alpha = x >= width * 3 / 4 ? 0 : 255 - 255 * x / width;
            row[x] = (row[x] & 0x00FFFFFFu) | std::uint32_t(alpha) << 24;
        }
    }
    return image;
}

QString write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    test::writeFile(path, bytes);
    return path;
}

bool isDark(const QImage& image, QPoint at) {
    return qGray(image.pixel(at)) < 60;
}

} // namespace

// Lossy and lossless, with and without alpha: at its own size the picture is libwebp's own
// decode pixel for pixel (transparent parts black), a part of it at odd coordinates too; reduced,
// it is near a smooth downscale of that decode, whole or in part.
TEST(WebP, DecodesEveryKindLikeLibwebp) {
    const QSize size(201, 151);
    struct Case {
        const char* name;
        QByteArray bytes;
        bool alpha;
    };
    const Case cases[] = {
        {"lossy", wp::encode(test::patternImage(size.width(), size.height()), 80), false},
        {"lossless", wp::encode(test::patternImage(size.width(), size.height()), -1), false},
        {"lossy with alpha", wp::encode(alphaPattern(size.width(), size.height()), 80), true},
        {"lossless with alpha", wp::encode(alphaPattern(size.width(), size.height()), -1), true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = write(dir, "picture.webp", c.bytes);
        const QImage whole = wp::libwebpDecode(c.bytes);
        ASSERT_EQ(whole.size(), size);

        const LoadedPicture p = loadPicture(path, fixedSize(size));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.format, "webp");
        EXPECT_EQ(p.size, size);
        EXPECT_TRUE(p.warning.isEmpty()) << p.warning.toStdString();
        EXPECT_EQ(p.image.convertToFormat(QImage::Format_RGB32), whole);
        if (c.alpha) {
            EXPECT_EQ(p.image.pixel(size.width() - 2, size.height() / 2), qRgb(0, 0, 0))
                << "a transparent part shows the black behind it";
        }

        for (const QRect part : {QRect(33, 17, 101, 77), QRect(0, 1, 200, 150)}) {
            const LoadedPicture cut = loadPicture(path, fixedSize(size, part));
            ASSERT_TRUE(cut.ok) << cut.error.toStdString();
            EXPECT_EQ(cut.imageRect, part);
            EXPECT_EQ(cut.image.convertToFormat(QImage::Format_RGB32), whole.copy(part));
        }

        const QSize third(67, 50);
        const QImage smooth = whole.scaled(third, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const LoadedPicture reduced = loadPicture(path, fixedSize(third));
        ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
        ASSERT_EQ(reduced.image.size(), third);
        EXPECT_LT(meanDifference(reduced.image, smooth), 3.0);

        const QSize half(100, 75);
        const QRect part(21, 13, 61, 41);
        const LoadedPicture reducedPart = loadPicture(path, fixedSize(half, part));
        ASSERT_TRUE(reducedPart.ok) << reducedPart.error.toStdString();
        EXPECT_LT(
            meanDifference(
                reducedPart.image,
                whole.scaled(half, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).copy(part)),
            4.0);
    }
}

// An animation shows its first frame in its place on the canvas, the rest of the canvas black:
// a small frame set off from the corner, written chunk by chunk, and a whole-canvas one made by
// ImageMagick.
TEST(WebP, ShowsTheFirstFrameOfAnAnimationOnItsCanvas) {
    QTemporaryDir dir;
    QImage red(40, 30, QImage::Format_RGB32);
    red.fill(qRgb(220, 20, 20));
    QImage blue(100, 80, QImage::Format_RGB32);
    blue.fill(qRgb(20, 20, 220));
    const QString path =
        write(dir, "frames.webp", wp::animation(100, 80, {{red, 10, 20}, {blue, 0, 0}}));
    const LoadedPicture p = loadPicture(path, fixedSize(QSize(100, 80)));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.size, QSize(100, 80));
    QImage expected(100, 80, QImage::Format_RGB32);
    expected.fill(Qt::black);
    QPainter(&expected).drawImage(10, 20, red);
    EXPECT_EQ(p.image.convertToFormat(QImage::Format_RGB32), expected);

    const LoadedPicture half = loadPicture(path, fixedSize(QSize(50, 40)));
    ASSERT_TRUE(half.ok) << half.error.toStdString();
    EXPECT_EQ(half.image.pixel(15, 17), qRgb(220, 20, 20));
    EXPECT_EQ(half.image.pixel(2, 2), qRgb(0, 0, 0));
    EXPECT_EQ(half.image.pixel(40, 30), qRgb(0, 0, 0));

    const QString made = dir.filePath("made.webp");
    ASSERT_EQ(QProcess::execute("convert", {"-delay", "10", "-size", "60x40", "xc:#DC1414",
                                            "xc:#1414DC", "-define", "webp:lossless=true", made}),
              0);
    QFile file(made);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(file.readAll().contains("ANMF")) << "ImageMagick wrote an animation";
    const LoadedPicture first = loadPicture(made, fixedSize(QSize(60, 40)));
    ASSERT_TRUE(first.ok) << first.error.toStdString();
    EXPECT_EQ(first.image.pixel(30, 20), qRgb(220, 20, 20));
}

// The EXIF chunk's orientation turns the picture, its TIFF block bare or after "Exif\0\0": the
// planner sees the turned size and the dark top-left quarter lands in the right corner.
TEST(WebP, TurnsThePictureAsItsExifSays) {
    const QByteArray plain = wp::encode(test::patternImage(64, 48), 90);
    struct Case {
        int orientation;
        QSize shown;
        QPoint dark;
    };
    const Case cases[] = {
        {1, QSize(64, 48), QPoint(4, 4)},
        {3, QSize(64, 48), QPoint(59, 43)},
        {6, QSize(48, 64), QPoint(43, 4)},
        {8, QSize(48, 64), QPoint(4, 59)},
    };
    QTemporaryDir dir;
    for (const bool prefixed : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.orientation);
            SCOPED_TRACE(prefixed ? "Exif prefix" : "bare TIFF");
            const QByteArray exif =
                (prefixed ? QByteArray("Exif\0\0", 6) : QByteArray()) + wp::exifTiff(c.orientation);
            const QString path = write(dir, "turned.webp", wp::extended(plain, {}, exif));
            QSize seen;
            const LoadedPicture p = loadPicture(path, [&](QSize s) {
                seen = s;
                return DecodeRequest{s, {}};
            });
            ASSERT_TRUE(p.ok) << p.error.toStdString();
            EXPECT_EQ(seen, c.shown);
            ASSERT_EQ(p.image.size(), c.shown);
            EXPECT_TRUE(isDark(p.image, c.dark));
            EXPECT_FALSE(isDark(p.image, QPoint(c.shown.width() / 2, c.shown.height() / 2)));
        }
    }
}

// The ICC profile of an ICCP chunk goes to the colour conversion as it is, whatever else the
// extended header holds.
TEST(WebP, HandsOnItsColourProfile) {
    QFile srgb(QStringLiteral("/usr/share/color/icc/colord/sRGB.icc"));
    QByteArray profile("a profile's bytes, passed on unread");
    if (srgb.open(QIODevice::ReadOnly))
        profile = srgb.readAll();
    QTemporaryDir dir;
    for (const int quality : {80, -1}) {
        SCOPED_TRACE(quality);
        const QByteArray bytes =
            wp::extended(wp::encode(alphaPattern(40, 30), quality), profile, wp::exifTiff(6));
        const QString path = write(dir, "profile.webp", bytes);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        Source source;
        QString error;
        ASSERT_TRUE(openWebP(path, file, LoadControl{}, source, error)) << error.toStdString();
        EXPECT_EQ(source.colours.iccProfile, profile);
        EXPECT_EQ(source.transform, QImageIOHandler::TransformationRotate90);
        EXPECT_EQ(source.stored, QSize(40, 30));
        EXPECT_TRUE(loadPicture(path, fixedSize(QSize(30, 40))).ok);
    }
}

// A file cut short shows the rows it holds, the rest black, and says so; one cut inside its
// header is refused.
TEST(WebP, ShowsWhatACutShortFileHolds) {
    // Grainy, so that even lossless the rows take room all down the file.
    const QImage picture = bench::photoLikeImage(200, 150);
    QTemporaryDir dir;
    for (const int quality : {80, -1}) {
        SCOPED_TRACE(quality);
        const QByteArray bytes = wp::encode(picture, quality);
        const QString path = write(dir, "cut.webp", bytes);
        const LoadedPicture whole = loadPicture(path, fixedSize(QSize(200, 150)));
        ASSERT_TRUE(whole.ok) << whole.error.toStdString();

        test::writeFile(path, bytes.left(bytes.size() * 6 / 10));
        const LoadedPicture cut = loadPicture(path, fixedSize(QSize(200, 150)));
        ASSERT_TRUE(cut.ok) << cut.error.toStdString();
        ASSERT_EQ(cut.image.size(), QSize(200, 150));
        EXPECT_TRUE(cut.warning.contains(QString::fromUtf8("\u201ccut.webp\u201d is cut short")))
            << cut.warning.toStdString();
        const QRect top(0, 0, 200, 30);
        const QRect bottom(0, 120, 200, 30);
        EXPECT_LT(meanDifference(cut.image.copy(top), whole.image.copy(top)), 1.0);
        EXPECT_GT(meanDifference(cut.image.copy(bottom), whole.image.copy(bottom)), 20.0);
        EXPECT_EQ(cut.image.pixel(100, 149), qRgb(0, 0, 0));

        // Reduced, the rows decoded so far are counted in shown rows.
        const LoadedPicture small = loadPicture(path, fixedSize(QSize(100, 75)));
        ASSERT_TRUE(small.ok) << small.error.toStdString();
        EXPECT_FALSE(small.warning.isEmpty());
        EXPECT_FALSE(isDark(small.image, QPoint(50, 5)));
        EXPECT_EQ(small.image.pixel(50, 74), qRgb(0, 0, 0));

        test::writeFile(path, bytes.left(24));
        const LoadedPicture header = loadPicture(path, fixedSize(QSize(200, 150)));
        EXPECT_FALSE(header.ok);
        EXPECT_TRUE(header.error.contains("could not be decoded")) << header.error.toStdString();
    }
}

// Files that are refused with a sentence, never crash or allocate their claims: those whose
// claims are too large are refused before anything is planned or decoded.
TEST(WebP, RefusesWhatItCannotShow) {
    QByteArray noise;
    for (int i = 0; i < 600; ++i)
        noise.append(char((i * 7919 + 13) % 251));
    QByteArray lossless16k;
    wp::putLE(lossless16k, 0x2F, 1);
    wp::putLE(lossless16k, 16383 | 16383u << 14, 4); // 16384 x 16384, no alpha
    lossless16k.append(noise);
    QByteArray lossless64;
    wp::putLE(lossless64, 0x2F, 1);
    wp::putLE(lossless64, 63 | 47u << 14, 4);
    lossless64.append(noise);
    QByteArray anim;
    wp::putLE(anim, 0, 6);
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* errorWords;
        bool beforePlanning;
    };
    const Case cases[] = {
        {"60000 x 60000 animation",
         wp::riff(wp::vp8x(wp::kAnimation, 60000, 60000) + wp::chunk("ANIM", anim)),
         "60000 \u00d7 60000", true},
        {"60000 x 60000 canvas behind a large profile",
         wp::riff(wp::vp8x(wp::kIcc, 60000, 60000) + wp::chunk("ICCP", QByteArray(9000, 'p')) +
                  wp::chunk("VP8L", lossless64)),
         "60000 \u00d7 60000", true},
        {"16384 x 16384 lossless, 1 GB to decode", wp::riff(wp::chunk("VP8L", lossless16k)),
         "MB of memory", true},
        {"65,536 Huffman groups in 135 KB", wp::manyGroupsLossless(1024), "MB of memory", true},
        {"noise after the signature", wp::riff(noise), "could not be decoded", true},
        {"lossy header and noise", wp::riff(wp::chunk("VP8 ", noise)), "could not be decoded",
         true},
        {"lossless header and noise", wp::riff(wp::chunk("VP8L", lossless64)),
         "could not be decoded", false},
        {"only the signature", wp::riff({}), "could not be decoded", true},
        {"a first frame outside its canvas",
         wp::animation(50, 50, {{test::patternImage(40, 30), 20, 30}}), "first frame", true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = write(dir, "hostile.webp", c.bytes);
        bool planned = false;
        const LoadedPicture p = loadPicture(path, [&](QSize s) {
            planned = true;
            return DecodeRequest{s.scaled(1920, 1080, Qt::KeepAspectRatio), {}};
        });
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.image.isNull());
        EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.errorWords))) << p.error.toStdString();
        EXPECT_TRUE(p.error.startsWith(QString::fromUtf8("\u201chostile.webp\u201d")))
            << p.error.toStdString();
        if (c.beforePlanning) {
            EXPECT_FALSE(planned) << "refused before anything was decoded";
        }
    }
}

// A load no longer wanted stops: the flag is seen between the chunks fed to the decoder.
TEST(WebP, StopsWhenCancelled) {
    QTemporaryDir dir;
    const QString path = write(dir, "a.webp", wp::encode(test::patternImage(800, 600), -1));
    const LoadedPicture p = fx::loadCancelledAfterHeader(path);
    EXPECT_FALSE(p.ok);
    EXPECT_TRUE(p.cancelled);
    EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();
}

// Within the limits but not within the caller's budget: a lossless picture, which libwebp
// decodes whole whatever the shown size, and a file larger than the budget are refused with the
// figures; a lossy one of the same size fits, decoded reduced.
TEST(WebP, HonoursTheCallersMemoryBudget) {
    QTemporaryDir dir;
    const QImage picture = test::patternImage(2000, 2000);
    const QString lossless = write(dir, "lossless.webp", wp::encode(picture, -1));
    const QString lossy = write(dir, "lossy.webp", wp::encode(picture, 80));
    // A small picture, then 9 MB of a chunk of no known kind.
    const QString padded = write(dir, "padded.webp",
                                 wp::riff(wp::encode(test::patternImage(64, 48), 80).mid(12) +
                                          wp::chunk("XTRA", QByteArray(9 << 20, 'x'))));
    LoadControl small;
    small.memoryBudget = 8 << 20;
    for (const QString& path : {lossless, padded}) {
        SCOPED_TRACE(path.toStdString());
        const LoadedPicture refused = loadPicture(path, fixedSize(QSize(500, 500)), small);
        EXPECT_FALSE(refused.ok);
        EXPECT_TRUE(refused.error.contains("8 MB")) << refused.error.toStdString();
        EXPECT_TRUE(loadPicture(path, fixedSize(QSize(500, 500))).ok);
    }
    const LoadedPicture reduced = loadPicture(lossy, fixedSize(QSize(500, 500)), small);
    ASSERT_TRUE(reduced.ok) << reduced.error.toStdString();
    EXPECT_LT(meanDifference(reduced.image, picture.scaled(500, 500, Qt::IgnoreAspectRatio,
                                                           Qt::SmoothTransformation)),
              3.0);
}

// The bytes say WebP whatever the name says, and only the picture's own bytes are read: a
// picture followed by gigabytes of nothing (sparse) shows, having read a little of the file.
TEST(WebP, ReadsAWebPByItsBytesAndNothingPastIt) {
    QTemporaryDir dir;
    const QByteArray bytes = wp::encode(test::patternImage(64, 48), 80);
    const QString named = write(dir, "photo.jpg", bytes);
    const LoadedPicture p = loadPicture(named, fixedSize(QSize(64, 48)));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.format, "webp");
    EXPECT_EQ(p.image.convertToFormat(QImage::Format_RGB32), wp::libwebpDecode(bytes));

    const QString sparse = write(dir, "sparse.webp", bytes);
    ASSERT_TRUE(QFile::resize(sparse, std::int64_t(4) << 30));
    const std::int64_t before = test::ioCounts().read;
    const LoadedPicture q = loadPicture(sparse, fixedSize(QSize(64, 48)));
    EXPECT_LE(test::ioCounts().read - before, 1 << 20);
    ASSERT_TRUE(q.ok) << q.error.toStdString();
    EXPECT_EQ(q.image, p.image);
}
