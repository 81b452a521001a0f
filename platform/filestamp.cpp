#include "platform/filestamp.h"

#include <sys/stat.h>

#include "platform/filenames.h"

namespace tavlin {

FileStamp fileStampOf(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(encodeFileName(path).constData(), &st) != 0)
        return {};
    return fileStampOf(st);
}

FileStamp fileStampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.size = st.st_size;
    stamp.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return stamp;
}

} // namespace tavlin
