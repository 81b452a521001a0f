#include "decode/jpegscan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <QIODevice>

#include "decode/byteinput.h"

namespace tavlin {

namespace {

struct Component {
    int id = 0;
    std::int64_t blocks = 0; // padded to whole MCUs, as the decoder allocates them
};

bool isRestart(int m) {
    return m >= 0xD0 && m <= 0xD7;
}

// Frames libjpeg-turbo decodes; every other SOF type stops it with an error.
bool isSupportedFrame(int m) {
    return m == 0xC0 || m == 0xC1 || m == 0xC2 || m == 0xC9 || m == 0xCA;
}

// Segments whose length the decoder only skips (a length below 2 skips nothing).
bool isSkippedSegment(int m) {
    return (m >= 0xE0 && m <= 0xEF) || m == 0xFE || m == 0xDC;
}

// Tables the decoder parses; a length below 2 stops it with an error.
bool isTableSegment(int m) {
    return m == 0xC4 || m == 0xDB || m == 0xCC || m == 0xDD;
}

constexpr int kEnd = -1;

// libjpeg's next_marker: skips stray bytes, fill bytes and 0xFF00 pairs; returns the marker
// code with `pos` after it and `at` on its 0xFF, or kEnd. Between segments (`dropStray`) the
// bytes passed over are dropped, as the decoder only passes over them too.
int nextMarker(ByteInput& in, std::int64_t& pos, std::int64_t& at, bool dropStray,
               std::int64_t limit = INT64_MAX) {
    for (;;) {
        const std::int64_t ff = dropStray ? in.dropToFF(pos) : in.findFF(pos, limit);
        if (ff < 0)
            return kEnd;
        pos = ff;
        while (in.have(pos + 1) && in.at(pos) == 0xFF)
            ++pos;
        if (!in.have(pos + 1))
            return kEnd;
        const int code = in.at(pos++);
        at = pos - 2;
        if (dropStray && code == 0) { // a 0xFF00 pair, fill bytes and all
            in.drop(ff, pos - ff);
            pos = ff;
            continue;
        }
        if (dropStray && at > ff) { // fill bytes before the marker's own 0xFF
            in.drop(ff, at - ff);
            pos = ff + 2;
            at = ff;
        }
        if (code != 0)
            return code;
    }
}

// Skips entropy-coded data up to the marker that ends it, before `limit`. Stuffed 0xFF00,
// restart markers and codes below SOF0 (which the decoder discards at a restart, or fails on)
// are data.
int skipEntropyCodedData(ByteInput& in, std::int64_t& pos, std::int64_t& at, std::int64_t limit) {
    for (;;) {
        const int code = nextMarker(in, pos, at, false, limit);
        if (code == kEnd || (code >= 0xC0 && !isRestart(code)))
            return code;
    }
}

// The most bytes one block can take in one scan's data. A Huffman-coded block holds at most
// 64 symbols of a 16-bit code and 15 further bits (248 bytes); every byte may be stuffed, and
// a restart marker with its padding may follow each block. Arithmetic coding spends at most
// about 16 bits on each of some 2,100 decisions a block may take: 8.4 KB stuffed.
constexpr std::int64_t kHuffmanBlockBytes = 2 * 248 + 4;
constexpr std::int64_t kArithmeticBlockBytes = 16 << 10;

// What a scan costs the decoder, in block visits of Huffman-coded data (about 7 ns each).
// Arithmetic coding has no end-of-band runs, and past the end of its data the decoder reads
// zeros without end, out of which it may decode coefficients for every block: a few bytes a
// scan then cost as much as a scan of real data. Measured past the data's end: 26 ns a block
// for a DC scan, 130 to 215 ns for an AC scan whatever its band, so a DC block counts four
// visits and an AC block thirty-two, and the worst such file costs what the worst Huffman-coded
// one does.
std::int64_t scanCost(std::int64_t blocks, bool arithmetic, bool dcOnly) {
    if (!arithmetic)
        return blocks;
    return blocks * (dcOnly ? 4 : 32);
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

// An ICC profile's APP2 segments: "ICC_PROFILE\0", the chunk's number from 1, the count of
// chunks, then the chunk's bytes.
constexpr char kIccSignature[] = "ICC_PROFILE";
constexpr int kIccHeader = 14;

// The chunks of an ICC profile as the walk meets them.
struct IccChunks {
    int count = 0; // as the first chunk says; 0 before any
    std::vector<QByteArray> chunks;
    std::vector<bool> seen;
    std::int64_t bytes = 0;
    bool damaged = false;

    void damage() {
        damaged = true;
        chunks.clear();
        bytes = 0;
    }

    // Takes a chunk numbered `number` of `of`, unless the profile is damaged already.
    void add(int number, int of, const std::uint8_t* data, std::int64_t size) {
        if (damaged)
            return;
        if (count == 0 && of > 0) {
            count = of;
            chunks.resize(size_t(of));
            seen.resize(size_t(of));
        }
        if (of != count || number < 1 || number > count || seen[size_t(number - 1)]) {
            damage();
            return;
        }
        seen[size_t(number - 1)] = true;
        chunks[size_t(number - 1)] = QByteArray(reinterpret_cast<const char*>(data), size);
        bytes += size;
    }

    // The profile, or damaged when a chunk is missing.
    void finish(JpegScanReport& report) {
        if (!damaged && count > 0 && std::find(seen.begin(), seen.end(), false) != seen.end())
            damage();
        report.iccDamaged = damaged;
        if (damaged)
            return;
        report.iccProfile.reserve(qsizetype(bytes));
        for (const QByteArray& chunk : chunks)
            report.iccProfile += chunk;
    }
};

} // namespace

int exifOrientation(const std::uint8_t* body, std::int64_t size) {
    if (size < 14 || std::memcmp(body, "Exif\0\0", 6) != 0)
        return 0;
    const std::uint8_t* tiff = body + 6;
    const std::int64_t n = size - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 0;
    auto u16 = [&](std::int64_t at) -> std::uint32_t {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](std::int64_t at) -> std::uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42)
        return 0;
    const std::int64_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > n)
        return 0;
    const std::int64_t entries = std::min<std::int64_t>(u16(ifd), (n - ifd - 2) / 12);
    for (std::int64_t i = 0; i < entries; ++i) {
        const std::int64_t e = ifd + 2 + 12 * i;
        if (u16(e) != 0x0112)
            continue;
        if (u16(e + 2) != 3 || u32(e + 4) != 1)
            return 0;
        const std::uint32_t value = u16(e + 8);
        return value >= 1 && value <= 8 ? int(value) : 0;
    }
    return 0;
}

JpegScanReport scanJpeg(QIODevice& device, const JpegScanLimits& limits, QByteArray* kept) {
    QByteArray local;
    QByteArray& store = kept ? *kept : local;
    store.clear();
    ByteInput in(device, limits.maxBytes, store);
    JpegScanReport report;
    if (!in.have(2) || in.at(0) != 0xFF || in.at(1) != 0xD8) {
        report.end = in.size();
        return report;
    }
    report.isJpeg = true;

    Component components[4];
    std::int64_t allBlocks = 0;
    IccChunks icc;
    // What is held beside the kept bytes, and counts in their bound.
    auto holdBeside = [&] {
        const std::int64_t beside = report.bufferedBlocks * 128 + icc.bytes;
        in.setMaxBytes(limits.maxBytes - std::min(limits.maxBytes, beside));
    };
    auto finish = [&](std::int64_t end, bool truncated) {
        report.end = std::min(end, in.size());
        report.truncated = truncated;
        report.tooLong = truncated && in.capped();
        icc.finish(report);
        return report;
    };

    std::int64_t pos = 2;
    std::int64_t at = 0;
    int marker = nextMarker(in, pos, at, true);
    for (;;) {
        if (marker == kEnd)
            return finish(in.size(), true);
        if (marker == 0xD9)
            return finish(pos, false);
        if (isRestart(marker) || marker == 0x01) {
            marker = nextMarker(in, pos, at, true);
            continue;
        }
        const bool frame = isSupportedFrame(marker) && !report.frameSize.isValid();
        const bool scan = marker == 0xDA && report.frameSize.isValid();
        const bool skipped = isSkippedSegment(marker);
        if (!frame && !scan && !skipped && !isTableSegment(marker)) {
            // A second SOI or frame, an unsupported frame, a scan before the frame or an
            // unknown marker: the decoder stops here with an error, so the walk does too.
            return finish(at, true);
        }
        if (!in.have(pos + 2))
            return finish(in.size(), true);
        const int length = in.at(pos) << 8 | in.at(pos + 1);
        if (length < 2) {
            if (!skipped)
                return finish(at, true);
            // libjpeg skips length - 2 bytes only when that is positive, and reads on: the
            // marker and its length are all it passes over.
            in.drop(at, pos + 2 - at);
            pos = at;
            marker = nextMarker(in, pos, at, true);
            continue;
        }
        if (skipped) {
            // Segments the decoder only passes over are dropped, so gigabytes of them cost
            // neither memory nor reading. It reads the first 14 bytes of APP0 and APP14 to
            // tell JFIF and Adobe pictures' colours: those stay, cut to that length.
            const int bodySize = length - 2;
            const int keep = marker == 0xE0 ? 14 : marker == 0xEE ? 12 : 0;
            const bool exif = marker == 0xE1 && report.scans == 0 && report.exifOrientation == 0;
            const bool mayBeIcc = marker == 0xE2 && report.scans == 0 && !icc.damaged;
            const int needed = exif       ? bodySize
                               : mayBeIcc ? std::min(kIccHeader, bodySize)
                                          : std::min(keep, bodySize);
            if (!in.have(pos + 2 + needed))
                return finish(in.size(), true);
            const std::uint8_t* body = in.span(pos + 2);
            if (exif)
                report.exifOrientation = exifOrientation(body, bodySize);
            if (mayBeIcc && bodySize >= kIccHeader &&
                std::memcmp(body, kIccSignature, sizeof kIccSignature) == 0) {
                const int number = body[12];
                const int of = body[13];
                const std::int64_t size = bodySize - kIccHeader;
                if (icc.bytes + size > limits.maxIccBytes) {
                    icc.damage();
                } else {
                    if (!in.have(pos + 2 + bodySize))
                        return finish(in.size(), true);
                    icc.add(number, of, in.span(pos + 2 + kIccHeader), size);
                }
                holdBeside();
                if (in.capped())
                    return finish(in.size(), true);
                body = in.span(pos + 2);
            }
            const bool kept = bodySize >= keep && keep > 0 &&
                              std::memcmp(body, marker == 0xE0 ? "JFIF\0" : "Adobe", 5) == 0;
            const std::int64_t from = kept ? pos + 2 + keep : at;
            if (kept) {
                in.set(pos, 0);
                in.set(pos + 1, std::uint8_t(keep + 2));
            }
            if (!in.drop(from, pos + length - from))
                return finish(from, true); // the file ends inside the segment
            pos = from;
            marker = nextMarker(in, pos, at, true);
            continue;
        }
        if (!in.have(pos + length))
            return finish(in.size(), true);
        const std::uint8_t* body = in.span(pos + 2);
        const int bodySize = length - 2;

        std::int64_t dataLimit = INT64_MAX;
        if (frame) {
            const int count = bodySize >= 6 ? body[5] : 0;
            if (count < 1 || count > 4 || bodySize != 6 + 3 * count)
                return finish(at, true);
            const int height = body[1] << 8 | body[2];
            const int width = body[3] << 8 | body[4];
            if (width == 0 || height == 0)
                return finish(at, true);
            int hmax = 1;
            int vmax = 1;
            for (int c = 0; c < count; ++c) {
                const int h = body[6 + 3 * c + 1] >> 4;
                const int v = body[6 + 3 * c + 1] & 15;
                if (h < 1 || h > 4 || v < 1 || v > 4)
                    return finish(at, true);
                hmax = std::max(hmax, h);
                vmax = std::max(vmax, v);
            }
            const std::int64_t mcuColumns = ceilDiv(width, 8 * hmax);
            const std::int64_t mcuRows = ceilDiv(height, 8 * vmax);
            for (int c = 0; c < count; ++c) {
                const int h = body[6 + 3 * c + 1] >> 4;
                const int v = body[6 + 3 * c + 1] & 15;
                components[c] = {body[6 + 3 * c], mcuColumns * h * mcuRows * v};
                allBlocks += components[c].blocks;
            }
            report.frameSize = QSize(width, height);
            report.components = count;
            report.progressive = marker == 0xC2 || marker == 0xCA;
            report.arithmetic = marker == 0xC9 || marker == 0xCA;
        } else if (scan) {
            const int count = bodySize >= 1 ? body[0] : 0;
            if (count < 1 || count > 4 || bodySize != 4 + 2 * count)
                return finish(at, true);
            std::int64_t blocks = 0;
            for (int s = 0; s < count; ++s) {
                const int id = body[1 + 2 * s];
                const auto found = std::find_if(components, components + report.components,
                                                [id](const Component& c) { return c.id == id; });
                blocks += found != components + report.components ? found->blocks : allBlocks;
            }
            if (report.scans == 0 && (report.progressive || count < report.components)) {
                // The decoder holds every coefficient from here on, beside the file's bytes.
                report.bufferedBlocks = allBlocks;
                holdBeside();
                if (in.capped())
                    return finish(in.size(), true);
            }
            // A sequential scan codes all 64 coefficients, whatever its header says.
            const bool dcOnly = report.progressive && body[2 + 2 * count] == 0;
            report.scanBlocks += scanCost(blocks, report.arithmetic, dcOnly);
            if (++report.scans > limits.maxScans || report.scanBlocks > limits.maxScanBlocks) {
                report.end = in.size();
                return report; // over a limit: the file is refused, so the rest is not read
            }
            // Data beyond what the scan's blocks can take is never read by the decoder.
            dataLimit = pos + length +
                        blocks * (report.arithmetic ? kArithmeticBlockBytes : kHuffmanBlockBytes);
        }
        pos += length;
        if (!scan) {
            marker = nextMarker(in, pos, at, true);
            continue;
        }
        marker = skipEntropyCodedData(in, pos, at, dataLimit);
        if (marker == kEnd && in.have(dataLimit)) {
            // No marker ends the data where it could: what follows is not the picture's.
            return finish(dataLimit, true);
        }
    }
}

} // namespace tavlin
