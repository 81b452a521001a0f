#include "decode/gifscan.h"

#include <algorithm>

#include "decode/byteinput.h"

namespace tavlin {

namespace {

// Skips a chain of data sub-blocks from `pos`; false if the data ends first.
bool skipSubBlocks(ByteInput& in, std::int64_t& pos) {
    for (;;) {
        if (!in.have(pos + 1))
            return false;
        const int size = in.at(pos++);
        if (size == 0)
            return true;
        pos += size;
    }
}

} // namespace

GifScanReport scanGif(QIODevice& device, std::int64_t maxBytes, QByteArray* kept) {
    QByteArray local;
    QByteArray& store = kept ? *kept : local;
    store.clear();
    ByteInput in(device, maxBytes, store);
    GifScanReport report;
    auto finish = [&](std::int64_t end) {
        report.end = std::min(end, in.size());
        report.tooLong = in.capped();
        return report;
    };
    if (!in.have(13) || std::memcmp(in.span(0), "GIF8", 4) != 0)
        return finish(in.size());
    report.isGif = true;
    const auto le16 = [&](std::int64_t at) { return in.at(at) | in.at(at + 1) << 8; };
    report.screen = QSize(le16(6), le16(8));
    std::int64_t pos = 13;
    if (in.at(10) & 0x80)
        pos += 3 * (2 << (in.at(10) & 7));
    for (;;) {
        if (!in.have(pos + 1))
            return finish(in.size());
        const int introducer = in.at(pos++);
        if (introducer == '!') {
            ++pos; // the label
            if (!skipSubBlocks(in, pos))
                return finish(in.size());
        } else if (introducer == ',') {
            if (!in.have(pos + 9))
                return finish(in.size());
            const int left = le16(pos);
            const int top = le16(pos + 2);
            const int width = le16(pos + 4);
            const int height = le16(pos + 6);
            const int flags = in.at(pos + 8);
            report.frame = QRect(left, top, width, height);
            int canvasWidth = report.screen.width();
            int canvasHeight = report.screen.height();
            if (canvasWidth / 10 > std::max(width, 16384))
                canvasWidth = 0;
            if (canvasHeight / 10 > std::max(height, 16384))
                canvasHeight = 0;
            report.canvas = QSize(canvasWidth > 0 ? canvasWidth : left + width,
                                  canvasHeight > 0 ? canvasHeight : top + height);
            pos += 9;
            if (flags & 0x80)
                pos += 3 * (2 << (flags & 7));
            ++pos; // the LZW code size
            if (!skipSubBlocks(in, pos))
                return finish(in.size());
            return finish(pos);
        } else {
            // The trailer, or a block no reader understands: no frame follows.
            return finish(pos - 1);
        }
    }
}

} // namespace tavlin
