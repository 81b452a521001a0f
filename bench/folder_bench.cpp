// Opening a folder of 100,000 pictures: the file list's read, filter and
// natural sort, against a bare readdir of the same folder in the same run.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <dirent.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include "viewer/filelist.h"
#include "viewer/folderscan.h"

namespace {

constexpr int kFiles = 100000;

const QTemporaryDir& folder() {
    static QTemporaryDir dir;
    static const bool made = [] {
        // Camera-like names in shuffled order, a few in other cases and types.
        for (int i = 0; i < kFiles; ++i) {
            const int n = (i * 7919) % kFiles;
            const char* ext = n % 10 == 0   ? "JPG"
                              : n % 17 == 0 ? "gif"
                              : n % 23 == 0 ? "txt"
                                            : "jpg";
            QFile f(dir.filePath(QStringLiteral("IMG_%1.%2").arg(n).arg(QLatin1String(ext))));
            f.open(QIODevice::WriteOnly);
        }
        return true;
    }();
    (void)made;
    return dir;
}

void BM_Readdir(benchmark::State& state) {
    const QByteArray path = QFile::encodeName(folder().path());
    for (auto _ : state) {
        DIR* dir = ::opendir(path.constData());
        int entries = 0;
        while (::readdir(dir))
            ++entries;
        ::closedir(dir);
        benchmark::DoNotOptimize(entries);
    }
}
BENCHMARK(BM_Readdir)->Unit(benchmark::kMillisecond);

void BM_ScanFolder(benchmark::State& state) {
    for (auto _ : state) {
        std::error_code error;
        benchmark::DoNotOptimize(tavlin::scanFolder(folder().path(), error).files.size());
    }
}
BENCHMARK(BM_ScanFolder)->Unit(benchmark::kMillisecond);

void BM_SortNatural(benchmark::State& state) {
    std::error_code error;
    const QStringList names = tavlin::scanFolder(folder().path(), error).files;
    for (auto _ : state) {
        QStringList copy = names;
        tavlin::sortNatural(copy);
        benchmark::DoNotOptimize(copy.size());
    }
}
BENCHMARK(BM_SortNatural)->Unit(benchmark::kMillisecond);

void BM_FileListSetFolder(benchmark::State& state) {
    tavlin::FileList list;
    list.setPattern(QStringLiteral("*.jpg;*.bmp;*.gif"));
    for (auto _ : state) {
        list.setFolder(folder().path());
        benchmark::DoNotOptimize(list.count());
    }
    state.counters["pictures"] = static_cast<double>(list.count());
}
BENCHMARK(BM_FileListSetFolder)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
