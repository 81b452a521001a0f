#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <QByteArray>
#include <QIODevice>

namespace tavlin {

// The file's bytes, read on demand in growing chunks and kept, so the decoder can later be
// given exactly the bytes that were checked. Nothing is read past what the walk asks for,
// beyond one chunk: a small picture followed by gigabytes of padding costs one chunk.
class ByteInput {
public:
    ByteInput(QIODevice& device, std::int64_t maxBytes, QByteArray& store)
        : device_(device), maxBytes_(maxBytes), store_(store) {}

    // True once at least `n` bytes are held.
    bool have(std::int64_t n) {
        while (std::int64_t(store_.size()) < n) {
            if (!more())
                return false;
        }
        return true;
    }

    std::uint8_t at(std::int64_t i) const { return std::uint8_t(store_[qsizetype(i)]); }
    const std::uint8_t* data() const {
        return reinterpret_cast<const std::uint8_t*>(store_.data());
    }
    std::int64_t size() const { return store_.size(); }
    bool capped() const { return capped_; }

    // The position of the next 0xFF at or after `from`; -1 at the end of the data.
    std::int64_t findFF(std::int64_t from) {
        for (;;) {
            if (from < size()) {
                const void* hit = std::memchr(data() + from, 0xFF, size_t(size() - from));
                if (hit)
                    return static_cast<const std::uint8_t*>(hit) - data();
                from = size();
            }
            if (!more())
                return -1;
        }
    }

private:
    bool more() {
        if (ended_)
            return false;
        const std::int64_t held = store_.size();
        if (held >= maxBytes_) {
            capped_ = true;
            ended_ = true;
            return false;
        }
        const std::int64_t chunk = std::min(
            {std::max<std::int64_t>(held, 64 * 1024), std::int64_t(8) << 20, maxBytes_ - held});
        if (store_.capacity() < held + chunk)
            store_.reserve(qsizetype(std::max(held + chunk, 2 * std::int64_t(store_.capacity()))));
        store_.resize(qsizetype(held + chunk));
        const qint64 got = device_.read(store_.data() + held, chunk);
        store_.resize(qsizetype(held + std::max<qint64>(got, 0)));
        if (got <= 0) {
            ended_ = true;
            return false;
        }
        return true;
    }

    QIODevice& device_;
    std::int64_t maxBytes_;
    QByteArray& store_;
    bool ended_ = false;
    bool capped_ = false;
};

} // namespace tavlin
