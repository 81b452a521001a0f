// A start and an exit with a large settings file: 200,000 values (3.5 MB), and one value of
// 45 MB, against copying the same file's bytes in the same run. Each round writes the file
// afresh, as another program would, so nothing is served from what an earlier round read.
// Then 10,000 key headers each one level deeper than the last (100 MB), against the same
// bytes of headers one level deep, interleaved round by round; medians are reported.
#include <benchmark/benchmark.h>
#include <chrono>
#include <sys/resource.h>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "bench/benchfixtures.h"
#include "platform/hivestore.h"
#include "registry/settings.h"

namespace {

QByteArray manyValues() {
    QByteArray text = "Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n\"Loop Seconds\"=\"7\"\n";
    for (int i = 0; i < 200000; ++i)
        text += "\"Value " + QByteArray::number(i) + "\"=\"some text\"\n";
    return text;
}

QByteArray hugeValue() {
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n\"Loop Seconds\"=\"7\"\n\"Huge\"=\"" +
           QByteArray(45 << 20, 'h') + "\"\n";
}

class ConfigHome {
public:
    ConfigHome() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
        QDir().mkpath(tavlin::hivestore::folder());
    }
    void put(const QByteArray& bytes) const {
        QFile file(tavlin::hivestore::hiveFilePath(tavlin::hkey::CurrentUser));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }

private:
    QTemporaryDir dir_;
};

void reportPeak(benchmark::State& state) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024;
}

void copyReference(benchmark::State& state, const QByteArray& bytes) {
    const ConfigHome home;
    for (auto _ : state) {
        home.put(bytes);
        QFile file(tavlin::hivestore::hiveFilePath(tavlin::hkey::CurrentUser));
        file.open(QIODevice::ReadOnly);
        QFile copy(tavlin::hivestore::hiveFilePath(tavlin::hkey::CurrentUser) + ".copy");
        copy.open(QIODevice::WriteOnly);
        copy.write(file.readAll());
    }
}

void startAndExit(benchmark::State& state, const QByteArray& bytes) {
    const ConfigHome home;
    for (auto _ : state) {
        home.put(bytes);
        tavlin::Settings s = tavlin::LoadRegistrySettings(QString());
        s.loopSeconds = 8;
        benchmark::DoNotOptimize(tavlin::SaveRegistrySettings(s));
    }
    reportPeak(state);
}

void BM_CopyManyValues(benchmark::State& state) {
    copyReference(state, manyValues());
}
void BM_StartAndExitManyValues(benchmark::State& state) {
    startAndExit(state, manyValues());
}
void BM_CopyHugeValue(benchmark::State& state) {
    copyReference(state, hugeValue());
}
void BM_StartAndExitHugeValue(benchmark::State& state) {
    startAndExit(state, hugeValue());
}

const QByteArray kSettingsSection = "Windows Registry Editor Version 5.00\n\n"
                                    "[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n"
                                    "\"Loop Seconds\"=\"7\"\n";

// Headers [HKEY_CURRENT_USER\k], [HKEY_CURRENT_USER\k\k], ... 10,000 levels deep.
QByteArray nestedHeaders() {
    QByteArray text = kSettingsSection;
    QByteArray header = "[HKEY_CURRENT_USER";
    for (int depth = 1; depth <= 10000; ++depth) {
        header += "\\k";
        text += header + "]\n";
    }
    return text;
}

// As many bytes of headers one level deep, each naming a key of 250 characters.
QByteArray flatHeaders(qsizetype bytes) {
    QByteArray text = kSettingsSection;
    for (int i = 0; text.size() < bytes; ++i)
        text += "[HKEY_CURRENT_USER\\" + QByteArray::number(i).rightJustified(250, 'k') + "]\n";
    return text;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// One start and exit of `bytes`; the times go to `startMs` and `exitMs`.
void timeStartAndExit(const ConfigHome& home, const QByteArray& bytes, std::vector<double>& startMs,
                      std::vector<double>& exitMs) {
    home.put(bytes);
    auto t = std::chrono::steady_clock::now();
    tavlin::Settings s = tavlin::LoadRegistrySettings(QString());
    startMs.push_back(msSince(t));
    s.loopSeconds = 8;
    t = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(tavlin::SaveRegistrySettings(s));
    exitMs.push_back(msSince(t));
    // The kept copies of the damaged file would fill the disk round by round.
    QDir dir(tavlin::hivestore::folder());
    for (const QString& name : dir.entryList({QStringLiteral("*.damaged-*")}))
        dir.remove(name);
}

void BM_StartAndExitNestedKeysVsFlat(benchmark::State& state) {
    const QByteArray nested = nestedHeaders();
    const QByteArray flat = flatHeaders(nested.size());
    const ConfigHome home;
    std::vector<double> nestedStart, nestedExit, flatStart, flatExit;
    for (auto _ : state) {
        timeStartAndExit(home, nested, nestedStart, nestedExit);
        timeStartAndExit(home, flat, flatStart, flatExit);
    }
    using tavlin::bench::median;
    state.counters["file_MB"] = double(nested.size()) / (1 << 20);
    state.counters["nested_start_ms"] = median(nestedStart);
    state.counters["flat_start_ms"] = median(flatStart);
    state.counters["nested_exit_ms"] = median(nestedExit);
    state.counters["flat_exit_ms"] = median(flatExit);
    reportPeak(state);
}

BENCHMARK(BM_CopyManyValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartAndExitManyValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyHugeValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartAndExitHugeValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartAndExitNestedKeysVsFlat)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
