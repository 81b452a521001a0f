// Runs one batch rename over a folder and reports each step on standard output, so the
// crash test can kill it with SIGKILL at a chosen point.
#include <cstdio>
#include <unistd.h>

#include <QDir>
#include <QStringList>

#include "fileops/batchrename.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER PREFIX\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    const auto plan = tavlin::PlanBatchRename(QString::fromLocal8Bit(argv[2]), names);
    if (::write(STDOUT_FILENO, "s", 1) != 1)
        return 3;
    const tavlin::BatchOutcome outcome = tavlin::ExecuteBatchRename(folder, plan, [](auto&&...) {
        if (::write(STDOUT_FILENO, "p", 1) != 1)
            _exit(3);
    });
    return outcome.started && outcome.failures.empty() ? 0 : 1;
}
