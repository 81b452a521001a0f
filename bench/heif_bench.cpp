// A 12-megapixel HEIC (coded whole, and as a phone's grid of tiles) and AVIF shown on a 1920 x
// 1080 screen: the loader's whole load (read, decode, resample to the fitted size, flatten) beside
// the floor, libheif decoding the same file from disk to interleaved 8-bit RGB, the least any
// viewer of it must do since libheif decodes only whole. The two run in turns in this one
// process; prints the median of the per-round ratios in CPU time (steady on a busy machine) and
// wall time.
//
//   heif_bench [--rounds N]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <libheif/heif.h>
#include <string>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "bench/heifgrid.h"
#include "decode/pictureloader.h"
#include "layout/layout.h"

namespace {

using namespace tavlin;
using bench::median;
using bench::planFor1080p;

bool check(const heif_error& e, const char* what) {
    if (e.code == heif_error_Ok)
        return true;
    std::fprintf(stderr, "%s: %s\n", what, e.message);
    return false;
}

// Encodes `image` with libheif's encoder for `format` at its default settings.
bool encode(const QImage& source, heif_compression_format format, const QString& path) {
    heif_image* picture = bench::heifPicture(source);
    if (!picture) {
        std::fprintf(stderr, "libheif could not make the picture to encode\n");
        return false;
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    bool ok =
        check(heif_context_get_encoder_for_format(context, format, &encoder),
              "finding an encoder") &&
        check(heif_context_encode_image(context, picture, encoder, nullptr, nullptr), "encoding") &&
        check(heif_context_write_to_file(context, QFile::encodeName(path).constData()), "writing");
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(picture);
    return ok;
}

// The floor: the file read from disk, libheif's decode of its primary picture to 8-bit RGB.
void floorDecode(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        std::abort();
    const QByteArray bytes = file.readAll();
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (!check(heif_context_read_from_memory_without_copy(context, bytes.constData(),
                                                          size_t(bytes.size()), nullptr),
               "reading") ||
        !check(heif_context_get_primary_image_handle(context, &handle), "the primary picture") ||
        !check(heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                                 nullptr),
               "decoding"))
        std::abort();
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
}

void ours(const QString& path) {
    const LoadedPicture picture = loadPicture(path, planFor1080p);
    if (!picture.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(picture.error));
        std::abort();
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = bench::roundsFrom(argc, argv, 11);

    QTemporaryDir dir;
    const QImage photo = bench::photoLikeImage(4000, 3000);
    struct Case {
        const char* name;
        heif_compression_format format;
        QString path;
    };
    // The grid is laid out as phones write their HEICs: tiles of 512 x 512, decoded by libheif
    // on threads of its own.
    std::vector<Case> cases{
        {"HEIC x265 12 MP", heif_compression_HEVC, dir.filePath("photo.heic")},
        {"HEIC grid 12 MP", heif_compression_undefined, dir.filePath("grid.heic")},
        {"AVIF aom 12 MP", heif_compression_AV1, dir.filePath("photo.avif")}};
    std::printf("%-18s %10s %10s %10s %10s %10s %10s\n", "case", "ours ms", "floor ms", "ours cpu",
                "floor cpu", "cpu ratio", "wall ratio");
    for (Case& c : cases) {
        if (c.format == heif_compression_undefined) {
            const QByteArray grid = bench::heifGrid(photo, 512, 50);
            QFile out(c.path);
            if (grid.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(grid) != grid.size())
                return 1;
        } else if (!encode(photo, c.format, c.path)) {
            return 1;
        }
        ours(c.path); // once each first, so the file is cached and the libraries loaded
        floorDecode(c.path);
        const bench::Interleaved r = bench::interleaved(
            rounds, [&] { ours(c.path); }, [&] { floorDecode(c.path); });
        std::printf("%-18s %10.1f %10.1f %10.1f %10.1f %10.3f %10.3f\n", c.name, r.oursWall,
                    r.floorWall, r.oursCpu, r.floorCpu, r.cpuRatio, r.wallRatio);
    }
    std::printf("(%d interleaved rounds, medians; goal: ratios at most 1.15)\n", rounds);
    return 0;
}
