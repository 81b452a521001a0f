// Walking a folder of 30 photos (24 MP JPEGs, or 24 MP PNGs, 12 MP HEICs or 12 MP WebPs) in
// the real window at 1920 x 1080: the time from
// a step to its picture being on the window, the share of steps served by the prefetch, the
// longest time the window's event loop was blocked, and the peak memory of the process.
// Each case runs in a fresh process (its peak memory is its own), with prefetching and
// without it (the reference) interleaved, repeated; medians are reported.
//
//   walk_bench [--repeats N] [--steps N] [--only NAME] [--format jpeg|png|heic|webp]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "app/commandline.h"
#include "app/startup.h"
#include "bench/benchfixtures.h"
#include "bench/heifgrid.h"
#include "decode/picturedecoder.h"
#include "platform/platform.h"
#include "registry/settings.h"
#include "support/windowdriver.h"
#include "viewer/keymap.h"
#include "viewer/tavlin.h"

namespace {

using namespace tavlin;
using bench::median;
using bench::percentile;
using Clock = std::chrono::steady_clock;

constexpr int PictureCount = 30;
constexpr QSize Screen(1920, 1080);

struct Case {
    const char* name;
    int paceMs;
    enum Kind { Forward, Backward, Slideshow, Screensaver } kind;
};
const Case Cases[] = {
    {"person_forward", 500, Case::Forward},   {"person_backward", 500, Case::Backward},
    {"slideshow", 500, Case::Slideshow},      {"screensaver", 500, Case::Screensaver},
    {"keyrepeat_forward", 30, Case::Forward}, {"keyrepeat_backward", 30, Case::Backward},
};

// Beeps and cursor changes cost nothing here.
class SilentPlatform : public Platform {
public:
    void beep() override {}
    void playSlideSound() override {}
    void setCursorVisible(bool) override {}
};

// The pictures of one walk: 30 different camera-like pictures of one format, made once and
// kept for later runs. JPEG and PNG at 24 MP, HEIC and WebP at 12 MP. The HEICs are laid out
// as phones write them, a grid of 512 x 512 tiles coded by x265, about 2.4 MB each; the WebPs
// are encoded by ImageMagick from a PNG.
struct PictureKind {
    const char* format;
    QSize size;
};
const PictureKind Kinds[] = {
    {"jpeg", {6000, 4000}}, {"png", {6000, 4000}}, {"heic", {4000, 3000}}, {"webp", {4000, 3000}}};

QString pictureFolder(const PictureKind& kind) {
    const QString format = QString::fromLatin1(kind.format);
    const QString folder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
            .filePath(format == "jpeg"   ? QStringLiteral("tavlin-walk-bench")
                      : format == "heic" ? QStringLiteral("tavlin-walk-bench-heic-grid")
                                         : QStringLiteral("tavlin-walk-bench-") + format);
    QDir().mkpath(folder);
    const QString ending = format == "jpeg" ? QStringLiteral("jpg") : format;
    QImage base;
    for (int i = 0; i < PictureCount; ++i) {
        const QString file =
            QDir(folder).filePath(QString("walk%1.%2").arg(i, 2, 10, QChar('0')).arg(ending));
        if (QFileInfo(file).size() > 0)
            continue;
        if (base.isNull()) {
            std::fprintf(stderr, "making the pictures in %s (once)\n", qPrintable(folder));
            base = bench::photoLikeImage(kind.size.width(), kind.size.height());
        }
        QImage image = base;
        QPainter p(&image);
        p.setBrush(QColor::fromHsv(i * 12, 200, 220));
        const int unit = kind.size.width() / 6000.0 * 160;
        p.drawEllipse(QPoint(unit * (4 + i), unit * (6 + (i % 5) * 3)), unit * 6, unit * 4);
        p.end();
        const QString part = file + ".part";
        bool written = false;
        if (format == "jpeg") {
            written = bench::writeJpeg(part, image, 90, false);
        } else if (format == "png") {
            written = image.save(part, "png");
        } else if (format == "heic") {
            const QByteArray grid = bench::heifGrid(image, 512, 50);
            QFile out(part);
            written =
                !grid.isEmpty() && out.open(QIODevice::WriteOnly) && out.write(grid) == grid.size();
        } else {
            const QString source = file + ".source.png";
            written =
                image.save(source, "png", 100) &&
                QProcess::execute("convert", {source, "-quality", "85", format + ":" + part}) == 0;
            QFile::remove(source);
        }
        if (!written || !QFile::rename(part, file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            std::exit(1);
        }
    }
    return folder;
}

// One case in this process; prints one line of figures.
int runCase(const Case& c, bool prefetch, const QString& folder, int steps) {
    SilentPlatform platform;
    TavlinOptions options;
    options.platform = &platform;
    options.showSplash = false;
    options.screenPixels = Screen;
    options.twipsPerPixel = 15;
    options.devicePixelRatio = 1;
    options.prefetch = prefetch;
    options.exitProcess = [] {};
    auto generator = std::make_shared<std::mt19937>(7);
    options.random = [generator] {
        return std::uniform_real_distribution<double>(0, 1)(*generator);
    };
    Tavlin w(options);
    const bool saver = c.kind == Case::Screensaver;
    startUp(w, parseCommandLine({saver ? QStringLiteral("/s") : folder}));
    w.show();
    test::WindowDriver d(w);
    if (!saver && d.shown(test::Part::Panel)) {
        d.setControlsShown(true);
        d.toggleControls(); // full-screen viewing: the window gets the keys
    }
    d.setSlideshowIntervalMs(3600 * 1000); // the benchmark ticks the slideshow itself

    QElapsedTimer clock;
    clock.start();
    auto settle = [&] {
        while (!w.decoder().idle() || w.pictureRequestPending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::processEvents();
    };
    const std::int64_t last = d.count() - 1;
    if (!saver) {
        d.select(c.kind == Case::Backward ? last : 0);
        settle();
    }
    if (c.kind == Case::Slideshow) {
        d.startSlideshow();
        d.setSlideshowIntervalMs(3600 * 1000);
    }

    // The event loop's longest stall, seen by a timer that should tick every 2 ms.
    double maxBlockMs = 0;
    qint64 lastTick = clock.nsecsElapsed();
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    watch.setInterval(2);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        maxBlockMs = std::max(maxBlockMs, (now - lastTick) / 1e6 - 2);
        lastTick = now;
    });

    const DecoderStats before = w.decoder().stats();
    std::vector<double> latencies;
    qint64 stepStart = 0;
    bool waiting = false;
    QObject::connect(&w.decoder(), &PictureDecoder::ready, [&] {
        if (waiting)
            latencies.push_back((clock.nsecsElapsed() - stepStart) / 1e6);
        waiting = false;
    });
    int done = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    pace.setInterval(c.paceMs);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (done == steps) {
            pace.stop();
            return;
        }
        ++done;
        stepStart = clock.nsecsElapsed();
        waiting = false;
        if (c.kind == Case::Slideshow || saver)
            d.slideshowTick();
        else
            d.keyDown(c.kind == Case::Backward ? vk::Up : vk::Down);
        if (w.pictureRequestPending())
            waiting = true;
        else
            latencies.push_back((clock.nsecsElapsed() - stepStart) / 1e6);
    });
    watch.start();
    pace.start();
    while (pace.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    settle();
    watch.stop();

    const DecoderStats& after = w.decoder().stats();
    const int requests = after.requests - before.requests;
    const int served = after.fromCache + after.adopted - before.fromCache - before.adopted;
    const double within5 = latencies.empty()
                               ? 0
                               : double(std::count_if(latencies.begin(), latencies.end(),
                                                      [](double ms) { return ms <= 5; })) /
                                     double(latencies.size());
    // VmHWM is this program's own peak; ru_maxrss would carry the parent's over the exec.
    double peakMiB = 0;
    QFile status("/proc/self/status");
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                peakMiB = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    const bool lastShown =
        d.text(test::Part::FileLine) == w.selectedFilePath() && d.shown(test::Part::Picture);
    std::printf("RESULT %.3f %.3f %.3f %.3f %.3f %d %.1f %.0f\n", median(latencies),
                percentile(latencies, 0.95), within5, requests ? double(served) / requests : 0.0,
                maxBlockMs, lastShown ? 1 : 0, peakMiB, cpuMs);
    return 0;
}

struct Figures {
    double medianMs = 0, p95Ms = 0, within5 = 0, fromPrefetch = 0, maxBlockMs = 0, peakMiB = 0;
    bool lastShown = false;
    double cpuMs = 0; // the whole process's CPU time
};

Figures runChild(const QString& self, const Case& c, bool prefetch, const QString& folder,
                 int steps, const QString& config) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, {"--child", c.name, prefetch ? "1" : "0", folder, QString::number(steps)});
    child.waitForFinished(-1);
    Figures f;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (!line.startsWith("RESULT "))
            continue;
        const QList<QByteArray> v = line.split(' ');
        f = {v[1].toDouble(), v[2].toDouble(), v[3].toDouble(), v[4].toDouble(),
             v[5].toDouble(), v[7].toDouble(), v[6] == "1",     v[8].toDouble()};
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--child") {
        QApplication app(argc, argv);
        for (const Case& c : Cases) {
            if (c.name == std::string(argv[2]))
                return runCase(c, std::string(argv[3]) == "1", QString::fromLocal8Bit(argv[4]),
                               std::atoi(argv[5]));
        }
        return 2;
    }
    QCoreApplication app(argc, argv);
    int repeats = 3;
    int steps = PictureCount - 1;
    QString only;
    const PictureKind* kind = &Kinds[0];
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--repeats")
            repeats = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--steps")
            steps = std::clamp(std::atoi(argv[i + 1]), 1, PictureCount - 1);
        else if (flag == "--only")
            only = QString::fromLocal8Bit(argv[i + 1]);
        else if (flag == "--format")
            for (const PictureKind& k : Kinds)
                if (std::string(k.format) == argv[i + 1])
                    kind = &k;
    }
    const QString folder = pictureFolder(*kind);
    // The screensaver shows the remembered folder: a settings store of its own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    Settings settings = LoadRegistrySettings(folder);
    settings.lastDirectory = folder;
    SaveRegistrySettings(settings);
    const QString self = QCoreApplication::applicationFilePath();

    // Wall-clock figures mean little on an overloaded machine: say how busy it was.
    QFile load("/proc/loadavg");
    if (load.open(QIODevice::ReadOnly))
        std::printf("load average %s over %d cores\n",
                    load.readLine().split(' ').mid(0, 3).join(' ').constData(),
                    QThread::idealThreadCount());
    std::printf("Walking %d %s pictures of %.0f MP at %d x %d, %d steps, %d repeats (medians)\n",
                PictureCount, kind->format, kind->size.width() * double(kind->size.height()) / 1e6,
                Screen.width(), Screen.height(), steps, repeats);
    std::printf("%-20s %-9s %8s %8s %8s %9s %9s %8s %8s %6s\n", "case", "prefetch", "step ms",
                "p95 ms", "<=5 ms", "prefetched", "block ms", "peak MiB", "cpu ms", "last");
    for (const Case& c : Cases) {
        if (!only.isEmpty() && only != c.name)
            continue;
        std::vector<Figures> runs[2];
        for (int r = 0; r < repeats; ++r) {
            for (bool prefetch : {true, false}) // interleaved, so both see the same machine
                runs[prefetch].push_back(runChild(self, c, prefetch, folder, steps, config.path()));
        }
        for (bool prefetch : {true, false}) {
            auto pick = [&](double Figures::*field) {
                std::vector<double> v;
                for (const Figures& f : runs[prefetch])
                    v.push_back(f.*field);
                return median(v);
            };
            const bool lastShown = std::all_of(runs[prefetch].begin(), runs[prefetch].end(),
                                               [](const Figures& f) { return f.lastShown; });
            std::printf("%-20s %-9s %8.2f %8.2f %7.0f%% %8.0f%% %9.1f %8.1f %8.0f %6s\n", c.name,
                        prefetch ? "on" : "off (ref)", pick(&Figures::medianMs),
                        pick(&Figures::p95Ms), 100 * pick(&Figures::within5),
                        100 * pick(&Figures::fromPrefetch), pick(&Figures::maxBlockMs),
                        pick(&Figures::peakMiB), pick(&Figures::cpuMs), lastShown ? "ok" : "WRONG");
        }
        std::fflush(stdout);
    }
    std::printf("Goals: a step at a person's pace within 5 ms on >= 95%% of steps; at key-repeat "
                "pace no block over 50 ms and the last picture asked for on screen; peak memory "
                "<= 120 MiB for JPEGs, <= 160 MiB for the other formats.\n");
    return 0;
}
