#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <png.h>
#include <unistd.h>
#include <vector>

#include "decode/jpegscan.h"
#include "decode/readers.h"

namespace tavlin {

namespace {

// The file is read through a buffer of this size, front to back, once.
constexpr std::int64_t kReadBuffer = 256 * 1024;
// The most one ancillary chunk (an ICC profile, decompressed, or EXIF) may take. A profile
// larger than this is taken for a damaged one; no real profile comes near it.
constexpr png_alloc_size_t kChunkLimit = png_alloc_size_t(4) << 20;
// The most ancillary chunks kept of the kinds a file may repeat (sPLT, unknown chunks).
constexpr png_uint_32 kChunkCount = 32;
// Within this many bytes of the file's end, libpng reads its pixel data this many at a time.
constexpr std::int64_t kNearEnd = 32 * 1024;
constexpr std::size_t kPieceNearEnd = 64;
// What libpng and zlib hold besides the rows: the inflate window and state, tables.
constexpr std::int64_t kLibraryBytes = 96 * 1024;

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// One PNG being read: libpng's structures, the file they read from, and what went wrong.
// libpng ends a failed read by calling onError, which jumps back to the setjmp of the
// function that called into it; only libpng's C frames and the callbacks below lie between,
// and they hold nothing with a destructor.
struct PngFile {
    png_structp png = nullptr;
    png_infop info = nullptr;
    int fd = -1;
    std::int64_t offset = 0; // the next byte of the file to read into `buffer`
    std::int64_t end = 0;    // the file's size when it was opened: nothing past it is read
    std::vector<std::uint8_t> buffer;
    std::size_t pos = 0;
    std::size_t filled = 0;
    char message[256] = {};
    bool profileWarned = false; // libpng warned about the ICC profile
    bool started = false;       // the rows have been read once: the reader is spent
    bool nearEnd = false;       // libpng reads in small pieces from here on

    PngFile() = default;
    PngFile(const PngFile&) = delete;
    PngFile& operator=(const PngFile&) = delete;
    ~PngFile() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

extern "C" void onPngError(png_structp png, png_const_charp message) {
    auto* f = static_cast<PngFile*>(png_get_error_ptr(png));
    std::snprintf(f->message, sizeof f->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

// Warnings are not printed: damaged ancillary chunks are dropped and the picture shows.
extern "C" void onPngWarning(png_structp png, png_const_charp message) {
    auto* f = static_cast<PngFile*>(png_get_error_ptr(png));
    if (message && std::strncmp(message, "iCCP", 4) == 0)
        f->profileWarned = true;
}

extern "C" void readPngData(png_structp png, png_bytep out, size_t length) {
    auto* f = static_cast<PngFile*>(png_get_io_ptr(png));
    // libpng reads its pixel data in pieces of up to 8 KB, each whole or not at all: near the
    // end of the file the pieces are made small, so a file cut short loses few of its bytes.
    const std::int64_t unread = f->end - f->offset + std::int64_t(f->filled - f->pos);
    if (!f->nearEnd && unread - std::int64_t(length) < kNearEnd) {
        f->nearEnd = true;
        png_set_compression_buffer_size(png, kPieceNearEnd);
    }
    while (length > 0) {
        if (f->pos == f->filled) {
            const std::int64_t want =
                std::min<std::int64_t>(std::int64_t(f->buffer.size()), f->end - f->offset);
            bool failed = false;
            const std::int64_t got =
                want > 0 ? readAt(f->fd, f->offset, f->buffer.data(), want, &failed) : 0;
            if (got == 0 && failed)
                png_error(png, "the file cannot be read");
            if (got == 0)
                png_error(png, "the file is cut short");
            f->offset += got;
            f->pos = 0;
            f->filled = std::size_t(got);
        }
        const std::size_t n = std::min(length, f->filled - f->pos);
        std::memcpy(out, f->buffer.data() + f->pos, n);
        f->pos += n;
        out += n;
        length -= n;
    }
}

// Creates libpng's structures and reads every chunk before the pixels.
bool readPngHeader(PngFile& f) {
    f.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &f, onPngError, onPngWarning);
    if (f.png)
        f.info = png_create_info_struct(f.png);
    if (!f.png || !f.info) {
        std::snprintf(f.message, sizeof f.message, "there is not enough memory");
        return false;
    }
    if (setjmp(png_jmpbuf(f.png)))
        return false;
    png_set_read_fn(f.png, &f, readPngData);
    png_set_user_limits(f.png, PictureLimits::maxSide, PictureLimits::maxSide);
    png_set_chunk_malloc_max(f.png, kChunkLimit);
    png_set_chunk_cache_max(f.png, kChunkCount);
    png_set_benign_errors(f.png, 1);
    // A damaged ancillary chunk is dropped; a damaged critical one stops the read.
    png_set_crc_action(f.png, PNG_CRC_DEFAULT, PNG_CRC_WARN_DISCARD);
    // Text and suggested palettes are never shown: passed over unread, so a compressed text
    // chunk cannot cost its inflated size.
    static const png_byte skipped[] = "tEXt\0zTXt\0iTXt\0sPLT\0";
    png_set_keep_unknown_chunks(f.png, PNG_HANDLE_CHUNK_NEVER, skipped, 4);
    png_read_info(f.png, f.info);
    return true;
}

// What the rows come out as once libpng's transformations are set: four bytes a pixel in
// QRgb's order, alpha not premultiplied.
struct PngLayout {
    int width = 0;
    int height = 0;
    bool alpha = false;
    bool interlaced = false;
};

// Box-averages groups of `d` x `d` stored pixels (B, G, R and, with alpha, A bytes; alpha
// straight) into one shown pixel, premultiplied when the picture has alpha.
class BoxReducer {
public:
    BoxReducer(int outWidth, int d, bool alpha, int pixelBytes)
        : width_(outWidth), d_(d), alpha_(alpha), pixelBytes_(pixelBytes),
          sums_(std::size_t(outWidth) * 4, 0) {}

    void add(const std::uint8_t* p) {
        if (alpha_)
            addPremultiplied(p);
        else if (pixelBytes_ == 3)
            addOpaque<3>(p);
        else
            addOpaque<4>(p);
        ++rows_;
    }

    bool full() const { return rows_ == d_; }
    bool empty() const { return rows_ == 0; }

    // Writes the average of the rows added so far into `line` and starts a new group.
    void emit(QRgb* line) {
        const std::uint32_t n = std::uint32_t(rows_ * d_);
        const std::uint32_t* s = sums_.data();
        if (alpha_) {
            const std::uint32_t n255 = n * 255;
            for (int x = 0; x < width_; ++x, s += 4) {
                line[x] = qRgba(int((s[2] + n255 / 2) / n255), int((s[1] + n255 / 2) / n255),
                                int((s[0] + n255 / 2) / n255), int((s[3] + n / 2) / n));
            }
        } else if ((n & (n - 1)) == 0) { // a whole group: a shift
            int shift = 0;
            while ((1u << shift) < n)
                ++shift;
            const std::uint32_t half = n / 2;
            for (int x = 0; x < width_; ++x, s += 4)
                line[x] = 0xFF000000u | (s[2] + half) >> shift << 16 | (s[1] + half) >> shift << 8 |
                          (s[0] + half) >> shift;
        } else {
            for (int x = 0; x < width_; ++x, s += 4)
                line[x] =
                    qRgb(int((s[2] + n / 2) / n), int((s[1] + n / 2) / n), int((s[0] + n / 2) / n));
        }
        std::fill(sums_.begin(), sums_.end(), 0);
        rows_ = 0;
    }

private:
    template <int Bytes> void addOpaque(const std::uint8_t* p) {
        std::uint32_t* s = sums_.data();
        if (d_ == 2) {
            for (int x = 0; x < width_; ++x, s += 4, p += 2 * Bytes) {
                s[0] += p[0] + p[Bytes];
                s[1] += p[1] + p[Bytes + 1];
                s[2] += p[2] + p[Bytes + 2];
            }
            return;
        }
        for (int x = 0; x < width_; ++x, s += 4) {
            std::uint32_t b = 0, g = 0, r = 0;
            for (int i = 0; i < d_; ++i, p += Bytes) {
                b += p[0];
                g += p[1];
                r += p[2];
            }
            s[0] += b;
            s[1] += g;
            s[2] += r;
        }
    }

    void addPremultiplied(const std::uint8_t* p) {
        std::uint32_t* s = sums_.data();
        for (int x = 0; x < width_; ++x, s += 4) {
            for (int i = 0; i < d_; ++i, p += 4) {
                const std::uint32_t a = p[3];
                s[0] += p[0] * a;
                s[1] += p[1] * a;
                s[2] += p[2] * a;
                s[3] += a;
            }
        }
    }

    int width_;
    int d_;
    bool alpha_;
    int pixelBytes_;
    std::vector<std::uint32_t> sums_;
    int rows_ = 0;
};

void premultiplyRow(std::uint8_t* row, int count) {
    auto* p = reinterpret_cast<QRgb*>(row);
    for (int x = 0; x < count; ++x) {
        const QRgb c = p[x];
        if (qAlpha(c) != 255)
            p[x] = qPremultiply(c);
    }
}

// libpng's message, as the clause after "could not be decoded: ".
QString problemOf(const PngFile& f) {
    return libraryClause(QString::fromLatin1(f.message), QStringLiteral("its data is damaged"));
}

bool cancelledNow(const std::atomic<bool>* cancelled) {
    return cancelled && cancelled->load(std::memory_order_relaxed);
}

// How a read of the rows ended.
struct RowsOutcome {
    bool failed = false;    // libpng stopped with an error, in `PngFile::message`
    bool cancelled = false; // the cancel flag turned
    int rowsRead = 0;       // rows libpng handed over before it stopped
    int rowsShown = 0;      // rows of the decoded picture written, from its top
};

// Sets libpng's transformations: every kind of PNG comes out as 8-bit B, G, R and A, or
// without A for an opaque picture of `pixelBytes` 3.
void setTransformations(PngFile& f, const PngLayout& layout, int pixelBytes) {
    png_structp png = f.png;
    const int colourType = png_get_color_type(png, f.info);
    const int depth = png_get_bit_depth(png, f.info);
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, f.info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (depth == 16)
        png_set_scale_16(png); // rounds, as 65535 / 257 does
    if (!(colourType & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (pixelBytes == 4) // only where the pixels have no alpha of their own
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    if (layout.interlaced)
        png_set_interlace_handling(png);
    png_read_update_info(png, f.info);
    if (png_get_rowbytes(png, f.info) != std::size_t(layout.width) * std::size_t(pixelBytes))
        png_error(png, "its pixels are of a kind this program does not read");
}

// What a read of the rows works with. Everything with a destructor is made by the caller,
// before libpng's error handling is set up.
struct RowsJob {
    PngFile& f;
    const PngLayout& layout;
    QRect clip;
    int d;
    int pixelBytes;        // in a stored row as libpng hands it over
    QImage& out;           // the reduced clip, or the interlaced passes' canvas
    std::uint8_t* scratch; // one stored row
    BoxReducer& reducer;
    const std::atomic<bool>* cancelled;
    RowsOutcome& outcome;
};

// Reads the rows of a picture stored row after row, up to the clip's last: at full size
// straight into the picture, else through the reducer into it.
[[gnu::noinline]] void readPlainRows(RowsJob& job) {
    png_structp png = job.f.png;
    setTransformations(job.f, job.layout, job.pixelBytes);
    const QRect clip = job.clip;
    const int d = job.d;
    const bool direct = d == 1 && clip.left() == 0 && clip.width() == job.layout.width;
    const std::size_t skip = std::size_t(clip.left()) * std::size_t(job.pixelBytes);
    for (int y = 0; y <= clip.bottom(); ++y) {
        if ((y & 15) == 0 && cancelledNow(job.cancelled)) {
            job.outcome.cancelled = true;
            return;
        }
        std::uint8_t* line = y >= clip.top() ? job.out.scanLine((y - clip.top()) / d) : nullptr;
        png_read_row(png, direct && line ? line : job.scratch, nullptr);
        job.outcome.rowsRead = y + 1;
        if (!line)
            continue;
        if (direct) {
            if (job.layout.alpha)
                premultiplyRow(line, job.layout.width);
            ++job.outcome.rowsShown;
            continue;
        }
        job.reducer.add(job.scratch + skip);
        if (job.reducer.full()) {
            job.reducer.emit(reinterpret_cast<QRgb*>(line));
            ++job.outcome.rowsShown;
        }
    }
}

// Reads all seven passes of an interlaced picture into the canvas (full-width rows of the
// clip's rows), each pass filling the blocks of the ones to come, so a file cut short shows
// the picture as far as its passes went, coarser below where the last one ended.
[[gnu::noinline]] void readInterlacedRows(RowsJob& job) {
    png_structp png = job.f.png;
    setTransformations(job.f, job.layout, 4);
    const QRect clip = job.clip;
    for (int pass = 0; pass < PNG_INTERLACE_ADAM7_PASSES; ++pass) {
        for (int y = 0; y < job.layout.height; ++y) {
            if ((y & 15) == 0 && cancelledNow(job.cancelled)) {
                job.outcome.cancelled = true;
                return;
            }
            const bool inClip = y >= clip.top() && y <= clip.bottom();
            png_read_row(png, nullptr, inClip ? job.out.scanLine(y - clip.top()) : nullptr);
            ++job.outcome.rowsRead;
        }
    }
}

// Runs `read` with libpng's errors ending it here: only libpng's frames and `read`'s, which
// holds nothing with a destructor while it calls into libpng, are left by the jump.
void readGuarded(void (*read)(RowsJob&), RowsJob& job) {
    if (setjmp(png_jmpbuf(job.f.png))) {
        job.outcome.failed = true;
        return;
    }
    read(job);
}

// Decodes `plan.clip` at `plan.decodeSize`: a box filter of whole multiples of the
// reduction over the rows as they come, never holding the picture at its stored size
// unless it is interlaced.
QImage decodePng(PngFile& f, const PngLayout& layout, const DecodePlan& plan,
                 const std::atomic<bool>* cancelled, RowsOutcome& outcome) {
    const QRect clip = plan.clip;
    const int d = std::max(1, clip.width() / std::max(1, plan.decodeSize.width()));
    const QSize size = clip.size() / d;
    const QImage::Format format =
        layout.alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const QRgb fill = layout.alpha ? 0u : 0xFF000000u;
    QImage out(size, format);
    if (out.isNull())
        return out;
    if (!layout.interlaced) {
        // Rows go straight into the picture at full size; reduced, opaque rows need no alpha.
        const bool direct = d == 1 && clip.left() == 0 && clip.width() == layout.width;
        const int pixelBytes = layout.alpha || direct ? 4 : 3;
        BoxReducer reducer(size.width(), d, layout.alpha, pixelBytes);
        std::vector<std::uint8_t> scratch(std::size_t(layout.width) * 4);
        RowsJob job{f,   layout,         clip,    d,         pixelBytes,
                    out, scratch.data(), reducer, cancelled, outcome};
        readGuarded(readPlainRows, job);
        // A group the data ended in shows the rows it has; rows it never reached are blank.
        if (outcome.failed && !reducer.empty() && outcome.rowsShown < size.height())
            reducer.emit(reinterpret_cast<QRgb*>(out.scanLine(outcome.rowsShown++)));
        for (int y = outcome.rowsShown; y < size.height(); ++y)
            std::fill_n(reinterpret_cast<QRgb*>(out.scanLine(y)), size.width(), fill);
        return out;
    }

    const bool whole = d == 1 && clip.left() == 0 && clip.width() == layout.width;
    QImage canvas = whole ? std::move(out) : QImage(layout.width, clip.height(), format);
    if (canvas.isNull())
        return canvas;
    canvas.fill(fill);
    // libpng writes straight alpha: read into the same bytes as ARGB32, premultiply after.
    if (layout.alpha)
        canvas.reinterpretAsFormat(QImage::Format_ARGB32);
    BoxReducer reducer(size.width(), d, layout.alpha, 4);
    RowsJob job{f, layout, clip, d, 4, canvas, nullptr, reducer, cancelled, outcome};
    readGuarded(readInterlacedRows, job);
    if (outcome.cancelled)
        return {};
    if (whole) {
        if (layout.alpha) {
            for (int y = 0; y < canvas.height(); ++y)
                premultiplyRow(canvas.scanLine(y), canvas.width());
            canvas.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        }
        return canvas;
    }
    const std::size_t skip = std::size_t(clip.left()) * 4;
    for (int y = 0; y + d <= canvas.height(); y += d) {
        for (int i = 0; i < d; ++i)
            reducer.add(canvas.constScanLine(y + i) + skip);
        reducer.emit(reinterpret_cast<QRgb*>(out.scanLine(y / d)));
    }
    return out;
}

} // namespace

// Reads and checks a PNG's chunks up to its pixels, with libpng reading the file front to
// back and no further than its size when opened. The rows are read later, only down to the
// last one shown, and box-reduced as they come; an interlaced picture is held whole while its
// passes fill it.
bool openPng(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error) {
    auto f = std::make_shared<PngFile>();
    f->fd = file.handle();
    f->end = file.size();
    f->buffer.resize(
        std::size_t(std::min<std::int64_t>(kReadBuffer, std::max<std::int64_t>(f->end, 1))));
    // The file's first piece, from which libpng reads on; the size is checked in it before
    // libpng reads further than the header.
    bool failed = false;
    const std::int64_t first =
        readAt(f->fd, 0, f->buffer.data(), std::int64_t(f->buffer.size()), &failed);
    if (first == 0 && failed) {
        error = undecodableError(path, QStringLiteral("the file cannot be read"));
        return false;
    }
    f->offset = first;
    f->filled = std::size_t(first);
    const std::uint8_t* head = f->buffer.data();
    if (first >= 24 && std::memcmp(head + 12, "IHDR", 4) == 0) {
        const std::uint32_t width = be32(head + 16);
        const std::uint32_t height = be32(head + 20);
        if (width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX &&
            tooLarge(QSize(int(width), int(height)))) {
            error = tooLargeError(path, QSize(int(width), int(height)));
            return false;
        }
    }
    if (!readPngHeader(*f)) {
        error = undecodableError(path, problemOf(*f));
        return false;
    }
    png_structp png = f->png;
    png_infop info = f->info;
    PngLayout layout;
    layout.width = int(png_get_image_width(png, info));
    layout.height = int(png_get_image_height(png, info));
    layout.alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) ||
                   png_get_valid(png, info, PNG_INFO_tRNS);
    layout.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    source.format = "png";
    source.stored = QSize(layout.width, layout.height);
    if (tooLarge(source.stored)) {
        error = tooLargeError(path, source.stored);
        return false;
    }

    png_bytep exif = nullptr;
    png_uint_32 exifSize = 0;
    if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif && exifSize > 0) {
        QByteArray body("Exif\0\0", 6);
        body.append(reinterpret_cast<const char*>(exif), qsizetype(exifSize));
        source.transform = exifTransformation(
            exifOrientation(reinterpret_cast<const std::uint8_t*>(body.constData()), body.size()));
    }

    ColourDescription& colours = source.colours;
    png_charp profileName = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(png, info, &profileName, &compression, &profile, &profileSize) && profile)
        colours.iccProfile =
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(profileSize));
    int intent = 0;
    colours.pngSrgb = png_get_sRGB(png, info, &intent) != 0;
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) && gamma > 0)
        colours.pngGamma = gamma;
    double* c = colours.chromaticities;
    colours.hasChromaticities =
        png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0;
    // A profile libpng set aside (damaged, too large, of the wrong colour space) leaves the
    // picture's colours undescribed rather than half described by the other chunks.
    if (f->profileWarned && colours.iccProfile.isEmpty())
        colours = ColourDescription();

    // libpng's two rows at up to eight bytes a pixel, one row of ours and the reduction's sums.
    source.reduction = Reduction::PowerOfTwo;
    source.heldBytes = std::int64_t(layout.width) * (2 * 8 + 4 + 16) + kReadBuffer + kLibraryBytes;
    if (layout.interlaced)
        source.heldBytes += pixelBytes(source.stored); // the passes fill the whole picture
    if (source.heldBytes > control.memoryBudget) {
        error = overBudgetError(path, source.heldBytes, control.memoryBudget);
        return false;
    }

    const std::atomic<bool>* cancelled = control.cancelled;
    source.decode = [f, layout, path, cancelled](const DecodePlan& plan, QString& err,
                                                 bool& stopped, bool& cutShort) {
        if (f->started) {
            err = undecodableError(path, QStringLiteral("it was read once already"));
            return QImage();
        }
        f->started = true;
        RowsOutcome outcome;
        QImage image = decodePng(*f, layout, plan, cancelled, outcome);
        if (outcome.cancelled || cancelledNow(cancelled)) {
            stopped = true;
            return QImage();
        }
        if (outcome.failed) {
            if (outcome.rowsRead == 0) {
                err = undecodableError(path, problemOf(*f));
                return QImage();
            }
            cutShort = true;
        }
        return image;
    };
    return true;
}

} // namespace tavlin
