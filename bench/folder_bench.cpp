// Opening a folder of 100,000 pictures, against `ls` of the same folder, interleaved in
// one run: each round times `ls` and then ours, and the median of the ratios is reported.
//
//   open (work):  the folder list's one read, filter and natural sort, the file list
//                 filled and painted, all on this thread;
//   open (live):  the same as the window does it, the read on the worker thread; also the
//                 longest time the event loop went without running a 5 ms timer;
//   refresh:      the file list reading its folder again (after a delete or rename).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "bench/benchfixtures.h"
#include "viewer/filelist.h"
#include "viewer/folderlist.h"

using tavlin::bench::median;

namespace {

constexpr int kFiles = 100000;
constexpr int kRounds = 11;
const QString kPattern = QStringLiteral("*.jpg;*.jpeg;*.jpe;*.bmp;*.gif");

using tavlin::bench::Clock;
using tavlin::bench::msSince;

void makeFolder(const QString& path) {
    // Camera-like names in shuffled order, a few in other cases and types.
    for (int i = 0; i < kFiles; ++i) {
        const int n = int((qint64(i) * 7919) % kFiles);
        const char* ext = n % 10 == 0 ? "JPG" : n % 17 == 0 ? "gif" : n % 23 == 0 ? "txt" : "jpg";
        QFile f(path + QStringLiteral("/IMG_%1.%2").arg(n).arg(QLatin1String(ext)));
        f.open(QIODevice::WriteOnly);
    }
}

// `ls` of the folder, its output thrown away.
double timeLs(const QByteArray& folder) {
    return tavlin::bench::timeCommand({"ls", folder});
}

struct Lists {
    tavlin::FolderList folders;
    tavlin::FileList files;
    bool filled = false;
    double handlerMs = 0; // the folder-change handler's time on the window's thread
    Lists() {
        folders.setFilePattern(kPattern);
        files.setPattern(kPattern);
        files.resize(300, 600);
        files.show();
        // What the window's folder-change handler does with the one read.
        QObject::connect(&folders, &tavlin::FolderList::pathChanged, [this] {
            const auto start = Clock::now();
            files.setListing(folders.path(), folders.takeFiles());
            files.repaint();
            handlerMs = msSince(start);
            filled = true;
        });
    }
};

double timeOpenOnThisThread(const QString& folder) {
    Lists lists;
    lists.folders.setBackgroundBytes(std::numeric_limits<qint64>::max());
    const auto start = Clock::now();
    lists.folders.setPath(folder);
    const double ms = msSince(start);
    return lists.filled && lists.files.count() > 0 ? ms : -1;
}

// The time until the lists are filled, and the longest stretch without a timer tick.
std::vector<double> handlerTimes;
std::pair<double, double> timeOpenLive(const QString& folder) {
    Lists lists;
    double longestGap = 0;
    auto last = Clock::now();
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, msSince(last));
        last = Clock::now();
    });
    ticker.start();
    QCoreApplication::processEvents();
    const auto start = Clock::now();
    last = start;
    lists.folders.setPath(folder);
    while (!lists.filled)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double ms = msSince(start);
    longestGap = std::max(longestGap, msSince(last));
    handlerTimes.push_back(lists.handlerMs);
    return {ms, longestGap};
}

double timeRefresh(tavlin::FileList& list) {
    const auto start = Clock::now();
    list.refresh();
    return msSince(start);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    makeFolder(dir.path());
    const QByteArray folderBytes = QFile::encodeName(dir.path());
    tavlin::FileList refreshed;
    refreshed.setPattern(kPattern);
    refreshed.setFolder(dir.path());

    std::vector<double> ls, work, live, gaps, refresh, workRatio, liveRatio, refreshRatio;
    timeLs(folderBytes); // warm the caches for both
    timeOpenOnThisThread(dir.path());
    for (int round = 0; round < kRounds; ++round) {
        const double l = timeLs(folderBytes);
        const double w = timeOpenOnThisThread(dir.path());
        const auto [v, gap] = timeOpenLive(dir.path());
        const double r = timeRefresh(refreshed);
        ls.push_back(l);
        work.push_back(w);
        live.push_back(v);
        gaps.push_back(gap);
        refresh.push_back(r);
        workRatio.push_back(w / l);
        liveRatio.push_back(v / l);
        refreshRatio.push_back(r / l);
    }
    std::printf("folder of %d files (%lld pictures), %d rounds, medians\n", kFiles,
                static_cast<long long>(refreshed.count()), kRounds);
    std::printf("  ls                      %8.1f ms\n", median(ls));
    std::printf("  open (work)             %8.1f ms   ratio to ls %.2f\n", median(work),
                median(workRatio));
    std::printf("  open (live)             %8.1f ms   ratio to ls %.2f   longest event-loop "
                "gap %.1f ms (worst %.1f)\n",
                median(live), median(liveRatio), median(gaps),
                *std::max_element(gaps.begin(), gaps.end()));
    std::printf("  of which the file list's fill and paint %.1f ms (worst %.1f)\n",
                median(handlerTimes), *std::max_element(handlerTimes.begin(), handlerTimes.end()));
    std::printf("  refresh                 %8.1f ms   ratio to ls %.2f\n", median(refresh),
                median(refreshRatio));
    return 0;
}
