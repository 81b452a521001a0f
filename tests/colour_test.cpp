#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <memory>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "decode/colour.h"
#include "decode/jpegscan.h"
#include "decode/pictureloader.h"
#include "pictureloader_fixtures.h"
#include "platform/displayprofile.h"
#include "support/testsupport.h"

// Colour management: pictures that carry a profile (or code points, or PNG's colour chunks)
// are shown in the display's colours as lcms converts them; those in the display's own
// colours, and those that say nothing, keep every bit; a profile that cannot be used shows
// the picture unconverted with a warning.

using namespace tavlin;
namespace fx = tavlin::test::fixtures;

namespace {

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

QByteArray bytesOf(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size))
        return {};
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    return bytes;
}

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};

Profile rgbProfile(const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve,
                   const cmsCIExyY& white = kD65) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profile p(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return p;
}

cmsToneCurve* srgbCurve() {
    const double params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, params);
}

cmsToneCurve* rec709Curve() {
    const double params[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
    return cmsBuildParametricToneCurve(nullptr, 4, params);
}

const cmsCIExyYTRIPLE kSrgbPrimaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
const cmsCIExyYTRIPLE kP3Primaries{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
const cmsCIExyYTRIPLE kAdobePrimaries{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
const cmsCIExyYTRIPLE kBt2020Primaries{{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}};

Profile p3() {
    return rgbProfile(kP3Primaries, srgbCurve());
}

Profile adobeRgb() {
    return rgbProfile(kAdobePrimaries, cmsBuildGamma(nullptr, 563.0 / 256));
}

Profile srgb() {
    return Profile(cmsCreate_sRGBProfile());
}

Profile grey() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    Profile p(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return p;
}

// sRGB as another program writes it: the curve a table of 1024 points and the primaries
// rounded otherwise, so its bytes, and lcms's arithmetic on them, are not lcms's own.
Profile tabulatedSrgb() {
    cmsToneCurve* exact = srgbCurve();
    std::vector<cmsUInt16Number> table(1024);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = cmsEvalToneCurve16(exact, cmsUInt16Number(i * 65535 / 1023));
    cmsFreeToneCurve(exact);
    const cmsCIExyYTRIPLE primaries{{0.6401, 0.33, 1}, {0.30, 0.6001, 1}, {0.15, 0.06, 1}};
    return rgbProfile(primaries, cmsBuildTabulatedToneCurve16(
                                     nullptr, cmsUInt32Number(table.size()), table.data()));
}

// A profile of lookup tables, no matrix or curves: Display P3 sampled on a 17-point grid
// into an AToB0 table, as printer and some monitor profiles are made.
QByteArray lutProfile() {
    const Profile from = p3();
    const Profile lab(cmsCreateLab4Profile(nullptr));
    cmsHTRANSFORM toLab = cmsCreateTransform(from.get(), TYPE_RGB_16, lab.get(), TYPE_Lab_16,
                                             INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM fromLab = cmsCreateTransform(lab.get(), TYPE_Lab_16, from.get(), TYPE_RGB_16,
                                               INTENT_RELATIVE_COLORIMETRIC, 0);
    auto sampled = [](cmsHTRANSFORM t) {
        // Curves on both sides of the table, as the tag types have them.
        cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
        cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
        cmsStageSampleCLut16bit(
            clut,
            [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
                cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), in, out, 1);
                return 1;
            },
            t, 0);
        cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
        cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
        return pipeline;
    };
    Profile profile(cmsCreateProfilePlaceholder(nullptr));
    cmsSetProfileVersion(profile.get(), 4.3);
    cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
    cmsSetColorSpace(profile.get(), cmsSigRgbData);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipeline* a2b = sampled(toLab);
    cmsPipeline* b2a = sampled(fromLab);
    cmsWriteTag(profile.get(), cmsSigAToB0Tag, a2b);
    cmsWriteTag(profile.get(), cmsSigBToA0Tag, b2a);
    cmsPipelineFree(a2b);
    cmsPipelineFree(b2a);
    cmsDeleteTransform(toLab);
    cmsDeleteTransform(fromLab);
    return bytesOf(profile.get());
}

// `image` converted from `from` to `to` (sRGB when empty) by lcms directly.
QImage lcmsConverted(QImage image, const QByteArray& from, const QByteArray& to = {}) {
    image.convertTo(QImage::Format_RGB32);
    const Profile source(cmsOpenProfileFromMem(from.constData(), cmsUInt32Number(from.size())));
    const Profile target(to.isEmpty()
                             ? cmsCreate_sRGBProfile()
                             : cmsOpenProfileFromMem(to.constData(), cmsUInt32Number(to.size())));
    EXPECT_TRUE(source && target);
    cmsHTRANSFORM t = cmsCreateTransform(source.get(), TYPE_BGRA_8, target.get(), TYPE_BGRA_8,
                                         INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    EXPECT_TRUE(t);
    if (!t)
        return {};
    for (int y = 0; y < image.height(); ++y)
        cmsDoTransform(t, image.scanLine(y), image.scanLine(y), cmsUInt32Number(image.width()));
    cmsDeleteTransform(t);
    return image;
}

// The largest CIEDE2000 difference between two same-sized sRGB pictures, pixel by pixel.
double worstDeltaE(const QImage& a, const QImage& b) {
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size() || a.isNull())
        return 1000;
    const Profile rgb(cmsCreate_sRGBProfile());
    const Profile lab(cmsCreateLab4Profile(nullptr));
    cmsHTRANSFORM t = cmsCreateTransform(rgb.get(), TYPE_BGRA_8, lab.get(), TYPE_Lab_DBL,
                                         INTENT_RELATIVE_COLORIMETRIC, 0);
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    std::vector<cmsCIELab> la(size_t(x.width())), lb(size_t(x.width()));
    double worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        cmsDoTransform(t, x.constScanLine(row), la.data(), cmsUInt32Number(x.width()));
        cmsDoTransform(t, y.constScanLine(row), lb.data(), cmsUInt32Number(x.width()));
        for (size_t i = 0; i < la.size(); ++i)
            worst = std::max(worst, cmsCIE2000DeltaE(&la[i], &lb[i], 1, 1, 1));
    }
    cmsDeleteTransform(t);
    return worst;
}

// A colour chart: saturated colours, skin tones and greys in patches of 16 x 16 pixels.
QImage chart() {
    const QRgb colours[] = {
        qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(0, 0, 255),     qRgb(0, 255, 255),
        qRgb(255, 0, 255),   qRgb(255, 255, 0),   qRgb(200, 30, 40),   qRgb(30, 160, 60),
        qRgb(240, 200, 170), qRgb(225, 170, 135), qRgb(190, 135, 100), qRgb(140, 90, 60),
        qRgb(90, 60, 40),    qRgb(0, 0, 0),       qRgb(40, 40, 40),    qRgb(128, 128, 128),
        qRgb(200, 200, 200), qRgb(255, 255, 255), qRgb(250, 120, 20),  qRgb(70, 40, 180),
    };
    const int columns = 5;
    const int count = int(std::size(colours));
    QImage image(columns * 16, (count + columns - 1) / columns * 16, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int i = 0; i < count; ++i) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                image.setPixel(i % columns * 16 + x, i / columns * 16 + y, colours[i]);
    }
    return image;
}

// An APP2 segment carrying chunk `number` of `count` of an ICC profile.
QByteArray iccSegment(int number, int count, const QByteArray& chunk) {
    QByteArray body("ICC_PROFILE\0", 12);
    body.append(char(number));
    body.append(char(count));
    body.append(chunk);
    QByteArray segment;
    fx::segment(segment, 0xE2, body);
    return segment;
}

// `jpeg` with `icc` in APP2 segments of at most `chunk` bytes each, numbered `order` (1-based,
// as given; the segments follow in this order) out of `count` (the number of chunks when 0).
QByteArray withIcc(const QByteArray& jpeg, const QByteArray& icc, int chunk = 65519,
                   std::vector<int> order = {}, int count = 0) {
    std::vector<QByteArray> chunks;
    for (qsizetype at = 0; at < icc.size(); at += chunk)
        chunks.push_back(icc.mid(at, chunk));
    if (order.empty())
        for (size_t i = 0; i < chunks.size(); ++i)
            order.push_back(int(i) + 1);
    QByteArray segments;
    for (int number : order)
        segments +=
            iccSegment(number, count ? count : int(chunks.size()), chunks[size_t(number - 1)]);
    return fx::afterSoi(jpeg, segments);
}

struct Loaded {
    QImage image;
    QString warning;
};

Loaded load(const QTemporaryDir& dir, const QByteArray& bytes) {
    const QString path = dir.filePath("picture.jpg");
    test::writeFile(path, bytes);
    const QImage chartImage = chart();
    const LoadedPicture p = loadPicture(path, fx::fixedSize(chartImage.size()));
    EXPECT_TRUE(p.ok) << p.error.toStdString();
    return {p.image, p.warning};
}

// Restores the display to sRGB whatever a test set.
struct DisplayProfileGuard {
    ~DisplayProfileGuard() { setDisplayProfile({}); }
};

} // namespace

// A chart tagged Display P3 or Adobe RGB shows as lcms converts the numbers the JPEG codes,
// whether the profile comes in one segment or several, in order or not.
TEST(Colour, ConvertsAJpegsProfileAsLcmsDoes) {
    QTemporaryDir dir;
    const QByteArray jpeg = fx::encodeJpeg(chart(), 100);
    const QImage coded = load(dir, jpeg).image;
    const QByteArray p3Bytes = bytesOf(p3().get());
    const QByteArray adobeBytes = bytesOf(adobeRgb().get());
    const QByteArray lut = lutProfile();
    struct Case {
        const char* name;
        QByteArray icc;
        QByteArray file;
    };
    const Case cases[] = {
        {"Display P3", p3Bytes, withIcc(jpeg, p3Bytes)},
        {"Adobe RGB", adobeBytes, withIcc(jpeg, adobeBytes)},
        {"Adobe RGB in chunks of 100 bytes, backwards", adobeBytes,
         withIcc(jpeg, adobeBytes, 100,
                 [&] {
                     std::vector<int> order;
                     for (int n = int((adobeBytes.size() + 99) / 100); n >= 1; --n)
                         order.push_back(n);
                     return order;
                 }())},
        {"tables sampled from Display P3", lut, withIcc(jpeg, lut)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded shown = load(dir, c.file);
        EXPECT_TRUE(shown.warning.isEmpty()) << shown.warning.toStdString();
        const QImage expected = lcmsConverted(coded, c.icc);
        EXPECT_LE(worstDeltaE(shown.image, expected), 1.0);
        // Saturated colours move: the numbers mean colours outside sRGB.
        EXPECT_GT(worstDeltaE(shown.image, coded), 3.0);
    }
    // The table profile holds Display P3 to within the grid's error.
    EXPECT_LE(worstDeltaE(load(dir, withIcc(jpeg, lut)).image, load(dir, cases[0].file).image),
              5.0);
}

// sRGB pictures, tagged with lcms's profile or another program's, keep every bit, as do
// pictures that say nothing.
TEST(Colour, LeavesSrgbAndUntaggedPicturesBitForBit) {
    QTemporaryDir dir;
    const QByteArray jpeg = fx::encodeJpeg(test::patternImage(96, 64), 95);
    const QString path = dir.filePath("plain.jpg");
    test::writeFile(path, jpeg);
    const LoadedPicture plain = loadPicture(path, fx::fixedSize(QSize(96, 64)));
    ASSERT_TRUE(plain.ok);
    for (const QByteArray& icc : {bytesOf(srgb().get()), bytesOf(tabulatedSrgb().get())}) {
        test::writeFile(path, withIcc(jpeg, icc));
        const LoadedPicture tagged = loadPicture(path, fx::fixedSize(QSize(96, 64)));
        ASSERT_TRUE(tagged.ok);
        EXPECT_TRUE(tagged.warning.isEmpty()) << tagged.warning.toStdString();
        EXPECT_EQ(tagged.image, plain.image);
    }
}

// A profile that cannot be used shows the picture as its numbers are, and says why; one
// the picture's colours cannot take (CMYK, whose numbers the decoder turned into RGB) is
// passed over without a word.
TEST(Colour, ShowsPicturesWithUnusableProfilesUnconverted) {
    QTemporaryDir dir;
    const QByteArray jpeg = fx::encodeJpeg(chart(), 100);
    const QImage coded = load(dir, jpeg).image;
    const QByteArray good = bytesOf(p3().get());
    QByteArray garbage(3000, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 7919 % 251);
    const Profile cmyk(cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 300));
    QByteArray overLong;
    for (int i = 1; i <= 65; ++i)
        overLong += iccSegment(i, 65, QByteArray(65519, 'x'));
    struct Case {
        const char* name;
        QByteArray file;
        const char* warning; // nullptr: none
    };
    const Case cases[] = {
        {"truncated", withIcc(jpeg, good.left(good.size() / 2)), "colour profile is damaged"},
        {"garbage", withIcc(jpeg, garbage), "colour profile is damaged"},
        {"a chunk missing", withIcc(jpeg, good, 100, {1, 2, 4}), "colour profile is damaged"},
        {"a chunk twice", withIcc(jpeg, good, 100, {1, 2, 2, 3}, 3), "colour profile is damaged"},
        {"counts that disagree",
         fx::afterSoi(jpeg, iccSegment(1, 2, good.left(200)) + iccSegment(2, 3, good.mid(200))),
         "colour profile is damaged"},
        {"over 4 MB", fx::afterSoi(jpeg, overLong), "colour profile is damaged"},
        {"Lab", withIcc(jpeg, bytesOf(Profile(cmsCreateLab4Profile(nullptr)).get())),
         "not for RGB or grey pictures"},
        {"grey on a colour picture", withIcc(jpeg, bytesOf(grey().get())), "for grey pictures"},
        {"CMYK", withIcc(jpeg, bytesOf(cmyk.get())), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded shown = load(dir, c.file);
        EXPECT_EQ(shown.image, coded);
        if (!c.warning) {
            EXPECT_TRUE(shown.warning.isEmpty()) << shown.warning.toStdString();
            continue;
        }
        EXPECT_TRUE(shown.warning.contains("is shown with its colours unconverted"))
            << shown.warning.toStdString();
        EXPECT_TRUE(shown.warning.contains(c.warning)) << shown.warning.toStdString();
    }
}

// The JPEG walk puts a profile's chunks together whatever order they come in, holds them
// within the walk's budget, and leaves APP2 segments of other kinds, and profiles behind the
// first scan, alone.
TEST(Colour, JpegWalkGathersTheProfile) {
    const QByteArray jpeg = fx::encodeJpeg(chart(), 90);
    const QByteArray icc = bytesOf(adobeRgb().get());
    auto scan = [](const QByteArray& bytes, std::int64_t maxBytes = INT64_MAX) {
        QByteArray copy = bytes;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        JpegScanLimits limits;
        limits.maxBytes = maxBytes;
        QByteArray kept;
        return std::make_pair(scanJpeg(buffer, limits, &kept), kept);
    };
    QByteArray other;
    fx::segment(other, 0xE2, QByteArray("MPF\0II*\0", 8));
    const int third = int(icc.size() + 2) / 3;
    const auto [report, kept] = scan(withIcc(fx::afterSoi(jpeg, other), icc, third, {3, 1, 2}));
    EXPECT_EQ(report.iccProfile, icc);
    EXPECT_FALSE(report.iccDamaged);
    EXPECT_EQ(kept, jpeg) << "the profile's segments are not given to the decoder";

    // The profile counts in the bytes the walk may hold.
    const QByteArray big = withIcc(jpeg, QByteArray(600000, 'p'));
    EXPECT_FALSE(scan(big, 700000).first.tooLong);
    EXPECT_TRUE(scan(big, 500000).first.tooLong);

    // Behind the first scan the decoder has read its colours already.
    const qsizetype eoi = jpeg.size() - 2;
    const QByteArray late = iccSegment(1, 1, icc);
    const QByteArray behind = jpeg.left(eoi) + late + jpeg.mid(eoi);
    EXPECT_TRUE(scan(behind).first.iccProfile.isEmpty());
}

// Code points and PNG's colour chunks convert as the profiles they describe; sRGB ones are
// left alone, and HDR or unknown code points leave the colours with a word why.
TEST(Colour, ConvertsWhatCodePointsAndPngChunksDescribe) {
    const QImage image = chart();
    const QByteArray p3Bytes = bytesOf(p3().get());
    const cmsCIExyYTRIPLE kPngPrimaries{{0.65, 0.32, 1}, {0.28, 0.62, 1}, {0.14, 0.07, 1}};
    struct Case {
        const char* name;
        std::function<void(ColourDescription&)> describe;
        QByteArray profile; // what lcms converts from; empty: the picture is left as it is
        const char* warning = nullptr;
    };
    const Case cases[] = {
        {"CICP Display P3", [](auto& d) { d.cicpPrimaries = 12, d.cicpTransfer = 13; }, p3Bytes},
        {"CICP BT.2020", [](auto& d) { d.cicpPrimaries = 9, d.cicpTransfer = 14; },
         bytesOf(rgbProfile(kBt2020Primaries, rec709Curve()).get())},
        {"CICP BT.709", [](auto& d) { d.cicpPrimaries = 1, d.cicpTransfer = 1; },
         bytesOf(rgbProfile(kSrgbPrimaries, rec709Curve()).get())},
        {"CICP linear", [](auto& d) { d.cicpPrimaries = 1, d.cicpTransfer = 8; },
         bytesOf(rgbProfile(kSrgbPrimaries, cmsBuildGamma(nullptr, 1)).get())},
        {"CICP sRGB", [](auto& d) { d.cicpPrimaries = 1, d.cicpTransfer = 13; }, {}},
        {"CICP PQ",
         [](auto& d) { d.cicpPrimaries = 9, d.cicpTransfer = 16; },
         {},
         "high dynamic range (PQ)"},
        {"CICP unknown primaries",
         [](auto& d) { d.cicpPrimaries = 99, d.cicpTransfer = 13; },
         {},
         "primaries 99"},
        {"PNG gAMA 1/2.2", [](auto& d) { d.pngGamma = 1 / 2.2; },
         bytesOf(rgbProfile(kSrgbPrimaries, cmsBuildGamma(nullptr, 2.2)).get())},
        {"PNG sRGB over gAMA",
         [](auto& d) {
             d.pngSrgb = true;
             d.pngGamma = 1 / 1.8;
         },
         {}},
        {"PNG gAMA and cHRM",
         [&](auto& d) {
             d.pngGamma = 1 / 1.8;
             d.hasChromaticities = true;
             const double c[8] = {0.3127, 0.3290, 0.65, 0.32, 0.28, 0.62, 0.14, 0.07};
             std::copy(std::begin(c), std::end(c), d.chromaticities);
         },
         bytesOf(rgbProfile(kPngPrimaries, cmsBuildGamma(nullptr, 1.8)).get())},
        {"PNG iCCP over sRGB",
         [&](auto& d) {
             d.pngSrgb = true;
             d.iccProfile = p3Bytes;
         },
         p3Bytes},
        {"PNG gAMA below 0", [](auto& d) { d.pngGamma = -1; }, {}, "unusable gamma"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ColourDescription d;
        c.describe(d);
        QImage shown = image;
        QString warning;
        convertToDisplayColours(shown, d, warning);
        if (c.warning)
            EXPECT_TRUE(warning.contains(c.warning)) << warning.toStdString();
        else
            EXPECT_TRUE(warning.isEmpty()) << warning.toStdString();
        if (c.profile.isEmpty()) {
            EXPECT_EQ(shown, image);
            continue;
        }
        EXPECT_LE(worstDeltaE(shown, lcmsConverted(image, c.profile)), 1.0);
        EXPECT_GT(worstDeltaE(shown, image), 1.0);
    }
}

// A picture with transparency converts its colours, not its alpha, and not premultiplied
// numbers as if they were colours.
TEST(Colour, ConvertsTransparentPicturesUnpremultiplied) {
    QImage image(32, 1, QImage::Format_ARGB32);
    for (int x = 0; x < 32; ++x)
        image.setPixel(x, 0, qRgba(255 - x * 8, x * 8, 128, 64 + x * 6));
    const QByteArray p3Bytes = bytesOf(p3().get());
    ColourDescription d;
    d.iccProfile = p3Bytes;
    QImage shown = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QString warning;
    convertToDisplayColours(shown, d, warning);
    EXPECT_EQ(shown.format(), QImage::Format_ARGB32_Premultiplied);
    const QImage expected = lcmsConverted(image, p3Bytes);
    shown.convertTo(QImage::Format_ARGB32);
    for (int x = 0; x < 32; ++x) {
        const QRgb a = shown.pixel(x, 0);
        const QRgb b = expected.pixel(x, 0);
        EXPECT_EQ(qAlpha(a), qAlpha(image.pixel(x, 0)));
        EXPECT_NEAR(qRed(a), qRed(b), 5);
        EXPECT_NEAR(qGreen(a), qGreen(b), 5);
        EXPECT_NEAR(qBlue(a), qBlue(b), 5);
    }
}

// With a display profile of its own, pictures convert to it: an sRGB-tagged one as lcms
// says, a picture in the display's own colours not at all, an untagged one not at all. A
// profile the display cannot use leaves it taken as sRGB.
TEST(Colour, ConvertsToTheDisplaysProfile) {
    DisplayProfileGuard guard;
    const QImage image = chart();
    const QByteArray p3Bytes = bytesOf(p3().get());
    const QByteArray srgbBytes = bytesOf(srgb().get());
    auto convert = [&](const QByteArray& icc) {
        ColourDescription d;
        d.iccProfile = icc;
        QImage shown = image;
        QString warning;
        convertToDisplayColours(shown, d, warning);
        EXPECT_TRUE(warning.isEmpty()) << warning.toStdString();
        return shown;
    };
    const QImage beforeAsSrgb = convert(p3Bytes);
    setDisplayProfile(p3Bytes);
    EXPECT_TRUE(displayProfileProblem().isEmpty());
    const QImage toP3 = convert(srgbBytes);
    const QImage expected = lcmsConverted(image, srgbBytes, p3Bytes);
    EXPECT_EQ(toP3.size(), expected.size());
    EXPECT_LE(fx::meanDifference(toP3, expected), 0.05);
    EXPECT_GT(fx::meanDifference(toP3, image), 1.0);
    EXPECT_EQ(convert(p3Bytes), image) << "the display's own colours";
    QString warning;
    QImage untagged = image;
    convertToDisplayColours(untagged, ColourDescription{}, warning);
    EXPECT_EQ(untagged, image);

    for (const QByteArray& bad : {QByteArray("not a profile"), bytesOf(grey().get())}) {
        setDisplayProfile(bad);
        EXPECT_FALSE(displayProfileProblem().isEmpty());
        EXPECT_EQ(convert(p3Bytes), beforeAsSrgb);
    }
    setDisplayProfile({});
    EXPECT_EQ(convert(p3Bytes), beforeAsSrgb) << "the cache was dropped with the display";
}

// Pictures convert on several threads at once through more profiles than are kept ready,
// each as it does alone.
TEST(Colour, ConvertsOnManyThreadsAtOnce) {
    const QImage image = chart();
    std::vector<QByteArray> profiles;
    for (int i = 0; i < 24; ++i)
        profiles.push_back(
            bytesOf(rgbProfile(kP3Primaries, cmsBuildGamma(nullptr, 1.6 + i * 0.05)).get()));
    std::vector<QImage> alone;
    for (const QByteArray& icc : profiles)
        alone.push_back(lcmsConverted(image, icc));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (size_t i = 0; i < profiles.size(); ++i) {
                    const size_t k = (i * 7 + size_t(t) * 5 + size_t(round)) % profiles.size();
                    ColourDescription d;
                    d.iccProfile = profiles[k];
                    QImage shown = image;
                    QString warning;
                    convertToDisplayColours(shown, d, warning);
                    if (!warning.isEmpty() || fx::meanDifference(shown, alone[k]) > 0.05)
                        ++wrong[size_t(t)];
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// The display's profile is the _ICC_PROFILE property of the X root window, as colour
// daemons set it; nothing when it is not set or the program does not draw through X.
TEST(Colour, ReadsTheDisplayProfileFromTheRootWindow) {
    EXPECT_TRUE(readDisplayIccProfile().isEmpty()) << "offscreen draws through no X display";
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed";
    QProcess xvfb;
    // Without -noreset the server starts afresh whenever its last client leaves, properties
    // and all, refusing connections meanwhile.
    xvfb.start("Xvfb",
               {"-displayfd", "1", "-screen", "0", "64x64x24", "-nolisten", "tcp", "-noreset"});
    ASSERT_TRUE(xvfb.waitForStarted(10000));
    QByteArray number;
    while (!number.contains('\n') && xvfb.waitForReadyRead(20000))
        number += xvfb.readAllStandardOutput();
    ASSERT_TRUE(number.contains('\n')) << "Xvfb said no display number";
    const QByteArray display = ":" + number.trimmed();
    struct Stop {
        QProcess& p;
        ~Stop() {
            p.terminate();
            p.waitForFinished(10000);
        }
    } stop{xvfb};

    xcb_connection_t* xcb = xcb_connect(display.constData(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(xcb));
    EXPECT_TRUE(readX11IccProfile(display).isEmpty()) << "no profile set";
    const QByteArray icc = bytesOf(p3().get());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(xcb)).data->root;
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(xcb, xcb_intern_atom(xcb, 0, 12, "_ICC_PROFILE"), nullptr);
    ASSERT_TRUE(atom);
    xcb_change_property(xcb, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 8,
                        uint32_t(icc.size()), icc.constData());
    free(atom);
    // A round trip: the server has the property once it answers.
    free(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr));
    EXPECT_EQ(readX11IccProfile(display), icc);
    xcb_disconnect(xcb);
}
