#include "platform/memory.h"

#include <malloc.h>
#include <mutex>
#include <unistd.h>

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

} // namespace tavlin
