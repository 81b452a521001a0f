#include "viewer/jpegscan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include <QIODevice>

namespace tavlin {

namespace {

// Reads the device through a fixed buffer, so a file of any size costs 64 KB here.
class ByteReader {
public:
    explicit ByteReader(QIODevice& device) : device_(device) {}

    bool next(std::uint8_t& byte) {
        if (pos_ == end_ && !refill())
            return false;
        byte = buffer_[pos_++];
        return true;
    }

    bool skip(std::int64_t count) {
        while (count > 0) {
            if (pos_ == end_ && !refill())
                return false;
            const std::int64_t step = std::min<std::int64_t>(count, end_ - pos_);
            pos_ += static_cast<std::size_t>(step);
            count -= step;
        }
        return true;
    }

    // Advances past the next 0xFF byte; false at the end of the data.
    bool skipToFF() {
        for (;;) {
            if (pos_ == end_ && !refill())
                return false;
            const void* hit = std::memchr(buffer_.data() + pos_, 0xFF, end_ - pos_);
            if (hit) {
                pos_ = static_cast<const std::uint8_t*>(hit) - buffer_.data() + 1;
                return true;
            }
            pos_ = end_;
        }
    }

private:
    bool refill() {
        const qint64 got = device_.read(reinterpret_cast<char*>(buffer_.data()), buffer_.size());
        pos_ = 0;
        end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return end_ > 0;
    }

    QIODevice& device_;
    std::array<std::uint8_t, 64 * 1024> buffer_{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

bool isStartOfFrame(std::uint8_t m) {
    // C4 (DHT), C8 (JPG) and CC (DAC) share the range but are not frames.
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

bool isProgressiveFrame(std::uint8_t m) {
    return m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE;
}

bool isRestart(std::uint8_t m) {
    return m >= 0xD0 && m <= 0xD7;
}

constexpr int kEnd = -1;

// Reads the code after a 0xFF, skipping fill bytes; kEnd at the end of the data.
int readMarkerCode(ByteReader& in) {
    std::uint8_t m = 0xFF;
    while (m == 0xFF) {
        if (!in.next(m))
            return kEnd;
    }
    return m;
}

// Skips entropy-coded data and returns the marker that ends it; kEnd at the end of the data.
int skipEntropyCodedData(ByteReader& in) {
    for (;;) {
        if (!in.skipToFF())
            return kEnd;
        const int m = readMarkerCode(in);
        if (m == kEnd || (m != 0x00 && !isRestart(std::uint8_t(m))))
            return m;
    }
}

} // namespace

JpegScanReport scanJpeg(QIODevice& device, int maxScans) {
    JpegScanReport report;
    ByteReader in(device);
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    if (!in.next(a) || !in.next(b) || a != 0xFF || b != 0xD8)
        return report;
    report.isJpeg = true;

    // The marker in hand, or kNone between segments.
    constexpr int kNone = -2;
    int marker = kNone;
    for (;;) {
        if (marker == kNone) {
            // Between segments: libjpeg skips stray bytes before a marker, so do we.
            if (!in.skipToFF() || (marker = readMarkerCode(in)) == kEnd)
                break;
        }
        if (marker == 0xD9)
            return report;
        if (isRestart(std::uint8_t(marker)) || marker == 0x01 || marker == 0x00) {
            marker = kNone;
            continue;
        }
        std::uint8_t hi = 0;
        std::uint8_t lo = 0;
        if (!in.next(hi) || !in.next(lo))
            break;
        const int length = hi << 8 | lo;
        if (length < 2)
            break;
        int consumed = 2;
        if (isStartOfFrame(std::uint8_t(marker)) && !report.frameSize.isValid() && length >= 7) {
            std::uint8_t f[5];
            for (std::uint8_t& byte : f) {
                if (!in.next(byte))
                    break;
            }
            consumed += 5;
            report.frameSize = QSize(f[3] << 8 | f[4], f[1] << 8 | f[2]);
            report.progressive = isProgressiveFrame(std::uint8_t(marker));
        }
        if (!in.skip(length - consumed))
            break;
        if (marker == 0xDA) {
            if (++report.scans > maxScans)
                return report;
            marker = skipEntropyCodedData(in);
            if (marker == kEnd)
                break;
        } else {
            marker = kNone;
        }
    }
    report.truncated = true;
    return report;
}

} // namespace tavlin
