#pragma once

#include <cstdint>

#include <QSize>

#include "decode/heifboxes.h"

namespace tavlin {

// What libheif and its decoders hold, beyond the file's bytes and the interleaved picture
// they decode to, while they decode a picture of `size` pixels with or without alpha, at
// `bits` bits a sample.
std::int64_t heifPlaneBytes(QSize size, const HeifCoding& coding, bool alpha, int bits);

} // namespace tavlin
