// A 12-megapixel JPEG XL photo, lossy and lossless, shown on a 1920 x 1080 screen: the loader
// with the viewer's plan beside libjxl's plain full decode of the same file to an 8-bit RGBA
// buffer with the same thread runner (libjxl cannot decode smaller), the two interleaved round
// by round in this one process. Prints the median of the per-round ratios in CPU time and
// wall time, and the peak memory a load adds to a fresh process against what the reader
// counts for it.
//
//   jxl_bench [--rounds N] [--filter TEXT]
//   jxl_bench --memory     peak memory of loads of 1 to 24 megapixels, lossy and lossless
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "bench/benchfixtures.h"
#include "decode/decodesource.h"
#include "decode/pictureloader.h"
#include "decode/readers.h"
#include "layout/layout.h"
#include "tests/jxl_fixtures.h"

namespace {

using namespace tavlin;
using bench::median;
using bench::planFor1080p;

bool ours(const QString& file) {
    const LoadedPicture p = loadPicture(file, planFor1080p);
    if (!p.ok)
        std::fprintf(stderr, "%s\n", qPrintable(p.error));
    return p.ok;
}

// libjxl on its own: the file read whole, decoded to an 8-bit RGBA buffer of the full size.
bool floorDecode(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    JxlDecoderPtr dec = JxlDecoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    JxlDecoderSetParallelRunner(dec.get(), JxlThreadParallelRunner, runner.get());
    JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(dec.get(), reinterpret_cast<const uint8_t*>(bytes.constData()),
                       size_t(bytes.size()));
    JxlDecoderCloseInput(dec.get());
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<uint8_t> pixels;
    for (;;) {
        switch (JxlDecoderProcessInput(dec.get())) {
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t size = 0;
            JxlDecoderImageOutBufferSize(dec.get(), &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(dec.get(), &format, pixels.data(), size);
            continue;
        }
        case JXL_DEC_FULL_IMAGE:
            return true;
        default:
            return false;
        }
    }
}

// A file made once and kept in the temporary folder between runs: encoding 12 megapixels
// takes longer than the measuring.
QString picture(const char* name, QSize size, bool lossless) {
    const QString path = QDir::temp().filePath(QStringLiteral("jxl_bench_%1.jxl").arg(name));
    if (QFileInfo(path).size() > 0)
        return path;
    std::fprintf(stderr, "encoding %s\n", name);
    test::jxl::Recipe recipe;
    recipe.lossless = lossless;
    recipe.distance = 1.0f;
    recipe.effort = lossless ? 2 : 7;
    const QByteArray bytes =
        test::jxl::encode({bench::photoLikeImage(size.width(), size.height())}, recipe);
    QFile out(path);
    if (bytes.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        std::exit(1);
    return path;
}

// Peak resident memory of this process in KB (VmHWM).
long peakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// One load in this fresh process: prints the peak it added and what the reader counted.
int childMemory(const QString& file, bool floor) {
    // Qt's and libjxl's start-up, so the figure is the load's own.
    QImage warm(64, 64, QImage::Format_RGB32);
    warm.fill(0);
    const long before = peakKb();
    const bool ok = floor ? floorDecode(file) : ours(file);
    const long after = peakKb();
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    Source source;
    QString error;
    openJxl(file, f, {}, source, error);
    std::printf("%ld %lld\n", ok ? after - before : -1, (long long)(source.heldBytes >> 10));
    return ok ? 0 : 1;
}

void measureMemory(const QString& self) {
    std::printf("%-18s %10s %10s %10s %12s\n", "picture", "peak MB", "floor MB", "held MB",
                "peak B/px");
    const QSize sizes[] = {{1000, 1000}, {2000, 2000}, {4000, 3000}, {6000, 4000}};
    for (const bool lossless : {false, true}) {
        for (const QSize size : sizes) {
            const std::string name = std::string(lossless ? "lossless_" : "lossy_") +
                                     std::to_string(size.width() * size.height() / 1000000) + "mp";
            const QString file = picture(name.c_str(), size, lossless);
            auto run = [&](const char* mode) {
                QProcess p;
                p.start(self, {QString::fromLatin1(mode), file});
                p.waitForFinished(-1);
                const QList<QByteArray> figures = p.readAllStandardOutput().trimmed().split(' ');
                return figures.size() == 2
                           ? std::make_pair(figures[0].toLong(), figures[1].toLong())
                           : std::make_pair(-1L, -1L);
            };
            const auto ours = run("--child-ours");
            const auto floor = run("--child-floor");
            std::printf("%-18s %10.1f %10.1f %10.1f %12.1f\n", name.c_str(), ours.first / 1024.0,
                        floor.first / 1024.0, ours.second / 1024.0,
                        ours.first * 1024.0 / (size.width() * double(size.height())));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 &&
        (std::string(argv[1]) == "--child-ours" || std::string(argv[1]) == "--child-floor"))
        return childMemory(QString::fromLocal8Bit(argv[2]),
                           std::string(argv[1]) == "--child-floor");
    if (argc == 2 && std::string(argv[1]) == "--memory") {
        measureMemory(QCoreApplication::applicationFilePath());
        return 0;
    }
    int rounds = 11;
    std::string filter;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--filter")
            filter = argv[i + 1];
    }
    struct Case {
        const char* name;
        bool lossless;
    };
    std::printf("%-16s %9s %9s %9s %9s %10s %10s\n", "picture", "ours ms", "floor ms", "ours cpu",
                "floor cpu", "cpu ratio", "wall ratio");
    for (const Case c : {Case{"lossy_12mp", false}, Case{"lossless_12mp", true}}) {
        if (!filter.empty() && std::string(c.name).find(filter) == std::string::npos)
            continue;
        const QString file = picture(c.name, QSize(4000, 3000), c.lossless);
        if (!ours(file) || !floorDecode(file)) // warm the page cache and both code paths
            return 1;
        const bench::Interleaved r = bench::interleaved(
            rounds, [&] { ours(file); }, [&] { floorDecode(file); });
        std::printf("%-16s %9.1f %9.1f %9.1f %9.1f %10.3f %10.3f\n", c.name, r.oursWall,
                    r.floorWall, r.oursCpu, r.floorCpu, r.cpuRatio, r.wallRatio);
    }
    std::printf("(medians over %d rounds; ratios are medians of the per-round ratios; goal: "
                "at most 1.15)\n",
                rounds);
    return 0;
}
