#include "decode/colour.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <lcms2.h>
#include <list>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <QHashFunctions>
#include <QtEndian>

namespace tavlin {

namespace {

// Conversions kept ready: one per profile met lately. A folder's pictures mostly share a few.
constexpr int kCachedConversions = 16;

// What lcms has to say goes nowhere: a profile it refuses is told by what the caller
// returns, once, in the program's own words. Called from any thread, so it touches nothing.
void quietErrors(cmsContext, cmsUInt32Number, const char*) {}

// One lcms context for every thread: transforms built in it may run on any thread at once.
cmsContext lcms() {
    static const cmsContext context = [] {
        cmsSetLogErrorHandler(quietErrors);
        const cmsContext c = cmsCreateContext(nullptr, nullptr);
        cmsSetLogErrorHandlerTHR(c, quietErrors);
        return c;
    }();
    return context;
}

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct CurveFreer {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFreer>;

// QImage::Format_RGB32 and Format_ARGB32 hold one 32-bit word a pixel, 0xAARRGGBB.
constexpr cmsUInt32Number kPixelType = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TYPE_BGRA_8 : TYPE_ARGB_8;

// Where the colours of a picture come from, after the rules of which part of a description
// wins: an ICC profile, then code points, then PNG's sRGB chunk, then its gAMA and cHRM.
enum class Kind { Srgb, Icc, Cicp, PngGamma };

struct SourceKey {
    Kind kind = Kind::Srgb;
    QByteArray icc;
    size_t iccHash = 0;
    int primaries = 0;
    int transfer = 0;
    double gamma = 0;
    bool hasChromaticities = false;
    std::array<double, 8> chromaticities{};

    bool operator==(const SourceKey& o) const {
        return kind == o.kind && iccHash == o.iccHash && primaries == o.primaries &&
               transfer == o.transfer && gamma == o.gamma &&
               hasChromaticities == o.hasChromaticities && chromaticities == o.chromaticities &&
               icc == o.icc;
    }
};

SourceKey keyOf(const ColourDescription& d) {
    SourceKey key;
    if (!d.iccProfile.isEmpty()) {
        key.kind = Kind::Icc;
        key.icc = d.iccProfile;
        key.iccHash = qHash(d.iccProfile, size_t(d.iccProfile.size()));
        return key;
    }
    if (d.cicpPrimaries != 0 || d.cicpTransfer != 0) {
        // Code point 2 is "unspecified": what a picture without code points is taken as.
        key.primaries = d.cicpPrimaries == 0 || d.cicpPrimaries == 2 ? 1 : d.cicpPrimaries;
        key.transfer = d.cicpTransfer == 0 || d.cicpTransfer == 2 ? 13 : d.cicpTransfer;
        key.kind = key.primaries == 1 && key.transfer == 13 ? Kind::Srgb : Kind::Cicp;
        return key;
    }
    if (d.pngSrgb)
        return key;
    key.kind = Kind::PngGamma;
    key.gamma = d.pngGamma;
    key.hasChromaticities = d.hasChromaticities;
    if (d.hasChromaticities)
        std::copy(std::begin(d.chromaticities), std::end(d.chromaticities),
                  key.chromaticities.begin());
    return key;
}

// A source's way to the display's colours.
struct Conversion {
    // Null when the colours are the display's already, or when there is a problem.
    cmsHTRANSFORM transform = nullptr;
    // A grey profile converts through a table of its 256 levels.
    bool grey = false;
    std::array<QRgb, 256> greyTable{};
    // Why the colours stay as they are; empty when they need no conversion or have one.
    QString problem;

    Conversion() = default;
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    ~Conversion() {
        if (transform)
            cmsDeleteTransform(transform);
    }
};

std::shared_ptr<const Conversion> failure(const QString& problem) {
    auto c = std::make_shared<Conversion>();
    c->problem = problem;
    return c;
}

// The primaries and white point of ITU-T H.273's colour primaries code points, as x, y.
struct Primaries {
    int code;
    cmsCIExyY white;
    cmsCIExyYTRIPLE rgb;
};

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};

const Primaries kPrimaries[] = {
    {1, kD65, {{0.640, 0.330, 1}, {0.300, 0.600, 1}, {0.150, 0.060, 1}}},        // BT.709
    {4, {0.310, 0.316, 1}, {{0.67, 0.33, 1}, {0.21, 0.71, 1}, {0.14, 0.08, 1}}}, // BT.470 M
    {5, kD65, {{0.640, 0.330, 1}, {0.290, 0.600, 1}, {0.150, 0.060, 1}}},        // BT.601 625
    {6, kD65, {{0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}}},        // BT.601 525
    {7, kD65, {{0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}}},        // SMPTE 240M
    {9, kD65, {{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}}},        // BT.2020
    {11, {0.314, 0.351, 1}, {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}}, // DCI-P3
    {12, kD65, {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}}, // Display P3
    {22, kD65, {{0.630, 0.340, 1}, {0.295, 0.605, 1}, {0.155, 0.077, 1}}}, // EBU 3213
};

// lcms's parametric curve 4: Y = (aX + b)^g from X = d on, cX below.
Curve parametricCurve(double g, double a, double b, double c, double d) {
    const cmsFloat64Number params[5] = {g, a, b, c, d};
    return Curve(cmsBuildParametricToneCurve(lcms(), 4, params));
}

Curve srgbCurve() {
    return parametricCurve(2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045);
}

// The tone curve of an H.273 transfer code point, null for those that are not converted.
Curve cicpCurve(int transfer) {
    switch (transfer) {
    case 1:  // BT.709
    case 6:  // BT.601
    case 14: // BT.2020, 10 bits
    case 15: // BT.2020, 12 bits
        return parametricCurve(1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081);
    case 4:
        return Curve(cmsBuildGamma(lcms(), 2.2));
    case 5:
        return Curve(cmsBuildGamma(lcms(), 2.8));
    case 8:
        return Curve(cmsBuildGamma(lcms(), 1.0));
    case 13:
        return srgbCurve();
    default:
        return nullptr;
    }
}

Profile rgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    return Profile(cmsCreateRGBProfileTHR(lcms(), &white, &primaries, curves));
}

// The source's profile, or null with the reason in `problem` (empty when the colours are to
// be left alone without a word).
Profile sourceProfile(const SourceKey& key, bool& grey, QString& problem) {
    switch (key.kind) {
    case Kind::Srgb:
        return Profile(cmsCreate_sRGBProfileTHR(lcms()));
    case Kind::Icc: {
        // lcms reads a profile cut short as far as it goes; its header says how long it is.
        const bool whole = key.icc.size() >= 128 &&
                           qFromBigEndian<quint32>(key.icc.constData()) <= quint64(key.icc.size());
        Profile profile;
        if (whole)
            profile.reset(cmsOpenProfileFromMemTHR(lcms(), key.icc.constData(),
                                                   cmsUInt32Number(key.icc.size())));
        if (!profile) {
            problem = QStringLiteral("its colour profile is damaged");
            return nullptr;
        }
        const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
        // The JPEG reader turns CMYK into RGB before the colours get here, so a CMYK
        // profile has nothing left to apply to.
        if (space == cmsSigCmykData)
            return nullptr;
        grey = space == cmsSigGrayData;
        if (space != cmsSigRgbData && !grey) {
            problem = QStringLiteral("its colour profile is not for RGB or grey pictures");
            return nullptr;
        }
        return profile;
    }
    case Kind::Cicp: {
        const auto* p = std::find_if(std::begin(kPrimaries), std::end(kPrimaries),
                                     [&](const Primaries& q) { return q.code == key.primaries; });
        if (key.transfer == 16 || key.transfer == 18) {
            problem = QStringLiteral("it is coded for high dynamic range (%1), which is not "
                                     "converted")
                          .arg(key.transfer == 16 ? QStringLiteral("PQ") : QStringLiteral("HLG"));
            return nullptr;
        }
        const Curve curve = cicpCurve(key.transfer);
        if (p == std::end(kPrimaries) || !curve) {
            problem = QStringLiteral("its colour code points (primaries %1, transfer %2) are "
                                     "not known")
                          .arg(key.primaries)
                          .arg(key.transfer);
            return nullptr;
        }
        return rgbProfile(p->white, p->rgb, curve.get());
    }
    case Kind::PngGamma: {
        Curve curve;
        if (key.gamma != 0) {
            // gAMA gives the exponent that coded the light; decoding raises to its inverse.
            const double exponent = 1 / key.gamma;
            if (!std::isfinite(exponent) || exponent < 0.1 || exponent > 10) {
                problem =
                    QStringLiteral("its gAMA chunk gives an unusable gamma of %1").arg(key.gamma);
                return nullptr;
            }
            curve.reset(cmsBuildGamma(lcms(), exponent));
        } else {
            curve = srgbCurve();
        }
        cmsCIExyY white = kD65;
        cmsCIExyYTRIPLE primaries = kPrimaries[0].rgb;
        if (key.hasChromaticities) {
            const auto& c = key.chromaticities;
            for (double v : c) {
                if (!(v >= 0 && v <= 1)) {
                    problem = QStringLiteral("its cHRM chunk gives unusable chromaticities");
                    return nullptr;
                }
            }
            white = {c[0], c[1], 1};
            primaries = {{c[2], c[3], 1}, {c[4], c[5], 1}, {c[6], c[7], 1}};
        }
        Profile profile;
        if (white.y > 0 && primaries.Red.y > 0 && primaries.Green.y > 0 && primaries.Blue.y > 0)
            profile = rgbProfile(white, primaries, curve.get());
        if (!profile)
            problem = QStringLiteral("its cHRM chunk gives unusable chromaticities");
        return profile;
    }
    }
    return nullptr;
}

// Whether a transform leaves every colour as it was, give or take the last bit of rounding:
// tried on each channel's every level and a grid of all colours.
bool keepsColours(cmsHTRANSFORM transform) {
    std::vector<QRgb> colours;
    for (int v = 0; v < 256; ++v) {
        colours.push_back(qRgb(v, v, v));
        colours.push_back(qRgb(v, 0, 0));
        colours.push_back(qRgb(0, v, 0));
        colours.push_back(qRgb(0, 0, v));
    }
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15)
                colours.push_back(qRgb(r, g, b));
    std::vector<QRgb> out(colours.size());
    cmsDoTransform(transform, colours.data(), out.data(), cmsUInt32Number(colours.size()));
    for (size_t i = 0; i < colours.size(); ++i) {
        if (std::abs(qRed(colours[i]) - qRed(out[i])) > 1 ||
            std::abs(qGreen(colours[i]) - qGreen(out[i])) > 1 ||
            std::abs(qBlue(colours[i]) - qBlue(out[i])) > 1)
            return false;
    }
    return true;
}

Profile displayProfileOf(const QByteArray& icc) {
    if (icc.isEmpty())
        return Profile(cmsCreate_sRGBProfileTHR(lcms()));
    return Profile(cmsOpenProfileFromMemTHR(lcms(), icc.constData(), cmsUInt32Number(icc.size())));
}

// Perceptual where the profiles have it, else what they have. An alpha byte goes through as
// it is.
cmsHTRANSFORM buildTransform(cmsHPROFILE from, cmsUInt32Number fromType, cmsHPROFILE to) {
    const cmsUInt32Number intent =
        cmsIsIntentSupported(from, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT) &&
                cmsIsIntentSupported(to, INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT)
            ? INTENT_PERCEPTUAL
            : INTENT_RELATIVE_COLORIMETRIC;
    return cmsCreateTransformTHR(lcms(), from, fromType, to, kPixelType, intent,
                                 T_EXTRA(fromType) == T_EXTRA(kPixelType) ? cmsFLAGS_COPY_ALPHA
                                                                          : 0);
}

std::shared_ptr<const Conversion> buildConversion(const SourceKey& key, const QByteArray& display) {
    bool grey = false;
    QString problem;
    const Profile from = sourceProfile(key, grey, problem);
    if (!from)
        return failure(problem);
    Profile to = displayProfileOf(display);
    if (!to)
        to.reset(cmsCreate_sRGBProfileTHR(lcms()));
    auto c = std::make_shared<Conversion>();
    if (grey) {
        cmsHTRANSFORM transform = buildTransform(from.get(), TYPE_GRAY_8, to.get());
        if (!transform)
            return failure(QStringLiteral("its colour profile cannot be used"));
        std::array<std::uint8_t, 256> levels;
        for (int v = 0; v < 256; ++v)
            levels[size_t(v)] = std::uint8_t(v);
        cmsDoTransform(transform, levels.data(), c->greyTable.data(), 256);
        cmsDeleteTransform(transform);
        bool same = true;
        for (int v = 0; v < 256; ++v) {
            const QRgb o = c->greyTable[size_t(v)];
            same = same && std::abs(qRed(o) - v) <= 1 && std::abs(qGreen(o) - v) <= 1 &&
                   std::abs(qBlue(o) - v) <= 1;
        }
        c->grey = !same;
        return c;
    }
    c->transform = buildTransform(from.get(), kPixelType, to.get());
    if (!c->transform)
        return failure(QStringLiteral("its colour profile cannot be used"));
    if (keepsColours(c->transform)) {
        cmsDeleteTransform(c->transform);
        c->transform = nullptr;
    }
    return c;
}

// Conversions from the profiles met lately to the display's, most recently used first. A new
// display profile empties it; a conversion built for the old one meanwhile is not kept.
struct Cache {
    std::mutex mutex;
    QByteArray display;
    QString displayProblem;
    std::uint64_t generation = 0;
    std::list<std::pair<SourceKey, std::shared_ptr<const Conversion>>> entries;
};

Cache& cache() {
    static Cache c;
    return c;
}

// The display is plain sRGB: sRGB pictures, tagged or not, need no look at all.
std::atomic<bool> displayIsSrgb{true};

std::shared_ptr<const Conversion> conversionFor(const SourceKey& key) {
    Cache& c = cache();
    QByteArray display;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(c.mutex);
        for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
            if (it->first == key) {
                c.entries.splice(c.entries.begin(), c.entries, it);
                return it->second;
            }
        }
        display = c.display;
        generation = c.generation;
    }
    // Built outside the lock: other pictures convert meanwhile.
    std::shared_ptr<const Conversion> built = buildConversion(key, display);
    std::lock_guard lock(c.mutex);
    if (generation != c.generation)
        return built;
    for (const auto& entry : c.entries) {
        if (entry.first == key)
            return entry.second; // built meanwhile on another thread
    }
    c.entries.emplace_front(key, built);
    if (c.entries.size() > size_t(kCachedConversions))
        c.entries.pop_back();
    return built;
}

bool isGrey(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))
                return false;
        }
    }
    return true;
}

void applyGrey(QImage& image, const std::array<QRgb, 256>& table) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = (table[size_t(qGreen(row[x]))] & 0x00FFFFFFu) | (row[x] & 0xFF000000u);
    }
}

} // namespace

void setDisplayProfile(const QByteArray& iccProfile) {
    QString problem;
    if (!iccProfile.isEmpty()) {
        const Profile profile = displayProfileOf(iccProfile);
        if (!profile)
            problem = QStringLiteral("the display's colour profile is damaged");
        else if (cmsGetColorSpace(profile.get()) != cmsSigRgbData)
            problem = QStringLiteral("the display's colour profile is not for RGB colours");
        else if (!cmsIsIntentSupported(profile.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT) &&
                 !cmsIsIntentSupported(profile.get(), INTENT_RELATIVE_COLORIMETRIC,
                                       LCMS_USED_AS_OUTPUT))
            problem = QStringLiteral("the display's colour profile cannot take colours in");
    }
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    c.display = problem.isEmpty() ? iccProfile : QByteArray();
    c.displayProblem = problem;
    ++c.generation;
    c.entries.clear();
    displayIsSrgb = c.display.isEmpty();
}

QByteArray displayProfile() {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    return c.display;
}

QString displayProfileProblem() {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    return c.displayProblem;
}

void convertToDisplayColours(QImage& image, const ColourDescription& source, QString& warning) {
    if (source.isEmpty() || image.isNull())
        return;
    if (!source.problem.isEmpty()) {
        warning = source.problem;
        return;
    }
    const SourceKey key = keyOf(source);
    if (key.kind == Kind::Srgb && displayIsSrgb)
        return;
    const std::shared_ptr<const Conversion> conversion = conversionFor(key);
    if (!conversion->problem.isEmpty()) {
        warning = conversion->problem;
        return;
    }
    if (!conversion->transform && !conversion->grey)
        return;
    if (image.depth() != 32)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_RGB32);

    // Premultiplied or not, a grey pixel has equal colour channels.
    if (conversion->grey && !isGrey(image)) {
        warning = QStringLiteral("its colour profile is for grey pictures");
        return;
    }
    // Colours convert unpremultiplied; an opaque picture is that already.
    const QImage::Format format = image.format();
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format working = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (format != working)
        image.convertTo(working);
    if (conversion->grey) {
        applyGrey(image, conversion->greyTable);
    } else {
        uchar* bits = image.bits();
        cmsDoTransformLineStride(conversion->transform, bits, bits, cmsUInt32Number(image.width()),
                                 cmsUInt32Number(image.height()),
                                 cmsUInt32Number(image.bytesPerLine()),
                                 cmsUInt32Number(image.bytesPerLine()), 0, 0);
    }
    if (format != working)
        image.convertTo(format);
}

} // namespace tavlin
