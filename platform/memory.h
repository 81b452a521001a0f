#pragma once

#include <cstdint>

#include <QString>

namespace tavlin {

// The machine's physical memory in bytes; 0 when it cannot be told.
std::int64_t physicalMemoryBytes();

// Hands large buffers (decoded pictures) back to the system as soon as they are
// freed. Without it the C library may keep a freed 24 MB decode buffer for
// reuse, once per decoding thread, and the process stays that much larger.
void returnLargeBuffersPromptly();

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

} // namespace tavlin
