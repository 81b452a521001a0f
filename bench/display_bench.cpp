// Selection to picture ready: decode, fit and paint into a screen-sized image at 1920 x 1080,
// each case beside the fastest plain decode of the same file measured in the same run
// (libjpeg-turbo's djpeg at the power-of-two reduction the fit allows, or a full Qt decode
// for BMP and GIF). Prints each figure, the ratio and the peak memory of a process doing
// the case once.
//
//   display_bench [benchmark flags]
//   display_bench --program build/tavlin   also measures the whole program on Xvfb
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "viewer/pictureloader.h"

extern char** environ;

namespace {

using namespace tavlin;

constexpr QSize kScreen(1920, 1080);

struct Case {
    std::string name;
    QString file;
    QSize size;
    bool jpeg = true;
};

struct Figures {
    double oursMs = 0;
    double floorMs = 0;
    long oursPeakKb = 0;
    long floorPeakKb = 0;
};

std::map<std::string, Figures> g_figures;
double g_djpegLaunchMs = 0;
QString g_selfPath;
QString g_tinyJpeg;

// Stretch on: the whole oriented picture fitted into the free area, proportions kept,
// centred.
QRect fitRect(QSize picture) {
    const double scale = std::min(double(kScreen.width()) / picture.width(),
                                  double(kScreen.height()) / picture.height());
    const QSize size(std::max(1, int(picture.width() * scale + 0.5)),
                     std::max(1, int(picture.height() * scale + 0.5)));
    return QRect(
        QPoint((kScreen.width() - size.width()) / 2, (kScreen.height() - size.height()) / 2), size);
}

// What the viewer does on a selection: load at the fitted size, then paint the screen.
bool showPicture(const QString& file, QImage& screen) {
    QRect placed;
    const LoadedPicture picture = loadPicture(file, [&](QSize oriented) {
        placed = fitRect(oriented);
        return DecodeRequest{placed.size(), QRect(QPoint(0, 0), placed.size())};
    });
    if (!picture.ok)
        return false;
    screen.fill(Qt::black);
    QPainter painter(&screen);
    painter.drawImage(picture.imageRect.translated(placed.topLeft()), picture.image);
    return true;
}

bool qtFullDecode(const QString& file) {
    return !QImageReader(file).read().isNull();
}

// The reduction djpeg gets: the largest of 1/2, 1/4, 1/8 still covering the fit size.
std::string djpegScale(QSize picture) {
    return std::to_string(8 / jpegReduction(picture, fitRect(picture).size())) + "/8";
}

// Runs a program to its end; returns its wall time in ms and its peak resident memory.
double runChild(const std::vector<std::string>& args, long* peakKb) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto stop = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (peakKb)
        *peakKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(stop - start).count();
}

// Peak resident memory of a program run to its end, in KB. Read by /usr/bin/time, which forks
// it from a small process: a child spawned from this large one would carry this one's peak.
long peakMemoryKb(std::vector<std::string> args) {
    const std::string out = QDir::temp().filePath("display_bench_peak.txt").toStdString();
    args.insert(args.begin(), {"/usr/bin/time", "-f", "%M", "-o", out});
    QFile::remove(QString::fromStdString(out));
    runChild(args, nullptr); // a program ended by timeout still has its peak reported
    QFile file(QString::fromStdString(out));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // The figure is the last line; a line before it may say the command exited non-zero.
    return file.readAll().trimmed().split('\n').last().toLong();
}

std::vector<std::string> djpegArgs(const Case& c) {
    return {"/usr/bin/djpeg", "-scale",    djpegScale(c.size),
            "-outfile",       "/dev/null", c.file.toStdString()};
}

// The median of the runs: one run slowed by a busy machine does not move it.
double medianOf(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void benchOurs(benchmark::State& state, const Case& c) {
    QImage screen(kScreen, QImage::Format_RGB32);
    std::vector<double> runs;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!showPicture(c.file, screen)) {
            state.SkipWithError("the picture did not load");
            return;
        }
        benchmark::ClobberMemory();
        runs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    g_figures[c.name].oursMs = medianOf(runs);
}

void benchFloor(benchmark::State& state, const Case& c) {
    std::vector<double> runs;
    for (auto _ : state) {
        if (c.jpeg) {
            const double ms = runChild(djpegArgs(c), nullptr);
            if (ms < 0) {
                state.SkipWithError("djpeg failed");
                return;
            }
            runs.push_back(ms - g_djpegLaunchMs);
        } else {
            const auto start = std::chrono::steady_clock::now();
            if (!qtFullDecode(c.file)) {
                state.SkipWithError("the picture did not decode");
                return;
            }
            runs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    g_figures[c.name].floorMs = medianOf(runs);
}

// djpeg's cost of starting and ending, measured on a 16 x 16 picture and taken off its
// figures, so the floor is its decoding alone.
double measureDjpegLaunch() {
    std::vector<double> runs;
    for (int i = 0; i < 30; ++i)
        runs.push_back(runChild(
            {"/usr/bin/djpeg", "-outfile", "/dev/null", g_tinyJpeg.toStdString()}, nullptr));
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

std::vector<Case> makeCases(const QDir& dir) {
    struct Spec {
        std::string name;
        QSize size;
        const char* suffix;
        bool progressive;
    };
    const std::vector<Spec> specs = {
        {"jpeg_2mp", QSize(1632, 1224), "jpg", false},
        {"jpeg_12mp", QSize(4000, 3000), "jpg", false},
        {"jpeg_24mp", QSize(6000, 4000), "jpg", false},
        {"jpeg_18mp_progressive", QSize(5184, 3456), "jpg", true},
        {"bmp_12mp", QSize(4000, 3000), "bmp", false},
        {"gif_1mp", QSize(1152, 864), "gif", false},
    };
    std::vector<Case> cases;
    for (const Spec& s : specs) {
        const QString file = dir.filePath(QString::fromStdString(s.name) + "." + s.suffix);
        const QImage image = bench::photoLikeImage(s.size.width(), s.size.height());
        bool written = false;
        if (QByteArray(s.suffix) == "jpg")
            written = bench::writeJpeg(file, image, 90, s.progressive);
        else if (QByteArray(s.suffix) == "gif")
            written = bench::writeGif(file, image);
        else
            written = image.convertToFormat(QImage::Format_RGB888).save(file, "bmp");
        if (!written) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            std::exit(1);
        }
        cases.push_back({s.name, file, s.size, QByteArray(s.suffix) == "jpg"});
    }
    g_tinyJpeg = dir.filePath("tiny.jpg");
    bench::writeJpeg(g_tinyJpeg, bench::photoLikeImage(16, 16), 90, false);
    return cases;
}

void measurePeaks(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Figures& f = g_figures[c.name];
        f.oursPeakKb =
            peakMemoryKb({g_selfPath.toStdString(), "--child-show", c.file.toStdString()});
        f.floorPeakKb =
            c.jpeg
                ? peakMemoryKb(djpegArgs(c))
                : peakMemoryKb({g_selfPath.toStdString(), "--child-decode", c.file.toStdString()});
    }
}

void printSummary(const std::vector<Case>& cases, long idlePeakKb) {
    std::printf(
        "\nSelection to picture ready at %d x %d, medians (floor: djpeg at the reduction the fit "
        "allows, launch cost of %.2f ms taken off; BMP/GIF: full Qt decode)\n",
        kScreen.width(), kScreen.height(), g_djpegLaunchMs);
    std::printf("%-24s %10s %10s %7s %8s %12s %12s\n", "case", "ours ms", "floor ms", "ratio",
                "floor at", "ours peak MB", "floor peak MB");
    for (const Case& c : cases) {
        const Figures& f = g_figures[c.name];
        const std::string at = c.jpeg ? djpegScale(c.size) : "full";
        std::printf("%-24s %10.2f %10.2f %7.2f %8s %12.1f %12.1f\n", c.name.c_str(), f.oursMs,
                    f.floorMs, f.floorMs > 0 ? f.oursMs / f.floorMs : 0.0, at.c_str(),
                    f.oursPeakKb / 1024.0, f.floorPeakKb / 1024.0);
    }
    std::printf("(peak memory is the whole process's; this program idle: %.1f MB)\n",
                idlePeakKb / 1024.0);
}

// Starts Xvfb, shows the picture in the real program, ends it after it has had time to show
// it, and reports the program's peak resident memory.
void measureProgram(const QString& program, const QString& picture) {
    const std::string display = ":" + std::to_string(90 + getpid() % 100);
    pid_t xvfb = 0;
    std::vector<std::string> xargs = {"/usr/bin/Xvfb", display,     "-screen", "0",
                                      "1920x1080x24",  "-nolisten", "tcp"};
    std::vector<char*> xv;
    for (auto& a : xargs)
        xv.push_back(a.data());
    xv.push_back(nullptr);
    if (posix_spawn(&xvfb, xv[0], nullptr, nullptr, xv.data(), environ) != 0) {
        std::printf("whole program: Xvfb did not start\n");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // timeout ends the program after it has had ample time to show the picture; /usr/bin/time
    // reports its peak (SIGTERM runs its normal exit).
    const long peakKb = peakMemoryKb(
        {"/usr/bin/timeout", "-s", "TERM", "10", program.toStdString(), picture.toStdString()});
    std::printf("whole program showing a 24 MP JPEG on Xvfb 1920x1080: peak %.1f MB "
                "(goal: under 80 MB)\n",
                peakKb / 1024.0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // One case once, in a fresh process, so its peak memory can be read from outside.
    if (argc == 3 && std::string(argv[1]) == "--child-show") {
        QImage screen(kScreen, QImage::Format_RGB32);
        return showPicture(QString::fromLocal8Bit(argv[2]), screen) ? 0 : 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--child-decode")
        return qtFullDecode(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (argc == 2 && std::string(argv[1]) == "--child-idle")
        return 0;

    QString program;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--program") {
            program = QString::fromLocal8Bit(argv[i + 1]);
            for (int j = i; j + 2 <= argc; ++j)
                argv[j] = argv[j + 2];
            argc -= 2;
            break;
        }
    }
    g_selfPath = QCoreApplication::applicationFilePath();
    QTemporaryDir dir;
    std::fprintf(stderr, "making the pictures in %s\n", qPrintable(dir.path()));
    const std::vector<Case> cases = makeCases(QDir(dir.path()));
    g_djpegLaunchMs = measureDjpegLaunch();

    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(("display/" + c.name + "/ours").c_str(), benchOurs, c)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("display/" + c.name + "/floor").c_str(), benchFloor, c)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const long idlePeakKb = peakMemoryKb({g_selfPath.toStdString(), "--child-idle"});
    measurePeaks(cases);
    printSummary(cases, idlePeakKb);
    if (!program.isEmpty()) {
        const auto big = std::find_if(cases.begin(), cases.end(),
                                      [](const Case& c) { return c.name == "jpeg_24mp"; });
        measureProgram(program, big->file);
    }
    return 0;
}
