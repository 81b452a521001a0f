#pragma once

#include <cstddef>
#include <cstdint>

namespace tavlin {

// The bytes libwebp's lossless decoder allocates for its Huffman tables when it reads the
// header of the lossless bitstream `data` (after its signature and size for a whole
// picture; an ALPH chunk's payload after its first byte for an alpha plane) of a picture of
// `width` x `height`. libwebp 1.2.4 allocates the tables of every group the header's Huffman
// picture names before reading any of them: a 135 KB file can name 65,536 groups, 800 MB.
// The header is walked here without decoding a pixel: only literal pixels of the Huffman
// picture can name a new group, so a copy or a cache hit is passed over. Returns -1 when the
// header is damaged or ends, where libwebp stops before allocating them too.
std::int64_t webpLosslessTableBytes(const std::uint8_t* data, std::size_t size, int width,
                                    int height);

} // namespace tavlin
