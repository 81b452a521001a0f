#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unordered_map>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include "decode/displayplan.h"
#include "decode/pictureloader.h"
#include "layout/layout.h"

extern char** environ;

// Pictures the benchmarks make for themselves, so nothing large lives in the repository.
namespace tavlin::bench {

// The process's CPU time in milliseconds, all threads counted (decoders use several).
inline double cpuNowMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// What the viewer asks the loader for on a 1920 x 1080 screen at 96 DPI with the panel shown,
// stretching and centring on: the picture scaled to fit, of which the part on the screen.
inline DecodeRequest planFor1080p(QSize orientedSize) {
    const DisplayContext screen{QSize(1920, 1080), 15,
                                DisplayOptions{true, true, true, design::frameSettings.width}};
    return planDisplay(orientedSize, screen).request;
}

// The figure at fraction `q` of the sorted figures (0.5: the median); 0 when there are none.
inline double percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

inline double median(std::vector<double> v) {
    return percentile(std::move(v), 0.5);
}

using Clock = std::chrono::steady_clock;
inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The wall-clock and CPU time of one run of something.
struct Timing {
    double wallMs = 0;
    double cpuMs = 0;
};

template <typename Run> Timing timed(Run&& run) {
    const double cpu = cpuNowMs();
    const auto start = Clock::now();
    run();
    return {msSince(start), cpuNowMs() - cpu};
}

// Ours and the floor run in turns, `rounds` times: the median of each one's times, and the
// medians of the per-round ratios of ours over the floor.
struct Interleaved {
    double oursWall = 0, floorWall = 0, oursCpu = 0, floorCpu = 0, cpuRatio = 0, wallRatio = 0;
};

template <typename Ours, typename Floor>
Interleaved interleaved(int rounds, Ours&& ours, Floor&& floor) {
    std::vector<double> oursWall, floorWall, oursCpu, floorCpu, cpuRatio, wallRatio;
    for (int round = 0; round < rounds; ++round) {
        const Timing a = timed(ours);
        const Timing b = timed(floor);
        oursWall.push_back(a.wallMs);
        floorWall.push_back(b.wallMs);
        oursCpu.push_back(a.cpuMs);
        floorCpu.push_back(b.cpuMs);
        cpuRatio.push_back(a.cpuMs / b.cpuMs);
        wallRatio.push_back(a.wallMs / b.wallMs);
    }
    return {median(oursWall), median(floorWall), median(oursCpu),
            median(floorCpu), median(cpuRatio),  median(wallRatio)};
}

// The number given after "--rounds" on the command line, else `fallback`.
inline int roundsFrom(int argc, char** argv, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--rounds")
            return std::max(1, std::atoi(argv[i + 1]));
    return fallback;
}

// The milliseconds a command takes, its output thrown away; -1 when it cannot start. The
// reference the folder benchmarks set their own figures against (`ls`, `find`).
inline double timeCommand(std::vector<QByteArray> arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    int status = 0;
    if (started)
        ::waitpid(pid, &status, 0);
    const double ms = msSince(start);
    posix_spawn_file_actions_destroy(&actions);
    return started ? ms : -1;
}

// A photo-like picture: smooth colour fields, hard edges and a little grain, so JPEG
// decoding does about the work a camera picture costs (a flat picture decodes too fast).
inline QImage photoLikeImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double fy = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double fx = double(x) / width;
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            const int stripe = ((x / 97 + y / 61) & 1) * 40;
            const int r = int(120 + 90 * std::sin(fx * 9 + fy * 4)) + grain + stripe;
            const int g = int(110 + 80 * std::cos(fx * 5 - fy * 7)) + grain;
            const int b = int(100 + 70 * std::sin(fx * 13 * fy + 1)) + grain - stripe / 2;
            line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

inline bool writeJpeg(const QString& path, const QImage& image, int quality, bool progressive) {
    QImageWriter writer(path, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image);
}

// Qt reads GIF but does not write it: a plain GIF89a encoder (256-colour 6x7x6 palette,
// variable-width LZW) good enough to give the decoder its usual work.
inline bool writeGif(const QString& path, const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width();
    const int h = image.height();
    QByteArray out("GIF89a");
    auto put16 = [&out](int v) {
        out.append(char(v & 0xFF));
        out.append(char(v >> 8 & 0xFF));
    };
    put16(w);
    put16(h);
    out.append(char(0xF7)); // global colour table of 256 entries
    out.append('\0');
    out.append('\0');
    for (int i = 0; i < 256; ++i) {
        const int r = i < 252 ? i / 42 : 0;
        const int g = i < 252 ? i / 6 % 7 : 0;
        const int b = i < 252 ? i % 6 : 0;
        out.append(char(r * 51));
        out.append(char(g * 255 / 6));
        out.append(char(b * 51));
    }
    out.append(',');
    put16(0);
    put16(0);
    put16(w);
    put16(h);
    out.append('\0');
    out.append(char(8)); // minimum code size

    QByteArray codes;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0;
    int codeSize = 9;
    auto putCode = [&](int code) {
        bitBuffer |= std::uint32_t(code) << bitCount;
        bitCount += codeSize;
        while (bitCount >= 8) {
            codes.append(char(bitBuffer & 0xFF));
            bitBuffer >>= 8;
            bitCount -= 8;
        }
    };
    const int clear = 256;
    const int end = 257;
    std::unordered_map<std::uint32_t, int> table;
    int next = 258;
    putCode(clear);
    int prefix = -1;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int index = qRed(line[x]) * 6 / 256 * 42 + qGreen(line[x]) * 7 / 256 * 6 +
                              qBlue(line[x]) * 6 / 256;
            if (prefix < 0) {
                prefix = index;
                continue;
            }
            const std::uint32_t key = std::uint32_t(prefix) << 8 | std::uint32_t(index);
            const auto found = table.find(key);
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            putCode(prefix);
            if (next < 4096) {
                table.emplace(key, next);
                if (next == (1 << codeSize) && codeSize < 12)
                    ++codeSize;
                ++next;
            } else {
                putCode(clear);
                table.clear();
                next = 258;
                codeSize = 9;
            }
            prefix = index;
        }
    }
    putCode(prefix);
    putCode(end);
    if (bitCount > 0)
        codes.append(char(bitBuffer & 0xFF));
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const qsizetype n = std::min<qsizetype>(255, codes.size() - i);
        out.append(char(n));
        out.append(codes.constData() + i, n);
    }
    out.append('\0');
    out.append(';');
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

} // namespace tavlin::bench
