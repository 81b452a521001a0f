#include "fileops/batchinflight.h"

#include "platform/filenames.h"
#include "registry/registrymanager.h"
#include "registry/settings.h"

namespace tavlin {

namespace {

const QString kValueName = QStringLiteral("Folders In Progress");

RegistryManager batchKey() {
    RegistryManager rm = SettingsKey();
    rm.setSubkey(QStringLiteral("Batch Rename"));
    return rm;
}

// Paths as the file system spells them, NUL-separated: no path holds a NUL, and a name
// that is not valid UTF-8 survives unchanged.
QStringList readFolders(RegistryManager& rm) {
    QByteArray bytes;
    if (!rm.ReadValueBytes(kValueName, bytes))
        return {};
    QStringList folders;
    for (const QByteArray& path : bytes.split('\0'))
        if (!path.isEmpty())
            folders << decodeFileName(path);
    return folders;
}

bool writeFolders(RegistryManager& rm, const QStringList& folders) {
    QByteArray bytes;
    for (const QString& folder : folders)
        bytes += encodeFileName(folder) + '\0';
    rm.CreateSubKey();
    return rm.WriteValueBytes(kValueName, bytes, regtype::Binary);
}

} // namespace

QStringList BatchFoldersInFlight() {
    RegistryManager rm = batchKey();
    return readFolders(rm);
}

bool RememberBatchFolder(const QString& folder) {
    RegistryManager rm = batchKey();
    QStringList folders = readFolders(rm);
    if (folders.contains(folder))
        return false;
    folders << folder;
    writeFolders(rm, folders);
    return true;
}

void ForgetBatchFolder(const QString& folder) {
    RegistryManager rm = batchKey();
    QStringList folders = readFolders(rm);
    if (folders.removeAll(folder) > 0)
        writeFolders(rm, folders);
}

BatchOutcome RunBatchRename(const QString& folder, const std::vector<BatchEntry>& plan,
                            const BatchProgress& progress, const BatchBreather& breathe) {
    const bool remembered = RememberBatchFolder(folder);
    BatchOutcome outcome = ExecuteBatchRename(folder, plan, progress, breathe);
    if (remembered && !outcome.journalKept)
        ForgetBatchFolder(folder);
    return outcome;
}

QStringList RecoverBatchesInFlight() {
    QStringList problems;
    for (const QString& folder : BatchFoldersInFlight()) {
        const RecoveryOutcome outcome = RecoverBatchRename(folder);
        // A batch still running in another process forgets its folder when it ends.
        if (outcome.busy)
            continue;
        if (outcome.problem.isEmpty())
            ForgetBatchFolder(folder);
        else
            problems << outcome.problem;
    }
    return problems;
}

} // namespace tavlin
