#pragma once

#include <cstdint>

#include <QString>

struct stat;

namespace tavlin {

// What identifies one version of a file: a file replaced, rewritten or renamed
// over gets a different stamp. Invalid when the file cannot be examined.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0; // status change: a rename or a rewrite touches it
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool valid() const { return size >= 0; }
    bool operator==(const FileStamp&) const = default;
};
FileStamp fileStampOf(const QString& path);
FileStamp fileStampOf(const struct stat& st);

} // namespace tavlin
