#pragma once

#include <cstdint>

#include <QSize>

namespace tavlin {

// How a HEIF file's pictures are coded, as far as it matters for the memory their decoding
// takes; the costliest when unknown.
struct HeifCoding {
    bool hevc = true;
    bool av1 = true;
    bool fullChroma = true; // 4:2:2 or 4:4:4 rather than 4:2:0 or grey
};

// What libheif and its decoders hold, beyond the file's bytes and the interleaved picture
// they decode to, while they decode a picture of `size` pixels with or without alpha, at
// `bits` bits a sample.
std::int64_t heifPlaneBytes(QSize size, const HeifCoding& coding, bool alpha, int bits);

} // namespace tavlin
