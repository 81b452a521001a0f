// Selection to picture ready: decode, fit and paint into a screen-sized image at 1920 x 1080,
// each case beside the fastest plain decode of the same file, the two interleaved round by
// round in this one process (the floor: libjpeg-turbo decoding the file from disk at the
// power-of-two reduction the fit allows, to RGB rows it throws away, as djpeg does; a full
// Qt decode for BMP and GIF). Prints the median of the per-round ratios in CPU time (steady
// on a busy machine) and wall time, and the peak memory of a process doing the case once.
//
//   display_bench [--rounds N] [--filter TEXT]
//   display_bench --program build/tavlin   also measures the whole program on Xvfb
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <jpeglib.h>
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
#include "decode/pictureloader.h"

extern char** environ;

namespace {

using namespace tavlin;
using bench::median;

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
    double oursCpuMs = 0;
    double floorCpuMs = 0;
    double cpuRatio = 0;
    double wallRatio = 0;
    long oursPeakKb = 0;
    long floorPeakKb = 0;
};

std::map<std::string, Figures> g_figures;
QString g_selfPath;

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

extern "C" void floorError(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::exit(1);
}

// libjpeg-turbo on its own, as djpeg runs it: the file read through stdio, decoded at 1/d
// with the default settings to RGB rows that are thrown away.
void floorJpeg(const Case& c) {
    FILE* in = std::fopen(c.file.toLocal8Bit().constData(), "rb");
    if (!in)
        std::exit(1);
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    errors.error_exit = floorError;
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(jpegReduction(c.size, fitRect(c.size).size()));
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    std::vector<JSAMPLE> row(size_t(cinfo.output_width) * cinfo.output_components);
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows, 1);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(in);
}

// Ours and the floor in turns, `rounds` times; each figure is the median over the rounds,
// the ratios the medians of the per-round ratios.
void measure(const Case& c, int rounds) {
    QImage screen(kScreen, QImage::Format_RGB32);
    // One of each first, so files are cached and buffers warm.
    showPicture(c.file, screen);
    c.jpeg ? floorJpeg(c) : void(qtFullDecode(c.file));
    const bench::Interleaved t = bench::interleaved(
        rounds,
        [&] {
            if (!showPicture(c.file, screen))
                std::exit(1);
        },
        [&] { c.jpeg ? floorJpeg(c) : void(qtFullDecode(c.file)); });
    Figures& f = g_figures[c.name];
    f.oursMs = t.oursWall;
    f.floorMs = t.floorWall;
    f.oursCpuMs = t.oursCpu;
    f.floorCpuMs = t.floorCpu;
    f.cpuRatio = t.cpuRatio;
    f.wallRatio = t.wallRatio;
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

void printSummary(const std::vector<Case>& cases, long idlePeakKb, int rounds) {
    std::printf("\nSelection to picture ready at %d x %d, %d interleaved rounds (floor: "
                "libjpeg-turbo alone at the reduction the fit allows; BMP/GIF: full Qt decode)\n",
                kScreen.width(), kScreen.height(), rounds);
    std::printf("%-24s %9s %9s %9s %9s %9s %9s %8s %10s %10s\n", "case", "ours ms", "floor ms",
                "ours cpu", "floor cpu", "cpu ratio", "wall ratio", "floor at", "ours MB",
                "floor MB");
    for (const Case& c : cases) {
        const Figures& f = g_figures[c.name];
        const std::string at = c.jpeg ? djpegScale(c.size) : "full";
        std::printf("%-24s %9.2f %9.2f %9.2f %9.2f %9.3f %9.3f %8s %10.1f %10.1f\n", c.name.c_str(),
                    f.oursMs, f.floorMs, f.oursCpuMs, f.floorCpuMs, f.cpuRatio, f.wallRatio,
                    at.c_str(), f.oursPeakKb / 1024.0, f.floorPeakKb / 1024.0);
    }
    std::printf("(ratios: medians of the per-round ratios; peak memory is the whole process's; "
                "this program idle: %.1f MB)\n",
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
    int rounds = 15;
    std::string filter;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--program")
            program = QString::fromLocal8Bit(argv[i + 1]);
        else if (flag == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--filter")
            filter = argv[i + 1];
    }
    g_selfPath = QCoreApplication::applicationFilePath();
    QTemporaryDir dir;
    std::fprintf(stderr, "making the pictures in %s\n", qPrintable(dir.path()));
    const std::vector<Case> cases = makeCases(QDir(dir.path()));
    for (const Case& c : cases) {
        if (!filter.empty() && c.name.find(filter) == std::string::npos)
            continue;
        std::fprintf(stderr, "measuring %s\n", c.name.c_str());
        measure(c, rounds);
    }

    const long idlePeakKb = peakMemoryKb({g_selfPath.toStdString(), "--child-idle"});
    measurePeaks(cases);
    printSummary(cases, idlePeakKb, rounds);
    if (!program.isEmpty()) {
        const auto big = std::find_if(cases.begin(), cases.end(),
                                      [](const Case& c) { return c.name == "jpeg_24mp"; });
        measureProgram(program, big->file);
    }
    return 0;
}
