#include "decode/heifdecoder.h"

#include <algorithm>
#include <libheif/heif.h>
#include <limits>
#include <memory>

#include "decode/formats.h"
#include "decode/heifboxes.h"
#include "decode/readers.h"
#include "platform/regularfile.h"

namespace tavlin {

namespace {

// The file's bytes and libheif's view of them, alive as long as the Source that decodes them:
// libheif reads the bytes in place, so they must outlive its context.
struct HeifFile {
    QByteArray bytes;
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;

    HeifFile() = default;
    HeifFile(const HeifFile&) = delete;
    HeifFile& operator=(const HeifFile&) = delete;
    ~HeifFile() {
        if (handle)
            heif_image_handle_release(handle);
        if (context)
            heif_context_free(context);
    }
};

// libheif's message as a clause of our sentence: "Invalid input: No 'ftyp' box" reads
// "invalid input: No 'ftyp' box".
QString problemOf(const heif_error& e) {
    const QString message = QString::fromUtf8(e.message ? e.message : "").trimmed();
    return libraryClause(message == QLatin1String("Success") ? QString() : message,
                         QStringLiteral("libheif gave no reason"));
}

QString fileTooLongError(const QString& path, std::int64_t budget) {
    return QStringLiteral("%1 is larger than the %2 MB one picture may use.")
        .arg(quotedFileName(path))
        .arg(budget >> 20);
}

// Converts libheif's interleaved RGBA bytes, in place, to the 32-bit pixels of `format`:
// premultiplied ARGB, or RGB with an opaque alpha byte.
void toQtPixels(uchar* data, int stride, QSize size, QImage::Format format, bool premultiplied) {
    for (int y = 0; y < size.height(); ++y) {
        uchar* p = data + std::ptrdiff_t(y) * stride;
        auto* out = reinterpret_cast<QRgb*>(p);
        if (format == QImage::Format_RGB32) {
            for (int x = 0; x < size.width(); ++x, p += 4)
                out[x] = qRgb(p[0], p[1], p[2]);
        } else if (premultiplied) {
            // Colour above its alpha cannot be premultiplied: it is held to the alpha.
            for (int x = 0; x < size.width(); ++x, p += 4)
                out[x] =
                    qRgba(std::min(p[0], p[3]), std::min(p[1], p[3]), std::min(p[2], p[3]), p[3]);
        } else {
            for (int x = 0; x < size.width(); ++x, p += 4)
                out[x] = qPremultiply(qRgba(p[0], p[1], p[2], p[3]));
        }
    }
}

// Box-averages one row of groups of `d` x `d` opaque pixels of `Bytes` bytes (R, G, B and
// perhaps A) from `top` into `line`; `shift` divides by the group's d * d pixels.
template <int Bytes>
void reduceOpaqueRow(const uchar* top, int stride, int d, int shift, QRgb* line, int width) {
    if (d == 2) {
        const uchar* a = top;
        const uchar* b = top + stride;
        for (int x = 0; x < width; ++x, a += 2 * Bytes, b += 2 * Bytes) {
            const std::uint32_t r = a[0] + a[Bytes] + b[0] + b[Bytes] + 2;
            const std::uint32_t g = a[1] + a[Bytes + 1] + b[1] + b[Bytes + 1] + 2;
            const std::uint32_t bl = a[2] + a[Bytes + 2] + b[2] + b[Bytes + 2] + 2;
            line[x] = 0xFF000000u | (r >> 2) << 16 | (g >> 2) << 8 | bl >> 2;
        }
        return;
    }
    const std::uint32_t half = 1u << (shift - 1);
    for (int x = 0; x < width; ++x) {
        std::uint32_t r = half, g = half, b = half;
        for (int j = 0; j < d; ++j) {
            const uchar* p = top + std::ptrdiff_t(j) * stride + std::ptrdiff_t(x) * d * Bytes;
            for (int i = 0; i < d; ++i, p += Bytes) {
                r += p[0];
                g += p[1];
                b += p[2];
            }
        }
        line[x] = 0xFF000000u | (r >> shift) << 16 | (g >> shift) << 8 | b >> shift;
    }
}

// Box-averages the clip of libheif's interleaved bytes, groups of `d` x `d` (a power of two
// that divides the clip's sides), into a new picture of Qt's 32-bit pixels, in one pass: RGB
// bytes into opaque pixels, RGBA bytes into premultiplied ones.
QImage reducedQtPixels(const uchar* data, int stride, QRect clip, int d, bool alpha,
                       bool premultiplied) {
    QImage out(clip.size() / d, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    int shift = 0;
    while ((1 << shift) < d * d)
        ++shift;
    const std::uint32_t half = 1u << (shift - 1);
    const int bytes = alpha ? 4 : 3;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        const uchar* top = data + std::ptrdiff_t(clip.top() + y * d) * stride +
                           std::ptrdiff_t(clip.left()) * bytes;
        if (!alpha) {
            reduceOpaqueRow<3>(top, stride, d, shift, line, out.width());
            continue;
        }
        for (int x = 0; x < out.width(); ++x) {
            std::uint32_t r = half, g = half, b = half, a = half;
            for (int j = 0; j < d; ++j) {
                const uchar* p = top + std::ptrdiff_t(j) * stride + std::ptrdiff_t(x) * d * 4;
                for (int i = 0; i < d; ++i, p += 4) {
                    if (premultiplied) {
                        r += p[0];
                        g += p[1];
                        b += p[2];
                    } else {
                        r += (p[0] * p[3] + 127) / 255;
                        g += (p[1] * p[3] + 127) / 255;
                        b += (p[2] * p[3] + 127) / 255;
                    }
                    a += p[3];
                }
            }
            // Colour above its alpha cannot be premultiplied: it is held to the alpha.
            const int average = int(a >> shift);
            line[x] = qRgba(std::min(int(r >> shift), average), std::min(int(g >> shift), average),
                            std::min(int(b >> shift), average), average);
        }
    }
    return out;
}

// The weights of red and blue in luma for the H.273 matrix `code`, as libheif takes them; false
// for a matrix other than these (identity, YCgCo, constant luminance), left to libheif.
bool lumaWeights(int code, double& kr, double& kb) {
    switch (code) {
    case 1: // BT.709
        kr = 0.2126, kb = 0.0722;
        return true;
    case 2: // unspecified: libheif's own default, BT.601
    case 5:
    case 6: // BT.601
        kr = 0.299, kb = 0.114;
        return true;
    case 9: // BT.2020, non-constant luminance
        kr = 0.2627, kb = 0.0593;
        return true;
    default:
        return false;
    }
}

// The matrix and range of `image`'s samples. libheif hands YCbCr planes over in the colour
// information it gives them (none: BT.601 at full range), converting the coded samples to it
// when the picture's colr box names another matrix or range.
bool conversionOf(const heif_image* image, double& kr, double& kb, bool& fullRange) {
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_get_nclx_color_profile(image, &nclx).code != heif_error_Ok)
        nclx = nullptr;
    int matrix = 6;
    fullRange = true;
    if (nclx) {
        matrix = nclx->matrix_coefficients;
        fullRange = nclx->full_range_flag != 0;
        heif_nclx_color_profile_free(nclx);
    }
    return lumaWeights(matrix, kr, kb);
}

// Box-averages 8-bit 4:2:0 planes by `d` (an even power of two that divides the clip's sides,
// whose corner is even) and turns the averages into opaque RGB: libheif's conversion to RGB,
// with the twelve megapixels it writes and holds, is left out. Averaging before the
// conversion gives what averaging after it gives, but for colours the conversion clips.
QImage reducedFromPlanes(const heif_image* image, QRect clip, int d, double kr, double kb,
                         bool fullRange) {
    int yStride = 0, cbStride = 0, crStride = 0;
    const uint8_t* luma = heif_image_get_plane_readonly(image, heif_channel_Y, &yStride);
    const uint8_t* cb = heif_image_get_plane_readonly(image, heif_channel_Cb, &cbStride);
    const uint8_t* cr = heif_image_get_plane_readonly(image, heif_channel_Cr, &crStride);
    QImage out(clip.size() / d, QImage::Format_RGB32);
    if (!luma || !cb || !cr || out.isNull())
        return {};
    // In 16.16 fixed point: luma and chroma brought to full range, then the matrix.
    const double ySpan = fullRange ? 1.0 : 255.0 / 219;
    const double cSpan = fullRange ? 1.0 : 255.0 / 224;
    const double kg = 1 - kr - kb;
    const auto fixed = [](double v) { return int(std::lround(v * 65536)); };
    const int yScale = fixed(ySpan);
    const int yOffset = fullRange ? 0 : 16;
    const int rCr = fixed(2 * (1 - kr) * cSpan);
    const int bCb = fixed(2 * (1 - kb) * cSpan);
    const int gCb = fixed(2 * kb * (1 - kb) / kg * cSpan);
    const int gCr = fixed(2 * kr * (1 - kr) / kg * cSpan);
    const auto clamp8 = [](int v) { return std::clamp((v + 32768) >> 16, 0, 255); };

    const int cd = d / 2; // chroma samples a side of a group
    int lumaShift = 0, chromaShift = 0;
    while ((1 << lumaShift) < d * d)
        ++lumaShift;
    while ((1 << chromaShift) < cd * cd)
        ++chromaShift;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        const int ly = clip.top() + y * d;
        const int cy = ly / 2;
        for (int x = 0; x < out.width(); ++x) {
            const int lx = clip.left() + x * d;
            const int cx = lx / 2;
            int ySum = 0;
            for (int j = 0; j < d; ++j) {
                const uint8_t* p = luma + std::ptrdiff_t(ly + j) * yStride + lx;
                for (int i = 0; i < d; ++i)
                    ySum += p[i];
            }
            int cbSum = 0, crSum = 0;
            for (int j = 0; j < cd; ++j) {
                const uint8_t* b = cb + std::ptrdiff_t(cy + j) * cbStride + cx;
                const uint8_t* r = cr + std::ptrdiff_t(cy + j) * crStride + cx;
                for (int i = 0; i < cd; ++i) {
                    cbSum += b[i];
                    crSum += r[i];
                }
            }
            // Averages kept to 1/256 of a step, so rounding happens once, at the end.
            const int yv = ((ySum << 8 >> lumaShift) - (yOffset << 8));
            const int cbv = (cbSum << 8 >> chromaShift) - (128 << 8);
            const int crv = (crSum << 8 >> chromaShift) - (128 << 8);
            const std::int64_t base = std::int64_t(yv) * yScale;
            const int r = int((base + std::int64_t(crv) * rCr) >> 8);
            const int g = int((base - std::int64_t(cbv) * gCb - std::int64_t(crv) * gCr) >> 8);
            const int b = int((base + std::int64_t(cbv) * bCb) >> 8);
            line[x] = qRgb(clamp8(r), clamp8(g), clamp8(b));
        }
    }
    return out;
}

// The colour space a picture's colr boxes name: an ICC profile, the H.273 code points, or both.
ColourDescription coloursOf(const heif_image_handle* handle) {
    ColourDescription colours;
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (iccSize > 0) {
        QByteArray icc(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            colours.iccProfile = icc;
    }
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
        // 2 is H.273's "unspecified": as good as not given.
        const auto given = [](int code) { return code == 2 ? 0 : code; };
        colours.cicpPrimaries = given(nclx->color_primaries);
        colours.cicpTransfer = given(nclx->transfer_characteristics);
        heif_nclx_color_profile_free(nclx);
    }
    return colours;
}

} // namespace

std::int64_t heifPlaneBytes(QSize size, const HeifCoding& coding, bool alpha, int bits) {
    const bool deep = std::max(bits, coding.bits) > 8;
    double perPixel = 0;
    if (coding.hevc) {
        // Measured on 12-megapixel pictures (the process's peak resident memory over a decode,
        // less the interleaved picture's four bytes a pixel), with room to spare. At 8 bits
        // libde265 holds about 4.7 bytes a pixel at 4:2:0 and 6.0 at 4:4:4 while it decodes
        // (its picture, its block data and libheif's copy of the planes); an alpha plane adds
        // 1.0 to 2.1. Past 8 bits its planes take two bytes a sample, and libheif converts
        // through a 16-bit interleaved picture: 9.6 at 4:2:0, 12.1 at 4:4:4.
        double hevc = coding.chroma >= 2 ? 6.5 : 5.0;
        if (alpha)
            hevc += 2.5;
        if (deep)
            hevc = std::max(hevc * 2, alpha ? 13.5 : 10.0);
        perPixel = hevc;
    }
    if (coding.av1) {
        // What dav1d and libheif allocate, counted by a malloc counter: 5.2 bytes a pixel at
        // 8 bits 4:2:0, 11.2 at 4:4:4, 11.3 at 12 bits 4:2:0 and 23.4 at 12 bits 4:4:4 on
        // 12-megapixel pictures; frames dav1d fails to decode took 7.5 at 8 bits 4:2:0 and 6.0
        // in grey. A part for each pixel and a part for each byte of its samples hold them
        // all; an alpha plane adds about 0.8 at 8 bits.
        constexpr double chromaShare[] = {0, 0.25, 0.5, 1};
        const double samples =
            (1 + 2 * chromaShare[std::clamp(coding.chroma, 0, 3)]) * (deep ? 2 : 1);
        double av1 = 3.5 + 3.5 * samples;
        if (alpha)
            av1 += deep ? 5.0 : 2.5;
        perPixel = std::max(perPixel, av1);
    }
    const double pixels = double(std::max(0, size.width())) * std::max(0, size.height());
    return std::int64_t(pixels * perPixel);
}

// Reads a HEIF or AVIF file whole, once, and lets libheif read its boxes from those bytes: the
// primary picture's size (as shown, libheif's turns and crops applied), alpha, depth and
// colours are known before anything it sizes is allocated.
bool openHeif(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error) {
    const std::int64_t size = file.size();
    if (size > control.memoryBudget) {
        error = fileTooLongError(path, control.memoryBudget);
        return false;
    }
    const QByteArray head = file.peek(sniffBytes);
    auto heif = std::make_shared<HeifFile>();
    heif->bytes = QByteArray(qsizetype(size), Qt::Uninitialized);
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(heif->bytes.data() + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (file.error() != QFileDevice::NoError) {
        error =
            QStringLiteral("%1 cannot be read: %2.").arg(quotedFileName(path), file.errorString());
        return false;
    }
    // A file that shrank meanwhile is read as far as it goes; one that grew, as far as it was.
    heif->bytes.truncate(qsizetype(got));

    heif->context = heif_context_alloc();
    if (!heif->context) {
        error = QStringLiteral("%1 is too large to be shown here.").arg(quotedFileName(path));
        return false;
    }
    // A backstop: a side past the program's own limit is refused while the boxes are read.
    heif_context_set_maximum_image_size_limit(heif->context, PictureLimits::maxSide);
    heif_error e = heif_context_read_from_memory_without_copy(
        heif->context, heif->bytes.constData(), size_t(heif->bytes.size()), nullptr);
    if (e.code == heif_error_Ok)
        e = heif_context_get_primary_image_handle(heif->context, &heif->handle);
    if (e.code != heif_error_Ok) {
        error = undecodableError(path, problemOf(e));
        return false;
    }
    const QSize shown(heif_image_handle_get_width(heif->handle),
                      heif_image_handle_get_height(heif->handle));
    if (!shown.isValid() || shown.isEmpty()) {
        error = noPictureError(path);
        return false;
    }
    if (tooLarge(shown)) {
        error = tooLargeError(path, shown);
        return false;
    }
    // A grid's or an overlay's canvas is as large as its record says, and a coded frame as
    // large as its sequence header says, whatever size the item states: one past the limits
    // is refused here, and what decoding them holds is counted below.
    const auto fits = [&](const StatedSize& s, const char* what, QSize& stated) {
        constexpr std::uint32_t sideFits = std::numeric_limits<int>::max();
        stated = QSize(int(std::min(s.width, sideFits)), int(std::min(s.height, sideFits)));
        if (!tooLarge(stated))
            return true;
        error = s.width > sideFits || s.height > sideFits
                    ? undecodableError(path, QStringLiteral("it %1 %2 \u00d7 %3 pixels, more "
                                                            "than can be shown")
                                                 .arg(QLatin1String(what))
                                                 .arg(s.width)
                                                 .arg(s.height))
                    : tooLargeError(path, stated);
        return false;
    };
    QSize canvas = shown;
    for (const StatedSize& c : canvasesOf(heif->bytes)) {
        QSize laidOut;
        if (!fits(c, "lays a picture out as", laidOut))
            return false;
        if (std::int64_t(laidOut.width()) * laidOut.height() >
            std::int64_t(canvas.width()) * canvas.height())
            canvas = laidOut;
    }
    const bool alpha = heif_image_handle_has_alpha_channel(heif->handle) != 0;
    const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(heif->handle),
                              heif_image_handle_get_chroma_bits_per_pixel(heif->handle));

    source.format = hasAvifBrand(head) ? "avif" : "heif";
    source.stored = shown;
    // libheif turns, mirrors and crops the picture itself (irot, imir, clap); an EXIF
    // orientation beside them is not applied on top.
    source.transform = QImageIOHandler::TransformationNone;
    // libheif decodes the whole picture; it is reduced by a power of two as it is turned into
    // Qt's pixels, and the loader's resample takes the rest.
    source.reduction = Reduction::PowerOfTwo;
    source.colours = coloursOf(heif->handle);
    // The interleaved picture libheif decodes to is whole, and is what the loader counts as
    // the decoded picture when the whole is shown.
    std::int64_t planes = heifPlaneBytes(canvas, codingOf(heif->bytes), alpha, bits);
    for (const CodedFrame& frame : codedFramesOf(heif->bytes)) {
        QSize coded;
        if (!fits(frame.size, "codes a picture of", coded))
            return false;
        planes = std::max(planes, heifPlaneBytes(coded, frame.coding, alpha, bits));
    }
    source.heldBytes = heif->bytes.size() + planes;
    if (source.heldBytes > control.memoryBudget) {
        error = overBudgetError(path, source.heldBytes, control.memoryBudget);
        return false;
    }

    const std::int64_t held = source.heldBytes;
    const std::int64_t budget = control.memoryBudget;
    const std::atomic<bool>* cancelled = control.cancelled;
    const std::int64_t fileBytes = heif->bytes.size();
    source.decode = [heif, path, shown, alpha, bits, held, fileBytes, budget,
                     cancelled](const DecodePlan& plan, QString& err, bool& stopped, bool&) {
        const auto isCancelled = [cancelled] { return cancelled && cancelled->load(); };
        if (isCancelled()) {
            stopped = true;
            return QImage();
        }
        const QRect whole(QPoint(0, 0), shown);
        const QRect clip = plan.clip & whole;
        const int d = clip.width() / std::max(1, plan.decodeSize.width());
        // The picture decoded into `space` and `chroma`; null when it was cancelled meanwhile
        // or could not be decoded, with `stopped` or `err` set. libheif 1.15 decodes a picture
        // whole and offers no way to stop it midway (its progress callbacks cannot cancel),
        // so the flag is looked at before and after.
        using Decoded = std::unique_ptr<heif_image, void (*)(heif_image*)>;
        const auto decodeAs = [&](heif_colorspace space, heif_chroma chroma) {
            heif_decoding_options* options = heif_decoding_options_alloc();
            options->convert_hdr_to_8bit = 1;
            heif_image* image = nullptr;
            const heif_error e = heif_decode_image(heif->handle, &image, space, chroma, options);
            heif_decoding_options_free(options);
            Decoded decoded(image, [](heif_image* i) { heif_image_release(i); });
            if (isCancelled()) {
                stopped = true;
                decoded.reset();
            } else if (e.code != heif_error_Ok || !image) {
                err = undecodableError(path, problemOf(e));
                decoded.reset();
            }
            return decoded;
        };
        // A reduced opaque 8-bit picture is averaged from libheif's YCbCr planes and turned
        // into RGB here, four or more pixels to one: libheif's conversion of the whole
        // picture, and the picture it makes, are left out.
        if (d > 1 && !alpha && bits == 8 && clip.left() % 2 == 0 && clip.top() % 2 == 0) {
            const Decoded planes = decodeAs(heif_colorspace_YCbCr, heif_chroma_420);
            if (!planes)
                return QImage();
            const heif_image* image = planes.get();
            double kr = 0, kb = 0;
            bool fullRange = true;
            const QSize chroma((shown.width() + 1) / 2, (shown.height() + 1) / 2);
            const auto sizeOf = [&](heif_channel c) {
                return QSize(heif_image_get_width(image, c), heif_image_get_height(image, c));
            };
            if (sizeOf(heif_channel_Y) == shown && sizeOf(heif_channel_Cb) == chroma &&
                sizeOf(heif_channel_Cr) == chroma &&
                heif_image_get_bits_per_pixel_range(image, heif_channel_Y) == 8 &&
                heif_image_get_bits_per_pixel_range(image, heif_channel_Cb) == 8 &&
                conversionOf(image, kr, kb, fullRange)) {
                QImage out = reducedFromPlanes(image, clip, d, kr, kb, fullRange);
                if (!out.isNull())
                    return out;
            }
            // Planes of another kind, or a matrix this does not know: libheif converts.
        }
        // libheif decodes the whole picture into RGB whatever part is shown, and reduced or
        // not: when only a part or a reduction is shown, the whole is held beside what the
        // loader counts (while libheif decodes, beside its decoder's planes; then beside the
        // reduction). The planes above are within the decoder's count.
        const std::int64_t wholeBytes = pixelBytes(shown);
        if (plan.clip != whole && plan.decodeSize == plan.clip.size()) {
            const std::int64_t need = held + wholeBytes + pixelBytes(plan.decodeSize) +
                                      pixelBytes(plan.target.toAlignedRect().size());
            if (need > budget) {
                err = overBudgetError(path, need, budget);
                return QImage();
            }
        } else if (plan.decodeSize != plan.clip.size()) {
            const std::int64_t need =
                std::max(held + wholeBytes, fileBytes + wholeBytes + pixelBytes(plan.decodeSize));
            if (need > budget) {
                err = overBudgetError(path, need, budget);
                return QImage();
            }
        }
        // A reduced opaque picture is read from three bytes a pixel, a quarter less for
        // libheif to write than four.
        const bool threeBytes = d > 1 && !alpha;
        Decoded owned = decodeAs(heif_colorspace_RGB, threeBytes ? heif_chroma_interleaved_RGB
                                                                 : heif_chroma_interleaved_RGBA);
        if (!owned)
            return QImage();
        heif_image* image = owned.get();
        int stride = 0;
        uchar* data = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        const QSize decoded(heif_image_get_width(image, heif_channel_interleaved),
                            heif_image_get_height(image, heif_channel_interleaved));
        if (!data || decoded != shown ||
            heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved) != 8 ||
            stride < shown.width() * (threeBytes ? 3 : 4) || (!threeBytes && stride % 4 != 0)) {
            err = undecodableError(
                path, QStringLiteral("its picture does not decode to the size its boxes give"));
            return QImage();
        }
        if (d > 1) {
            return reducedQtPixels(data, stride, clip, d, alpha,
                                   alpha && heif_image_is_premultiplied_alpha(image));
        }
        const QImage::Format format =
            alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
        // The pixels are turned into Qt's in the buffer libheif decoded them to, and the
        // picture shown is a window on that buffer: no copy of the whole.
        uchar* first = data + std::ptrdiff_t(clip.top()) * stride + std::ptrdiff_t(clip.left()) * 4;
        toQtPixels(first, stride, clip.size(), format,
                   alpha && heif_image_is_premultiplied_alpha(image));
        heif_image* released = owned.release();
        return QImage(
            first, clip.width(), clip.height(), stride, format,
            [](void* i) { heif_image_release(static_cast<heif_image*>(i)); }, released);
    };
    return true;
}

} // namespace tavlin
