// The screensaver's walk of a picture tree of 100,000 pictures in 1,000 folders, against
// `find` of the same tree, interleaved in one run: each round times `find` and then ours, and
// the median of the ratios is reported, with the time until the first pictures are known (the
// screensaver shows its first picture then), against the splash's one second.
//
//   tree_bench [--rounds N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "viewer/picturetree.h"

using tavlin::bench::median;

namespace {

constexpr int kFolders = 1000;
constexpr int kPerFolder = 100;
const QString kPattern = QStringLiteral("*.jpg;*.jpeg;*.jpe;*.bmp;*.gif");

using tavlin::bench::Clock;
using tavlin::bench::msSince;

// Ten years of a hundred albums each, a hundred pictures an album (empty files: the walk
// reads names, not pictures).
void makeTree(const QString& root) {
    for (int f = 0; f < kFolders; ++f) {
        const QString folder =
            QStringLiteral("%1/%2/album %3").arg(root).arg(2015 + f / 100).arg(f % 100);
        QDir().mkpath(folder);
        for (int i = 0; i < kPerFolder; ++i) {
            QFile file(QStringLiteral("%1/IMG_%2.jpg").arg(folder).arg(f * kPerFolder + i));
            file.open(QIODevice::WriteOnly);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 11;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    QTemporaryDir dir;
    makeTree(dir.path());
    const QByteArray rootBytes = QFile::encodeName(dir.path());
    const tavlin::NamePattern pattern(kPattern);

    std::vector<double> ratios, ours, references, firsts;
    for (int round = 0; round < rounds; ++round) {
        const double reference = tavlin::bench::timeCommand({"find", rootBytes, "-type", "f"});
        double first = -1;
        const auto start = Clock::now();
        const QStringList all =
            tavlin::listPictureTree(dir.path(), pattern, [&](const QStringList&) {
                if (first < 0)
                    first = msSince(start);
            });
        const double ms = msSince(start);
        if (all.size() != kFolders * kPerFolder) {
            std::fprintf(stderr, "the walk found %lld pictures\n", qlonglong(all.size()));
            return 1;
        }
        references.push_back(reference);
        ours.push_back(ms);
        firsts.push_back(first);
        ratios.push_back(ms / reference);
    }
    std::printf("tree of %d pictures in %d folders, %d rounds (medians)\n", kFolders * kPerFolder,
                kFolders, rounds);
    std::printf("  find -type f:          %8.1f ms\n", median(references));
    std::printf("  walk, all pictures:    %8.1f ms  (%.2fx find)\n", median(ours), median(ratios));
    std::printf("  walk, first pictures:  %8.1f ms  (the splash shows for 1000 ms)\n",
                median(firsts));
    return 0;
}
