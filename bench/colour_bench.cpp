// What colour management costs a 1920 x 1080 picture: converting its shown pixels from
// Display P3 to sRGB (the conversion built once and kept), beside decoding the JPEG it
// follows, and the sRGB-tagged and untagged paths, which should cost nothing.
//
//   colour_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "decode/colour.h"
#include "decode/pictureloader.h"

namespace {

using namespace tavlin;

constexpr QSize kPicture(1920, 1080);

QByteArray bytesOf(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

QByteArray displayP3() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const double params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const QByteArray bytes = bytesOf(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

const QImage& picture() {
    static const QImage image = bench::photoLikeImage(kPicture.width(), kPicture.height());
    return image;
}

void convertEach(benchmark::State& state, const ColourDescription& description) {
    QImage image = picture().copy();
    QString warning;
    convertToDisplayColours(image, description, warning); // builds and keeps the conversion
    for (auto _ : state) {
        // In place again and again: the colours drift, the work per pixel does not.
        convertToDisplayColours(image, description, warning);
        benchmark::DoNotOptimize(image.constBits());
    }
    if (!warning.isEmpty())
        state.SkipWithError(warning.toStdString().c_str());
}

void BM_ConvertDisplayP3(benchmark::State& state) {
    ColourDescription d;
    d.iccProfile = displayP3();
    convertEach(state, d);
}
BENCHMARK(BM_ConvertDisplayP3)->Unit(benchmark::kMillisecond);

void BM_ConvertSrgbTagged(benchmark::State& state) {
    ColourDescription d;
    d.iccProfile = bytesOf(cmsCreate_sRGBProfile());
    convertEach(state, d);
}
BENCHMARK(BM_ConvertSrgbTagged)->Unit(benchmark::kMicrosecond);

void BM_ConvertUntagged(benchmark::State& state) {
    convertEach(state, ColourDescription{});
}
BENCHMARK(BM_ConvertUntagged)->Unit(benchmark::kMicrosecond);

// The whole load of the JPEG at its own size, untagged and tagged Display P3: decode and
// conversion together.
void loadEach(benchmark::State& state, bool tagged) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.jpg");
    if (!bench::writeJpeg(path, picture(), 90, false)) {
        state.SkipWithError("cannot write the picture");
        return;
    }
    if (tagged) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        QByteArray jpeg = file.readAll();
        file.close();
        QByteArray body("ICC_PROFILE\0\1\1", 14);
        body += displayP3();
        QByteArray segment("\xFF\xE2", 2);
        segment.append(char((body.size() + 2) >> 8));
        segment.append(char((body.size() + 2) & 0xFF));
        jpeg.insert(2, segment + body);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(jpeg);
    }
    const DecodePlanner planner = [](QSize) { return DecodeRequest{kPicture, {}}; };
    for (auto _ : state) {
        const LoadedPicture p = loadPicture(path, planner);
        if (!p.ok || !p.warning.isEmpty()) {
            state.SkipWithError("the picture did not load cleanly");
            return;
        }
        benchmark::DoNotOptimize(p.image.constBits());
    }
}

void BM_LoadJpegUntagged(benchmark::State& state) {
    loadEach(state, false);
}
BENCHMARK(BM_LoadJpegUntagged)->Unit(benchmark::kMillisecond);

void BM_LoadJpegDisplayP3(benchmark::State& state) {
    loadEach(state, true);
}
BENCHMARK(BM_LoadJpegDisplayP3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
