#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <thread>
#include <unistd.h>

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTransform>

#include "decode/decodesource.h"
#include "decode/pictureloader.h"
#include "decode/readers.h"
#include "heif_fixtures.h"
#include "pictureloader_fixtures.h"
#include "platform/regularfile.h"
#include "support/testsupport.h"

namespace tavlin {
namespace {

using test::fixtures::fixedSize;
using test::fixtures::meanDifference;
namespace box = test::heif;

bool have(const char* tool) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty();
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(u' ').toStdString() << ": "
                      << process.readAll().toStdString();
        return false;
    }
    return true;
}

// Colour fields, hard edges between quadrants and a diagonal gradient: what shows a wrong
// turn, a swapped channel or a shifted row. With `alpha`, a gradient of transparency too.
QImage testPicture(int width, int height, bool alpha) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb q =
                test::fixtures::kQuadrants[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            const int shade = (x + y) * 60 / (width + height);
            const int a = alpha ? 255 - x * 255 / std::max(1, width - 1) : 255;
            line[x] = qRgba(std::clamp(qRed(q) - shade, 0, 255), qGreen(q),
                            std::clamp(qBlue(q) + shade - 30, 0, 255), a);
        }
    }
    return image;
}

class HeifTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have("heif-enc") || !have("heif-convert") || !have("convert"))
            GTEST_SKIP() << "heif-enc, heif-convert (libheif-examples) and ImageMagick's convert "
                            "make and read these fixtures";
        ASSERT_TRUE(dir.isValid());
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    // A PNG of the test picture, 8 bits a channel, or 16 when `deep` (heif-enc then writes
    // 10 bits a sample).
    QString png(const QString& name, QSize size, bool alpha, bool deep = false) {
        QImage image = testPicture(size.width(), size.height(), alpha);
        if (deep)
            image = image.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        const QString file = path(name);
        EXPECT_TRUE(image.save(file, "png"));
        return file;
    }

    QString heifEnc(const QString& name, const QString& input, const QStringList& options) {
        const QString out = path(name);
        run(QStringLiteral("heif-enc"), options + QStringList{QStringLiteral("-o"), out, input});
        return out;
    }

    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return file.fileName();
    }

    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // libheif's own decode, through its command-line tool, shown over black as ours is: what
    // the loader must show, pixel for pixel, at the picture's own size.
    QImage reference(const QString& file) {
        const QString out = file + QStringLiteral(".ref.png");
        if (!run(QStringLiteral("heif-convert"), {file, out}))
            return {};
        QImage image(out);
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
        QImage black(image.size(), QImage::Format_RGB32);
        black.fill(Qt::black);
        QPainter(&black).drawImage(0, 0, image);
        return black;
    }

    QTemporaryDir dir;
};

LoadedPicture loadAt(const QString& file, QSize size, QRect visible = {},
                     const LoadControl& control = {}) {
    return loadPicture(file, fixedSize(size, visible), control);
}

// Every kind of file the encoders write shows as libheif decodes it: exactly at its own size
// (within one step for 10-bit pictures, whose reduction to 8 bits rounds its own way in
// heif-convert), near a smooth downscale at a third of it, and a part of it as that part.
TEST_F(HeifTest, VariantsShowAsLibheifDecodesThem) {
    struct Case {
        const char* name;
        const char* format;
        bool alpha;
        bool deep;
        QStringList options; // heif-enc's; empty: ImageMagick's convert
        int tolerance;
    };
    const Case cases[] = {
        {"x265.heic", "heif", false, false, {"-q", "70"}, 0},
        {"convert.heic", "heif", false, false, {}, 0},
        {"aom.avif", "avif", false, false, {"-A", "-q", "70"}, 0},
        {"convert.avif", "avif", false, false, {}, 0},
        {"alpha.heic", "heif", true, false, {"-q", "70"}, 1},
        {"alpha.avif", "avif", true, false, {"-A", "-q", "70"}, 1},
        {"ten-bit.heic", "heif", false, true, {"-b", "10", "-q", "70"}, 1},
        // aom 3.6 stops on an assertion for 10-bit 4:2:0 through libheif 1.15; 4:2:2 works.
        {"ten-bit.avif", "avif", false, true, {"-A", "-b", "10", "-p", "chroma=422"}, 1},
        {"twelve-bit.avif", "avif", false, true, {"-A", "-b", "12", "-q", "70"}, 1},
        {"lossless444.heic", "heif", false, false, {"-L", "-p", "chroma=444"}, 0},
    };
    const QSize size(150, 100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = png(QStringLiteral("%1.png").arg(c.name), size, c.alpha, c.deep);
        QString file;
        if (c.options.isEmpty()) {
            file = path(QString::fromLatin1(c.name));
            ASSERT_TRUE(run(QStringLiteral("convert"), {source, file}));
        } else {
            file = heifEnc(QString::fromLatin1(c.name), source, c.options);
        }
        const QImage expected = reference(file);
        ASSERT_EQ(expected.size(), size);

        const LoadedPicture own = loadAt(file, size);
        ASSERT_TRUE(own.ok) << own.error.toStdString();
        EXPECT_EQ(own.format, QByteArray(c.format));
        EXPECT_EQ(own.size, size);
        EXPECT_TRUE(own.warning.isEmpty()) << own.warning.toStdString();
        EXPECT_LE(test::fixtures::largestDifference(own.image, expected), c.tolerance);
        // The test picture itself, through a lossy codec: catches swapped channels.
        if (!c.alpha) {
            EXPECT_LT(meanDifference(own.image, testPicture(size.width(), size.height(), false)),
                      8);
        }

        const QSize third(50, 33);
        const LoadedPicture small = loadAt(file, third);
        ASSERT_TRUE(small.ok) << small.error.toStdString();
        EXPECT_LT(meanDifference(small.image, expected.scaled(third, Qt::IgnoreAspectRatio,
                                                              Qt::SmoothTransformation)),
                  2.0);

        const QRect part(40, 30, 60, 50);
        const LoadedPicture zoomed = loadAt(file, size, part);
        ASSERT_TRUE(zoomed.ok) << zoomed.error.toStdString();
        EXPECT_LE(test::fixtures::largestDifference(zoomed.image, expected.copy(part)),
                  c.tolerance);
    }
}

// A picture of many tiles, and one of one 64 x 64 tile cropped to its picture, come together
// as libheif puts them.
TEST_F(HeifTest, GridPicturesShowWhole) {
    const QString small =
        heifEnc(QStringLiteral("tile.heic"), png(QStringLiteral("tile.png"), QSize(64, 48), false),
                {QStringLiteral("-q"), QStringLiteral("70")});
    const QByteArray grid = box::tiledGrid(read(small), 40, 30);
    ASSERT_FALSE(grid.isEmpty()) << "the encoder no longer writes a small picture as a grid";
    const QString file = write(QStringLiteral("grid.heic"), grid);
    const QImage expected = reference(file);
    ASSERT_EQ(expected.size(), QSize(1920, 2560));

    const LoadedPicture own = loadAt(file, expected.size());
    ASSERT_TRUE(own.ok) << own.error.toStdString();
    EXPECT_EQ(test::fixtures::largestDifference(own.image, expected), 0);
    const LoadedPicture quarter = loadAt(file, QSize(480, 640));
    ASSERT_TRUE(quarter.ok) << quarter.error.toStdString();
    EXPECT_LT(meanDifference(quarter.image, expected.scaled(QSize(480, 640), Qt::IgnoreAspectRatio,
                                                            Qt::SmoothTransformation)),
              2.0);
}

// An irot box turns the picture: libheif turns it while decoding, and the loader shows it
// turned once, at the turned size.
TEST_F(HeifTest, TurnedPicturesShowTurned) {
    const QString plain = heifEnc(QStringLiteral("plain.heic"),
                                  png(QStringLiteral("plain.png"), QSize(150, 100), false),
                                  {QStringLiteral("-q"), QStringLiteral("90")});
    const LoadedPicture upright = loadAt(plain, QSize(150, 100));
    ASSERT_TRUE(upright.ok) << upright.error.toStdString();
    for (int quarters : {1, 2, 3}) {
        SCOPED_TRACE(quarters);
        const QByteArray turned = box::withProperty(read(plain), box::irot(quarters));
        ASSERT_FALSE(turned.isEmpty());
        const QString file = write(QStringLiteral("turned%1.heic").arg(quarters), turned);
        const QSize size = quarters == 2 ? QSize(150, 100) : QSize(100, 150);
        const LoadedPicture shown = loadAt(file, size);
        ASSERT_TRUE(shown.ok) << shown.error.toStdString();
        EXPECT_EQ(shown.size, size);
        // irot turns anticlockwise.
        const QImage expected = upright.image.transformed(QTransform().rotate(-90 * quarters));
        EXPECT_EQ(test::fixtures::largestDifference(shown.image, expected), 0);
        EXPECT_EQ(test::fixtures::largestDifference(shown.image, reference(file)), 0);
    }
}

// What libheif's tool refuses, or what could not be held, is refused with a sentence naming the
// file, before the decode allocates what the header claims.
TEST_F(HeifTest, BadFilesAreRefusedWithAReason) {
    const QString good = heifEnc(QStringLiteral("good.heic"),
                                 png(QStringLiteral("good.png"), QSize(150, 100), false),
                                 {QStringLiteral("-q"), QStringLiteral("70")});
    const QByteArray bytes = read(good);
    const qsizetype mdat = box::findBox(bytes, {"mdat"});
    ASSERT_GT(mdat, 0);
    QByteArray garbage = bytes.left(box::get32(bytes, 0));
    for (int i = 0; i < 2000; ++i)
        garbage.append(char(i * 7919 % 251));

    // A grid of 2 x 2 tiles, 128 x 128 as its items state, whose layout (or, made an overlay,
    // whose canvas) says more: libheif would make a canvas of the size the record gives.
    const QString tile =
        heifEnc(QStringLiteral("tile.heic"), png(QStringLiteral("tile.png"), QSize(64, 48), false),
                {QStringLiteral("-q"), QStringLiteral("70")});
    const QByteArray grid = box::tiledGrid(read(tile), 2, 2);
    ASSERT_FALSE(grid.isEmpty()) << "the encoder no longer writes a small picture as a grid";

    // Pictures whose coded frames are larger than the size their items state: the decoders
    // allocate for the frame, not for the stated size.
    const QByteArray avif = read(heifEnc(
        QStringLiteral("good.avif"), png(QStringLiteral("good-av1.png"), QSize(150, 100), false),
        {QStringLiteral("-A"), QStringLiteral("-q"), QStringLiteral("70")}));
    // Inputs the fuzzer found, kept among its regressions.
    const auto found = [](const char* name) {
        QFile file(QDir(test::sourceDir())
                       .filePath(QStringLiteral("tests/fuzz/regressions/heif/") +
                                 QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    struct Case {
        const char* name;
        QByteArray bytes;
        QString error; // whole sentence; empty: "could not be decoded: " and a reason
        std::int64_t budget = PictureLimits::memoryBudget;
    };
    const QString huge = QStringLiteral("“huge.heic” claims to be 60000 \u00d7 60000 pixels, more "
                                        "than can be shown (at most 268 megapixels).");
    const Case cases[] = {
        {"huge.heic", box::claimingSize(bytes, 60000, 60000), huge},
        {"wide.heic", box::claimingSize(bytes, 16000, 16000),
         QStringLiteral("“wide.heic” would need")},
        {"in-meta.heic", bytes.left(mdat - 40), {}},
        {"in-pixels.heic", bytes.left(mdat + 8 + (bytes.size() - mdat - 8) / 2), {}},
        {"no-pixels.heic", bytes.left(mdat), {}},
        {"garbage.heic", garbage, {}},
        {"grid-wide.heic", box::withGridLayout(grid, 70000, 128),
         QStringLiteral("“grid-wide.heic” claims to be 70000 \u00d7 128 pixels, more than can be "
                        "shown (at most 268 megapixels).")},
        // Within the limits, but over the budget that the stated size is well within.
        {"grid-heavy.heic", box::withGridLayout(grid, 4000, 4000),
         QStringLiteral("“grid-heavy.heic” would need"), 64 << 20},
        {"overlay-heavy.heic", box::asOverlay(grid, 4, 4000, 4000),
         QStringLiteral("“overlay-heavy.heic” would need"), 64 << 20},
        {"av1-huge.avif", box::withCodedSize(avif, 60000, 60000),
         QStringLiteral("“av1-huge.avif” claims to be 60000 \u00d7 60000 pixels")},
        {"av1-heavy.avif", box::withCodedSize(avif, 12000, 12000),
         QStringLiteral("“av1-heavy.avif” would need")},
        {"hevc-heavy.heic", box::withCodedSize(bytes, 12000, 12000),
         QStringLiteral("“hevc-heavy.heic” would need")},
        {"av1-fuzzed.avif", found("av1-frame-larger-than-its-ispe.avif"),
         QStringLiteral("“av1-fuzzed.avif” would need")},
        {"av1-grey-fuzzed.avif", found("av1-grey-frame-4661x11693-stated-40x30.avif"),
         QStringLiteral("“av1-grey-fuzzed.avif” would need")},
        // An overlay tile whose item names a data reference: libheif reads its record from
        // the file all the same.
        {"overlay-fuzzed.heif", found("overlay-1728x61284-behind-a-data-reference.heif"),
         QStringLiteral("“overlay-fuzzed.heif” would need")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        const QString file = write(QString::fromLatin1(c.name), c.bytes);
        LoadControl control;
        control.memoryBudget = c.budget;
        const LoadedPicture picture = loadAt(file, QSize(150, 100), {}, control);
        EXPECT_FALSE(picture.ok);
        EXPECT_FALSE(picture.cancelled);
        EXPECT_TRUE(picture.image.isNull());
        if (c.error.isEmpty()) {
            const QString start = quotedFileName(file) + QStringLiteral(" could not be decoded: ");
            EXPECT_TRUE(picture.error.startsWith(start)) << picture.error.toStdString();
            EXPECT_GT(picture.error.size(), start.size() + 5) << picture.error.toStdString();
            EXPECT_TRUE(picture.error.endsWith(u'.')) << picture.error.toStdString();
        } else {
            EXPECT_TRUE(picture.error.startsWith(c.error)) << picture.error.toStdString();
        }
    }
}

// The bytes say what a file is: a HEIC or an AVIF named .jpg shows, and is named by its brand.
TEST_F(HeifTest, FilesShowWhateverTheirName) {
    const QString source = png(QStringLiteral("named.png"), QSize(64, 64), false);
    for (const auto& [name, options, format] :
         {std::tuple{"heic", QStringList{}, "heif"},
          std::tuple{"avif", QStringList{QStringLiteral("-A")}, "avif"}}) {
        const QString encoded =
            heifEnc(QStringLiteral("x.%1").arg(QLatin1String(name)), source, options);
        const QString misnamed =
            write(QStringLiteral("%1.jpg").arg(QLatin1String(name)), read(encoded));
        const LoadedPicture picture = loadAt(misnamed, QSize(64, 64));
        ASSERT_TRUE(picture.ok) << picture.error.toStdString();
        EXPECT_EQ(picture.format, QByteArray(format));
        EXPECT_EQ(test::fixtures::largestDifference(picture.image, reference(encoded)), 0);
    }
}

// A load no longer wanted ends as cancelled: before the decode, or when the flag turns during
// it (libheif decodes whole, so it is noticed once the decode returns).
TEST_F(HeifTest, CancelledLoadsEndCancelled) {
    const QString file = heifEnc(QStringLiteral("cancel.heic"),
                                 png(QStringLiteral("cancel.png"), QSize(1200, 900), false), {});
    std::atomic<bool> flag{true};
    LoadControl control;
    control.cancelled = &flag;
    LoadedPicture picture = loadAt(file, QSize(1200, 900), {}, control);
    EXPECT_TRUE(picture.cancelled);
    EXPECT_FALSE(picture.ok);

    flag = false;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        flag = true;
    });
    picture = loadAt(file, QSize(1200, 900), {}, control);
    canceller.join();
    EXPECT_TRUE(picture.cancelled);
    EXPECT_FALSE(picture.ok);
    EXPECT_TRUE(picture.error.isEmpty()) << picture.error.toStdString();
}

// A smaller budget, as when decodes run together, refuses what would not fit in it with the
// sentence for it; the whole picture libheif decodes counts when only a part is shown.
TEST_F(HeifTest, SmallerBudgetsRefuseWhatWouldNotFit) {
    const QString file = heifEnc(QStringLiteral("budget.heic"),
                                 png(QStringLiteral("budget.png"), QSize(1200, 900), false), {});
    LoadControl tight;
    tight.memoryBudget = std::int64_t(4) << 20;
    const LoadedPicture refused = loadAt(file, QSize(600, 450), {}, tight);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.startsWith(QStringLiteral("“budget.heic” would need")))
        << refused.error.toStdString();
    EXPECT_TRUE(refused.error.endsWith(QStringLiteral("more than the 4 MB one picture may use.")))
        << refused.error.toStdString();

    // A part of it, enlarged: the loader counts the part, the reader the whole beside it.
    LoadControl partBudget;
    partBudget.memoryBudget = std::int64_t(8) << 20;
    const LoadedPicture part = loadAt(file, QSize(2400, 1800), QRect(0, 0, 200, 200), partBudget);
    EXPECT_FALSE(part.ok);
    EXPECT_TRUE(part.error.contains(QStringLiteral("would need"))) << part.error.toStdString();

    const LoadedPicture shown = loadAt(file, QSize(600, 450));
    EXPECT_TRUE(shown.ok) << shown.error.toStdString();
}

// The colour space a file names reaches the colour conversion: an ICC profile, or H.273 code
// points, "unspecified" counting as none given.
// A picture shown at half its size or less is turned from YCbCr into RGB by the reader: with
// the matrix and range its colr box names, as libheif turns the whole picture, and by libheif
// itself for a matrix the reader does not know.
TEST_F(HeifTest, ReducedPicturesTakeTheirColoursAsLibheifDoes) {
    const QSize size(160, 120);
    const QString source = png(QStringLiteral("matrix.png"), size, false);
    const QByteArray heic = read(heifEnc(QStringLiteral("matrix.heic"), source, {"-q", "90"}));
    const QByteArray avif =
        read(heifEnc(QStringLiteral("matrix.avif"), source, {"-A", "-q", "90"}));
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"bt601-full.heic", box::withMatrix(heic, 6, true)},
        {"bt601-limited.heic", box::withMatrix(heic, 6, false)},
        {"bt709-limited.heic", box::withMatrix(heic, 1, false)},
        {"bt2020-full.avif", box::withMatrix(avif, 9, true)},
        {"unspecified.avif", box::withMatrix(avif, 2, true)},
        {"ycgco.avif", box::withMatrix(avif, 8, true)},
    };
    const QSize half(80, 60);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        const QString file = write(QString::fromLatin1(c.name), c.bytes);
        const QImage expected = reference(file);
        ASSERT_EQ(expected.size(), size);
        const LoadedPicture shown = loadAt(file, half);
        ASSERT_TRUE(shown.ok) << shown.error.toStdString();
        EXPECT_LT(meanDifference(shown.image, expected.scaled(half, Qt::IgnoreAspectRatio,
                                                              Qt::SmoothTransformation)),
                  1.5);
    }
}

TEST_F(HeifTest, ColoursAreReadFromTheColrBoxes) {
    QImage withProfile = testPicture(64, 64, false);
    withProfile.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    const QString profiled = path(QStringLiteral("p3.png"));
    ASSERT_TRUE(withProfile.save(profiled, "png"));
    const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();

    const QString plain = png(QStringLiteral("plain.png"), QSize(64, 64), false);
    // heif-enc 1.15 writes an nclx box of its own code points whatever it is asked: they are
    // set in the box afterwards.
    const QByteArray avif = read(heifEnc(QStringLiteral("plain.avif"), plain, {"-A"}));
    struct Case {
        const char* name;
        QByteArray bytes;
        QByteArray icc;
        int primaries;
        int transfer;
    };
    const Case cases[] = {
        {"icc.heic", read(heifEnc(QStringLiteral("icc.heic"), profiled, {})), icc, 0, 0},
        {"pq.avif", box::withNclx(avif, 9, 16), {}, 9, 16},
        {"unspecified.avif", box::withNclx(avif, 2, 2), {}, 0, 0},
        {"bt709.avif", box::withNclx(avif, 1, 1), {}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        const QString file = write(QString::fromLatin1(c.name), c.bytes);
        QFile opened(file);
        ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
        Source source;
        QString error;
        ASSERT_TRUE(openHeif(file, opened, LoadControl{}, source, error)) << error.toStdString();
        EXPECT_EQ(source.colours.iccProfile, c.icc);
        EXPECT_EQ(source.colours.cicpPrimaries, c.primaries);
        EXPECT_EQ(source.colours.cicpTransfer, c.transfer);
        EXPECT_EQ(source.transform, QImageIOHandler::TransformationNone);
    }
}

// Decoding a good file prints nothing: libheif and its decoders speak only through errors.
TEST_F(HeifTest, DecodingPrintsNothing) {
    const QString heic = heifEnc(QStringLiteral("quiet.heic"),
                                 png(QStringLiteral("quiet.png"), QSize(200, 120), true), {});
    const QString avif =
        heifEnc(QStringLiteral("quiet.avif"),
                png(QStringLiteral("quiet10.png"), QSize(200, 120), false, true),
                {QStringLiteral("-A"), QStringLiteral("-b"), QStringLiteral("12")});
    const QString captured = path(QStringLiteral("stderr.txt"));
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int sink = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(sink, 0);
    ::dup2(sink, 2);
    const bool shown = loadAt(heic, QSize(100, 60)).ok && loadAt(avif, QSize(200, 120)).ok;
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(sink);
    EXPECT_TRUE(shown);
    EXPECT_EQ(read(captured), QByteArray());
}

} // namespace
} // namespace tavlin
