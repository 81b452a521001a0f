#include "platform/memory.h"

#include <malloc.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/filenames.h"

namespace tavlin {

std::int64_t physicalMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::int64_t(pages) * pageSize : 0;
}

void returnLargeBuffersPromptly() {
    static std::once_flag once;
    // A fixed threshold also stops glibc from raising it after each large free,
    // which is what keeps freed picture buffers in the heap.
    std::call_once(once, [] { ::mallopt(M_MMAP_THRESHOLD, 1 << 20); });
}

FileStamp fileStampOf(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(encodeFileName(path).constData(), &st) != 0)
        return {};
    FileStamp stamp;
    stamp.size = st.st_size;
    stamp.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return stamp;
}

} // namespace tavlin
