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

Remembered RememberBatchFolder(const QString& folder) {
    RegistryManager rm = batchKey();
    QStringList folders = readFolders(rm);
    if (folders.contains(folder))
        return Remembered::Already;
    folders << folder;
    return writeFolders(rm, folders) ? Remembered::Now : Remembered::NotSaved;
}

void ForgetBatchFolder(const QString& folder) {
    RegistryManager rm = batchKey();
    QStringList folders = readFolders(rm);
    if (folders.removeAll(folder) > 0)
        writeFolders(rm, folders);
}

BatchOutcome RunBatchRename(const QString& folder, const std::vector<BatchEntry>& plan,
                            const BatchProgress& progress, const BatchBreather& breathe) {
    const Remembered remembered = RememberBatchFolder(folder);
    if (remembered == Remembered::NotSaved) {
        BatchOutcome refused;
        refused.problem = QStringLiteral(
            "Nothing was renamed: the settings could not be saved, and a batch rename needs to "
            "note its folder there first, so that the next start can finish it if it is cut "
            "short.");
        return refused;
    }
    BatchOutcome outcome = ExecuteBatchRename(folder, plan, progress, breathe);
    if (remembered == Remembered::Now && !outcome.journalKept)
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
