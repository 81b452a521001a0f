// A 24-megapixel photo-like TIFF shown on a 1920 x 1080 screen, each layout beside libtiff's
// plain full decode of the same file (TIFFReadRGBAImageOriented into a picture-sized
// buffer), the two interleaved round by round in this one process. Prints, per layout, the
// median of the per-round ratios in CPU time (steady on a busy machine) and wall time.
//
//   tiff_bench [--rounds N]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tiffio.h>
#include <vector>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "decode/pictureloader.h"
#include "layout/layout.h"

namespace {

using namespace tavlin;
using bench::cpuNowMs;
using bench::planFor1080p;
using bench::timed;
using bench::Timing;

// Writes `image` as 8-bit RGB in strips of about 8 KB or 256 x 256 tiles.
bool writeTiff(const QString& path, const QImage& image, bool tiled, int compression) {
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif)
        return false;
    const auto w = std::uint32_t(image.width());
    const auto h = std::uint32_t(image.height());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_LZW)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    auto rgbRow = [&](std::uint32_t y, std::uint8_t* out) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(int(y)));
        for (std::uint32_t x = 0; x < w; ++x) {
            out[3 * x] = std::uint8_t(qRed(line[x]));
            out[3 * x + 1] = std::uint8_t(qGreen(line[x]));
            out[3 * x + 2] = std::uint8_t(qBlue(line[x]));
        }
    };
    bool ok = true;
    if (tiled) {
        const std::uint32_t t = 256;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, t);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, t);
        std::vector<std::uint8_t> row(size_t(w) * 3);
        std::vector<std::uint8_t> tile(size_t(t) * t * 3);
        for (std::uint32_t ty = 0; ty < h && ok; ty += t) {
            std::vector<std::uint8_t> band(size_t(t) * w * 3, 0);
            for (std::uint32_t y = ty; y < std::min(h, ty + t); ++y)
                rgbRow(y, band.data() + size_t(y - ty) * w * 3);
            for (std::uint32_t tx = 0; tx < w && ok; tx += t) {
                std::fill(tile.begin(), tile.end(), 0);
                const std::uint32_t cols = std::min(t, w - tx);
                for (std::uint32_t y = 0; y < t; ++y)
                    std::memcpy(tile.data() + size_t(y) * t * 3,
                                band.data() + (size_t(y) * w + tx) * 3, size_t(cols) * 3);
                ok = TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        std::vector<std::uint8_t> row(size_t(w) * 3);
        for (std::uint32_t y = 0; y < h && ok; ++y) {
            rgbRow(y, row.data());
            ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

bool oursOnce(const QString& path) {
    const LoadedPicture p = loadPicture(path, planFor1080p);
    if (!p.ok)
        std::fprintf(stderr, "%s\n", qPrintable(p.error));
    return p.ok;
}

bool floorOnce(const QString& path) {
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "r");
    if (!tif)
        return false;
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> raster(size_t(w) * h);
    const bool ok = TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 9;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    QTemporaryDir dir;
    const QImage photo = bench::photoLikeImage(6000, 4000);
    struct Case {
        const char* name;
        bool tiled;
        int compression;
    };
    const Case cases[] = {
        {"strips, uncompressed", false, COMPRESSION_NONE},
        {"strips, LZW", false, COMPRESSION_LZW},
        {"tiles, uncompressed", true, COMPRESSION_NONE},
        {"tiles, LZW", true, COMPRESSION_LZW},
    };
    std::printf("24 MP TIFF shown at 1080p, %d rounds; ratio = ours / libtiff's full decode\n",
                rounds);
    int status = 0;
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("photo.tif"));
        if (!writeTiff(path, photo, c.tiled, c.compression)) {
            std::fprintf(stderr, "could not write %s\n", c.name);
            return 1;
        }
        std::vector<double> cpuRatios;
        std::vector<double> wallRatios;
        std::vector<double> ours;
        std::vector<double> floor;
        oursOnce(path); // the file in the page cache for both
        for (int r = 0; r < rounds; ++r) {
            bool ok = true;
            const Timing o = timed([&] { ok = oursOnce(path) && ok; });
            const Timing f = timed([&] { ok = floorOnce(path) && ok; });
            if (!ok) {
                status = 1;
                break;
            }
            cpuRatios.push_back(o.cpuMs / f.cpuMs);
            wallRatios.push_back(o.wallMs / f.wallMs);
            ours.push_back(o.wallMs);
            floor.push_back(f.wallMs);
        }
        std::printf("%-22s ours %6.1f ms  libtiff %6.1f ms  ratio cpu %.2f  wall %.2f\n", c.name,
                    bench::median(ours), bench::median(floor), bench::median(cpuRatios),
                    bench::median(wallRatios));
        QFile::remove(path);
    }
    return status;
}
