#include "viewer/picturetree.h"

#include <climits>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include <QSet>

#include "platform/filenames.h"

namespace tavlin {

namespace {

// The real path of `path` (links resolved), empty when it cannot be had.
QByteArray realPath(const QByteArray& path) {
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return {};
    QByteArray result(resolved);
    std::free(resolved);
    return result;
}

} // namespace

QStringList listPictureTree(const QString& root, const NamePattern& pattern,
                            const std::function<void(const QStringList&)>& found,
                            const std::atomic<bool>* stop) {
    QStringList pictures;
    const QByteArray rootReal = realPath(encodeFileName(root));
    if (rootReal.isEmpty())
        return pictures;
    const QByteArray rootPrefix = rootReal.endsWith('/') ? rootReal : rootReal + '/';
    std::set<std::pair<dev_t, ino_t>> seen;
    // Folders still to read, relative to the root ("" for the root), the next one last.
    std::vector<QString> pending{QString()};
    while (!pending.empty()) {
        if (stop && stop->load(std::memory_order_relaxed))
            break;
        const QString relative = std::move(pending.back());
        pending.pop_back();
        const QString folder = relative.isEmpty() ? root : joinPath(root, relative);
        const QByteArray native = encodeFileName(folder);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second)
            continue;
        OpenFolder open(folder);
        FolderListing listing = listFolder(std::move(open), folder, pattern);
        if (listing.error)
            continue;
        const QString prefix = relative.isEmpty() ? QString() : relative + QLatin1Char('/');
        const QSet<QString> links(listing.links.begin(), listing.links.end());
        const qsizetype before = pictures.size();
        for (const QString& name : listing.files) {
            if (links.contains(name) &&
                !realPath(encodeFileName(joinPath(folder, name))).startsWith(rootPrefix))
                continue; // a link out of the tree
            pictures.append(prefix + name);
        }
        // Subfolders in natural order: pushed last to first, so the first is read next.
        for (qsizetype i = listing.folders.size() - 1; i >= 0; --i) {
            if (!links.contains(listing.folders[i]))
                pending.push_back(prefix + listing.folders[i]);
        }
        if (found && pictures.size() > before)
            found(pictures);
    }
    return pictures;
}

} // namespace tavlin
