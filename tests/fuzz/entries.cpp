#include "entries.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QString>

#include "decode/jpegscan.h"
#include "decode/pictureloader.h"
#include "fileops/batchjournal.h"
#include "layout/layout.h"
#include "platform/hivestore_text.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVLIN_HEAP_HOOKS 1
#include <sanitizer/allocator_interface.h>
#endif
#endif

namespace tavlin::fuzz {

namespace {

constexpr double kTwipsPerPixel = 15; // 96 DPI
constexpr QSize kScreen(1920, 1080);

int px(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The loader reads files by path; one in-memory file, rewritten per input, stands in.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("tavlin-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0)
            fail("memfd_create");
        path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    }
    const QString& write(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, data, size, 0) != ssize_t(size))
            fail("writing the in-memory file");
        return path_;
    }

private:
    int fd_;
    QString path_;
};

#ifdef TAVLIN_HEAP_HOOKS
// Under the sanitizers every allocation and release passes these hooks, so the heap a load
// grows by at its peak is known exactly: the process's resident size is not a measure of it,
// with the sanitizers' shadow memory, quarantine and caches on top.
std::atomic<std::int64_t> heapLive{0};
std::atomic<std::int64_t> heapPeak{0};

void onMalloc(const volatile void*, std::size_t size) {
    const std::int64_t now = heapLive.fetch_add(std::int64_t(size)) + std::int64_t(size);
    std::int64_t peak = heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now))
        ;
}

void onFree(const volatile void* p) {
    if (p && __sanitizer_get_ownership(const_cast<const void*>(p)))
        heapLive.fetch_sub(
            std::int64_t(__sanitizer_get_allocated_size(const_cast<const void*>(p))));
}

// The most the heap grew by while `run` ran.
template <typename Run> std::int64_t heapGrowth(Run run) {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    if (!installed)
        fail("installing the heap hooks");
    const std::int64_t before = heapLive.load();
    heapPeak.store(before);
    run();
    return heapPeak.load() - before;
}
#else
// Without the sanitizers' hooks the heap is not measured.
template <typename Run> std::int64_t heapGrowth(Run run) {
    run();
    return 0;
}
#endif

// Room above a load's budget for what the loader does not count: libjpeg's and the image
// plug-ins' own tables and row buffers, and the error text.
constexpr std::int64_t kUncountedHeap = std::int64_t(32) << 20;

} // namespace

Planned planFor1080p(QSize orientedSize) {
    const DisplayOptions options{true, true, true, design::frameSettings.width};
    const DisplayGeometry g =
        computeDisplayGeometry(orientedSize, kScreen.width() * kTwipsPerPixel,
                               kScreen.height() * kTwipsPerPixel, kTwipsPerPixel, options);
    const QRect placed(px(g.picture.left), px(g.picture.top), std::max(1, px(g.picture.width)),
                       std::max(1, px(g.picture.height)));
    const QRect onScreen =
        placed.intersected(QRect(QPoint(0, 0), kScreen)).translated(-placed.topLeft());
    const QSize decoded = placed.size();
    return {decoded, onScreen.intersected(QRect(QPoint(0, 0), decoded))};
}

int loader(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    const QString& path = file.write(data, size);
    LoadedPicture picture;
    const std::int64_t grown = heapGrowth([&] {
        picture = loadPicture(path, [](QSize oriented) {
            const Planned plan = planFor1080p(oriented);
            return DecodeRequest{plan.decoded, plan.visible};
        });
    });
    if (grown > PictureLimits::memoryBudget + kUncountedHeap) {
        std::fprintf(stderr, "the load held %lld MB at its peak\n", (long long)(grown >> 20));
        fail("a load held more than its memory budget");
    }
    if (picture.ok && picture.image.isNull())
        fail("a load reported success without pixels");
    if (!picture.ok && picture.error.isEmpty())
        fail("a failed load gave no reason");
    return 0;
}

int jpegScan(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    constexpr int kMaxScans = PictureLimits::maxScans;
    const JpegScanReport report = scanJpeg(buffer, kMaxScans);
    if (report.scans > kMaxScans + 1)
        fail("the scan count went past its limit");
    return 0;
}

int hive(const std::uint8_t* data, std::size_t size) {
    const QString name = QStringLiteral("HKEY_CURRENT_USER");
    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const hivestore::HiveParse first = hivestore::parseHive(text, name);
    // Whatever was read must be written so that it reads back the same, with nothing bad.
    const QByteArray written = hivestore::serialiseHive(first.tree, name);
    const hivestore::HiveParse second = hivestore::parseHive(written, name);
    if (second.badLineCount != 0)
        fail("the store wrote a line it cannot read back");
    if (hivestore::serialiseHive(second.tree, name) != written)
        fail("a hive read back differs from what was written");
    // Fed in small pieces, the streaming reader must agree with one whole read.
    hivestore::HiveReader reader(name);
    for (std::size_t at = 0; at < size; at += 7)
        reader.feed(text.constData() + at, qsizetype(std::min<std::size_t>(7, size - at)));
    const hivestore::HiveParse pieces = reader.finish();
    if (pieces.badLineCount != first.badLineCount ||
        hivestore::serialiseHive(pieces.tree, name) != written)
        fail("reading in pieces differs from reading at once");
    return 0;
}

int journal(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    batchjournal::Journal parsed;
    if (!batchjournal::parse(text, parsed))
        return 0;
    for (const batchjournal::Entry& e : parsed.entries) {
        for (const QByteArray* name : {&e.oldName, &e.newName})
            if (name->isEmpty() || name->contains('/') || name->contains('\0') || *name == "." ||
                *name == "..")
                fail("a journal entry names something outside its folder");
        if (e.oldName == e.newName || e.tempName == e.oldName || e.tempName == e.newName)
            fail("a journal entry could make the replay drop a file");
    }
    return 0;
}

Entry entryFor(std::string_view target) {
    if (target == "loader")
        return loader;
    if (target == "jpegscan")
        return jpegScan;
    if (target == "hive")
        return hive;
    if (target == "journal")
        return journal;
    for (const char* format : {"png", "webp", "tiff", "heif", "jxl"})
        if (target == format)
            return loader;
    return nullptr;
}

} // namespace tavlin::fuzz
