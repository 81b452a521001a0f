#include "decode/jpegdecoder.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <vector>

namespace tavlin {

namespace {

// libjpeg ends a failed decode by calling error_exit, which must not return: it jumps back
// to the decode's setjmp. Only libjpeg's own C frames lie between, so no destructor is
// skipped.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    const std::atomic<bool>* cancelled;
    bool stopped;
    bool endOfData; // libjpeg ran out of data and made up the rest
};

struct Progress {
    jpeg_progress_mgr pub;
    ErrorManager* errors;
};

extern "C" void onError(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (a file that ends early, corrupt data) and traces are not printed: the picture
// shows what could be decoded, as a viewer should. A file that ends early is noted, to be
// told once the picture shows.
extern "C" void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0) {
        ++cinfo->err->num_warnings;
        if (cinfo->err->msg_code == JWRN_JPEG_EOF)
            reinterpret_cast<ErrorManager*>(cinfo->err)->endOfData = true;
    }
}

// Called between rows of MCUs while libjpeg reads a progressive picture's scans, which is
// where most of its time goes before the first row comes out.
extern "C" void onProgress(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<Progress*>(cinfo->progress)->errors;
    if (errors->cancelled && errors->cancelled->load(std::memory_order_relaxed)) {
        errors->stopped = true;
        std::longjmp(errors->jump, 1);
    }
}

// Adobe CMYK as libjpeg hands it over (inverted): the same arithmetic as Qt's reader.
void cmykToRgb(const std::uint8_t* in, QRgb* out, int count) {
    for (int i = 0; i < count; ++i, in += 4) {
        const int k = in[3];
        out[i] = qRgb(k * in[0] / 255, k * in[1] / 255, k * in[2] / 255);
    }
}

bool cancelledNow(const std::atomic<bool>* cancelled) {
    return cancelled && cancelled->load(std::memory_order_relaxed);
}

} // namespace

JpegDecodeOutcome decodeJpeg(const QByteArray& bytes, QRect clip, int reduction,
                             std::int64_t memoryLimit, const std::atomic<bool>* cancelled,
                             QImage& image) {
    JpegDecodeOutcome outcome;
    const QSize size = clip.size() / reduction;
    if (image.size() != size || image.format() != QImage::Format_RGB32 || size.isEmpty()) {
        outcome.problem = QStringLiteral("there is not enough memory");
        return outcome;
    }
    std::uint8_t* const pixels = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // A cropped row starts up to one iMCU (at most 32 pixels) left of the clip and may end
    // as far right of it. Sized before the setjmp, so nothing changes it after.
    std::vector<std::uint8_t> row(size_t(size.width() + 64) * 4);

    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    Progress progress{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    errors.cancelled = cancelled;
    progress.pub.progress_monitor = onProgress;
    progress.errors = &errors;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        outcome.cancelled = errors.stopped;
        outcome.problem = QString::fromLocal8Bit(errors.message);
        return outcome;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.pub;
    cinfo.mem->max_memory_to_use = long(std::min<std::int64_t>(memoryLimit, LONG_MAX));
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(reduction);
    jpeg_start_decompress(&cinfo);

    const int left = clip.left() / reduction;
    const int top = clip.top() / reduction;
    JDIMENSION cropLeft = JDIMENSION(left);
    JDIMENSION cropWidth = JDIMENSION(size.width());
    if (cropLeft != 0 || cropWidth != cinfo.output_width)
        jpeg_crop_scanline(&cinfo, &cropLeft, &cropWidth);
    const int shift = left - int(cropLeft); // the clip's first column in a cropped row
    const bool direct = !cmyk && shift == 0 && int(cropWidth) == size.width();
    if (!direct && cropWidth > size.width() + 64u) {
        std::strcpy(errors.message, "the picture cannot be cropped");
        std::longjmp(errors.jump, 1);
    }
    if (top > 0)
        jpeg_skip_scanlines(&cinfo, JDIMENSION(top));
    for (int y = 0; y < size.height(); ++y) {
        if ((y & 15) == 0 && cancelledNow(cancelled)) {
            outcome.cancelled = true;
            break;
        }
        std::uint8_t* line = pixels + y * stride;
        JSAMPROW rows[1] = {direct ? line : row.data()};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
            break; // the picture has fewer rows than its header claims
        if (direct)
            continue;
        if (cmyk)
            cmykToRgb(row.data() + shift * 4, reinterpret_cast<QRgb*>(line), size.width());
        else
            std::memcpy(line, row.data() + shift * 4, size_t(size.width()) * 4);
    }
    // Stop without reading to the end: what follows the rows shown is not needed.
    jpeg_abort_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    outcome.ok = !outcome.cancelled;
    outcome.cutShort = errors.endOfData;
    return outcome;
}

} // namespace tavlin
