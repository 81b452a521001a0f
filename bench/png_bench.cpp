// A 24-megapixel photo-like PNG shown on a 1920 x 1080 screen: loadPicture with the viewer's
// plan (read row by row, box-reduced as the rows come, colours and cut after) beside libpng's
// simplified API decoding the same file whole to BGRA, the two interleaved round by round in
// this one process. Prints each round's figures and the median of the per-round ratios in
// CPU time (steady on a busy machine) and wall time.
//
//   png_bench [--rounds N] [--file PNG]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <png.h>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QImageWriter>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "decode/pictureloader.h"
#include "layout/layout.h"

namespace {

using namespace tavlin;
using bench::cpuNowMs;
using bench::median;
using bench::planFor1080p;
using bench::timed;
using bench::Timing;

// The floor: libpng's simplified API, the whole picture to BGRA at its own size, into a buffer
// kept from one round to the next (the fastest it goes: no fresh pages to fault in).
bool floorDecode(const std::string& file, std::vector<png_byte>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str()))
        return false;
    image.format = PNG_FORMAT_BGRA;
    pixels.resize(PNG_IMAGE_SIZE(image));
    const bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

bool ours(const QString& file, QSize& shown) {
    const LoadedPicture p = loadPicture(file, planFor1080p);
    shown = p.image.size();
    return p.ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 11;
    QString file;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--file") == 0)
            file = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir dir;
    if (file.isEmpty()) {
        file = dir.filePath("photo-24mp.png");
        std::printf("writing a 6000 x 4000 photo-like PNG...\n");
        std::fflush(stdout);
        QImageWriter writer(file, "png");
        if (!writer.write(bench::photoLikeImage(6000, 4000))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    const std::string path = file.toStdString();
    std::printf("%s: %lld bytes\n", path.c_str(), (long long)QFileInfo(file).size());

    std::vector<png_byte> pixels;
    std::vector<double> cpuRatios;
    std::vector<double> wallRatios;
    std::vector<double> oursCpu;
    std::vector<double> floorCpu;
    QSize shown;
    // One of each first, so neither pays for the first touch of the file and the allocator.
    if (!ours(file, shown) || !floorDecode(path, pixels)) {
        std::fprintf(stderr, "the picture does not decode\n");
        return 1;
    }
    std::printf("shown at %d x %d\n", shown.width(), shown.height());
    for (int round = 0; round < rounds; ++round) {
        bool ok = true;
        const Timing a = timed([&] { ok = ours(file, shown) && ok; });
        const Timing b = timed([&] { ok = floorDecode(path, pixels) && ok; });
        if (!ok)
            return 1;
        cpuRatios.push_back(a.cpuMs / b.cpuMs);
        wallRatios.push_back(a.wallMs / b.wallMs);
        oursCpu.push_back(a.cpuMs);
        floorCpu.push_back(b.cpuMs);
        std::printf("round %2d: ours %7.1f ms cpu %7.1f ms wall | libpng %7.1f ms cpu %7.1f ms "
                    "wall\n",
                    round + 1, a.cpuMs, a.wallMs, b.cpuMs, b.wallMs);
    }
    std::printf("median: ours %.1f ms cpu, libpng simplified API %.1f ms cpu\n", median(oursCpu),
                median(floorCpu));
    std::printf("median ratio ours / floor: %.3f cpu, %.3f wall (goal <= 1.15)\n",
                median(cpuRatios), median(wallRatios));
    return 0;
}
