#include "fileops/batchrename.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QRandomGenerator>
#include <QSet>

#include "fileops/batchjournal.h"
#include "platform/filenames.h"

namespace tavlin {

namespace {

using batchjournal::Entry;
using batchjournal::Journal;

// Holds flock() on the folder for the life of a batch; the kernel drops it when the
// process dies, which is what tells a crashed batch from a running one.
class FolderLock {
public:
    explicit FolderLock(int dirFd) : fd_(dirFd) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
            held_ = true;
        else
            busy_ = errno == EWOULDBLOCK;
        // Other failures (a file system without locks) leave the folder unlocked.
    }
    ~FolderLock() {
        if (held_)
            ::flock(fd_, LOCK_UN);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool busy() const { return busy_; }

private:
    int fd_;
    bool held_ = false;
    bool busy_ = false;
};

// "beach (2).jpg": a visible name for a file whose old and new names are both taken. The
// stem is shortened (then the extension) so the name stays within the file system's limit.
QByteArray spareName(const QByteArray& oldName, int k) {
    const QString old = decodeFileName(oldName);
    QString ext = GetExtension(old);
    QString stem = old.left(old.size() - ext.size());
    const QString tag = QStringLiteral(" (%1)").arg(k);
    auto dropLast = [](QString& s) { s.chop(s.size() >= 2 && s.back().isLowSurrogate() ? 2 : 1); };
    QByteArray name = encodeFileName(stem + tag + ext);
    while (name.size() > NAME_MAX && (!stem.isEmpty() || ext.size() > 1)) {
        dropLast(stem.isEmpty() ? ext : stem);
        name = encodeFileName(stem + tag + ext);
    }
    return name;
}

constexpr int kMaxSpareNames = 1000;

// Gives a parked file a visible name of its own again: its old name or a spare one.
QByteArray putBack(int dirFd, const QByteArray& temp, const QByteArray& oldName) {
    RenameResult r = fsops::moveNoReplace(dirFd, temp, oldName);
    if (r)
        return oldName;
    for (int k = 1; k <= kMaxSpareNames && r.status == RenameStatus::NameTaken; ++k) {
        const QByteArray spare = spareName(oldName, k);
        r = fsops::moveNoReplace(dirFd, temp, spare);
        if (r)
            return spare;
    }
    return temp;
}

// A crash inside link + unlink leaves the parked file under a second name too; drop the
// temporary one so the file keeps exactly one name.
bool dropDuplicate(int dirFd, const Entry& e) {
    bool same = fsops::sameFile(dirFd, e.tempName, e.newName) ||
                fsops::sameFile(dirFd, e.tempName, e.oldName);
    for (int k = 1; !same && k <= kMaxSpareNames; ++k) {
        const QByteArray spare = spareName(e.oldName, k);
        if (!fsops::entryExists(dirFd, spare))
            break;
        same = fsops::sameFile(dirFd, e.tempName, spare);
    }
    return same && ::unlinkat(dirFd, e.tempName.constData(), 0) == 0;
}

// Settles every file of a journal; `stuck` counts the files left under a temporary name.
qsizetype replay(int dirFd, const Journal& journal, qsizetype& stuck) {
    qsizetype repaired = 0;
    for (const Entry& e : journal.entries) {
        if (!e.tempName.isEmpty()) {
            if (!fsops::entryExists(dirFd, e.tempName))
                continue;
            ++repaired;
            if (dropDuplicate(dirFd, e))
                continue;
            // Phase 2 had begun: every name the batch needs is free, so finish the move.
            if (journal.phase == 2 && fsops::moveNoReplace(dirFd, e.tempName, e.newName))
                continue;
            if (putBack(dirFd, e.tempName, e.oldName) == e.tempName)
                ++stuck;
        } else if (journal.phase == 2 && fsops::entryExists(dirFd, e.oldName)) {
            // No file of the batch moves onto a direct entry's old name, so the file
            // found there is this entry's own.
            if (fsops::sameFile(dirFd, e.oldName, e.newName)) {
                if (::unlinkat(dirFd, e.oldName.constData(), 0) == 0)
                    ++repaired;
            } else if (fsops::moveNoReplace(dirFd, e.oldName, e.newName)) {
                ++repaired;
            }
        }
    }
    return repaired;
}

QString journalProblem(const batchjournal::ReadResult& read) {
    const QString what = read.status == batchjournal::ReadStatus::Damaged
                             ? QStringLiteral("is damaged")
                             : QStringLiteral("cannot be read (%1)")
                                   .arg(QString::fromLocal8Bit(std::strerror(read.error)));
    return QStringLiteral("The rename journal %1 left in this folder by an interrupted batch "
                          "rename %2. Nothing was renamed; move that file away to rename again.")
        .arg(QString::fromLatin1(batchjournal::kFileName), what);
}

QString stuckProblem(qsizetype stuck) {
    return QStringLiteral("%1 file(s) of an interrupted batch rename could not be given a "
                          "visible name again and stay under hidden names starting with "
                          "\".tavlin-rename-\". Nothing was renamed.")
        .arg(stuck);
}

// Recovery with the folder lock already held.
RecoveryOutcome recoverLocked(int dirFd) {
    RecoveryOutcome outcome;
    const batchjournal::ReadResult read = batchjournal::read(dirFd);
    switch (read.status) {
    case batchjournal::ReadStatus::Absent:
        ::unlinkat(dirFd, batchjournal::kTempFileName, 0);
        break;
    case batchjournal::ReadStatus::Ok: {
        outcome.journalFound = true;
        qsizetype stuck = 0;
        outcome.repaired = replay(dirFd, read.journal, stuck);
        ::fsync(dirFd);
        // The journal is the only record of a file still under a hidden name: keep it.
        if (stuck == 0)
            batchjournal::remove(dirFd);
        else
            outcome.problem = stuckProblem(stuck);
        break;
    }
    case batchjournal::ReadStatus::Damaged:
    case batchjournal::ReadStatus::Unreadable:
        outcome.journalFound = true;
        outcome.problem = journalProblem(read);
        break;
    }
    outcome.repaired += fsops::recoverCaseRenames(dirFd);
    return outcome;
}

QString folderProblem(const QString& folder, int error) {
    return QStringLiteral("The folder %1 cannot be opened: %2.")
        .arg(folder, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

int DecimalDigits(qsizetype n) {
    int digits = 1;
    for (; n >= 10; n /= 10)
        ++digits;
    return digits;
}

std::vector<BatchEntry> PlanBatchRename(const QString& prefix, const QStringList& names) {
    std::vector<BatchEntry> plan;
    plan.reserve(size_t(names.size()));
    const int width = DecimalDigits(names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString number = QStringLiteral("%1").arg(i + 1, width, 10, QLatin1Char('0'));
        plan.push_back({names[i], prefix + number + GetExtension(names[i]).toLower()});
    }
    return plan;
}

QString BatchPrefixProblem(const QString& prefix) {
    // A leading dot hides every renamed file: no file list shows hidden names.
    if (prefix.contains(QLatin1Char('/')) || prefix.contains(QDir::separator()) ||
        prefix.contains(QChar(u'\0')) || prefix.startsWith(QLatin1Char('.')))
        return QStringLiteral("The prefix %1 is not allowed: a file name cannot hold \"/\", and "
                              "a name that starts with \".\" is hidden.")
            .arg(prefix);
    return {};
}

BatchOutcome ExecuteBatchRename(const QString& folder, const std::vector<BatchEntry>& plan,
                                const BatchProgress& progress, const BatchBreather& breathe) {
    BatchOutcome outcome;
    // Lets the window repaint between the steps that come before the first new name.
    auto pause = [&breathe] {
        if (breathe)
            breathe();
    };
    fsops::FolderHandle dir(folder);
    if (!dir.isOpen()) {
        outcome.problem = folderProblem(folder, dir.error());
        return outcome;
    }
    const int fd = dir.fd();
    FolderLock lock(fd);
    if (lock.busy()) {
        outcome.problem = QStringLiteral("Another batch rename is running in this folder.");
        return outcome;
    }
    // Finish what an earlier crash left before planning moves over the same names.
    const RecoveryOutcome earlier = recoverLocked(fd);
    if (!earlier.problem.isEmpty()) {
        outcome.problem = earlier.problem;
        return outcome;
    }

    // A file whose old name is wanted by the batch (compared case-blind, for file systems
    // that ignore case) is parked under a temporary name first; the rest move directly.
    QSet<QString> wanted;
    wanted.reserve(qsizetype(plan.size()));
    for (const BatchEntry& e : plan)
        wanted.insert(e.newName.toCaseFolded());

    enum class Step { Skip, Invalid, Move };
    std::vector<Step> steps(plan.size(), Step::Move);
    std::vector<qsizetype> entryOf(plan.size(), -1);
    Journal journal;
    journal.entries.reserve(plan.size());
    const QByteArray token =
        QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
    bool parking = false;
    for (size_t i = 0; i < plan.size(); ++i) {
        const BatchEntry& e = plan[i];
        if (i % 256 == 0)
            pause();
        if (!IsPlainFileName(e.oldName) || !IsPlainFileName(e.newName)) {
            steps[i] = Step::Invalid;
            continue;
        }
        if (e.oldName == e.newName) {
            steps[i] = Step::Skip;
            continue;
        }
        Entry entry{encodeFileName(e.oldName), {}, encodeFileName(e.newName)};
        if (wanted.contains(e.oldName.toCaseFolded())) {
            entry.tempName = ".tavlin-rename-" + token + '-' + QByteArray::number(qsizetype(i));
            parking = true;
        }
        entryOf[i] = qsizetype(journal.entries.size());
        journal.entries.push_back(std::move(entry));
    }

    journal.phase = parking ? 1 : 2;
    pause();
    const int firstWrite = batchjournal::write(fd, journal);
    pause();
    if (const int error = firstWrite; error != 0) {
        outcome.problem = QStringLiteral("Nothing was renamed: the folder does not accept the "
                                         "rename journal (%1).")
                              .arg(QString::fromLocal8Bit(std::strerror(error)));
        return outcome;
    }
    outcome.started = true;

    std::vector<RenameResult> parked(journal.entries.size());
    if (parking) {
        for (size_t k = 0; k < journal.entries.size(); ++k) {
            const Entry& e = journal.entries[k];
            if (!e.tempName.isEmpty()) {
                parked[k] = fsops::moveNoReplace(fd, e.oldName, e.tempName);
                pause();
            }
        }
        // Every parking move is on disk before the journal says the batch goes forward.
        ::fsync(fd);
        journal.phase = 2;
        pause();
        const int secondWrite = batchjournal::write(fd, journal);
        pause();
        if (const int error = secondWrite; error != 0) {
            // Without a durable phase 2 the safe way is back: unpark and stop.
            journal.phase = 1;
            qsizetype stuck = 0;
            replay(fd, journal, stuck);
            ::fsync(fd);
            outcome.started = false;
            const QString cause = QString::fromLocal8Bit(std::strerror(error));
            if (stuck == 0) {
                batchjournal::remove(fd);
                outcome.problem = QStringLiteral("Nothing was renamed: the rename journal could "
                                                 "not be updated (%1).")
                                      .arg(cause);
                return outcome;
            }
            // The journal is the only record of the files left hidden: the next start needs it.
            outcome.journalKept = true;
            outcome.problem =
                QStringLiteral("The rename journal could not be updated (%1). ").arg(cause) +
                stuckProblem(stuck);
            return outcome;
        }
    }

    const qsizetype count = qsizetype(plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        const BatchEntry& e = plan[i];
        if (progress)
            progress(e.oldName, e.newName, qsizetype(i) + 1, count);
        if (steps[i] == Step::Skip) {
            ++outcome.alreadyNamed;
            continue;
        }
        if (steps[i] == Step::Invalid) {
            outcome.failures.push_back(
                {e.oldName, e.newName, e.oldName, {RenameStatus::NameNotAllowed, EINVAL}});
            continue;
        }
        const size_t k = size_t(entryOf[i]);
        const Entry& entry = journal.entries[k];
        if (!parked[k]) {
            outcome.failures.push_back({e.oldName, e.newName, e.oldName, parked[k]});
            continue;
        }
        const QByteArray& from = entry.tempName.isEmpty() ? entry.oldName : entry.tempName;
        const RenameResult r = fsops::moveNoReplace(fd, from, entry.newName);
        if (r) {
            ++outcome.renamed;
            continue;
        }
        const QByteArray kept =
            entry.tempName.isEmpty() ? entry.oldName : putBack(fd, entry.tempName, entry.oldName);
        if (kept == entry.tempName)
            outcome.journalKept = true;
        outcome.failures.push_back({e.oldName, e.newName, decodeFileName(kept), r});
    }
    ::fsync(fd);
    // A file still under its temporary name is found again by the journal's next replay.
    if (!outcome.journalKept)
        batchjournal::remove(fd);
    return outcome;
}

RecoveryOutcome RecoverBatchRename(const QString& folder) {
    fsops::FolderHandle dir(folder);
    if (!dir.isOpen())
        return {};
    FolderLock lock(dir.fd());
    if (lock.busy()) {
        RecoveryOutcome busy;
        busy.busy = true;
        return busy;
    }
    return recoverLocked(dir.fd());
}

} // namespace tavlin
