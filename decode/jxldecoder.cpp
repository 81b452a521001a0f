#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>
#include <memory>
#include <unistd.h>
#include <vector>

#include "decode/readers.h"
#include "platform/regularfile.h"

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

// Bytes read and handed to the decoder at a time, at least: between two of them the load's
// cancel flag is looked at. A file is handed over in no more than four pieces, as libjxl
// decodes in parallel only the groups whose bytes it has.
constexpr std::int64_t kChunk = 512 * 1024;
std::int64_t chunkFor(std::int64_t fileSize) {
    return std::max(kChunk, fileSize / 4 + 1);
}
// The first read, which holds the header of any usual file.
constexpr std::int64_t kHeadChunk = 64 * 1024;

// What libjxl holds while decoding a frame, a pixel, beside the 8-bit frame it writes: measured
// with libjxl 0.7 on pictures of 1 to 24 megapixels, about 3 bytes for a lossy (VarDCT) picture
// and up to 12.5 for a lossless one of three channels, whose samples it keeps as 32-bit
// integers. Counted as 4 bytes a channel and one more.
constexpr std::int64_t kLibraryBytesPerSample = 4;
constexpr std::int64_t kLibraryBytesPerPixel = 1;

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

// Everything the decode needs from the open.
struct JxlState {
    QString path;
    JxlFile file;
    JxlBasicInfo info{};
    const std::atomic<bool>* cancelled = nullptr;
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Copies `clip` of the frame libjxl decoded (`channels` 8-bit samples a pixel, grey or RGB,
// alpha last) into a picture, box-averaging blocks of d × d pixels when d > 1: premultiplied
// first where there is alpha. Looks at the cancel flag every 64 rows; a null picture then.
QImage reduce(const std::uint8_t* frame, int frameWidth, QRect clip, int d, int channels,
              bool alpha, const std::atomic<bool>* cancelled) {
    const QSize size = clip.size() / d;
    QImage out(size, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    const bool grey = channels <= 2;
    const std::size_t stride = std::size_t(frameWidth) * std::size_t(channels);
    std::vector<std::uint32_t> sums(d > 1 ? std::size_t(size.width()) * 4 : 0);
    const std::uint32_t n = std::uint32_t(d * d);
    for (int y = 0; y < size.height(); ++y) {
        if ((y & 63) == 0 && cancelled && cancelled->load(std::memory_order_relaxed))
            return {};
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        const std::uint8_t* top =
            frame + std::size_t(clip.top() + y * d) * stride + std::size_t(clip.left()) * channels;
        if (d == 1) {
            const std::uint8_t* p = top;
            for (int x = 0; x < size.width(); ++x, p += channels) {
                const int r = p[0];
                const int g = grey ? r : p[1];
                const int b = grey ? r : p[2];
                line[x] = alpha ? qPremultiply(qRgba(r, g, b, p[channels - 1])) : qRgb(r, g, b);
            }
            continue;
        }
        std::fill(sums.begin(), sums.end(), 0);
        for (int row = 0; row < d; ++row) {
            const std::uint8_t* p = top + std::size_t(row) * stride;
            std::uint32_t* s = sums.data();
            for (int x = 0; x < size.width(); ++x, s += 4) {
                for (int i = 0; i < d; ++i, p += channels) {
                    std::uint32_t r = p[0];
                    std::uint32_t g = grey ? r : p[1];
                    std::uint32_t b = grey ? r : p[2];
                    if (alpha) {
                        const std::uint32_t a = p[channels - 1];
                        r = (r * a + 127) / 255;
                        g = (g * a + 127) / 255;
                        b = (b * a + 127) / 255;
                        s[3] += a;
                    }
                    s[0] += r;
                    s[1] += g;
                    s[2] += b;
                }
            }
        }
        const std::uint32_t half = n / 2;
        const std::uint32_t* s = sums.data();
        for (int x = 0; x < size.width(); ++x, s += 4)
            line[x] = qRgba(int((s[0] + half) / n), int((s[1] + half) / n), int((s[2] + half) / n),
                            alpha ? int((s[3] + half) / n) : 255);
    }
    return out;
}

// Decodes the first frame whole (libjxl 0.7 decodes no smaller, and hands rows to a callback
// only after holding the frame in floats, three times the memory of the 8-bit frame it writes
// here), then keeps the clip, reduced.
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
    const JxlPixelFormat format{std::uint32_t(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const int d = std::max(1, plan.clip.width() / std::max(1, plan.decodeSize.width()));
    std::unique_ptr<std::uint8_t, FreeDeleter> frame;
    const auto finish = [&]() -> QImage {
        QImage image = reduce(frame.get(), int(state.info.xsize), plan.clip, d, channels, alpha,
                              state.cancelled);
        frame.reset();
        stopped = isCancelled();
        return stopped ? QImage() : image;
    };

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
            if (file.readMore(chunkFor(file.size))) {
                feed(dec.get(), file.bytes, consumed, given);
                continue;
            }
            // What libjxl can render of a frame whose data is partly there, the rest black.
            if (frame && JxlDecoderFlushImage(dec.get()) == JXL_DEC_SUCCESS) {
                cutShort = true;
                return finish();
            }
            error = undecodableError(state.path, QStringLiteral("the file ends before its pixels"));
            return {};
        case JXL_DEC_COLOR_ENCODING:
            takeColours(dec.get(), state.info, nullptr);
            continue;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t size = 0;
            if (JxlDecoderImageOutBufferSize(dec.get(), &format, &size) != JXL_DEC_SUCCESS) {
                error = undecodableError(state.path,
                                         QStringLiteral("its pixels are of a kind this program "
                                                        "does not read"));
                return {};
            }
            // Zeroed, so what a file cut short does not hold shows black; fresh pages cost
            // nothing to zero.
            frame.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
            if (!frame || JxlDecoderSetImageOutBuffer(dec.get(), &format, frame.get(), size) !=
                              JXL_DEC_SUCCESS) {
                error = QStringLiteral("%1 is too large to be shown here.")
                            .arg(quotedFileName(state.path));
                return {};
            }
            continue;
        }
        case JXL_DEC_FULL_IMAGE:
            // The first frame, or an animation's first: the rest is not shown.
            return finish();
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
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_NEED_MORE_INPUT) {
            if (bytes.readMore(chunkFor(bytes.size))) {
                feed(dec.get(), bytes.bytes, consumed, given);
                continue;
            }
            error =
                undecodableError(path, haveInfo ? QStringLiteral("the file ends in its colour "
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
            // The file's bytes, libjxl's own planes, and the decoded frame of one byte a
            // channel: grey or RGB, and alpha.
            const std::int64_t pixels = std::int64_t(size.width()) * size.height();
            const std::int64_t samples = info.num_color_channels + info.num_extra_channels;
            const std::int64_t frame =
                (info.num_color_channels == 1 ? 1 : 3) + (info.alpha_bits > 0 ? 1 : 0);
            source.stored = size;
            source.heldBytes = bytes.size + pixels * (samples * kLibraryBytesPerSample +
                                                      kLibraryBytesPerPixel + frame);
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
    source.decode = [state](const DecodePlan& plan, QString& err, bool& stopped, bool& cutShort) {
        return decodeJxl(*state, plan, err, stopped, cutShort);
    };
    return true;
}

} // namespace tavlin
