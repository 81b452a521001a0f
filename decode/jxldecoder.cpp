#include "decode/readers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>


// libjxl reports every failure it meets, with its source file and line, on the standard error
// stream. Those lines say nothing to a person looking at pictures: a file that cannot be read
// gets a sentence of its own. The library's lines are recognised by their form ("%s:%d: "
// followed by a source file of libjxl) and dropped; everything else is printed as it was.
extern "C" int __vfprintf_chk(FILE* stream, int flag, const char* format, va_list args) {
    using Real = int (*)(FILE*, int, const char*, va_list);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "__vfprintf_chk"));
    if (stream == stderr && format && std::strncmp(format, "%s:%d: ", 7) == 0) {
        va_list copy;
        va_copy(copy, args);
        const char* source = va_arg(copy, const char*);
        va_end(copy);
        if (source && std::strstr(source, "lib/jxl/"))
            return 0;
    }
    return real ? real(stream, flag, format, args) : std::vfprintf(stream, format, args);
}

namespace tavlin {

namespace {

// Bytes read and handed to the decoder at a time: between two of them the load's cancel flag
// is looked at.
constexpr std::int64_t kChunk = 512 * 1024;
// The first read, which holds the header of any usual file.
constexpr std::int64_t kHeadChunk = 64 * 1024;

// What libjxl holds while decoding a frame, a pixel: its planes of 32-bit samples, three for
// the colours and one for each extra channel, and the buffers it renders groups through
// (measured with libjxl 0.7: lossy and lossless pictures of 1 to 24 megapixels peak at
// about 13 bytes a pixel plus 4 for an alpha channel).
constexpr std::int64_t kLibraryBytesPerSample = 4;
constexpr std::int64_t kLibraryBytesPerPixel = 2;
// The sums the box filter keeps: four 16-bit channels for every shown pixel, which at the
// smallest reduction that keeps sums (1/2) are two bytes for every stored pixel.
constexpr std::int64_t kSumBytesPerPixel = 2;

std::int64_t readAt(int fd, std::int64_t offset, char* to, std::int64_t size) {
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, to + done, size_t(size - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

// The file's bytes, read a chunk at a time as the decoder asks for them, never past the size
// the file had when it was opened.
struct JxlFile {
    int fd = -1;
    std::int64_t size = 0; // at open
    QByteArray bytes;      // read so far

    bool atEnd() const { return bytes.size() >= size; }
    // Reads up to `chunk` more bytes; false when none came.
    bool readMore(std::int64_t chunk) {
        const std::int64_t want = std::min(chunk, size - std::int64_t(bytes.size()));
        if (want <= 0)
            return false;
        const qsizetype had = bytes.size();
        bytes.resize(had + qsizetype(want));
        const std::int64_t got = readAt(fd, had, bytes.data() + had, want);
        bytes.resize(had + qsizetype(got));
        if (got < want)
            size = bytes.size(); // the file shrank: what was read is all there is
        return got > 0;
    }
};

// Hands the decoder the bytes past `consumed`, after taking back what it has not used of the
// last input; `consumed` counts the bytes it is done with.
void feed(JxlDecoder* dec, const QByteArray& bytes, std::int64_t& consumed, std::int64_t& given) {
    const std::int64_t unused = std::int64_t(JxlDecoderReleaseInput(dec));
    consumed += given - unused;
    given = bytes.size() - consumed;
    JxlDecoderSetInput(dec, reinterpret_cast<const uint8_t*>(bytes.constData() + consumed),
                       size_t(given));
}

bool isSrgb(const JxlColorEncoding& c) {
    return (c.color_space == JXL_COLOR_SPACE_RGB || c.color_space == JXL_COLOR_SPACE_GRAY) &&
           c.white_point == JXL_WHITE_POINT_D65 &&
           (c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB) &&
           c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// At the colour encoding event: pictures stored in the codec's own colour space are asked for
// in sRGB unless the file names a space of its own, as they would otherwise come in linear
// light, which eight bits a channel cannot hold without banding in the shadows. Then reads
// what the pixels handed over will be: nothing for sRGB, else an ICC profile.
void takeColours(JxlDecoder* dec, const JxlBasicInfo& info, ColourDescription* colours) {
    JxlColorEncoding original;
    if (!info.uses_original_profile &&
        JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           &original) != JXL_DEC_SUCCESS) {
        JxlColorEncoding srgb;
        JxlColorEncodingSetToSRGB(&srgb, info.num_color_channels == 1);
        JxlDecoderSetPreferredColorProfile(dec, &srgb);
    }
    if (!colours)
        return;
    JxlColorEncoding data;
    if (JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &data) ==
            JXL_DEC_SUCCESS &&
        isSrgb(data))
        return;
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0)
        return;
    QByteArray icc(qsizetype(size), '\0');
    if (JxlDecoderGetColorAsICCProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<uint8_t*>(icc.data()),
                                       size) == JXL_DEC_SUCCESS)
        colours->iccProfile = icc;
}

// A decoder that keeps the stored orientation (the loader turns the shown pixels) and hands
// alpha unpremultiplied whatever the file holds.
JxlDecoderPtr makeDecoder(int events) {
    JxlDecoderPtr dec = JxlDecoderMake(nullptr);
    if (dec && (JxlDecoderSubscribeEvents(dec.get(), events) != JXL_DEC_SUCCESS ||
                JxlDecoderSetKeepOrientation(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
                JxlDecoderSetUnpremultiplyAlpha(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS))
        dec.reset();
    return dec;
}

// Takes the rows libjxl renders, in any order and from any of its threads, and keeps only the
// clip's pixels: straight into the picture at full size, else box-averaged into sums of whole
// blocks of d × d stored pixels. Threads never write the same pixel at full size; reduced,
// the rows of one block may come from two threads, so each shown row has a lock of its own.
class JxlRows {
public:
    JxlRows(const DecodePlan& plan, int channels, bool alpha,
            const std::atomic<bool>* cancelled)
        : clip_(plan.clip), d_(std::max(1, plan.clip.width() / std::max(1, plan.decodeSize.width()))),
          size_(plan.clip.size() / d_), channels_(channels), alpha_(alpha), cancelled_(cancelled) {
        if (d_ == 1) {
            image_ = QImage(size_, alpha ? QImage::Format_ARGB32_Premultiplied
                                         : QImage::Format_RGB32);
            if (!image_.isNull())
                image_.fill(0);
            ok_ = !image_.isNull();
        } else {
            sums_.assign(size_t(size_.width()) * size_t(size_.height()) * 4, 0);
            locks_ = std::make_unique<std::mutex[]>(size_t(size_.height()));
            ok_ = true;
        }
    }

    bool ok() const { return ok_; }
    bool anyRows() const { return rows_.load(std::memory_order_relaxed) > 0; }

    static void take(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
        static_cast<JxlRows*>(opaque)->add(int(x), int(y), int(count),
                                           static_cast<const uint8_t*>(pixels));
    }

    QImage finish() {
        if (d_ == 1)
            return std::move(image_);
        QImage out(size_, alpha_ ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        if (out.isNull())
            return out;
        const std::uint32_t n = std::uint32_t(d_ * d_);
        const std::uint32_t half = n / 2;
        const std::uint16_t* s = sums_.data();
        for (int y = 0; y < size_.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < size_.width(); ++x, s += 4)
                line[x] = qRgba(int((s[0] + half) / n), int((s[1] + half) / n),
                                int((s[2] + half) / n),
                                alpha_ ? int((s[3] + half) / n) : 255);
        }
        std::vector<std::uint16_t>().swap(sums_);
        return out;
    }

private:
    void add(int x, int y, int count, const uint8_t* p) {
        if (cancelled_ && cancelled_->load(std::memory_order_relaxed))
            return;
        if (y < clip_.top() || y > clip_.bottom())
            return;
        const int x0 = std::max(x, clip_.left());
        const int x1 = std::min(x + count, clip_.right() + 1);
        if (x0 >= x1)
            return;
        rows_.fetch_add(1, std::memory_order_relaxed);
        p += std::ptrdiff_t(x0 - x) * channels_;
        const int n = x1 - x0;
        const int c = channels_;
        if (d_ == 1) {
            auto* out = reinterpret_cast<QRgb*>(image_.scanLine(y - clip_.top())) +
                        (x0 - clip_.left());
            if (c == 3) {
                for (int i = 0; i < n; ++i, p += 3)
                    out[i] = qRgb(p[0], p[1], p[2]);
            } else if (c == 4) {
                for (int i = 0; i < n; ++i, p += 4)
                    out[i] = qPremultiply(qRgba(p[0], p[1], p[2], p[3]));
            } else if (c == 1) {
                for (int i = 0; i < n; ++i, ++p)
                    out[i] = qRgb(p[0], p[0], p[0]);
            } else {
                for (int i = 0; i < n; ++i, p += 2)
                    out[i] = qPremultiply(qRgba(p[0], p[0], p[0], p[1]));
            }
            return;
        }
        const int row = (y - clip_.top()) / d_;
        const std::lock_guard<std::mutex> lock(locks_[size_t(row)]);
        std::uint16_t* sums = sums_.data() + size_t(row) * size_t(size_.width()) * 4;
        for (int i = 0, sx = x0 - clip_.left(); i < n; ++i, ++sx, p += c) {
            std::uint16_t* s = sums + size_t(sx / d_) * 4;
            int r = p[0];
            int g = c >= 3 ? p[1] : p[0];
            int b = c >= 3 ? p[2] : p[0];
            if (alpha_) {
                const int a = p[c - 1];
                r = (r * a + 127) / 255;
                g = (g * a + 127) / 255;
                b = (b * a + 127) / 255;
                s[3] = std::uint16_t(s[3] + a);
            }
            s[0] = std::uint16_t(s[0] + r);
            s[1] = std::uint16_t(s[1] + g);
            s[2] = std::uint16_t(s[2] + b);
        }
    }

    QRect clip_;
    int d_;
    QSize size_;
    int channels_;
    bool alpha_;
    const std::atomic<bool>* cancelled_;
    bool ok_ = false;
    QImage image_;
    std::vector<std::uint16_t> sums_;
    std::unique_ptr<std::mutex[]> locks_;
    std::atomic<std::int64_t> rows_{0};
};

// Everything the decode needs from the open.
struct JxlState {
    QString path;
    JxlFile file;
    JxlBasicInfo info{};
    const std::atomic<bool>* cancelled = nullptr;
};

QImage decodeJxl(JxlState& state, const DecodePlan& plan, QString& error, bool& stopped,
                 bool& cutShort) {
    const auto isCancelled = [&] {
        return state.cancelled && state.cancelled->load(std::memory_order_relaxed);
    };
    JxlDecoderPtr dec = makeDecoder(JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (!dec || !runner ||
        JxlDecoderSetParallelRunner(dec.get(), JxlThreadParallelRunner, runner.get()) !=
            JXL_DEC_SUCCESS) {
        error = undecodableError(state.path, QStringLiteral("the decoder could not be started"));
        return {};
    }
    const bool alpha = state.info.alpha_bits > 0;
    const int channels = (state.info.num_color_channels == 1 ? 1 : 3) + (alpha ? 1 : 0);
    JxlRows rows(plan, channels, alpha, state.cancelled);
    if (!rows.ok())
        return {};
    const JxlPixelFormat format{std::uint32_t(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

    JxlFile& file = state.file;
    std::int64_t consumed = 0;
    std::int64_t given = 0;
    feed(dec.get(), file.bytes, consumed, given);
    for (;;) {
        if (isCancelled()) {
            stopped = true;
            return {};
        }
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        switch (status) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (file.readMore(kChunk)) {
                feed(dec.get(), file.bytes, consumed, given);
                continue;
            }
            // libjxl renders groups of a frame whose data is partly there only when asked to.
            // Asked once nothing else came, so no pixel is counted twice.
            if (!rows.anyRows())
                JxlDecoderFlushImage(dec.get());
            if (rows.anyRows()) {
                cutShort = true;
                return rows.finish();
            }
            error = undecodableError(state.path,
                                     QStringLiteral("the file ends before its pixels"));
            return {};
        case JXL_DEC_COLOR_ENCODING:
            takeColours(dec.get(), state.info, nullptr);
            continue;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            if (JxlDecoderSetImageOutCallback(dec.get(), &format, &JxlRows::take, &rows) !=
                JXL_DEC_SUCCESS) {
                error = undecodableError(state.path,
                                         QStringLiteral("its pixels are of a kind this program "
                                                        "does not read"));
                return {};
            }
            continue;
        case JXL_DEC_FULL_IMAGE:
            // The first frame, or an animation's first: the rest is not shown.
            if (isCancelled()) {
                stopped = true;
                return {};
            }
            return rows.finish();
        case JXL_DEC_SUCCESS:
            error = noPictureError(state.path);
            return {};
        case JXL_DEC_ERROR:
        default:
            error = undecodableError(state.path, QStringLiteral("its picture data is damaged"));
            return {};
        }
    }
}

} // namespace

// Reads and checks a JPEG XL file's header, a bare codestream or the container: its size is
// checked before anything it sizes is allocated, and its colours are read. The pixels are
// decoded later, reading on from where the header ended.
bool openJxl(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error) {
    auto state = std::make_shared<JxlState>();
    state->path = path;
    state->file.fd = file.handle();
    state->file.size = file.size();
    state->cancelled = control.cancelled;
    // The decoder holds the file's bytes whole at worst: a frame's data may come in one piece.
    if (state->file.size > control.memoryBudget) {
        error = overBudgetError(path, state->file.size, control.memoryBudget);
        return false;
    }
    JxlDecoderPtr dec = makeDecoder(JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING);
    if (!dec) {
        error = undecodableError(path, QStringLiteral("the decoder could not be started"));
        return false;
    }
    JxlFile& bytes = state->file;
    bytes.readMore(kHeadChunk);
    std::int64_t consumed = 0;
    std::int64_t given = 0;
    feed(dec.get(), bytes.bytes, consumed, given);
    bool haveInfo = false;
    for (;;) {
        if (control.isCancelled()) {
            error = undecodableError(path, QStringLiteral("its reading was cancelled"));
            return false;
        }
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_NEED_MORE_INPUT) {
            if (bytes.readMore(kChunk)) {
                feed(dec.get(), bytes.bytes, consumed, given);
                continue;
            }
            error = undecodableError(path, haveInfo
                                               ? QStringLiteral("the file ends in its colour "
                                                                "description")
                                               : QStringLiteral("the file ends in its header"));
            return false;
        }
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo& info = state->info;
            if (JxlDecoderGetBasicInfo(dec.get(), &info) != JXL_DEC_SUCCESS) {
                error = undecodableError(path, QStringLiteral("its header is damaged"));
                return false;
            }
            const QSize size(int(std::min<std::uint32_t>(info.xsize, INT32_MAX)),
                             int(std::min<std::uint32_t>(info.ysize, INT32_MAX)));
            if (tooLarge(size)) {
                error = tooLargeError(path, size);
                return false;
            }
            const std::int64_t pixels = std::int64_t(size.width()) * size.height();
            const std::int64_t samples = 3 + info.num_extra_channels;
            source.stored = size;
            source.heldBytes =
                bytes.size + pixels * (samples * kLibraryBytesPerSample + kLibraryBytesPerPixel +
                                       kSumBytesPerPixel);
            if (source.heldBytes > control.memoryBudget) {
                error = overBudgetError(path, source.heldBytes, control.memoryBudget);
                return false;
            }
            haveInfo = true;
            continue;
        }
        if (status == JXL_DEC_COLOR_ENCODING) {
            takeColours(dec.get(), state->info, &source.colours);
            break;
        }
        error = status == JXL_DEC_SUCCESS
                    ? noPictureError(path)
                    : undecodableError(path, QStringLiteral("its header is damaged"));
        return false;
    }
    source.format = "jxl";
    source.transform = exifTransformation(int(state->info.orientation));
    source.reduction = Reduction::PowerOfTwo;
    source.decode = [state](const DecodePlan& plan, QString& err, bool& stopped,
                            bool& cutShort) {
        return decodeJxl(*state, plan, err, stopped, cutShort);
    };
    return true;
}

} // namespace tavlin
