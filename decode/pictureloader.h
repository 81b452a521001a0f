#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

namespace tavlin {

// What the display wants decoded once it knows the picture's size: the whole
// picture scaled to `scaledSize`, of which only `visible` (in scaled
// coordinates; empty means all of it) needs pixels. A picture shown larger than
// the screen is thus never held in full.
struct DecodeRequest {
    QSize scaledSize;
    QRect visible;
};

// Called with the picture's own size in pixels, after EXIF orientation.
using DecodePlanner = std::function<DecodeRequest(QSize orientedSize)>;

struct LoadedPicture {
    bool ok = false;
    QString error; // a sentence a person can read when !ok
    QSize size;    // the picture's own size in pixels, after EXIF orientation
    std::int64_t fileSize = 0;
    QImage image;           // the decoded pixels
    QRect imageRect;        // where `image` sits in the scaled picture's coordinates
    QByteArray format;      // the format's name ("jpeg", "png", ...) once the header is read
    bool cancelled = false; // stopped because the caller no longer wanted it
    // When ok: sentences to pass on with the picture, which shows, but not all of it (the
    // file is cut short) or not in its true colours (its colour profile cannot be used);
    // empty when nothing is amiss.
    QString warning;
};

// Limits that keep every load bounded in time and memory.
struct PictureLimits {
    // Pictures claiming more pixels than this are refused before decoding.
    static constexpr std::int64_t maxPixels = std::int64_t(1) << 28; // 268 megapixels
    // Widest or tallest picture accepted (JPEG's own limit is 65535).
    static constexpr int maxSide = 65535;
    // Progressive JPEGs with more scans than this are refused: each scan walks the
    // whole picture, so thousands of empty scans decode for minutes.
    static constexpr int maxScans = 300;
    // Blocks walked over all scans together: each scan visits every 8 x 8 block of its
    // components, so 299 scans over 100 megapixels cost as much as 50,000 over one. A real
    // progressive picture walks each block about ten times.
    static constexpr std::int64_t maxScanBlocks = std::int64_t(64) << 20;
    // QImageReader's allocation limit in megabytes, a backstop behind the memory budget.
    static constexpr int allocationLimitMB = int(maxPixels * 4 / (1024 * 1024));
    // The most one picture's decode may hold at its peak, all buffers counted.
    static constexpr std::int64_t memoryBudget = std::int64_t(256) << 20;
};

// How one load may be steered from outside: a decode that is no longer wanted
// stops early once `cancelled` turns true (checked between chunks of work), and
// the load refuses what would hold more than `memoryBudget` bytes at its peak.
// Several decodes running at once each get a smaller budget.
struct LoadControl {
    const std::atomic<bool>* cancelled = nullptr;
    std::int64_t memoryBudget = PictureLimits::memoryBudget;
    bool isCancelled() const { return cancelled && cancelled->load(std::memory_order_relaxed); }
};

// Loads a picture file of any format the formats table names (decode/formats.h) for display;
// its bytes, not its name, say which. Only regular files are opened;
// hostile files (absurd dimensions, endless progressive scans) are refused
// before decoding, so every call ends in bounded time and memory.
// Safe to call from any thread; a cancelled load returns !ok with `cancelled` set.
LoadedPicture loadPicture(const QString& path, const DecodePlanner& planner,
                          const LoadControl& control = {});

// The libjpeg reduction (1, 2, 4 or 8) to decode at: the largest whose output still
// covers `target` when decoding a picture of `source` pixels.
int jpegReduction(QSize source, QSize target);

} // namespace tavlin
