// Runs one batch rename over a folder and reports each step on standard output, so the
// crash test can kill it with SIGKILL at a chosen point.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <QDir>
#include <QStringList>

#include "fileops/batchinflight.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s FOLDER PREFIX [DIE-AT-STEP]\n", argv[0]);
        return 2;
    }
    // With a step number the process kills itself there, for a crash at a known point.
    static const long dieAt = argc == 4 ? std::atol(argv[3]) : 0;
    static long step = 0;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    const auto plan = tavlin::PlanBatchRename(QString::fromLocal8Bit(argv[2]), names);
    if (::write(STDOUT_FILENO, "s", 1) != 1)
        return 3;
    // As the program does: the folder is remembered in the settings store while files move.
    const tavlin::BatchOutcome outcome = tavlin::RunBatchRename(folder, plan, [](auto&&...) {
        if (::write(STDOUT_FILENO, "p", 1) != 1)
            _exit(3);
        if (++step == dieAt)
            ::kill(::getpid(), SIGKILL);
    });
    return outcome.started && outcome.failures.empty() ? 0 : 1;
}
