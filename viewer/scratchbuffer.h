#pragma once

#include <cstddef>
#include <memory>

namespace tavlin {

// Memory for a decoded picture that lives only until it is resampled. Blocks are kept
// between loads (a few, each of bounded size), so a 24 MB decode does not fault in fresh
// pages every time. Each block is used by one load at a time; safe from any thread.
class ScratchBuffer {
public:
    explicit ScratchBuffer(std::size_t bytes);
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    unsigned char* data() const { return block_.get(); }

    // Blocks larger than this are given back to the system after use.
    static constexpr std::size_t maxKeptBytes = std::size_t(64) << 20;
    // Blocks kept for later loads: one per decode that usually runs at once.
    static constexpr int maxKept = 2;

private:
    std::unique_ptr<unsigned char[]> block_;
    std::size_t size_ = 0;
};

} // namespace tavlin
