// A 12-megapixel WebP shown on a 1920 x 1080 screen: loadPicture with the viewer's plan beside
// libwebp's own scaled decode of the same file to the same size (read from disk, decoded into
// BGRA, the floor), the two interleaved round by round in this one process. Lossy (a photo
// at quality 80) and lossless. Prints the median of the per-round ratios in CPU time (steady on
// a busy machine) and wall time.
//
//   webp_bench [--rounds N]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
#include <webp/decode.h>
#include <webp/encode.h>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "decode/pictureloader.h"
#include "layout/layout.h"

namespace {

using namespace tavlin;
using bench::timed;

// Ends the benchmark when a decode fails: its times would mean nothing.
void must(bool decoded) {
    if (!decoded) {
        std::fprintf(stderr, "a decode failed\n");
        std::exit(1);
    }
}
using bench::median;
using bench::planFor1080p;

constexpr QSize kScreen(1920, 1080);

bool ours(const QString& file) {
    const LoadedPicture picture = loadPicture(file, planFor1080p);
    return picture.ok && !picture.image.isNull();
}

// libwebp's plain decode at the shown size: the file read, scaled while decoding into BGRA.
bool floorDecode(const QString& file, QSize shown) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return false;
    config.options.use_scaling = 1;
    config.options.scaled_width = shown.width();
    config.options.scaled_height = shown.height();
    QImage image(shown, QImage::Format_RGB32);
    config.output.colorspace = MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = std::size_t(image.sizeInBytes());
    return WebPDecode(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      std::size_t(bytes.size()), &config) == VP8_STATUS_OK;
}

// Qt's WebP plug-in where it is installed, else libwebp's encoder: quality 80, or lossless at
// the fastest setting (the decode does the same work whatever the effort spent encoding).
bool writeWebP(const QString& path, const QImage& picture, bool lossless) {
    if (!lossless && QImageWriter::supportedImageFormats().contains("webp")) {
        QImageWriter writer(path, "webp");
        writer.setQuality(80);
        return writer.write(picture);
    }
    const QImage bgra = picture.convertToFormat(QImage::Format_ARGB32);
    WebPConfig config;
    WebPPicture input;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&input))
        return false;
    if (lossless)
        WebPConfigLosslessPreset(&config, 0);
    else
        config.quality = 80;
    input.use_argb = lossless;
    input.width = bgra.width();
    input.height = bgra.height();
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    input.writer = WebPMemoryWrite;
    input.custom_ptr = &writer;
    bool ok = WebPPictureImportBGRA(&input, bgra.constBits(), int(bgra.bytesPerLine())) &&
              WebPEncode(&config, &input);
    WebPPictureFree(&input);
    QFile out(path);
    ok = ok && out.open(QIODevice::WriteOnly) &&
         out.write(reinterpret_cast<const char*>(writer.mem), qint64(writer.size)) ==
             qint64(writer.size);
    WebPMemoryWriterClear(&writer);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = bench::roundsFrom(argc, argv, 11);

    QTemporaryDir dir;
    const QImage photo = bench::photoLikeImage(4000, 3000);
    struct Case {
        const char* name;
        QString file;
        bool lossless;
    };
    const Case cases[] = {
        {"12 MP lossy q80", dir.filePath("lossy.webp"), false},
        {"12 MP lossless", dir.filePath("lossless.webp"), true},
    };
    std::printf("12 MP WebP shown at %d x %d: loadPicture against libwebp's scaled decode, %d "
                "interleaved rounds\n",
                kScreen.width(), kScreen.height(), rounds);
    std::printf("%-18s %8s %9s %9s %9s %9s %9s %10s %10s\n", "case", "file MB", "ours ms",
                "floor ms", "ours cpu", "floor cpu", "shown at", "cpu ratio", "wall ratio");
    for (const Case& c : cases) {
        if (!writeWebP(c.file, photo, c.lossless)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(c.file));
            return 1;
        }
        const QSize shown = planFor1080p(photo.size()).scaledSize;
        // One of each first, so neither pays for a cold cache.
        timed([&] { must(ours(c.file)); });
        timed([&] { must(floorDecode(c.file, shown)); });
        const bench::Interleaved r = bench::interleaved(
            rounds, [&] { must(ours(c.file)); }, [&] { must(floorDecode(c.file, shown)); });
        const std::string at = std::to_string(shown.width()) + "x" + std::to_string(shown.height());
        std::printf("%-18s %8.1f %9.1f %9.1f %9.1f %9.1f %9s %10.3f %10.3f\n", c.name,
                    QFile(c.file).size() / 1048576.0, r.oursWall, r.floorWall, r.oursCpu,
                    r.floorCpu, at.c_str(), r.cpuRatio, r.wallRatio);
    }
    std::printf("(ratios: medians of the per-round ratios, ours over the floor)\n");
    return 0;
}
