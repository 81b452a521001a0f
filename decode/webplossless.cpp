#include "decode/webplossless.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tavlin {

namespace {

// Bits are read from the lowest of each byte up, as the lossless format stores them.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t read(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const std::size_t byte = std::size_t(at_ >> 3);
            if (byte >= size_) {
                ended_ = true;
                return 0;
            }
            value |= std::uint32_t(data_[byte] >> (at_ & 7) & 1) << i;
            ++at_;
        }
        return value;
    }
    bool ended() const { return ended_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t at_ = 0;
    bool ended_ = false;
};

constexpr int kMaxLength = 15;

// A canonical prefix code read a bit at a time, the first bit read the code's highest.
class Code {
public:
    // False for lengths that make no complete code; a code of one symbol takes no bits.
    bool build(const std::vector<int>& lengths) {
        counts_.fill(0);
        symbols_.clear();
        int used = 0;
        for (int length : lengths)
            if (length > 0) {
                ++counts_[length];
                ++used;
            }
        if (used == 0)
            return false;
        for (int length = 1; length <= kMaxLength; ++length)
            for (std::size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s] == length)
                    symbols_.push_back(int(s));
        if (used == 1) {
            single_ = symbols_.front();
            return true;
        }
        single_ = -1;
        std::int64_t left = 1;
        for (int length = 1; length <= kMaxLength; ++length) {
            left = left * 2 - counts_[length];
            if (left < 0)
                return false;
        }
        return left == 0;
    }
    int decode(Bits& bits) const {
        if (single_ >= 0)
            return single_;
        int code = 0;
        int first = 0;
        int index = 0;
        for (int length = 1; length <= kMaxLength; ++length) {
            code |= int(bits.read(1));
            const int count = counts_[length];
            if (code - first < count)
                return symbols_[std::size_t(index + code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    std::array<int, kMaxLength + 1> counts_{};
    std::vector<int> symbols_;
    int single_ = -1;
};

constexpr int kCodeLengthOrder[19] = {17, 18, 0, 1,  2,  3,  4,  5,  16, 6,
                                      7,  8,  9, 10, 11, 12, 13, 14, 15};

bool readCode(Bits& bits, int alphabet, Code& code) {
    std::vector<int> lengths(std::size_t(alphabet), 0);
    if (bits.read(1)) { // one or two symbols, given outright
        const int symbols = int(bits.read(1)) + 1;
        const int first = int(bits.read(bits.read(1) ? 8 : 1));
        if (first < alphabet)
            lengths[std::size_t(first)] = 1;
        if (symbols == 2) {
            const int second = int(bits.read(8));
            if (second < alphabet)
                lengths[std::size_t(second)] = 1;
        }
        return !bits.ended() && code.build(lengths);
    }
    std::vector<int> lengthLengths(19, 0);
    const int count = int(bits.read(4)) + 4;
    for (int i = 0; i < count; ++i)
        lengthLengths[std::size_t(kCodeLengthOrder[i])] = int(bits.read(3));
    Code lengthCode;
    if (bits.ended() || !lengthCode.build(lengthLengths))
        return false;
    int maxSymbol = alphabet;
    if (bits.read(1)) {
        const int width = 2 + 2 * int(bits.read(3));
        maxSymbol = 2 + int(bits.read(width));
        if (maxSymbol > alphabet)
            return false;
    }
    int previous = 8;
    for (int symbol = 0; symbol < alphabet;) {
        if (maxSymbol-- == 0)
            break;
        const int length = lengthCode.decode(bits);
        if (length < 0 || bits.ended())
            return false;
        if (length < 16) {
            lengths[std::size_t(symbol++)] = length;
            if (length != 0)
                previous = length;
            continue;
        }
        static constexpr int kExtraBits[3] = {2, 3, 7};
        static constexpr int kOffsets[3] = {3, 3, 11};
        const int repeat = int(bits.read(kExtraBits[length - 16])) + kOffsets[length - 16];
        if (symbol + repeat > alphabet)
            return false;
        std::fill_n(lengths.begin() + symbol, repeat, length == 16 ? previous : 0);
        symbol += repeat;
    }
    return !bits.ended() && code.build(lengths);
}

// The value a length or distance prefix stands for, its extra bits read.
std::int64_t prefixValue(int prefix, Bits& bits) {
    if (prefix < 4)
        return prefix + 1;
    const int extra = (prefix - 2) >> 1;
    const std::int64_t offset = std::int64_t(2 + (prefix & 1)) << extra;
    return offset + bits.read(extra) + 1;
}

int subSampled(int size, int bits) {
    return (size + (1 << bits) - 1) >> bits;
}

// Walks an entropy-coded picture of `pixels` pixels inside a header (a transform's or the
// Huffman picture), noting each literal's red and green, the group it names.
bool walkSubImage(Bits& bits, std::int64_t pixels, std::vector<bool>* groups, int& highest,
                  std::int64_t& distinct) {
    int cacheBits = 0;
    if (bits.read(1)) {
        cacheBits = int(bits.read(4));
        if (cacheBits < 1 || cacheBits > 11)
            return false;
    }
    const int cacheSize = cacheBits ? 1 << cacheBits : 0;
    const int alphabets[5] = {256 + 24 + cacheSize, 256, 256, 256, 40};
    Code codes[5];
    for (int i = 0; i < 5; ++i)
        if (!readCode(bits, alphabets[i], codes[i]))
            return false;
    for (std::int64_t at = 0; at < pixels;) {
        const int green = codes[0].decode(bits);
        if (green < 0 || bits.ended())
            return false;
        if (green < 256) {
            const int red = codes[1].decode(bits);
            if (codes[2].decode(bits) < 0 || codes[3].decode(bits) < 0 || red < 0)
                return false;
            if (groups) {
                const int group = red << 8 | green;
                highest = std::max(highest, group);
                if (!(*groups)[std::size_t(group)]) {
                    (*groups)[std::size_t(group)] = true;
                    ++distinct;
                }
            }
            ++at;
        } else if (green < 256 + 24) {
            const std::int64_t length = prefixValue(green - 256, bits);
            const int distance = codes[4].decode(bits);
            if (distance < 0)
                return false;
            prefixValue(distance, bits);
            if (at == 0 || length > pixels - at)
                return false;
            at += length;
        } else {
            ++at; // a colour seen before, or while the cache is empty, black: group 0
        }
        if (bits.ended())
            return false;
    }
    return true;
}

} // namespace

std::int64_t webpLosslessTableBytes(const std::uint8_t* data, std::size_t size, int width,
                                    int height) {
    Bits bits(data, size);
    int xsize = width;
    int highest = 0;
    std::int64_t distinct = 0;
    bool seen[4] = {};
    while (bits.read(1)) {
        const int type = int(bits.read(2));
        if (seen[type])
            return -1;
        seen[type] = true;
        if (type == 0 || type == 1) { // predictor, cross colour: a picture of their choices
            const int b = int(bits.read(3)) + 2;
            if (!walkSubImage(bits, std::int64_t(subSampled(xsize, b)) * subSampled(height, b),
                              nullptr, highest, distinct))
                return -1;
        } else if (type == 3) { // colour indexing: a palette, pixels packed by its size
            const int colours = int(bits.read(8)) + 1;
            const int b = colours > 16 ? 0 : colours > 4 ? 1 : colours > 2 ? 2 : 3;
            if (!walkSubImage(bits, colours, nullptr, highest, distinct))
                return -1;
            xsize = subSampled(xsize, b);
        }
        if (bits.ended())
            return -1;
    }
    int cacheBits = 0;
    if (bits.read(1)) {
        cacheBits = int(bits.read(4));
        if (cacheBits < 1 || cacheBits > 11)
            return -1;
    }
    std::int64_t groups = 1;
    if (bits.read(1)) {
        const int b = int(bits.read(3)) + 2;
        std::vector<bool> named(1 << 16, false);
        named[0] = true; // what an empty colour cache gives
        distinct = 1;
        if (!walkSubImage(bits, std::int64_t(subSampled(xsize, b)) * subSampled(height, b), &named,
                          highest, distinct))
            return -1;
        // libwebp allocates up to the highest group named, or only those named when that
        // is over 1000 or over the picture's pixels.
        groups = highest + 1;
        if (groups > 1000 || groups > std::int64_t(xsize) * height)
            groups = distinct;
    }
    if (bits.ended())
        return -1;
    // A table of 2954 entries a group, more with a colour cache (libwebp's kTableSize), four
    // bytes an entry, and the group's own record with its packed table.
    static constexpr int kCacheEntries[12] = {654, 656, 658, 662,  670,  686,
                                              718, 782, 910, 1166, 1678, 2704};
    const std::int64_t entries = 2300 + kCacheEntries[cacheBits];
    return groups * (entries * 4 + 576);
}

} // namespace tavlin
