#pragma once

#include <QString>
#include <QStringList>

#include "fileops/batchrename.h"

namespace tavlin {

// Folders whose batch rename has begun and not yet ended, kept in the settings store
// (Software\Zan\Tavlin\Batch Rename) so the next start can finish every one of them,
// whatever folder it opens.
QStringList BatchFoldersInFlight();
enum class Remembered {
    Now,      // added to the list
    Already,  // listed already: another batch there owns the entry
    NotSaved, // the list could not be saved
};
Remembered RememberBatchFolder(const QString& folder);
void ForgetBatchFolder(const QString& folder);

// ExecuteBatchRename with the folder remembered from before the first file moves until
// every file bears a visible name again. A batch whose folder cannot be remembered does not
// start: a crash would leave its files under hidden names that no other start looks for.
BatchOutcome RunBatchRename(const QString& folder, const std::vector<BatchEntry>& plan,
                            const BatchProgress& progress = {}, const BatchBreather& breathe = {});

// Finishes or rolls back the batch of every remembered folder and forgets each folder
// that is settled; run once at start-up. Returns the messages of folders that could not
// be settled (a damaged journal, a file that stays hidden).
QStringList RecoverBatchesInFlight();

} // namespace tavlin
