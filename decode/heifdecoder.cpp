#include "decode/heifdecoder.h"

#include <algorithm>
#include <libheif/heif.h>
#include <limits>
#include <memory>

#include <QHash>
#include <QList>

#include "decode/formats.h"
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
    QString message = QString::fromUtf8(e.message ? e.message : "").trimmed();
    while (message.endsWith(u'.'))
        message.chop(1);
    if (message.isEmpty() || message == QLatin1String("Success"))
        return QStringLiteral("libheif gave no reason");
    if (message.size() > 1 && message[0].isUpper() && message[1].isLower())
        message[0] = message[0].toLower();
    return message;
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

std::uint32_t bigEndian32(const QByteArray& b, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The boxes inside [begin, end) of `bytes`, handed to `visit` as (type, body start, body end);
// a box whose size does not fit ends the walk.
template <typename Visit>
void forEachBox(const QByteArray& bytes, qsizetype begin, qsizetype end, Visit visit) {
    for (qsizetype at = begin; at + 8 <= end;) {
        const qsizetype size = bigEndian32(bytes, at);
        if (size < 8 || size > end - at)
            return;
        visit(QByteArrayView(bytes).sliced(at + 4, 4), at + 8, at + size);
        at += size;
    }
}

// Reads what the decoders' configurations in ipco say about the coding, for the estimate of
// what decoding holds: libheif tells neither the codec nor the chroma sampling before it
// decodes. What cannot be read is taken as the costliest.
HeifCoding codingOf(const QByteArray& bytes) {
    HeifCoding coding{false, false, false};
    bool found = false;
    const auto inside = [&bytes](const char* type, qsizetype begin, qsizetype end, auto then) {
        forEachBox(bytes, begin, end, [&](QByteArrayView t, qsizetype body, qsizetype bodyEnd) {
            if (t == QByteArrayView(type, 4))
                then(body, bodyEnd);
        });
    };
    inside("meta", 0, bytes.size(), [&](qsizetype meta, qsizetype metaEnd) {
        inside("iprp", meta + 4, metaEnd, [&](qsizetype iprp, qsizetype iprpEnd) {
            inside("ipco", iprp, iprpEnd, [&](qsizetype ipco, qsizetype ipcoEnd) {
                forEachBox(bytes, ipco, ipcoEnd, [&](QByteArrayView t, qsizetype b, qsizetype e) {
                    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
                    if (t == QByteArrayView("hvcC", 4) && e - b > 16) {
                        const int format = p[b + 16] & 3; // 0 grey, 1 4:2:0, 2 4:2:2, 3 4:4:4
                        coding.hevc = true;
                        coding.fullChroma = coding.fullChroma || format >= 2;
                        found = true;
                    } else if (t == QByteArrayView("av1C", 4) && e - b > 2) {
                        const bool grey = p[b + 2] & 0x10;
                        const bool halved = (p[b + 2] & 0x0C) == 0x0C; // 4:2:0
                        coding.av1 = true;
                        coding.fullChroma = coding.fullChroma || !(grey || halved);
                        found = true;
                    }
                });
            });
        });
    });
    return found ? coding : HeifCoding{};
}

// The size of a canvas a derived item's record (a grid's layout, an overlay's) gives it, as the
// file states it: libheif 1.15 makes a canvas of that size whatever size the item states, so
// it is checked here first.
struct Canvas {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Big-endian fields read one after another from [at, end) of `bytes`; a field past the end
// stops the reading, and `ok` says so.
struct FieldReader {
    const QByteArray& bytes;
    qsizetype at;
    qsizetype end;
    bool ok = true;

    std::uint64_t take(int size) {
        if (!ok || size < 0 || size > 8 || end - at < size) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < size; ++i)
            v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
        at += size;
        return v;
    }
};

// The canvases of the file's grids and overlays (a grid's tile may be an overlay, and either
// may be the picture shown): each item found through iinf and iloc, its record read from the
// file's bytes or from idat. An item whose record cannot be found or read is left out, and
// libheif judges it.
QList<Canvas> canvasesOf(const QByteArray& bytes) {
    QList<Canvas> canvases;
    qsizetype meta = -1;
    qsizetype metaEnd = -1;
    forEachBox(bytes, 0, bytes.size(), [&](QByteArrayView t, qsizetype body, qsizetype end) {
        if (meta < 0 && t == QByteArrayView("meta", 4) && end - body >= 4) {
            meta = body + 4;
            metaEnd = end;
        }
    });
    if (meta < 0)
        return canvases;
    struct Range {
        qsizetype begin = -1;
        qsizetype end = -1;
    };
    Range iinf, iloc, idat;
    forEachBox(bytes, meta, metaEnd, [&](QByteArrayView t, qsizetype body, qsizetype end) {
        for (auto [type, range] :
             {std::pair{"iinf", &iinf}, std::pair{"iloc", &iloc}, std::pair{"idat", &idat}}) {
            if (t == QByteArrayView(type, 4) && range->begin < 0)
                *range = {body, end};
        }
    });
    if (iinf.begin < 0 || iloc.begin < 0)
        return canvases;

    // The grids and overlays, by item number; true for a grid.
    QHash<std::uint64_t, bool> derived;
    FieldReader i{bytes, iinf.begin, iinf.end};
    const int iinfVersion = int(i.take(1));
    i.take(3);
    i.take(iinfVersion == 0 ? 2 : 4);
    if (!i.ok)
        return canvases;
    forEachBox(bytes, i.at, iinf.end, [&](QByteArrayView t, qsizetype body, qsizetype end) {
        if (t != QByteArrayView("infe", 4))
            return;
        FieldReader e{bytes, body, end};
        const int version = int(e.take(1));
        e.take(3);
        if (version < 2)
            return;
        const std::uint64_t id = e.take(version == 2 ? 2 : 4);
        e.take(2); // protection index
        const qsizetype type = e.at;
        e.take(4);
        if (!e.ok)
            return;
        const QByteArrayView itemType = QByteArrayView(bytes).sliced(type, 4);
        if (itemType == QByteArrayView("grid", 4) || itemType == QByteArrayView("iovl", 4))
            derived.insert(id, itemType == QByteArrayView("grid", 4));
    });
    if (derived.isEmpty())
        return canvases;

    FieldReader l{bytes, iloc.begin, iloc.end};
    const int version = int(l.take(1));
    l.take(3);
    const int offsetAndLength = int(l.take(1));
    const int baseAndIndex = int(l.take(1));
    const int offsetSize = offsetAndLength >> 4;
    const int lengthSize = offsetAndLength & 15;
    const int baseSize = baseAndIndex >> 4;
    const int indexSize = version >= 1 ? baseAndIndex & 15 : 0;
    const std::uint64_t items = l.take(version < 2 ? 2 : 4);
    for (std::uint64_t n = 0; l.ok && n < items; ++n) {
        const std::uint64_t id = l.take(version < 2 ? 2 : 4);
        const int method = version >= 1 ? int(l.take(2) & 15) : 0;
        const std::uint64_t reference = l.take(2);
        const std::uint64_t base = l.take(baseSize);
        const std::uint64_t extents = l.take(2);
        // Data in another file, or built some other way, is libheif's to judge.
        Range from;
        if (method == 0 && reference == 0)
            from = {0, bytes.size()};
        else if (method == 1 && idat.begin >= 0)
            from = idat;
        const bool wanted = derived.contains(id) && from.begin >= 0;
        // The first bytes of the item's data, gathered from its extents: a record is at most
        // 18 (an overlay's with 32-bit fields).
        QByteArray record;
        bool located = true;
        const auto available = std::uint64_t(from.end - from.begin);
        for (std::uint64_t e = 0; l.ok && e < extents; ++e) {
            l.take(indexSize);
            const std::uint64_t offset = l.take(offsetSize);
            std::uint64_t length = l.take(lengthSize);
            if (!l.ok || !wanted || !located || record.size() >= 18)
                continue;
            if (base > available || offset > available - base) {
                located = false;
                continue;
            }
            const std::uint64_t start = base + offset;
            if (length == 0) // to the end of where it is
                length = available - start;
            if (length > available - start) {
                located = false;
                continue;
            }
            record += QByteArrayView(bytes).sliced(from.begin + qsizetype(start),
                                                   qsizetype(std::min<std::uint64_t>(length, 18)));
        }
        if (!l.ok || !wanted || !located)
            continue;

        FieldReader r{record, 0, record.size()};
        const int recordVersion = int(r.take(1));
        const int fieldSize = (r.take(1) & 1) ? 4 : 2;
        if (derived.value(id))
            r.take(2); // rows and columns, less one each
        else
            r.take(8); // the fill colour, four 16-bit values
        Canvas canvas;
        canvas.width = std::uint32_t(r.take(fieldSize));
        canvas.height = std::uint32_t(r.take(fieldSize));
        if (r.ok && recordVersion == 0)
            canvases.append(canvas);
    }
    return canvases;
}

} // namespace

std::int64_t heifPlaneBytes(QSize size, const HeifCoding& coding, bool alpha, int bits) {
    // Measured on 12-megapixel pictures (the process's peak resident memory over a decode, less
    // the interleaved picture's four bytes a pixel), with room to spare. At 8 bits libde265
    // holds about 4.7 bytes a pixel at 4:2:0 and 6.0 at 4:4:4 while it decodes (its picture,
    // its block data and libheif's copy of the planes), dav1d 3.1 and 9.3; an alpha plane
    // adds 1.0 to 2.1. Past 8 bits the decoders' planes take two bytes a sample, and libheif
    // converts through a 16-bit interleaved picture: 9.6 for HEVC 4:2:0, 12.1 at 4:4:4, 9.3
    // for AV1 4:2:0.
    double perPixel = 0;
    if (coding.hevc)
        perPixel = std::max(perPixel, coding.fullChroma ? 6.5 : 5.0);
    if (coding.av1)
        perPixel = std::max(perPixel, coding.fullChroma ? 9.5 : 3.5);
    if (alpha)
        perPixel += 2.5;
    if (bits > 8)
        perPixel = std::max(perPixel * 2, alpha ? 13.5 : 10.0);
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
    // A grid's or an overlay's canvas is as large as its record says, whatever size the item
    // states: a canvas past the limits is refused here, and the largest is counted below.
    QSize canvas = shown;
    for (const Canvas& c : canvasesOf(heif->bytes)) {
        constexpr std::uint32_t sideFits = std::numeric_limits<int>::max();
        const QSize laidOut(int(std::min(c.width, sideFits)), int(std::min(c.height, sideFits)));
        if (tooLarge(laidOut)) {
            error = c.width > sideFits || c.height > sideFits
                        ? undecodableError(path, QStringLiteral("it lays a picture out as %1 "
                                                                "\u00d7 %2 pixels, more than can "
                                                                "be shown")
                                                     .arg(c.width)
                                                     .arg(c.height))
                        : tooLargeError(path, laidOut);
            return false;
        }
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
    source.reduction = Reduction::None;
    source.colours = coloursOf(heif->handle);
    // The interleaved picture libheif decodes to is whole, and is what the loader counts as
    // the decoded picture when the whole is shown.
    source.heldBytes =
        heif->bytes.size() + heifPlaneBytes(canvas, codingOf(heif->bytes), alpha, bits);
    if (source.heldBytes > control.memoryBudget) {
        error = overBudgetError(path, source.heldBytes, control.memoryBudget);
        return false;
    }

    const std::int64_t held = source.heldBytes;
    const std::int64_t budget = control.memoryBudget;
    const std::atomic<bool>* cancelled = control.cancelled;
    source.decode = [heif, path, shown, alpha, held, budget,
                     cancelled](const DecodePlan& plan, QString& err, bool& stopped, bool&) {
        const auto isCancelled = [cancelled] { return cancelled && cancelled->load(); };
        if (isCancelled()) {
            stopped = true;
            return QImage();
        }
        // libheif decodes the whole picture whatever part is shown: when only a part is, the
        // whole is held beside what the loader counts.
        const QRect whole(QPoint(0, 0), shown);
        if (plan.clip != whole) {
            const std::int64_t need = held + pixelBytes(shown) + pixelBytes(plan.decodeSize) +
                                      pixelBytes(plan.target.toAlignedRect().size());
            if (need > budget) {
                err = overBudgetError(path, need, budget);
                return QImage();
            }
        }
        heif_decoding_options* options = heif_decoding_options_alloc();
        options->convert_hdr_to_8bit = 1;
        heif_image* image = nullptr;
        // libheif 1.15 decodes a picture whole and offers no way to stop it midway (its
        // progress callbacks cannot cancel), so the flag is looked at before and after.
        const heif_error e = heif_decode_image(heif->handle, &image, heif_colorspace_RGB,
                                               heif_chroma_interleaved_RGBA, options);
        heif_decoding_options_free(options);
        std::unique_ptr<heif_image, void (*)(heif_image*)> owned(
            image, [](heif_image* i) { heif_image_release(i); });
        if (isCancelled()) {
            stopped = true;
            return QImage();
        }
        if (e.code != heif_error_Ok || !image) {
            err = undecodableError(path, problemOf(e));
            return QImage();
        }
        int stride = 0;
        uchar* data = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        const QSize decoded(heif_image_get_width(image, heif_channel_interleaved),
                            heif_image_get_height(image, heif_channel_interleaved));
        if (!data || decoded != shown ||
            heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved) != 8 ||
            stride < shown.width() * 4 || stride % 4 != 0) {
            err = undecodableError(
                path, QStringLiteral("its picture does not decode to the size its boxes give"));
            return QImage();
        }
        // The pixels are turned into Qt's in the buffer libheif decoded them to, and the
        // picture shown is a window on that buffer: no copy of the whole.
        const QImage::Format format =
            alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
        const QRect clip = plan.clip & whole;
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
