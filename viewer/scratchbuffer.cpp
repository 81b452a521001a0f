#include "viewer/scratchbuffer.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace tavlin {

namespace {

struct Pool {
    std::mutex mutex;
    std::vector<std::pair<std::unique_ptr<unsigned char[]>, std::size_t>> blocks;
};

Pool& pool() {
    static Pool p;
    return p;
}

} // namespace

ScratchBuffer::ScratchBuffer(std::size_t bytes) {
    {
        Pool& p = pool();
        const std::lock_guard lock(p.mutex);
        for (auto it = p.blocks.begin(); it != p.blocks.end(); ++it) {
            if (it->second >= bytes) {
                block_ = std::move(it->first);
                size_ = it->second;
                p.blocks.erase(it);
                return;
            }
        }
    }
    // Left uninitialised: the decoder writes every byte it is given.
    block_.reset(new (std::nothrow) unsigned char[bytes]);
    size_ = block_ ? bytes : 0;
}

ScratchBuffer::~ScratchBuffer() {
    if (!block_ || size_ > maxKeptBytes)
        return;
    Pool& p = pool();
    const std::lock_guard lock(p.mutex);
    if (int(p.blocks.size()) < maxKept) {
        p.blocks.emplace_back(std::move(block_), size_);
    } else {
        // Keep the larger blocks: they are the ones worth keeping.
        for (auto& kept : p.blocks) {
            if (kept.second < size_) {
                std::swap(kept.first, block_);
                std::swap(kept.second, size_);
                break;
            }
        }
    }
}

} // namespace tavlin
