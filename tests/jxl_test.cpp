#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "decode/pictureloader.h"
#include "decode/readers.h"
#include "jxl_fixtures.h"
#include "pictureloader_fixtures.h"
#include "support/testsupport.h"

// JPEG XL pictures through the loader: every kind libjxl writes shows with libjxl's own pixels,
// reduced ones near a smooth downscale, and what is hostile, damaged or cut short is refused or
// shown for what it holds, with a reason.

using namespace tavlin;
namespace fx = tavlin::test::fixtures;
namespace jxl = tavlin::test::jxl;
using fx::fixedSize;
using fx::meanDifference;

namespace {

// The loader's planner asking for the picture at its own (turned) size.
LoadedPicture loadAtOwnSize(const QString& path, const LoadControl& control = {}) {
    return loadPicture(path, [](QSize oriented) { return DecodeRequest{oriented, {}}; },
                       control);
}

// `image` over the black screen behind it, as the loader shows a transparent picture.
QImage overBlack(const QImage& image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    out.reinterpretAsFormat(QImage::Format_RGB32);
    return out;
}

// The first row where two same-sized pictures differ, or -1.
int firstDifferentRow(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row)
        if (std::memcmp(x.constScanLine(row), y.constScanLine(row), size_t(x.width()) * 4) != 0)
            return row;
    return -1;
}

// A picture with transparent, half-transparent and opaque parts over the pattern.
QImage translucentPattern(int width, int height) {
    QImage image = test::patternImage(width, height).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int alpha = x < width / 3 ? 0 : x < 2 * width / 3 ? (y * 255 / height) : 255;
            line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), alpha);
        }
    }
    return image;
}

// Writes a codestream's bits, first bit lowest, as libjxl reads them.
class BitWriter {
public:
    void put(std::uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) {
            if (used_ % 8 == 0)
                bytes_.append('\0');
            if (value >> i & 1)
                bytes_[bytes_.size() - 1] = char(bytes_.back() | 1 << (used_ % 8));
            ++used_;
        }
    }
    // A size field of its widest form: selector 3, then the size less one in 30 bits.
    void putSize(std::uint32_t size) {
        put(3, 2);
        put(size - 1, 30);
    }
    QByteArray bytes() const { return bytes_; }

private:
    QByteArray bytes_;
    int used_ = 0;
};

// A bare codestream whose header claims `width` x `height` pixels, all else by default,
// and no pixels: a few bytes, whatever the size it claims.
QByteArray claimedSizeCodestream(std::uint32_t width, std::uint32_t height) {
    BitWriter w;
    w.put(0x0AFF, 16); // the signature
    w.put(0, 1);       // not a multiple of 8
    w.putSize(height);
    w.put(0, 3); // no fixed aspect ratio: the width follows
    w.putSize(width);
    w.put(1, 1); // every other header field by default
    return w.bytes() + QByteArray(16, '\0');
}

} // namespace

// Each kind of JPEG XL file shows at its own size with exactly the pixels libjxl decodes, over
// black where it is transparent and turned as it says.
TEST(JxlReader, ShowsEveryKindWithLibjxlsOwnPixels) {
    const QImage pattern = test::patternImage(301, 203); // sides no multiple of a group
    const QImage photo = bench::photoLikeImage(300, 200);
    struct Case {
        const char* name;
        std::vector<QImage> frames;
        jxl::Recipe recipe;
    };
    jxl::Recipe lossy;
    lossy.lossless = false;
    jxl::Recipe alpha;
    alpha.alpha = true;
    jxl::Recipe lossyAlpha = lossy;
    lossyAlpha.alpha = true;
    jxl::Recipe deep;
    deep.bits = 16;
    jxl::Recipe lossyDeep = lossy;
    lossyDeep.bits = 16;
    jxl::Recipe grey;
    grey.grey = true;
    jxl::Recipe greyAlpha = grey;
    greyAlpha.alpha = true;
    jxl::Recipe container;
    container.container = true;
    jxl::Recipe turned;
    turned.orientation = 6;
    jxl::Recipe mirroredTurned = lossy;
    mirroredTurned.orientation = 5;
    jxl::Recipe upsideDown;
    upsideDown.orientation = 3;
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(qRgb(200, 20, 20));
    QImage blue(64, 48, QImage::Format_RGB32);
    blue.fill(qRgb(20, 20, 200));
    const Case cases[] = {
        {"lossless.jxl", {pattern}, {}},
        {"lossy.jxl", {photo}, lossy},
        {"alpha.jxl", {translucentPattern(301, 203)}, alpha},
        {"lossy-alpha.jxl", {translucentPattern(300, 200)}, lossyAlpha},
        {"16-bit.jxl", {pattern}, deep},
        {"lossy-16-bit.jxl", {photo}, lossyDeep},
        {"grey.jxl", {pattern}, grey},
        {"grey-alpha.jxl", {translucentPattern(120, 90)}, greyAlpha},
        {"container.jxl", {pattern}, container},
        {"animation.jxl", {red, blue, red}, {}},
        {"turned-6.jxl", {pattern}, turned},
        {"mirrored-turned-5.jxl", {photo}, mirroredTurned},
        {"upside-down-3.jxl", {pattern}, upsideDown},
        // Its bytes, not its name, say what it is.
        {"named-as-a.jpg", {pattern}, {}},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = jxl::encode(c.frames, c.recipe);
        ASSERT_FALSE(bytes.isEmpty());
        const QString path = dir.filePath(c.name);
        test::writeFile(path, bytes);
        const QImage expected = jxl::decode(bytes);
        ASSERT_FALSE(expected.isNull());

        const LoadedPicture p = loadAtOwnSize(path);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_EQ(p.format, "jxl");
        EXPECT_TRUE(p.warning.isEmpty()) << p.warning.toStdString();
        EXPECT_EQ(p.size, expected.size());
        ASSERT_EQ(p.image.size(), expected.size());
        EXPECT_EQ(firstDifferentRow(p.image, overBlack(expected)), -1);
    }
}

// Shown smaller, or only in part, a picture is near a smooth downscale of libjxl's decode:
// reduced while decoding by 1/2, 1/4 or 1/8, then resampled.
TEST(JxlReader, ShowsAReducedOrPartPictureNearASmoothDownscale) {
    struct Case {
        const char* name;
        QSize picture;
        jxl::Recipe recipe;
        QSize scaled;
        QRect visible;
    };
    jxl::Recipe lossy;
    lossy.lossless = false;
    jxl::Recipe alpha;
    alpha.alpha = true;
    jxl::Recipe turned = lossy;
    turned.orientation = 8;
    jxl::Recipe grey;
    grey.grey = true;
    const Case cases[] = {
        {"half", QSize(1000, 752), lossy, QSize(500, 376), {}},
        {"quarter then resampled", QSize(1000, 752), lossy, QSize(230, 173), {}},
        {"eighth", QSize(1003, 751), {}, QSize(125, 93), {}},
        {"alpha reduced", QSize(800, 600), alpha, QSize(200, 150), {}},
        {"grey reduced", QSize(800, 600), grey, QSize(300, 225), {}},
        {"turned and clipped", QSize(1000, 700), turned, QSize(350, 500), QRect(40, 100, 200, 300)},
        {"enlarged and clipped", QSize(300, 200), lossy, QSize(900, 600), QRect(100, 50, 400, 300)},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage source = c.recipe.alpha
                                  ? translucentPattern(c.picture.width(), c.picture.height())
                                  : bench::photoLikeImage(c.picture.width(), c.picture.height());
        const QByteArray bytes = jxl::encode({source}, c.recipe);
        ASSERT_FALSE(bytes.isEmpty());
        const QString path = dir.filePath("picture.jxl");
        test::writeFile(path, bytes);
        QImage expected = overBlack(jxl::decode(bytes))
                              .scaled(c.scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!c.visible.isEmpty())
            expected = expected.copy(c.visible);

        const LoadedPicture p = loadPicture(path, fixedSize(c.scaled, c.visible));
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        ASSERT_EQ(p.image.size(), expected.size());
        EXPECT_LT(meanDifference(p.image, expected), 3.0);
    }
}

// What no picture could be shown from is refused with a sentence naming the file and the
// reason; a claimed size that cannot be held is refused before anything is planned.
TEST(JxlReader, RefusesWhatCannotBeShownWithAReason) {
    const QByteArray good = jxl::encode({test::patternImage(64, 48)}, {});
    jxl::Recipe containerRecipe;
    containerRecipe.container = true;
    const QByteArray boxed = jxl::encode({test::patternImage(64, 48)}, containerRecipe);
    ASSERT_FALSE(good.isEmpty());
    ASSERT_FALSE(boxed.isEmpty());
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* words;
        bool planned; // whether the header was good enough to plan a decode
    };
    const Case cases[] = {
        {"60000 x 60000 claimed", claimedSizeCodestream(60000, 60000),
         "claims to be 60000 \u00d7 60000 pixels", false},
        {"65536 x 1 claimed", claimedSizeCodestream(65536, 1), "claims to be 65536 \u00d7 1",
         false},
        // Within the largest size shown, but not within what one picture may hold.
        {"16000 x 16000 claimed", claimedSizeCodestream(16000, 16000), "MB of memory", false},
        {"garbage after the codestream's signature",
         QByteArray("\xFF\x0A", 2) + QByteArray(200, char(0xA5)), "could not be decoded", false},
        {"garbage after the container's signature", boxed.left(12) + QByteArray(300, char(0x5A)),
         "could not be decoded", false},
        {"the container's boxes damaged", boxed.left(40) + QByteArray(200, char(0xFF)),
         "could not be decoded", false},
        {"cut in its header", good.left(3), "the file ends in its header", false},
        {"pixels damaged",
         [&] {
             QByteArray b = good;
             for (qsizetype i = 20; i < b.size(); ++i)
                 b[i] = char(b[i] ^ 0x5C);
             return b;
         }(),
         "could not be decoded", true},
        {"header claiming pixels it does not hold", claimedSizeCodestream(400, 300),
         "could not be decoded", true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("bad.jxl");
        test::writeFile(path, c.bytes);
        bool planned = false;
        const LoadedPicture p = loadPicture(path, [&](QSize) {
            planned = true;
            return DecodeRequest{QSize(1920, 1080), {}};
        });
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.image.isNull());
        EXPECT_TRUE(p.error.startsWith(QStringLiteral("\u201cbad.jxl\u201d"))) << p.error.toStdString();
        EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.words))) << p.error.toStdString();
        EXPECT_TRUE(p.error.endsWith(u'.')) << p.error.toStdString();
        if (!c.planned) {
            EXPECT_FALSE(planned) << "refused before anything was planned";
        }
    }
}

// A file that ends early shows the part of the picture libjxl could decode from what it holds,
// the rest black, and says it is cut short; one that ends before any pixel is refused.
TEST(JxlReader, AFileCutShortShowsWhatItHolds) {
    jxl::Recipe lossy;
    lossy.lossless = false;
    struct Case {
        const char* name;
        jxl::Recipe recipe;
    };
    const Case cases[] = {{"lossy", lossy}, {"lossless", {}}};
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage source = bench::photoLikeImage(1024, 768);
        const QByteArray bytes = jxl::encode({source}, c.recipe);
        ASSERT_FALSE(bytes.isEmpty());
        const QImage whole = overBlack(jxl::decode(bytes));
        const QString path = dir.filePath("cut.jxl");
        test::writeFile(path, bytes.left(bytes.size() * 7 / 10));

        const LoadedPicture p = loadAtOwnSize(path);
        ASSERT_TRUE(p.ok) << p.error.toStdString();
        EXPECT_TRUE(p.warning.contains("cut short")) << p.warning.toStdString();
        ASSERT_EQ(p.image.size(), whole.size());
        // Its first groups of 256 rows and columns are libjxl's own pixels; some are missing.
        EXPECT_EQ(p.image.copy(0, 0, 256, 256), whole.copy(0, 0, 256, 256));
        EXPECT_NE(firstDifferentRow(p.image, whole), -1);

        // Its header whole and no pixel after it: nothing to show.
        test::writeFile(path, bytes.left(std::min<qsizetype>(bytes.size() / 10, 60)));
        const LoadedPicture none = loadAtOwnSize(path);
        EXPECT_FALSE(none.ok);
        EXPECT_TRUE(none.error.contains("ends")) << none.error.toStdString();
    }
}

// A load no longer wanted ends as cancelled: flagged before it starts, or while it is under
// way (here as the decode is planned).
TEST(JxlReader, StopsWhenCancelled) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.jxl");
    test::writeFile(path, jxl::encode({bench::photoLikeImage(640, 480)}, {}));
    std::atomic<bool> cancel{true};
    LoadControl control;
    control.cancelled = &cancel;
    const LoadedPicture before = loadAtOwnSize(path, control);
    EXPECT_FALSE(before.ok);
    EXPECT_TRUE(before.cancelled);

    cancel = false;
    const LoadedPicture meanwhile = loadPicture(
        path,
        [&](QSize oriented) {
            cancel = true;
            return DecodeRequest{oriented, {}};
        },
        control);
    EXPECT_FALSE(meanwhile.ok);
    EXPECT_TRUE(meanwhile.cancelled);
    EXPECT_TRUE(meanwhile.image.isNull());
}

// libjxl's own frame storage is counted: a picture the caller's budget cannot hold is refused
// with the figures, at any shown size, and the same picture shows within the usual budget.
TEST(JxlReader, HonoursTheCallersMemoryBudget) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.jxl");
    test::writeFile(path, jxl::encode({bench::photoLikeImage(1500, 1000)}, {}));
    LoadControl small;
    small.memoryBudget = 16 << 20;
    const LoadedPicture refused = loadPicture(path, fixedSize(QSize(375, 250)), small);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.contains("more than the 16 MB")) << refused.error.toStdString();
    const LoadedPicture shown = loadPicture(path, fixedSize(QSize(375, 250)));
    EXPECT_TRUE(shown.ok) << shown.error.toStdString();
}

// What the file says about its colours is handed on for conversion: nothing for sRGB, whether
// stored as such or in the codec's own colour space, else the pixels' ICC profile.
TEST(JxlReader, HandsOnTheColoursOfThePixels) {
    jxl::Recipe lossy;
    lossy.lossless = false;
    jxl::Recipe p3;
    p3.displayP3 = true;
    jxl::Recipe lossyP3 = lossy;
    lossyP3.displayP3 = true;
    struct Case {
        const char* name;
        jxl::Recipe recipe;
        bool profile;
    };
    const Case cases[] = {
        {"sRGB", {}, false},
        {"sRGB in the codec's colours", lossy, false},
        {"Display P3", p3, true},
        {"Display P3 in the codec's colours", lossyP3, true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("colours.jxl");
        test::writeFile(path, jxl::encode({test::patternImage(64, 48)}, c.recipe));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        Source source;
        QString error;
        ASSERT_TRUE(openJxl(path, file, {}, source, error)) << error.toStdString();
        EXPECT_EQ(!source.colours.iccProfile.isEmpty(), c.profile);
        if (c.profile) { // an ICC profile: its signature at byte 36
            EXPECT_EQ(source.colours.iccProfile.mid(36, 4), "acsp");
        }
    }
}

// libjxl's own report of what it found wrong, a source file and line, never reaches the
// terminal: the refusal's sentence says it.
TEST(JxlReader, LibjxlsOwnMessagesNeverReachTheTerminal) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.jxl");
    // A header field out of its range: libjxl names the field and the line that checked it.
    QByteArray bytes = jxl::encode({test::patternImage(64, 48)}, {});
    for (qsizetype i = 4; i < bytes.size(); ++i)
        bytes[i] = char(0xFF);
    test::writeFile(path, bytes);
    const QString captured = dir.filePath("stderr.txt");
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int to = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(to, 0);
    ::dup2(to, 2);
    const LoadedPicture p = loadAtOwnSize(path);
    std::fprintf(stderr, "%s:%d: the program's own line\n", "viewer/x.cpp", 1);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(to);
    EXPECT_FALSE(p.ok);
    EXPECT_TRUE(p.error.contains("could not be decoded")) << p.error.toStdString();
    QFile file(captured);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "viewer/x.cpp:1: the program's own line\n");
}
