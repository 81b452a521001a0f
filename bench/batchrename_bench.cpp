// Batch rename of 10,000 files against a plain loop of renameat2 calls over the same
// folder, with the progress dialog on screen and updating. Prints the ratio.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fileops/batchrename.h"
#include "fileops/frmgetprefix.h"
#include "fileops/rename.h"

using namespace tavlin;

namespace {

constexpr int kFiles = 10000;

QStringList makeFiles(const QString& folder) {
    QStringList names;
    for (int i = 0; i < kFiles; ++i) {
        const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0'));
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::WriteOnly))
            f.write("x");
        names << name;
    }
    return names;
}

// The reference: every file renamed once, in the same order, no checks, no dialog.
void plainLoop(const QString& folder, const std::vector<BatchEntry>& plan) {
    fsops::FolderHandle dir(folder);
    for (const BatchEntry& e : plan) {
        const QByteArray from = QFile::encodeName(e.oldName);
        const QByteArray to = QFile::encodeName(e.newName);
        benchmark::DoNotOptimize(
            ::renameat2(dir.fd(), from.constData(), dir.fd(), to.constData(), RENAME_NOREPLACE));
    }
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Half the prefixes give fresh names; the other half make every new name another file's
// old one, so each file is parked first (the batch's worst case).
std::vector<BatchEntry> planFor(int round, const QStringList& names, bool chained) {
    if (!chained)
        return PlanBatchRename(QStringLiteral("trip%1_").arg(round), names);
    std::vector<BatchEntry> plan;
    for (qsizetype i = 0; i < names.size(); ++i)
        plan.push_back({names[i], names[(i + 1) % names.size()]});
    return plan;
}

void BM_BatchAgainstPlainLoop(benchmark::State& state) {
    const bool chained = state.range(0) != 0;
    frmGetPrefix dialog;
    dialog.show();
    double batchTotal = 0;
    double plainTotal = 0;
    qsizetype callbacks = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir batchDir;
        QTemporaryDir plainDir;
        const QStringList names = makeFiles(batchDir.path());
        makeFiles(plainDir.path());
        const std::vector<BatchEntry> plan = planFor(round++, names, chained);
        state.ResumeTiming();

        auto start = std::chrono::steady_clock::now();
        const BatchOutcome out = ExecuteBatchRename(
            batchDir.path(), plan,
            [&](const QString& oldName, const QString& newName, qsizetype index, qsizetype count) {
                ++callbacks;
                dialog.showProgress(oldName, newName, index, count);
            });
        batchTotal += seconds(std::chrono::steady_clock::now() - start);
        if (!out.failures.empty())
            state.SkipWithError("the batch left files unrenamed");

        if (!chained) {
            start = std::chrono::steady_clock::now();
            plainLoop(plainDir.path(), plan);
            plainTotal += seconds(std::chrono::steady_clock::now() - start);
        } else {
            // A plain loop cannot rotate names without overwriting; time the same number
            // of renames onto fresh names as the reference.
            start = std::chrono::steady_clock::now();
            plainLoop(plainDir.path(), planFor(round, names, false));
            plainTotal += seconds(std::chrono::steady_clock::now() - start);
        }
    }
    const double ratio = batchTotal / plainTotal;
    state.counters["batch_ms"] = batchTotal * 1000 / double(state.iterations());
    state.counters["plain_ms"] = plainTotal * 1000 / double(state.iterations());
    state.counters["ratio"] = ratio;
    state.counters["callbacks"] = double(callbacks) / double(state.iterations());
    std::printf("%s: batch %.1f ms, plain loop %.1f ms, ratio %.2fx (goal within 3x)\n",
                chained ? "every name taken by another file" : "fresh names",
                batchTotal * 1000 / double(state.iterations()),
                plainTotal * 1000 / double(state.iterations()), ratio);
}
BENCHMARK(BM_BatchAgainstPlainLoop)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
