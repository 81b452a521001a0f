#include "decode/heifboxes.h"

#include <algorithm>

#include <QByteArrayView>
#include <QHash>

namespace tavlin {

namespace {

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

bool is(QByteArrayView type, const char* name) {
    return type == QByteArrayView(name, 4);
}

// The bodies of the boxes of `type` inside [begin, end), each handed to `then`.
template <typename Then>
void inside(const QByteArray& bytes, const char* type, qsizetype begin, qsizetype end, Then then) {
    forEachBox(bytes, begin, end, [&](QByteArrayView t, qsizetype body, qsizetype bodyEnd) {
        if (is(t, type))
            then(body, bodyEnd);
    });
}

// The boxes of the item properties, ipco's, each handed to `visit` like forEachBox's.
template <typename Visit> void forEachProperty(const QByteArray& bytes, Visit visit) {
    inside(bytes, "meta", 0, bytes.size(), [&](qsizetype meta, qsizetype metaEnd) {
        inside(bytes, "iprp", meta + 4, metaEnd, [&](qsizetype iprp, qsizetype iprpEnd) {
            inside(bytes, "ipco", iprp, iprpEnd, [&](qsizetype ipco, qsizetype ipcoEnd) {
                forEachBox(bytes, ipco, ipcoEnd, visit);
            });
        });
    });
}

// Big-endian fields read one after another from [at, end) of `bytes`; a field past the end
// stops the reading, and `ok` says so.
struct FieldReader {
    QByteArrayView bytes;
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

// Fields of a coded stream, read bit by bit from the most significant; a field past the end
// stops the reading, and `ok` says so.
struct BitReader {
    QByteArrayView bytes;
    qsizetype bit = 0;
    bool ok = true;

    std::uint64_t take(int bits) {
        std::uint64_t v = 0;
        for (int i = 0; i < bits; ++i) {
            if (!ok || bit >= bytes.size() * 8) {
                ok = false;
                return 0;
            }
            v = v << 1 | ((static_cast<unsigned char>(bytes[bit >> 3]) >> (7 - (bit & 7))) & 1);
            ++bit;
        }
        return v;
    }

    // The exponential-Golomb numbers of both codecs, ue(v) and uvlc(): as many leading zeros
    // as the value has bits after its leading one. Past 32 the value is out of any range the
    // callers take, and the reading stops.
    std::uint64_t golomb() {
        int zeros = 0;
        while (ok && take(1) == 0) {
            if (++zeros > 32) {
                ok = false;
                return 0;
            }
        }
        return ok ? (std::uint64_t(1) << zeros) - 1 + take(zeros) : 0;
    }
};

// An item of the file: its type and data, the data gathered from its extents (within
// the file or idat) up to `limit` bytes. The data of an item in one extent is a view on the
// file's bytes.
struct Item {
    QByteArray type;
    QByteArray data;
};

// The items whose type `limit` gives a limit for (0 leaves the item out), found through iinf
// and iloc. An item whose data is elsewhere, or cannot be located within the file, is left out
// and libheif judges it.
template <typename Limit> QList<Item> itemsOf(const QByteArray& bytes, Limit limit) {
    QList<Item> items;
    qsizetype meta = -1;
    qsizetype metaEnd = -1;
    forEachBox(bytes, 0, bytes.size(), [&](QByteArrayView t, qsizetype body, qsizetype end) {
        if (meta < 0 && is(t, "meta") && end - body >= 4) {
            meta = body + 4;
            metaEnd = end;
        }
    });
    if (meta < 0)
        return items;
    struct Range {
        qsizetype begin = -1;
        qsizetype end = -1;
    };
    Range iinf, iloc, idat;
    forEachBox(bytes, meta, metaEnd, [&](QByteArrayView t, qsizetype body, qsizetype end) {
        for (auto [type, range] :
             {std::pair{"iinf", &iinf}, std::pair{"iloc", &iloc}, std::pair{"idat", &idat}}) {
            if (is(t, type) && range->begin < 0)
                *range = {body, end};
        }
    });
    if (iinf.begin < 0 || iloc.begin < 0)
        return items;

    QHash<std::uint64_t, QByteArray> types;
    FieldReader i{bytes, iinf.begin, iinf.end};
    const int iinfVersion = int(i.take(1));
    i.take(3);
    i.take(iinfVersion == 0 ? 2 : 4);
    if (!i.ok)
        return items;
    forEachBox(bytes, i.at, iinf.end, [&](QByteArrayView t, qsizetype body, qsizetype end) {
        if (!is(t, "infe"))
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
        if (e.ok && limit(QByteArrayView(bytes).sliced(type, 4)) > 0)
            types.insert(id, bytes.sliced(type, 4));
    });
    if (types.isEmpty())
        return items;

    FieldReader l{bytes, iloc.begin, iloc.end};
    const int version = int(l.take(1));
    l.take(3);
    const int offsetAndLength = int(l.take(1));
    const int baseAndIndex = int(l.take(1));
    const int offsetSize = offsetAndLength >> 4;
    const int lengthSize = offsetAndLength & 15;
    const int baseSize = baseAndIndex >> 4;
    const int indexSize = version >= 1 ? baseAndIndex & 15 : 0;
    const std::uint64_t count = l.take(version < 2 ? 2 : 4);
    for (std::uint64_t n = 0; l.ok && n < count; ++n) {
        const std::uint64_t id = l.take(version < 2 ? 2 : 4);
        const int method = version >= 1 ? int(l.take(2) & 15) : 0;
        l.take(2); // data_reference_index
        const std::uint64_t base = l.take(baseSize);
        const std::uint64_t extents = l.take(2);
        // libheif reads an item's data from this file whatever data reference it names, so
        // it is read from here too; data built some other way is libheif's to judge.
        Range from;
        if (method == 0)
            from = {0, bytes.size()};
        else if (method == 1 && idat.begin >= 0)
            from = idat;
        const auto type = types.constFind(id);
        const bool wanted = type != types.constEnd() && from.begin >= 0;
        const qsizetype most = wanted ? limit(QByteArrayView(*type)) : 0;
        Item item;
        bool located = true;
        const auto available = std::uint64_t(from.end - from.begin);
        for (std::uint64_t e = 0; l.ok && e < extents; ++e) {
            l.take(indexSize);
            const std::uint64_t offset = l.take(offsetSize);
            std::uint64_t length = l.take(lengthSize);
            if (!l.ok || !wanted || !located || item.data.size() >= most)
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
            const auto taken =
                qsizetype(std::min<std::uint64_t>(length, std::uint64_t(most - item.data.size())));
            const char* first = bytes.constData() + from.begin + qsizetype(start);
            if (extents == 1)
                item.data = QByteArray::fromRawData(first, taken);
            else
                item.data.append(first, taken);
        }
        if (l.ok && wanted && located) {
            item.type = *type;
            items.append(item);
        }
    }
    return items;
}

// The largest frame an AV1 sequence header allows (the size its frames are decoded at when
// they state none of their own, and past which they cannot), with the depth and chroma of its
// colour configuration.
bool av1Sequence(QByteArrayView header, CodedFrame& frame) {
    BitReader r{header};
    const int profile = int(r.take(3));
    r.take(1); // still_picture
    const bool reduced = r.take(1);
    if (reduced) {
        r.take(5); // seq_level_idx
    } else {
        bool decoderModel = false;
        int delayBits = 0;
        if (r.take(1)) { // timing_info_present_flag
            r.take(64);  // num_units_in_display_tick, time_scale
            if (r.take(1))
                r.golomb(); // num_ticks_per_picture_minus_1
            decoderModel = r.take(1);
            if (decoderModel) {
                delayBits = int(r.take(5)) + 1;
                r.take(32 + 5 + 5);
            }
        }
        const bool displayDelay = r.take(1);
        const int points = int(r.take(5)) + 1;
        for (int i = 0; r.ok && i < points; ++i) {
            r.take(12); // operating_point_idc
            if (r.take(5) > 7)
                r.take(1); // seq_tier
            if (decoderModel && r.take(1))
                r.take(2 * delayBits + 1);
            if (displayDelay && r.take(1))
                r.take(4);
        }
    }
    const int widthBits = int(r.take(4)) + 1;
    const int heightBits = int(r.take(4)) + 1;
    frame.size.width = std::uint32_t(r.take(widthBits) + 1);
    frame.size.height = std::uint32_t(r.take(heightBits) + 1);
    if (!reduced && r.take(1)) // frame_id_numbers_present_flag
        r.take(4 + 3);
    r.take(3); // use_128x128_superblock, enable_filter_intra, enable_intra_edge_filter
    if (!reduced) {
        r.take(4); // interintra and masked compound, warped motion, dual filter
        const bool orderHint = r.take(1);
        if (orderHint)
            r.take(2); // enable_jnt_comp, enable_ref_frame_mvs
        // seq_choose_screen_content_tools, or else seq_force_screen_content_tools, and the
        // integer motion vector choice that follows when the tools may be used
        if (r.take(1) || r.take(1)) {
            if (!r.take(1))
                r.take(1);
        }
        if (orderHint)
            r.take(3);
    }
    r.take(3); // enable_superres, enable_cdef, enable_restoration
    // color_config
    int bits = 8;
    if (r.take(1)) // high_bitdepth
        bits = profile == 2 && r.take(1) ? 12 : 10;
    const bool grey = profile != 1 && r.take(1);
    bool identity = false;
    if (r.take(1)) { // color_description_present_flag
        const int primaries = int(r.take(8));
        const int transfer = int(r.take(8));
        const int matrix = int(r.take(8));
        identity = primaries == 1 && transfer == 13 && matrix == 0;
    }
    int chroma = 1;
    if (grey) {
        chroma = 0;
    } else if (identity || profile == 1) {
        chroma = 3;
    } else if (profile == 2) {
        r.take(1); // color_range
        chroma = 2;
        if (bits == 12 && r.take(1))    // subsampling_x
            chroma = r.take(1) ? 1 : 2; // subsampling_y
        else if (bits == 12)
            chroma = 3;
    }
    frame.coding = HeifCoding{false, true, chroma, bits};
    return r.ok;
}

// The AV1 sequence headers among `obus`, a run of OBUs as av1C and an av01 item hold them.
void av1FramesIn(QByteArrayView obus, QList<CodedFrame>& frames) {
    for (qsizetype at = 0; at < obus.size();) {
        const auto header = static_cast<unsigned char>(obus[at]);
        const int type = (header >> 3) & 15;
        qsizetype body = at + 1 + ((header & 4) ? 1 : 0);
        std::uint64_t length = 0;
        if (header & 2) { // obu_has_size_field: a LEB128 length
            for (int shift = 0;; shift += 7) {
                if (body >= obus.size() || shift > 56)
                    return;
                const auto byte = static_cast<unsigned char>(obus[body++]);
                length |= std::uint64_t(byte & 0x7F) << shift;
                if (!(byte & 0x80))
                    break;
            }
        } else {
            length = std::uint64_t(std::max<qsizetype>(0, obus.size() - body));
        }
        if (body > obus.size())
            return;
        length = std::min(length, std::uint64_t(obus.size() - body));
        CodedFrame frame;
        if (type == 1 && av1Sequence(obus.sliced(body, qsizetype(length)), frame))
            frames.append(frame);
        at = body + qsizetype(length);
    }
}

// The picture of an HEVC sequence parameter set, a whole NAL unit with its header.
bool hevcSequence(QByteArrayView nal, CodedFrame& frame) {
    // The fields needed lie within its first bytes, once the emulation prevention bytes
    // (the 3 of every 0 0 3) are taken out.
    QByteArray payload;
    int zeros = 0;
    for (qsizetype i = 2; i < nal.size() && payload.size() < 256; ++i) {
        const char c = nal[i];
        if (zeros >= 2 && c == 3) {
            zeros = 0;
            continue;
        }
        zeros = c == 0 ? zeros + 1 : 0;
        payload.append(c);
    }
    BitReader r{payload};
    r.take(4); // sps_video_parameter_set_id
    const int subLayers = int(r.take(3));
    r.take(1);
    r.take(88 + 8); // the general profile and level
    bool profile[8] = {};
    bool level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = r.take(1);
        level[i] = r.take(1);
    }
    if (subLayers > 0)
        r.take(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i)
        r.take((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    r.golomb(); // sps_seq_parameter_set_id
    const std::uint64_t chroma = r.golomb();
    if (chroma == 3)
        r.take(1); // separate_colour_plane_flag
    const std::uint64_t width = r.golomb();
    const std::uint64_t height = r.golomb();
    if (r.take(1)) { // conformance_window_flag
        for (int i = 0; i < 4; ++i)
            r.golomb();
    }
    const std::uint64_t bits = 8 + std::max(r.golomb(), r.golomb());
    frame.size.width = std::uint32_t(std::min<std::uint64_t>(width, UINT32_MAX));
    frame.size.height = std::uint32_t(std::min<std::uint64_t>(height, UINT32_MAX));
    frame.coding = HeifCoding{true, false, int(std::min<std::uint64_t>(chroma, 3)),
                              int(std::min<std::uint64_t>(bits, 16))};
    return r.ok;
}

} // namespace

HeifCoding codingOf(const QByteArray& bytes) {
    HeifCoding coding{false, false, 0, 0};
    bool found = false;
    forEachProperty(bytes, [&](QByteArrayView t, qsizetype b, qsizetype e) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
        if (is(t, "hvcC") && e - b > 19) {
            coding.hevc = true;
            coding.chroma = std::max(coding.chroma, p[b + 16] & 3);
            coding.bits = std::max({coding.bits, 8 + (p[b + 17] & 7), 8 + (p[b + 18] & 7)});
            found = true;
        } else if (is(t, "av1C") && e - b > 2) {
            const int flags = p[b + 2];
            int chroma = 3;
            if (flags & 0x10)
                chroma = 0;
            else if ((flags & 0x0C) == 0x0C)
                chroma = 1;
            else if (flags & 0x08)
                chroma = 2;
            coding.av1 = true;
            coding.chroma = std::max(coding.chroma, chroma);
            coding.bits = std::max(coding.bits, (flags & 0x40) ? ((flags & 0x20) ? 12 : 10) : 8);
            found = true;
        }
    });
    return found ? coding : HeifCoding{};
}

QList<StatedSize> canvasesOf(const QByteArray& bytes) {
    QList<StatedSize> canvases;
    // A record is at most 18 bytes (an overlay's with 32-bit fields).
    const auto records = itemsOf(
        bytes, [](QByteArrayView type) { return is(type, "grid") || is(type, "iovl") ? 18 : 0; });
    for (const Item& item : records) {
        FieldReader r{item.data, 0, item.data.size()};
        const int recordVersion = int(r.take(1));
        const int fieldSize = (r.take(1) & 1) ? 4 : 2;
        if (is(item.type, "grid"))
            r.take(2); // rows and columns, less one each
        else
            r.take(8); // the fill colour, four 16-bit values
        StatedSize canvas;
        canvas.width = std::uint32_t(r.take(fieldSize));
        canvas.height = std::uint32_t(r.take(fieldSize));
        if (r.ok && recordVersion == 0)
            canvases.append(canvas);
    }
    return canvases;
}

QList<CodedFrame> codedFramesOf(const QByteArray& bytes) {
    QList<CodedFrame> frames;
    const auto hevcIn = [&frames](QByteArrayView nal) {
        CodedFrame frame;
        if (nal.size() > 2 && ((static_cast<unsigned char>(nal[0]) >> 1) & 63) == 33 &&
            hevcSequence(nal, frame))
            frames.append(frame);
    };
    forEachProperty(bytes, [&](QByteArrayView t, qsizetype b, qsizetype e) {
        const QByteArrayView body = QByteArrayView(bytes).sliced(b, e - b);
        if (is(t, "av1C") && body.size() > 4) {
            av1FramesIn(body.sliced(4), frames); // configOBUs
        } else if (is(t, "hvcC") && body.size() > 22) {
            FieldReader r{body, 22, body.size()};
            const int arrays = int(r.take(1));
            for (int a = 0; r.ok && a < arrays; ++a) {
                r.take(1);
                const int nals = int(r.take(2));
                for (int n = 0; r.ok && n < nals; ++n) {
                    const auto length = qsizetype(r.take(2));
                    if (!r.ok || length > r.end - r.at)
                        return;
                    hevcIn(body.sliced(r.at, length));
                    r.at += length;
                }
            }
        }
    });
    // The decoders are handed the configuration's headers, then the item's data, whose own
    // headers count as much.
    const auto coded = itemsOf(bytes, [&bytes](QByteArrayView type) {
        return is(type, "av01") || is(type, "hvc1") ? bytes.size() : 0;
    });
    for (const Item& item : coded) {
        if (is(item.type, "av01")) {
            av1FramesIn(item.data, frames);
            continue;
        }
        // libheif hands libde265 the NAL units of an hvc1 item as it finds them, each after
        // a 4-byte length.
        FieldReader r{item.data, 0, item.data.size()};
        while (r.ok && r.at < r.end) {
            const auto length = std::uint64_t(r.take(4));
            if (!r.ok || length > std::uint64_t(r.end - r.at))
                break;
            hevcIn(QByteArrayView(item.data).sliced(r.at, qsizetype(length)));
            r.at += qsizetype(length);
        }
    }
    return frames;
}

} // namespace tavlin
