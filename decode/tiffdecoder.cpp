#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

#include <QFileInfo>

#include "decode/readers.h"

namespace tavlin {

namespace {

// The file as libtiff sees it: read through the descriptor, never past the size it had when
// it was opened, so a file growing meanwhile shows what was checked. libtiff's errors land
// here instead of on the terminal; the last one is the refusal's reason.
struct TiffInput {
    int fd = -1;
    std::int64_t size = 0;
    std::int64_t pos = 0;
    QString lastError;
};

// Reads up to `size` bytes at `offset`, stopping at `end`; the count read.
std::int64_t readAt(int fd, std::int64_t end, std::int64_t offset, void* to, std::int64_t size) {
    if (offset < 0 || offset >= end)
        return 0;
    return tavlin::readAt(fd, offset, to, std::min(size, end - offset));
}

tmsize_t inputRead(thandle_t handle, void* to, tmsize_t size) {
    auto* in = static_cast<TiffInput*>(handle);
    const std::int64_t got = readAt(in->fd, in->size, in->pos, to, std::int64_t(size));
    in->pos += got;
    return tmsize_t(got);
}

tmsize_t inputWrite(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t inputSeek(thandle_t handle, toff_t offset, int whence) {
    auto* in = static_cast<TiffInput*>(handle);
    const auto signedOffset = std::int64_t(offset);
    std::int64_t to = -1;
    if (whence == SEEK_SET)
        to = std::int64_t(std::min<toff_t>(offset, toff_t(INT64_MAX)));
    else if (whence == SEEK_CUR)
        to = in->pos + signedOffset;
    else if (whence == SEEK_END)
        to = in->size + signedOffset;
    if (to < 0)
        return toff_t(-1);
    in->pos = to;
    return toff_t(to);
}

int inputClose(thandle_t) {
    return 0; // the loader owns the descriptor
}

toff_t inputSize(thandle_t handle) {
    return toff_t(static_cast<TiffInput*>(handle)->size);
}

int inputMap(thandle_t, void**, toff_t*) {
    return 0;
}

void inputUnmap(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char*, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    static_cast<TiffInput*>(user)->lastError = QString::fromUtf8(text);
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// libtiff's sentence as a clause to follow "could not be decoded: ".
QString clause(QString message, const QString& name, const QString& fallback) {
    message = message.trimmed();
    if (message.startsWith(name + QStringLiteral(": ")))
        message = message.mid(name.size() + 2);
    return libraryClause(message, fallback);
}

// libtiff's packed pixels (red in the low byte) as Qt's (blue in the low byte).
inline QRgb fromAbgr(std::uint32_t p) {
    return (p & 0xFF00FF00u) | (p & 0xFFu) << 16 | (p >> 16 & 0xFFu);
}

// Box-averages rows, given top to bottom, into the reduced clip; premultiplied pixels average
// channel by channel.
class Reducer {
public:
    Reducer(QRect clip, int reduction, bool alpha)
        : clip_(clip), d_(reduction), opaque_(alpha ? 0 : 0xFF000000u),
          out_(clip.size() / reduction,
               alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32) {
        if (out_.isNull())
            return;
        out_.fill(alpha ? Qt::transparent : Qt::black);
        if (d_ > 1)
            sums_.assign(size_t(out_.width()) * 4, 0);
    }

    bool ok() const { return !out_.isNull(); }

    // Stored row `y`, from the clip's left column on.
    void addRow(int y, const std::uint32_t* pixels) {
        if (d_ == 1) {
            auto* line = reinterpret_cast<QRgb*>(out_.scanLine(y - clip_.top()));
            for (int x = 0; x < out_.width(); ++x)
                line[x] = fromAbgr(pixels[x]) | opaque_;
            return;
        }
        const int group = (y - clip_.top()) / d_;
        if (group != group_)
            flush(group);
        ++rows_;
        std::uint32_t* s = sums_.data();
        for (int x = 0; x < out_.width(); ++x, s += 4) {
            for (int i = 0; i < d_; ++i) {
                const std::uint32_t p = *pixels++;
                s[0] += p & 0xFF;
                s[1] += p >> 8 & 0xFF;
                s[2] += p >> 16 & 0xFF;
                s[3] += p >> 24;
            }
        }
    }

    QImage finish() {
        if (d_ > 1)
            flush(-1);
        return std::move(out_);
    }

private:
    void flush(int next) {
        if (group_ >= 0 && rows_ > 0 && group_ < out_.height()) {
            const std::uint32_t n = std::uint32_t(rows_ * d_);
            auto* line = reinterpret_cast<QRgb*>(out_.scanLine(group_));
            const std::uint32_t* s = sums_.data();
            for (int x = 0; x < out_.width(); ++x, s += 4)
                line[x] =
                    qRgba(int(s[0] / n), int(s[1] / n), int(s[2] / n), int(s[3] / n)) | opaque_;
        }
        std::fill(sums_.begin(), sums_.end(), 0);
        rows_ = 0;
        group_ = next;
    }

    QRect clip_;
    int d_;
    std::uint32_t opaque_;
    QImage out_;
    std::vector<std::uint32_t> sums_;
    int group_ = -1;
    int rows_ = 0;
};

// How the first picture of a TIFF lies in the file, and what decoding it holds.
struct Layout {
    bool tiled = false;
    bool contig = true;
    int planes = 1;              // strips or tiles read together for one block of pixels
    std::uint32_t width = 0;     // of the picture
    std::uint32_t height = 0;    // of the picture
    std::uint32_t blockW = 0;    // of a tile; the picture's width for strips
    std::uint32_t blockH = 0;    // of a tile, or rows a strip
    std::uint32_t rowStep = 1;   // rows converted together (YCbCr subsampling)
    std::int64_t blockBytes = 0; // one decoded strip or tile of one plane
    std::int64_t rowBytes = 0;   // one decoded row of a strip or tile, one plane
    std::int64_t rawCap = 0;     // most compressed bytes read for one strip or tile
    std::uint32_t bandRows = 0;  // rows of RGBA pixels converted at once (strips)
    bool uncompressed = false;
    bool swapShorts = false;  // 16-bit samples in the other byte order
    bool differenced = false; // horizontal differencing of 8- or 16-bit samples
    int sampleStride = 1;     // samples a pixel in one plane
};

// Undoes horizontal differencing row by row, for a block the codec decoded only in part
// (libtiff undoes it only for blocks decoded whole): what was not decoded stays zero.
template <typename Sample>
void undoDifferencing(std::uint8_t* block, std::int64_t bytes, std::int64_t rowBytes, int stride) {
    const std::int64_t count = rowBytes / std::int64_t(sizeof(Sample));
    for (std::int64_t at = 0; at + rowBytes <= bytes; at += rowBytes) {
        auto* row = reinterpret_cast<Sample*>(block + at);
        for (std::int64_t i = stride; i < count; ++i)
            row[i] = Sample(row[i] + row[i - stride]);
    }
}

// An open TIFF with its RGBA conversion set up; freed with the Source.
struct TiffState {
    TiffInput input;
    TIFF* tif = nullptr;
    TIFFRGBAImage image{};
    bool begun = false;
    Layout layout;
    std::vector<std::uint8_t> raw;

    TiffState() = default;
    TiffState(const TiffState&) = delete;
    TiffState& operator=(const TiffState&) = delete;
    ~TiffState() {
        if (begun)
            TIFFRGBAImageEnd(&image);
        if (tif)
            TIFFClose(tif);
    }
};

enum class Block { Whole, Partial, Missing, Failed };

// Reads and decodes strip or tile `index` into `out` (`outSize` bytes). A block the file ends
// within decodes as far as its bytes go, the rest zero.
Block readBlock(TiffState& s, std::uint32_t index, std::uint8_t* out, std::int64_t outSize) {
    const Layout& l = s.layout;
    int failed = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(s.tif, index, &failed);
    const std::uint64_t count = failed ? 0 : TIFFGetStrileByteCountWithErr(s.tif, index, &failed);
    if (failed)
        return Block::Failed;
    if (count == 0) { // a block never written: nothing to show there, nothing missing either
        std::memset(out, 0, size_t(outSize));
        return Block::Whole;
    }
    const auto size = std::uint64_t(s.input.size);
    if (offset >= size) {
        std::memset(out, 0, size_t(outSize));
        return Block::Missing;
    }
    const std::int64_t held = std::int64_t(std::min(count, size - offset));
    const std::int64_t take = std::min(held, l.rawCap);
    s.raw.resize(size_t(take));
    const std::int64_t got =
        readAt(s.input.fd, s.input.size, std::int64_t(offset), s.raw.data(), take);
    const bool cut = std::uint64_t(held) < count || got < take;
    if (cut)
        std::memset(out, 0, size_t(outSize));
    if (l.uncompressed && cut) {
        // libtiff decodes nothing of an uncompressed block it has not all of.
        std::memcpy(out, s.raw.data(), size_t(std::min(got, outSize)));
    } else if (!TIFFReadFromUserBuffer(s.tif, index, s.raw.data(), tmsize_t(got), out,
                                       tmsize_t(outSize))) {
        if (!cut)
            return Block::Failed;
    } else {
        return Block::Whole; // byte order already set right
    }
    if (l.swapShorts)
        TIFFSwabArrayOfShort(reinterpret_cast<std::uint16_t*>(out), tmsize_t(outSize / 2));
    if (l.differenced && !l.uncompressed) {
        if (s.image.bitspersample == 16)
            undoDifferencing<std::uint16_t>(out, outSize, l.rowBytes, l.sampleStride);
        else
            undoDifferencing<std::uint8_t>(out, outSize, l.rowBytes, l.sampleStride);
    }
    return Block::Partial;
}

struct Outcome {
    QImage image;
    bool cancelled = false;
    bool cutShort = false;
    QString problem; // when the image is null and not cancelled
};

bool stopRequested(const std::atomic<bool>* cancelled) {
    return cancelled && cancelled->load(std::memory_order_relaxed);
}

// Notes what reading a block came to; false when it failed.
bool account(Block block, const TiffState& s, Outcome& outcome) {
    if (block == Block::Failed) {
        outcome.problem = s.input.lastError.isEmpty() ? QStringLiteral("its pixels are damaged")
                                                      : s.input.lastError;
        return false;
    }
    if (block != Block::Whole)
        outcome.cutShort = true;
    return true;
}

void decodeStrips(TiffState& s, QRect clip, Reducer& reducer, const std::atomic<bool>* cancelled,
                  Outcome& outcome) {
    const Layout& l = s.layout;
    std::vector<std::vector<std::uint8_t>> planes(size_t(l.planes));
    for (auto& plane : planes)
        plane.resize(size_t(l.blockBytes));
    std::vector<std::uint32_t> band(size_t(l.bandRows) * l.width);
    const std::uint32_t rps = l.blockH;
    for (std::uint32_t first = std::uint32_t(clip.top()) / rps * rps;
         first <= std::uint32_t(clip.bottom()); first += rps) {
        if (stopRequested(cancelled)) {
            outcome.cancelled = true;
            return;
        }
        const std::uint32_t rows = std::min(rps, l.height - first);
        const auto size = std::int64_t(TIFFVStripSize64(s.tif, rows));
        if (size <= 0 || size > l.blockBytes) {
            outcome.problem = QStringLiteral("its strips are damaged");
            return;
        }
        bool present = false;
        for (int p = 0; p < l.planes; ++p) {
            const Block block = readBlock(s, TIFFComputeStrip(s.tif, first, std::uint16_t(p)),
                                          planes[size_t(p)].data(), size);
            if (!account(block, s, outcome))
                return;
            present = present || block != Block::Missing;
        }
        // A strip past the end of the file leaves its rows the black the picture starts as:
        // a file cut short early costs no work for the rows it never reached.
        if (!present)
            continue;
        // Convert the clip's rows of the strip in bands that start on whole subsampling blocks.
        const std::uint32_t end = std::min(first + rows, std::uint32_t(clip.bottom()) + 1);
        std::uint32_t at = std::max(first, std::uint32_t(clip.top()));
        at = first + (at - first) / l.rowStep * l.rowStep;
        while (at < end) {
            if (stopRequested(cancelled)) {
                outcome.cancelled = true;
                return;
            }
            const std::uint32_t n = std::min(l.bandRows, first + rows - at);
            const std::int64_t from = std::int64_t(at - first) * l.rowBytes;
            if (l.contig) {
                s.image.put.contig(&s.image, band.data(), 0, 0, l.width, n, 0, 0,
                                   planes[0].data() + from);
            } else {
                std::uint8_t* p0 = planes[0].data() + from;
                std::uint8_t* p1 = l.planes >= 3 ? planes[1].data() + from : p0;
                std::uint8_t* p2 = l.planes >= 3 ? planes[2].data() + from : p0;
                std::uint8_t* pa =
                    s.image.alpha ? planes[size_t(l.planes - 1)].data() + from : nullptr;
                s.image.put.separate(&s.image, band.data(), 0, 0, l.width, n, 0, 0, p0, p1, p2, pa);
            }
            for (std::uint32_t y = std::max(at, std::uint32_t(clip.top())); y < at + n && y < end;
                 ++y)
                reducer.addRow(int(y), band.data() + size_t(y - at) * l.width + clip.left());
            at += n;
        }
    }
}

void decodeTiles(TiffState& s, QRect clip, Reducer& reducer, const std::atomic<bool>* cancelled,
                 Outcome& outcome) {
    const Layout& l = s.layout;
    const std::uint32_t tw = l.blockW;
    const std::uint32_t th = l.blockH;
    std::vector<std::vector<std::uint8_t>> planes(size_t(l.planes));
    for (auto& plane : planes)
        plane.resize(size_t(l.blockBytes));
    const std::uint32_t firstColumn = std::uint32_t(clip.left()) / tw;
    const std::uint32_t lastColumn = std::uint32_t(clip.right()) / tw;
    const std::uint32_t spanX = firstColumn * tw;
    const std::uint32_t spanW = (lastColumn - firstColumn + 1) * tw;
    std::vector<std::uint32_t> band(size_t(th) * spanW);
    for (std::uint32_t top = std::uint32_t(clip.top()) / th * th;
         top <= std::uint32_t(clip.bottom()); top += th) {
        const std::uint32_t rows = std::min(th, l.height - top);
        bool rowPresent = false;
        for (std::uint32_t column = firstColumn; column <= lastColumn; ++column) {
            if (stopRequested(cancelled)) {
                outcome.cancelled = true;
                return;
            }
            const std::uint32_t left = column * tw;
            bool present = false;
            for (int p = 0; p < l.planes; ++p) {
                const Block block =
                    readBlock(s, TIFFComputeTile(s.tif, left, top, 0, std::uint16_t(p)),
                              planes[size_t(p)].data(), l.blockBytes);
                if (!account(block, s, outcome))
                    return;
                present = present || block != Block::Missing;
            }
            const std::uint32_t cols = std::min(tw, l.width - left);
            std::uint32_t* to = band.data() + (left - spanX);
            const auto fromSkew = std::int32_t(tw - cols);
            const auto toSkew = std::int32_t(spanW - cols);
            rowPresent = rowPresent || present;
            if (!present) {
                // Past the end of the file: black, as the picture starts.
                for (std::uint32_t y = 0; y < rows; ++y)
                    std::fill_n(to + size_t(y) * spanW, cols, 0u);
            } else if (l.contig) {
                s.image.put.contig(&s.image, to, left, top, cols, rows, fromSkew, toSkew,
                                   planes[0].data());
            } else {
                std::uint8_t* p0 = planes[0].data();
                std::uint8_t* p1 = l.planes >= 3 ? planes[1].data() : p0;
                std::uint8_t* p2 = l.planes >= 3 ? planes[2].data() : p0;
                std::uint8_t* pa = s.image.alpha ? planes[size_t(l.planes - 1)].data() : nullptr;
                s.image.put.separate(&s.image, to, left, top, cols, rows, fromSkew, toSkew, p0, p1,
                                     p2, pa);
            }
        }
        // A row of tiles wholly past the end of the file leaves its rows black.
        if (!rowPresent)
            continue;
        const std::uint32_t end = std::min(top + rows, std::uint32_t(clip.bottom()) + 1);
        for (std::uint32_t y = std::max(top, std::uint32_t(clip.top())); y < end; ++y)
            reducer.addRow(int(y), band.data() + size_t(y - top) * spanW + (clip.left() - spanX));
    }
}

Outcome decodeTiff(TiffState& s, QRect clip, int reduction, const std::atomic<bool>* cancelled) {
    Outcome outcome;
    Reducer reducer(clip, reduction, s.image.alpha != 0);
    if (!reducer.ok())
        return outcome;
    s.input.lastError.clear();
    if (s.layout.tiled)
        decodeTiles(s, clip, reducer, cancelled, outcome);
    else
        decodeStrips(s, clip, reducer, cancelled, outcome);
    s.raw = {};
    if (outcome.cancelled || stopRequested(cancelled)) {
        outcome.cancelled = true;
        return outcome;
    }
    if (!outcome.problem.isEmpty())
        return outcome;
    outcome.image = reducer.finish();
    return outcome;
}

std::int64_t clampedProduct(std::int64_t a, std::int64_t b) {
    if (a <= 0 || b <= 0)
        return 0;
    return a > INT64_MAX / 4 / b ? INT64_MAX / 4 : a * b;
}

// Works out how the picture lies in strips or tiles; false with `problem` set when it cannot
// be decoded.
bool readLayout(TiffState& s, QString& problem) {
    TIFF* tif = s.tif;
    Layout& l = s.layout;
    l.width = s.image.width;
    l.height = s.image.height;
    l.tiled = TIFFIsTiled(tif);
    l.contig = s.image.isContig;
    const bool oneChannel = s.image.photometric == PHOTOMETRIC_MINISWHITE ||
                            s.image.photometric == PHOTOMETRIC_MINISBLACK ||
                            s.image.photometric == PHOTOMETRIC_PALETTE;
    l.planes = l.contig ? 1 : (oneChannel ? 1 : 3) + (s.image.alpha ? 1 : 0);
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    l.uncompressed = compression == COMPRESSION_NONE;
    l.swapShorts = TIFFIsByteSwapped(tif) && s.image.bitspersample == 16;
    std::uint16_t predictor = 1;
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
    l.differenced = predictor == PREDICTOR_HORIZONTAL &&
                    (s.image.bitspersample == 8 || s.image.bitspersample == 16);
    l.sampleStride = l.contig ? std::max<int>(1, s.image.samplesperpixel) : 1;
    std::uint16_t subH = 1;
    std::uint16_t subV = 1;
    if (s.image.photometric == PHOTOMETRIC_YCBCR)
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &subH, &subV);
    l.rowStep = std::max<std::uint32_t>(1, subV);
    if (l.tiled) {
        std::uint32_t tw = 0;
        std::uint32_t th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        if (tw == 0 || th == 0 || tw > 65536 || th > 65536) {
            problem = QStringLiteral("its tiles are %1 \u00d7 %2 pixels").arg(tw).arg(th);
            return false;
        }
        l.blockW = tw;
        l.blockH = th;
        l.blockBytes = std::int64_t(std::min<std::uint64_t>(TIFFTileSize64(tif), INT64_MAX / 4));
        l.rowBytes = std::int64_t(std::min<std::uint64_t>(TIFFTileRowSize64(tif), INT64_MAX / 4));
    } else {
        std::uint32_t rps = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
        if (rps == 0 || rps > l.height)
            rps = l.height;
        l.blockW = l.width;
        l.blockH = rps;
        l.blockBytes =
            std::int64_t(std::min<std::uint64_t>(TIFFVStripSize64(tif, rps), INT64_MAX / 4));
        l.rowBytes = std::int64_t(std::min<std::uint64_t>(TIFFScanlineSize64(tif), INT64_MAX / 4));
        // About a megabyte of RGBA pixels at a time, in whole subsampling blocks.
        std::uint32_t band = std::clamp<std::uint32_t>((1u << 18) / l.width, 1, rps);
        band = (band + l.rowStep - 1) / l.rowStep * l.rowStep;
        l.bandRows = band;
    }
    if (l.blockBytes <= 0 || l.rowBytes <= 0) {
        problem = clause(s.input.lastError, QString(), QStringLiteral("its layout is damaged"));
        return false;
    }
    // libtiff's own bound on a block's compressed bytes, and never more than the file.
    l.rawCap = std::min(s.input.size, clampedProduct(l.blockBytes, 10) + 4096);
    return true;
}

} // namespace

// Reads and checks a TIFF's first picture: its directory, its size and how its pixels lie.
// Strips or rows of tiles are decoded later, only those covering the part shown, and each is
// box-reduced as it comes, so a large picture is never held whole.
bool openTiff(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error) {
    auto state = std::make_shared<TiffState>();
    state->input.fd = file.handle();
    state->input.size = file.size();
    const QString name = QFileInfo(path).fileName();
    const std::int64_t budget = control.memoryBudget;

    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        error = undecodableError(path, QStringLiteral("there is not enough memory"));
        return false;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(budget));
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &state->input);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &state->input);
    // "m": no memory mapping, every read goes through the bounded procedure; "O": strip and
    // tile positions are read as they are needed, not as whole tables.
    state->tif =
        TIFFClientOpenExt(name.toUtf8().constData(), "rmO", &state->input, inputRead, inputWrite,
                          inputSeek, inputClose, inputSize, inputMap, inputUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!state->tif) {
        error = undecodableError(
            path, clause(state->input.lastError, name, QStringLiteral("its header is damaged")));
        return false;
    }
    TIFF* tif = state->tif;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) {
        error = noPictureError(path);
        return false;
    }
    const QSize stored(int(std::min<std::uint32_t>(width, INT32_MAX)),
                       int(std::min<std::uint32_t>(height, INT32_MAX)));
    if (tooLarge(stored)) {
        error = tooLargeError(path, stored);
        return false;
    }
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&state->image, tif, 1, message)) {
        error = undecodableError(
            path,
            clause(QString::fromUtf8(message), name,
                   clause(state->input.lastError, name,
                          QStringLiteral("it is a kind of TIFF this program does not read"))));
        return false;
    }
    state->begun = true;
    QString problem;
    if (!readLayout(*state, problem)) {
        error = undecodableError(path, problem);
        return false;
    }
    const Layout& l = state->layout;
    // What a decode holds whatever it shows: a strip or tile of each plane, the compressed bytes
    // of one, the RGBA pixels converted at once (a row of tiles across the whole picture), and
    // the row sums of the reduction. A picture in one strip holds all of it decoded.
    const std::int64_t rgbaBand =
        l.tiled ? clampedProduct(clampedProduct(l.blockH, (l.width + l.blockW - 1) / l.blockW),
                                 std::int64_t(l.blockW) * 4)
                : clampedProduct(l.bandRows, std::int64_t(l.width) * 4);
    const std::int64_t parts[] = {clampedProduct(l.blockBytes, l.planes), l.rawCap, rgbaBand,
                                  std::int64_t(l.width) * 16};
    std::int64_t held = 0;
    for (const std::int64_t part : parts)
        held = std::min(held + part, INT64_MAX / 4); // each part is at most a quarter of that
    if (held > budget) {
        error = overBudgetError(path, held, budget);
        return false;
    }

    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);
    std::uint32_t iccSize = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        source.colours.iccProfile = QByteArray(static_cast<const char*>(icc), qsizetype(iccSize));

    source.format = "tiff";
    source.stored = stored;
    source.transform = exifTransformation(orientation);
    source.reduction = Reduction::PowerOfTwo;
    source.heldBytes = held;
    const std::atomic<bool>* cancelled = control.cancelled;
    source.decode = [state, path, name, cancelled](const DecodePlan& plan, QString& err,
                                                   bool& stopped, bool& cutShort) {
        const int reduction = std::max(1, plan.clip.width() / std::max(1, plan.decodeSize.width()));
        Outcome outcome = decodeTiff(*state, plan.clip, reduction, cancelled);
        cutShort = outcome.cutShort;
        stopped = outcome.cancelled;
        if (outcome.image.isNull() && !outcome.cancelled && !outcome.problem.isEmpty())
            err = undecodableError(
                path, clause(outcome.problem, name, QStringLiteral("its pixels are damaged")));
        return std::move(outcome.image);
    };
    return true;
}

} // namespace tavlin
