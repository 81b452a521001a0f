#include "decode/bmpdecoder.h"

#include <algorithm>
#include <cstring>

#include "decode/decodesource.h"

namespace tavlin {

namespace {

std::uint32_t le(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// Expands one bit-field channel to 8 bits.
struct Channel {
    int shift = 0;
    std::uint32_t max = 0;
    explicit Channel(std::uint32_t mask) {
        if (mask == 0)
            return;
        while (!(mask >> shift & 1))
            ++shift;
        max = mask >> shift;
    }
    int operator()(std::uint32_t pixel) const {
        return max ? int(std::uint64_t((pixel >> shift) & max) * 255 / max) : 0;
    }
};

// Box-averages stored rows, in any order of whole groups, into the reduced clip.
class Reducer {
public:
    Reducer(QRect clip, int reduction, QRgb fill)
        : clip_(clip), d_(reduction), out_(clip.size() / reduction, QImage::Format_RGB32),
          sums_(size_t(out_.width()) * 3) {
        out_.fill(fill);
    }

    bool ok() const { return !out_.isNull(); }

    // One stored row `y` of the clip's columns, as 0xRRGGBB pixels.
    void addRow(int y, const QRgb* pixels) {
        const int group = (y - clip_.top()) / d_;
        if (group != group_)
            flush(group);
        ++rows_;
        std::uint32_t* s = sums_.data();
        for (int x = 0; x < out_.width(); ++x, s += 3) {
            for (int i = 0; i < d_; ++i) {
                const QRgb p = *pixels++;
                s[0] += qRed(p);
                s[1] += qGreen(p);
                s[2] += qBlue(p);
            }
        }
    }

    QImage finish() {
        flush(-1);
        return std::move(out_);
    }

private:
    void flush(int next) {
        if (group_ >= 0 && rows_ > 0 && group_ < out_.height()) {
            const std::uint32_t n = std::uint32_t(rows_ * d_);
            auto* line = reinterpret_cast<QRgb*>(out_.scanLine(group_));
            const std::uint32_t* s = sums_.data();
            for (int x = 0; x < out_.width(); ++x, s += 3)
                line[x] = qRgb(int(s[0] / n), int(s[1] / n), int(s[2] / n));
        }
        std::fill(sums_.begin(), sums_.end(), 0);
        rows_ = 0;
        group_ = next;
    }

    QRect clip_;
    int d_;
    QImage out_;
    std::vector<std::uint32_t> sums_;
    int group_ = -1;
    int rows_ = 0;
};

// Uncompressed rows: each needed row's bytes are read where they lie in the file, in the
// file's order, so a file cut short shows every row it holds (the usual bottom-up file loses
// its top rows, not all of them).
void decodePlain(int fd, const BmpInfo& info, QRect clip, Reducer& reducer,
                 const std::atomic<bool>* cancelled, bool& cutShort) {
    const int bits = info.bits;
    const std::int64_t firstBit = std::int64_t(clip.left()) * bits;
    const std::int64_t firstByte = firstBit / 8;
    const std::int64_t lastByte = (std::int64_t(clip.right() + 1) * bits + 7) / 8;
    std::vector<std::uint8_t> raw(size_t(lastByte - firstByte));
    std::vector<QRgb> pixels(size_t(clip.width()));
    const Channel red(info.masks[0]), green(info.masks[1]), blue(info.masks[2]);
    const int step = info.topDown ? 1 : -1;
    const int first = info.topDown ? clip.top() : clip.bottom();
    for (int y = first; y >= clip.top() && y <= clip.bottom(); y += step) {
        if ((y & 63) == 0 && cancelled && cancelled->load(std::memory_order_relaxed))
            return;
        const std::int64_t row = info.topDown ? y : info.size.height() - 1 - y;
        const std::int64_t at = info.dataOffset + row * info.stride + firstByte;
        if (readAt(fd, at, raw.data(), std::int64_t(raw.size())) != std::int64_t(raw.size())) {
            cutShort = true; // the data ends here: the rest stays filled
            return;
        }
        const std::uint8_t* p = raw.data();
        QRgb* out = pixels.data();
        if (bits <= 8) {
            const int mask = (1 << bits) - 1;
            int bit = int(firstBit % 8);
            for (int x = 0; x < clip.width(); ++x) {
                const int index = p[bit / 8] >> (8 - bits - bit % 8) & mask;
                out[x] = index < int(info.palette.size()) ? info.palette[size_t(index)] : 0;
                bit += bits;
            }
        } else if (bits == 24 && info.compression == 0) {
            for (int x = 0; x < clip.width(); ++x, p += 3)
                out[x] = qRgb(p[2], p[1], p[0]);
        } else {
            const int bytes = bits / 8;
            for (int x = 0; x < clip.width(); ++x, p += bytes) {
                const std::uint32_t v = le(p, bytes);
                out[x] = qRgb(red(v), green(v), blue(v));
            }
        }
        reducer.addRow(y, pixels.data());
    }
}

// RLE8 and RLE4: read in order from the first stored row up to the clip's last row.
void decodeRle(int fd, const BmpInfo& info, QRect clip, Reducer& reducer,
               const std::atomic<bool>* cancelled, bool& cutShort) {
    const int width = info.size.width();
    const int height = info.size.height();
    const bool four = info.compression == 2;
    std::vector<std::uint8_t> indices(size_t(width), 0);
    std::vector<QRgb> pixels(size_t(clip.width()));
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::int64_t offset = info.dataOffset;
    std::size_t pos = 0;
    std::size_t end = 0;
    auto next = [&](int& byte) {
        if (pos == end) {
            const std::int64_t got = readAt(fd, offset, buffer.data(), std::int64_t(buffer.size()));
            if (got <= 0)
                return false;
            offset += got;
            pos = 0;
            end = size_t(got);
        }
        byte = buffer[pos++];
        return true;
    };
    // Stored row `row` counts from the file's first row, the picture's bottom one.
    int row = 0;
    int x = 0;
    auto finishRow = [&]() {
        const int y = height - 1 - row;
        if (y >= clip.top() && y <= clip.bottom()) {
            for (int i = 0; i < clip.width(); ++i) {
                const int index = indices[size_t(clip.left() + i)];
                pixels[size_t(i)] =
                    index < int(info.palette.size()) ? info.palette[size_t(index)] : 0;
            }
            reducer.addRow(y, pixels.data());
        }
        std::fill(indices.begin(), indices.end(), 0);
    };
    // Rows above the clip come last in the file and are not needed.
    const int lastRow = height - 1 - clip.top();
    auto put = [&](int index) {
        if (x < width)
            indices[size_t(x)] = std::uint8_t(index);
        ++x;
    };
    int a = 0;
    int b = 0;
    while (row <= lastRow) {
        if ((x == 0 && (row & 63) == 0) && cancelled && cancelled->load(std::memory_order_relaxed))
            return;
        if (!next(a) || !next(b)) {
            cutShort = true;
            break;
        }
        if (a > 0) { // a run of `a` pixels
            for (int i = 0; i < a && x < width; ++i)
                put(four ? (i & 1 ? b & 15 : b >> 4) : b);
            continue;
        }
        if (b == 0) { // end of line
            finishRow();
            ++row;
            x = 0;
        } else if (b == 1) { // end of bitmap
            break;
        } else if (b == 2) { // move right and up
            int dx = 0;
            int dy = 0;
            if (!next(dx) || !next(dy)) {
                cutShort = true;
                break;
            }
            for (; dy > 0 && row <= lastRow; --dy) {
                finishRow();
                ++row;
            }
            x = std::min(x + dx, width);
        } else { // `b` literal pixels, padded to whole 16-bit words
            const int bytes = four ? (b + 1) / 2 : b;
            int value = 0;
            for (int i = 0; i < bytes; ++i) {
                if (!next(value)) {
                    cutShort = true;
                    break;
                }
                if (four) {
                    put(value >> 4);
                    if (2 * i + 1 < b)
                        put(value & 15);
                } else {
                    put(value);
                }
            }
            if (bytes & 1)
                next(value);
        }
    }
    if (row <= lastRow && x > 0)
        finishRow(); // a last row the data ended in
}

} // namespace

bool readBmpInfo(int fd, BmpInfo& info, QString& problem) {
    std::uint8_t h[14 + 124 + 12] = {};
    const std::int64_t got = readAt(fd, 0, h, sizeof h);
    if (got < 26 || h[0] != 'B' || h[1] != 'M') {
        problem = QStringLiteral("its header is cut short");
        return false;
    }
    info.dataOffset = le(h + 10, 4);
    const std::uint32_t headerSize = le(h + 14, 4);
    int planes = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t colours = 0;
    int paletteEntry = 4;
    if (headerSize == 12) { // OS/2 core header
        width = le(h + 18, 2);
        height = le(h + 20, 2);
        planes = int(le(h + 22, 2));
        info.bits = int(le(h + 24, 2));
        paletteEntry = 3;
    } else if (headerSize >= 40 && headerSize <= 124 && got >= 14 + std::int64_t(headerSize)) {
        width = std::int32_t(le(h + 18, 4));
        height = std::int32_t(le(h + 22, 4));
        planes = int(le(h + 26, 2));
        info.bits = int(le(h + 28, 2));
        info.compression = int(le(h + 30, 4));
        colours = le(h + 46, 4);
    } else {
        problem = QStringLiteral("its header is of a kind this program does not read");
        return false;
    }
    if (height < 0) {
        info.topDown = true;
        height = -height;
    }
    const int bits = info.bits;
    const int c = info.compression;
    const bool known =
        (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
        (c == 0 || (c == 1 && bits == 8) || (c == 2 && bits == 4) ||
         (c == 3 && (bits == 16 || bits == 32)));
    // RLE pictures are always stored bottom-up.
    if (planes != 1 || !known || ((c == 1 || c == 2) && info.topDown)) {
        problem = QStringLiteral("it uses a kind of BMP this program does not read "
                                 "(%1 bits a pixel, compression %2)")
                      .arg(bits)
                      .arg(c);
        return false;
    }
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) {
        problem = QStringLiteral("it claims a size of %1 \u00d7 %2 pixels").arg(width).arg(height);
        return false;
    }
    info.size = QSize(int(width), int(height));
    info.stride = (width * bits + 31) / 32 * 4;

    if (bits <= 8) {
        const std::uint32_t count = colours ? colours : 1u << bits;
        if (count > 256) {
            problem = QStringLiteral("its colour table is damaged");
            return false;
        }
        std::vector<std::uint8_t> table(count * std::uint32_t(paletteEntry));
        const std::int64_t at = 14 + std::int64_t(headerSize);
        if (readAt(fd, at, table.data(), std::int64_t(table.size())) !=
            std::int64_t(table.size())) {
            problem = QStringLiteral("its colour table is cut short");
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* e = table.data() + i * std::uint32_t(paletteEntry);
            info.palette.push_back(qRgb(e[2], e[1], e[0]));
        }
    } else if (c == 3) {
        // Masks follow a 40-byte header, and lie inside the larger ones.
        const std::uint8_t* m = h + 14 + 40;
        info.masks[0] = le(m, 4);
        info.masks[1] = le(m + 4, 4);
        info.masks[2] = le(m + 8, 4);
    } else if (bits == 16) {
        info.masks[0] = 0x7C00;
        info.masks[1] = 0x03E0;
        info.masks[2] = 0x001F;
    } else {
        info.masks[0] = 0xFF0000;
        info.masks[1] = 0x00FF00;
        info.masks[2] = 0x0000FF;
    }
    return true;
}

QImage decodeBmp(int fd, const BmpInfo& info, QRect clip, int reduction,
                 const std::atomic<bool>* cancelled, bool& cutShort) {
    const QRgb fill = info.palette.empty() ? qRgb(0, 0, 0) : info.palette.front();
    Reducer reducer(clip, reduction, fill);
    if (!reducer.ok())
        return {};
    if (info.compression == 1 || info.compression == 2)
        decodeRle(fd, info, clip, reducer, cancelled, cutShort);
    else
        decodePlain(fd, info, clip, reducer, cancelled, cutShort);
    if (cancelled && cancelled->load(std::memory_order_relaxed))
        return {};
    return reducer.finish();
}

} // namespace tavlin
