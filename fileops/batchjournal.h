#pragma once

#include <optional>
#include <vector>

#include <QByteArray>

namespace tavlin::batchjournal {

// One file of a running batch. A file whose old name is wanted by another file of the
// batch goes through tempName first; the others move straight to newName.
struct Entry {
    QByteArray oldName;
    QByteArray tempName; // empty for a direct move
    QByteArray newName;
};

// Phase 1 parks files under their temporary names; phase 2 gives every file its new
// name. A crash in phase 1 is rolled back, a crash in phase 2 is finished.
struct Journal {
    int phase = 1;
    std::vector<Entry> entries;
};

// Hidden, so the file list never shows it.
inline constexpr char kFileName[] = ".tavlin-rename.journal";
inline constexpr char kTempFileName[] = ".tavlin-rename.journal.new";

// Replaces the journal in the folder atomically and makes it durable (file and folder
// fsync). Returns 0 or the errno that stopped it.
int write(int dirFd, const Journal& journal);

enum class ReadStatus { Absent, Ok, Damaged, Unreadable };
struct ReadResult {
    ReadStatus status = ReadStatus::Absent;
    Journal journal;
    int error = 0;
};
// Reads the journal in one pass with bounded memory. A journal of any content that is not
// exactly what write() makes (entries naming anything but plain names of this folder, names
// a replay could lose a file over, a count that does not match) is Damaged, and nothing of it
// is used.
ReadResult read(int dirFd);
// The same check on journal text in memory: true and `journal` filled when it is sound.
bool parse(const QByteArray& text, Journal& journal);

// Removes the journal (and a half-written one) and makes the removal durable.
void remove(int dirFd);

} // namespace tavlin::batchjournal
