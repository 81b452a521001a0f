// A start and an exit with a large settings file: 200,000 values (3.5 MB), and one value of
// 45 MB, against copying the same file's bytes in the same run. Each round writes the file
// afresh, as another program would, so nothing is served from what an earlier round read.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

BENCHMARK(BM_CopyManyValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartAndExitManyValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyHugeValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartAndExitHugeValue)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
