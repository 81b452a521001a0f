#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <QByteArray>
#include <QIODevice>

namespace tavlin {

// The file's bytes as the decoder will be given them, read on demand in growing chunks and
// kept, so the decoder can later be given exactly the bytes that were checked. Bytes the
// decoder has no use for are dropped: those already read are cut out of what is kept, those
// not yet read are passed over on the file. Positions count the kept bytes only.
//
// Nothing is read past what the walk asks for, beyond one chunk, and neither the bytes kept
// nor the bytes read over all pass `maxBytes`: a small picture followed by gigabytes of
// padding costs one chunk, and one behind gigabytes of segments to pass over costs a few
// bytes a segment.
//
// Dropped bytes leave a gap in the store, closed by moving the bytes after it down the next
// time more are read or something is dropped further on, so each kept byte moves at most
// once, and only those read in the same chunk as a dropped segment. When the input goes, the
// store holds exactly the kept bytes.
class ByteInput {
public:
    ByteInput(QIODevice& device, std::int64_t maxBytes, QByteArray& store)
        : device_(device), maxBytes_(maxBytes), readLimit_(maxBytes), store_(store) {}
    ~ByteInput() { closeGap(); }
    ByteInput(const ByteInput&) = delete;
    ByteInput& operator=(const ByteInput&) = delete;

    // True once at least `n` bytes are held.
    bool have(std::int64_t n) {
        while (size() < n) {
            if (!more())
                return false;
        }
        return true;
    }

    std::uint8_t at(std::int64_t i) const { return std::uint8_t(store_[qsizetype(index(i))]); }
    void set(std::int64_t i, std::uint8_t value) { store_[qsizetype(index(i))] = char(value); }
    // The bytes from `i` on, up to the end of those held, in one piece (`i` lies at or after
    // every position dropped before).
    const std::uint8_t* span(std::int64_t i) const {
        return reinterpret_cast<const std::uint8_t*>(store_.constData()) + index(i);
    }
    std::int64_t size() const { return store_.size() - gap_; }
    // The walk stopped at the bound on bytes kept or read.
    bool capped() const { return capped_; }

    // Lowers the bound on bytes kept (what else the picture holds grew); capped at once
    // when more are held already.
    void setMaxBytes(std::int64_t maxBytes) {
        maxBytes_ = std::min(maxBytes_, maxBytes);
        if (size() > maxBytes_) {
            capped_ = true;
            ended_ = true;
        }
    }

    // The position of the next 0xFF at or after `from` and before `limit`; -1 when there is
    // none (the data ends, or reaches `limit`).
    std::int64_t findFF(std::int64_t from, std::int64_t limit = INT64_MAX) {
        for (;;) {
            const std::int64_t end = std::min(size(), limit);
            if (from < end) {
                const std::uint8_t* start = span(from);
                if (const void* hit = std::memchr(start, 0xFF, size_t(end - from)))
                    return from + (static_cast<const std::uint8_t*>(hit) - start);
                from = end;
            }
            if (from >= limit || !more())
                return -1;
        }
    }

    // The same, dropping the bytes passed over as it goes: they cost reading, not memory.
    std::int64_t dropToFF(std::int64_t from) {
        for (;;) {
            if (from < size()) {
                const std::uint8_t* start = span(from);
                if (const void* hit = std::memchr(start, 0xFF, size_t(size() - from))) {
                    const std::int64_t ff = from + (static_cast<const std::uint8_t*>(hit) - start);
                    drop(from, ff - from);
                    return from;
                }
                drop(from, size() - from);
            }
            if (!more())
                return -1;
        }
    }

    // Drops `count` kept bytes from position `from` on, which lies at or after every position
    // dropped before; those not read yet are passed over on the file. False when the file
    // ends first.
    bool drop(std::int64_t from, std::int64_t count) {
        if (count <= 0)
            return true;
        if (from < gapAt_)
            closeGap();
        moveDownTo(from);
        const std::int64_t held = size() - from;
        if (count < held) {
            gap_ += count;
            return true;
        }
        // All that is held from `from` on goes; the rest lies ahead in the file.
        store_.truncate(qsizetype(from));
        gap_ = 0;
        const std::int64_t ahead = count - held;
        return ahead == 0 || pass(ahead);
    }

private:
    std::int64_t index(std::int64_t i) const { return i < gapAt_ ? i : i + gap_; }

    // Makes the kept bytes before `to` lie together at the front of the store.
    void moveDownTo(std::int64_t to) {
        if (gap_ > 0 && to > gapAt_) {
            char* base = store_.data();
            std::memmove(base + gapAt_, base + gapAt_ + gap_, size_t(to - gapAt_));
        }
        gapAt_ = to;
    }

    void closeGap() {
        if (gap_ == 0)
            return;
        moveDownTo(size());
        store_.truncate(qsizetype(size()));
        gap_ = 0;
    }

    // Passes over `count` bytes of the file without keeping them.
    bool pass(std::int64_t count) {
        if (ended_)
            return false;
        // The next segment's header is what is wanted after this: read little next time, so a
        // file of many long segments to pass over is not read in full.
        smallNextRead_ = true;
        if (!device_.isSequential()) {
            const qint64 to = device_.pos() + count;
            if (to <= device_.size() && device_.seek(to))
                return true;
            ended_ = true;
            return false;
        }
        char scratch[4096];
        while (count > 0) {
            if (read_ >= readLimit_) {
                capped_ = true;
                ended_ = true;
                return false;
            }
            const qint64 got = device_.read(scratch, std::min<qint64>(count, sizeof scratch));
            if (got <= 0) {
                ended_ = true;
                return false;
            }
            read_ += got;
            count -= got;
        }
        return true;
    }

    bool more() {
        if (ended_)
            return false;
        const std::int64_t held = size();
        if (held >= maxBytes_ || read_ >= readLimit_) {
            capped_ = true;
            ended_ = true;
            return false;
        }
        closeGap();
        const std::int64_t wanted = smallNextRead_ ? 4096 : std::max<std::int64_t>(held, 64 * 1024);
        smallNextRead_ = false;
        const std::int64_t chunk =
            std::min({wanted, std::int64_t(8) << 20, maxBytes_ - held, readLimit_ - read_});
        if (store_.capacity() < held + chunk)
            store_.reserve(qsizetype(std::max(held + chunk, 2 * std::int64_t(store_.capacity()))));
        store_.resize(qsizetype(held + chunk));
        const qint64 got = device_.read(store_.data() + held, chunk);
        store_.resize(qsizetype(held + std::max<qint64>(got, 0)));
        if (got <= 0) {
            ended_ = true;
            return false;
        }
        read_ += got;
        return true;
    }

    QIODevice& device_;
    std::int64_t maxBytes_;  // kept
    std::int64_t readLimit_; // read, dropped bytes included
    std::int64_t read_ = 0;
    QByteArray& store_;
    std::int64_t gapAt_ = 0; // kept bytes before this position lie together at the front
    std::int64_t gap_ = 0;   // dropped bytes still in the store, at gapAt_
    bool smallNextRead_ = false;
    bool ended_ = false;
    bool capped_ = false;
};

} // namespace tavlin
