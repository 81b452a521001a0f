#pragma once

#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

#include "fileops/rename.h"

namespace tavlin {

struct BatchEntry {
    QString oldName;
    QString newName;
    bool operator==(const BatchEntry&) const = default;
};

// Number of decimal digits of n (1 for 0 to 9).
int DecimalDigits(qsizetype n);

// The names of a batch: prefix + number from 1, zero-padded to the digits of the count,
// + the extension from the first dot in lower case. Names in list order.
std::vector<BatchEntry> PlanBatchRename(const QString& prefix, const QStringList& names);

// Empty when `prefix` may start a batch, otherwise the message that refuses it (a
// separator or NUL would move files out of the folder or be cut short).
QString BatchPrefixProblem(const QString& prefix);

// Called before each file gets its new name: index from 1 to count. It may yield to the
// event loop; it must not start another batch.
using BatchProgress = std::function<void(const QString& oldName, const QString& newName,
                                         qsizetype index, qsizetype count)>;

// Called between the steps before the first new name (planning, the journal, parking
// files under temporary names); it may yield to the event loop like BatchProgress.
using BatchBreather = std::function<void()>;

struct BatchFailure {
    QString oldName;
    QString newName;
    QString keptName; // the name the file bears now
    RenameResult result;
};

struct BatchOutcome {
    bool started = false; // false: refused before any file moved; `problem` says why
    QString problem;
    qsizetype renamed = 0;
    qsizetype alreadyNamed = 0; // bore their new name already
    std::vector<BatchFailure> failures;
    // A file could not be given a visible name; the journal stays for the next recovery.
    bool journalKept = false;
};

// Carries out a plan in `folder` so that no file of the batch collides with another and
// no file is replaced. A journal in the folder lets RecoverBatchRename finish the work
// after a crash; a batch left by an earlier crash is recovered first.
BatchOutcome ExecuteBatchRename(const QString& folder, const std::vector<BatchEntry>& plan,
                                const BatchProgress& progress = {},
                                const BatchBreather& breathe = {});

struct RecoveryOutcome {
    bool journalFound = false;
    qsizetype repaired = 0; // files moved or duplicate names dropped
    QString problem;        // set when a journal was found but could not be used
    bool busy = false;      // a batch is running in the folder now; nothing was done
};

// Finishes (or rolls back) a batch that a crash left half-done in `folder`, and puts back
// a file left under a case-change temporary name. Cheap when there is nothing to do; a
// batch still running in another process is left alone.
RecoveryOutcome RecoverBatchRename(const QString& folder);

} // namespace tavlin
