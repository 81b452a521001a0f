#pragma once

#include <QByteArray>
#include <QString>

namespace tavlin {

// Why a rename did not happen; Renamed when the file now bears the new name.
enum class RenameStatus {
    Renamed,
    NameTaken,      // another entry already bears the new name
    NameNotAllowed, // empty, ".", "..", a separator, or refused by the file system
    NameTooLong,    // longer than the file system takes
    AccessDenied,   // permissions or an immutable file
    ReadOnly,       // the folder is on a file system mounted read-only
    FileGone,       // the file (or its folder) no longer exists
    Unsupported,    // the file system can neither rename without replacing nor hard-link
    OtherError,     // anything else; `error` holds the errno
};

struct RenameResult {
    RenameStatus status = RenameStatus::Renamed;
    int error = 0;        // the errno behind a failure, 0 when there is none
    bool viaLink = false; // carried out by link + unlink because the flag was refused
    long nameLimit = 0;   // with NameTooLong: the folder's longest name in bytes, 0 unknown

    bool ok() const { return status == RenameStatus::Renamed; }
    explicit operator bool() const { return ok(); }
    // What failed, in words a person can read ("the name is taken", "access is denied").
    QString describe() const;
};

// The extension of a file name: from the leftmost dot to the end, dot included, in the
// case found. "" for a name without a dot and for a name whose first character is a dot.
QString GetExtension(const QString& svFilename);

// True for a name that stays inside its folder: not empty, not "." or "..", no separator
// and no NUL character.
bool IsPlainFileName(const QString& name);

// Renames svFolder/svFilename to svFolder/svNewFileName and never replaces an existing
// file. Empty or non-plain names fail without touching the disk.
RenameResult RenameFile(const QString& svFolder, const QString& svFilename,
                        const QString& svNewFileName);

// Removes the file at `path` for good (unlink), by its exact bytes. 0 or the errno.
int RemoveFile(const QString& path);

namespace fsops {

// Renames an entry of the folder open as dirFd without ever replacing another entry:
// renameat2(RENAME_NOREPLACE), link + unlink where the flag is refused, and a change of
// letter case through a temporary name where the file system ignores case.
RenameResult moveNoReplace(int dirFd, const QByteArray& from, const QByteArray& to);

// The link + unlink path on its own. After a crash between the two steps the file
// bears both names (same device and inode); never none.
RenameResult linkThenUnlink(int dirFd, const QByteArray& from, const QByteArray& to);

// Writes all of `bytes` to `fd`, through short writes and interruptions; 0 or the errno.
int writeAll(int fd, const QByteArray& bytes);

// True when both entries exist and are the same file (device and inode).
bool sameFile(int dirFd, const QByteArray& a, const QByteArray& b);
bool entryExists(int dirFd, const QByteArray& name);

// Puts back a file left under a case-change temporary name by a crash; returns how many.
// Looks up one marker by name, so a folder without one costs a single failed open.
int recoverCaseRenames(int dirFd);

// The prefix of those temporary names, and the marker that names the case change under
// way; both are hidden files, so no list shows them.
inline constexpr char kCaseTempPrefix[] = ".tavlin-case-";
inline constexpr char kCaseMarkerName[] = ".tavlin-case.pending";

// A file-descriptor guard for a folder opened for *at() calls.
class FolderHandle {
public:
    explicit FolderHandle(const QString& folder);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    int fd() const { return fd_; }
    int error() const { return error_; }
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// Maps an errno from rename, link or unlink onto a result.
RenameResult resultFromErrno(int error);

} // namespace fsops

} // namespace tavlin
