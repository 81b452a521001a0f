#pragma once

#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QList>

// HEIF files edited box by box for the loader's tests: a turn added, sizes claimed, a grid of
// many tiles, small on disk whatever they claim. The files come from libheif's encoder, which
// writes ftyp, meta and mdat in that order.
namespace tavlin::test::heif {

inline std::uint32_t get32(const QByteArray& b, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline std::uint64_t getN(const QByteArray& b, qsizetype at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

inline void setN(QByteArray& b, qsizetype at, int bytes, std::uint64_t v) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        b[at + i] = char(v & 0xFF);
}

inline QByteArray box(const char* type, const QByteArray& body) {
    QByteArray out(4, '\0');
    setN(out, 0, 4, std::uint64_t(body.size() + 8));
    return out + QByteArray(type, 4) + body;
}

// Where a box starts, found by the types of the boxes around it ({"meta", "iprp", "ipco"});
// -1 when there is none. `chain` gets the starts of the boxes around it.
inline qsizetype findBox(const QByteArray& file, const QList<QByteArray>& path,
                         QList<qsizetype>* chain = nullptr) {
    qsizetype begin = 0;
    qsizetype end = file.size();
    qsizetype found = -1;
    for (const QByteArray& type : path) {
        found = -1;
        for (qsizetype at = begin; at + 8 <= end;) {
            const qsizetype size = get32(file, at);
            if (size < 8)
                return -1;
            if (file.mid(at + 4, 4) == type) {
                found = at;
                break;
            }
            at += size;
        }
        if (found < 0)
            return -1;
        if (chain && &type != &path.last())
            chain->append(found);
        begin = found + (type == "meta" ? 12 : 8); // meta is a full box
        end = found + get32(file, found);
    }
    return found;
}

// Adds `delta` to the file offsets of the items stored in the file itself (not in idat) that
// point at or past `from`: what the boxes after an edit need when the edit grew the meta box.
inline void shiftItemOffsets(QByteArray& file, qsizetype from, qint64 delta) {
    const qsizetype iloc = findBox(file, {"meta", "iloc"});
    if (iloc < 0 || delta == 0)
        return;
    const int version = static_cast<unsigned char>(file[iloc + 8]);
    qsizetype at = iloc + 12;
    const int offsetSize = static_cast<unsigned char>(file[at]) >> 4;
    const int lengthSize = static_cast<unsigned char>(file[at]) & 15;
    const int baseSize = static_cast<unsigned char>(file[at + 1]) >> 4;
    const int indexSize = version >= 1 ? static_cast<unsigned char>(file[at + 1]) & 15 : 0;
    at += 2;
    const int idBytes = version < 2 ? 2 : 4;
    const std::uint64_t items = getN(file, at, idBytes);
    at += idBytes;
    for (std::uint64_t i = 0; i < items; ++i) {
        at += idBytes;
        int method = 0;
        if (version >= 1) {
            method = int(getN(file, at, 2) & 15);
            at += 2;
        }
        at += 2; // data reference index
        const std::uint64_t base = getN(file, at, baseSize);
        const qsizetype baseAt = at;
        at += baseSize;
        const std::uint64_t extents = getN(file, at, 2);
        at += 2;
        bool shiftedBase = false;
        for (std::uint64_t e = 0; e < extents; ++e) {
            at += indexSize;
            const std::uint64_t offset = getN(file, at, offsetSize);
            if (method == 0) {
                if (baseSize > 0 && !shiftedBase && base + offset >= std::uint64_t(from)) {
                    setN(file, baseAt, baseSize, base + delta);
                    shiftedBase = true;
                } else if (baseSize == 0 && offset >= std::uint64_t(from)) {
                    setN(file, at, offsetSize, offset + delta);
                }
            }
            at += offsetSize + lengthSize;
        }
    }
}

// The file with the box at `path` replaced by what `edit` makes of it (the whole box, its
// header too): the sizes of the boxes around it and the offsets of the items after it follow.
inline QByteArray editBox(const QByteArray& file, const QList<QByteArray>& path,
                          const std::function<QByteArray(const QByteArray&)>& edit) {
    QList<qsizetype> chain;
    const qsizetype at = findBox(file, path, &chain);
    if (at < 0)
        return {};
    const qsizetype size = get32(file, at);
    const QByteArray replaced = edit(file.mid(at, size));
    const qint64 delta = replaced.size() - size;
    QByteArray out = file.left(at) + replaced + file.mid(at + size);
    for (const qsizetype outer : chain)
        setN(out, outer, 4, get32(out, outer) + delta);
    shiftItemOffsets(out, at + size, delta);
    return out;
}

// The primary item's number, from pitm.
inline std::uint32_t primaryItem(const QByteArray& file) {
    const qsizetype pitm = findBox(file, {"meta", "pitm"});
    if (pitm < 0)
        return 0;
    return static_cast<unsigned char>(file[pitm + 8]) == 0 ? std::uint32_t(getN(file, pitm + 12, 2))
                                                           : get32(file, pitm + 12);
}

// Gives the primary item one more property, essential, appended to ipco.
inline QByteArray withProperty(const QByteArray& file, const QByteArray& property) {
    const qsizetype ipco = findBox(file, {"meta", "iprp", "ipco"});
    if (ipco < 0)
        return {};
    int count = 0;
    for (qsizetype at = ipco + 8; at < ipco + get32(file, ipco); at += get32(file, at))
        ++count;
    const int index = count + 1;
    QByteArray out = editBox(file, {"meta", "iprp", "ipco"}, [&](const QByteArray& b) {
        QByteArray grown = b + property;
        setN(grown, 0, 4, std::uint64_t(grown.size()));
        return grown;
    });
    const std::uint32_t item = primaryItem(out);
    return editBox(out, {"meta", "iprp", "ipma"}, [&](const QByteArray& b) {
        QByteArray ipma = b;
        const int version = static_cast<unsigned char>(ipma[8]);
        const bool wide = ipma[11] & 1;
        const int idBytes = version < 1 ? 2 : 4;
        const std::uint32_t entries = get32(ipma, 12);
        qsizetype at = 16;
        for (std::uint32_t e = 0; e < entries; ++e) {
            const std::uint64_t id = getN(ipma, at, idBytes);
            const qsizetype countAt = at + idBytes;
            const int n = static_cast<unsigned char>(ipma[countAt]);
            const qsizetype next = countAt + 1 + n * (wide ? 2 : 1);
            if (id == item) {
                ipma[countAt] = char(n + 1);
                QByteArray association(wide ? 2 : 1, '\0');
                setN(association, 0, int(association.size()),
                     (wide ? 0x8000u : 0x80u) | std::uint32_t(index));
                ipma.insert(next, association);
                setN(ipma, 0, 4, std::uint64_t(ipma.size()));
                return ipma;
            }
            at = next;
        }
        return ipma;
    });
}

// An irot property: the picture turned `quarters` quarter turns anticlockwise.
inline QByteArray irot(int quarters) {
    return box("irot", QByteArray(1, char(quarters & 3)));
}

// Every ispe box set to claim `width` x `height`.
inline QByteArray claimingSize(QByteArray file, std::uint32_t width, std::uint32_t height) {
    const qsizetype ipco = findBox(file, {"meta", "iprp", "ipco"});
    if (ipco < 0)
        return {};
    for (qsizetype at = ipco + 8; at < ipco + get32(file, ipco); at += get32(file, at)) {
        if (file.mid(at + 4, 4) == "ispe") {
            setN(file, at + 12, 4, width);
            setN(file, at + 16, 4, height);
        }
    }
    return file;
}

// Hands `edit` the file and the start of each nclx colr box in ipco; false when there is none.
template <typename Edit> bool editNclx(QByteArray& file, Edit edit) {
    const qsizetype ipco = findBox(file, {"meta", "iprp", "ipco"});
    bool found = false;
    for (qsizetype at = ipco + 8; ipco >= 0 && at < ipco + get32(file, ipco);
         at += get32(file, at)) {
        if (file.mid(at + 4, 8) == "colrnclx") {
            edit(file, at);
            found = true;
        }
    }
    return found;
}

// Every nclx colr box set to name `primaries` and `transfer` (H.273 code points).
inline QByteArray withNclx(QByteArray file, int primaries, int transfer) {
    const bool found = editNclx(file, [&](QByteArray& f, qsizetype at) {
        setN(f, at + 12, 2, std::uint64_t(primaries));
        setN(f, at + 14, 2, std::uint64_t(transfer));
    });
    return found ? file : QByteArray();
}

// Every nclx colr box set to name the H.273 `matrix` and range, or one such box given to the
// primary item when it has none: what the decoded YCbCr samples are turned into RGB by.
inline QByteArray withMatrix(QByteArray file, int matrix, bool fullRange) {
    const bool found = editNclx(file, [&](QByteArray& f, qsizetype at) {
        setN(f, at + 16, 2, std::uint64_t(matrix));
        f[at + 18] = char(fullRange ? 0x80 : 0);
    });
    if (found)
        return file;
    QByteArray nclx("nclx");
    nclx += QByteArray(7, '\0');
    setN(nclx, 4, 2, 1);  // BT.709 primaries
    setN(nclx, 6, 2, 13); // sRGB transfer
    setN(nclx, 8, 2, std::uint64_t(matrix));
    nclx[10] = char(fullRange ? 0x80 : 0);
    return withProperty(file, box("colr", nclx));
}

// A file whose primary item is a grid of one 64 x 64 tile (what libheif's encoder writes for
// a small picture) made a grid of `rows` x `columns` of that same tile: a picture of many
// tiles, kilobytes on disk.
inline QByteArray tiledGrid(const QByteArray& file, int rows, int columns) {
    const std::uint32_t grid = primaryItem(file);
    const qsizetype idat = findBox(file, {"meta", "idat"});
    const qsizetype iref = findBox(file, {"meta", "iref"});
    if (idat < 0 || iref < 0 || get32(file, idat) != 16)
        return {};
    const std::uint32_t tile = std::uint32_t(getN(file, iref + 12 + 8 + 4, 2));
    const std::uint32_t width = 64 * std::uint32_t(columns);
    const std::uint32_t height = 64 * std::uint32_t(rows);
    QByteArray descriptor(8, '\0');
    descriptor[2] = char(rows - 1);
    descriptor[3] = char(columns - 1);
    setN(descriptor, 4, 2, width);
    setN(descriptor, 6, 2, height);
    QByteArray out =
        editBox(file, {"meta", "idat"}, [&](const QByteArray&) { return box("idat", descriptor); });
    out = editBox(out, {"meta", "iref"}, [&](const QByteArray&) {
        QByteArray dimg(4, '\0');
        setN(dimg, 0, 2, grid);
        setN(dimg, 2, 2, std::uint64_t(rows) * columns);
        for (int i = 0; i < rows * columns; ++i) {
            QByteArray id(2, '\0');
            setN(id, 0, 2, tile);
            dimg += id;
        }
        return box("iref", QByteArray(4, '\0') + box("dimg", dimg));
    });
    // The grid's own ispe is the one after the tile's.
    const qsizetype ipco = findBox(out, {"meta", "iprp", "ipco"});
    int seen = 0;
    for (qsizetype at = ipco + 8; at < ipco + get32(out, ipco); at += get32(out, at)) {
        if (out.mid(at + 4, 4) == "ispe" && ++seen == 2) {
            setN(out, at + 12, 4, width);
            setN(out, at + 16, 4, height);
        }
    }
    return out;
}

// The primary item, a grid whose record is in idat, made an item of `type` with `record` for
// its data: the item's length in iloc follows. The item's stated size (ispe) is left as it was.
inline QByteArray withPrimaryRecord(const QByteArray& file, const char* type,
                                    const QByteArray& record) {
    const std::uint32_t item = primaryItem(file);
    const qsizetype idat = findBox(file, {"meta", "idat"});
    if (idat < 0 || get32(file, idat) != 16)
        return {};
    QByteArray out =
        editBox(file, {"meta", "idat"}, [&](const QByteArray&) { return box("idat", record); });
    const qsizetype iinf = findBox(out, {"meta", "iinf"});
    if (iinf < 0)
        return {};
    // The item's infe (version 2): its number, protection index, then its type.
    const qsizetype infeFrom = iinf + 12 + (out[iinf + 8] == 0 ? 2 : 4);
    bool typed = false;
    for (qsizetype at = infeFrom; at + 20 <= iinf + get32(out, iinf); at += get32(out, at)) {
        if (out.mid(at + 4, 4) == "infe" && out[at + 8] == 2 && getN(out, at + 12, 2) == item) {
            out.replace(at + 16, 4, QByteArray(type, 4));
            typed = true;
        }
        if (get32(out, at) < 8)
            break;
    }
    // The item's one extent, in idat: its length is the last field of its entry.
    const qsizetype at = findBox(out, {"meta", "iloc"});
    const int version = static_cast<unsigned char>(out[at + 8]);
    const int offsetSize = static_cast<unsigned char>(out[at + 12]) >> 4;
    const int lengthSize = static_cast<unsigned char>(out[at + 12]) & 15;
    const int baseSize = static_cast<unsigned char>(out[at + 13]) >> 4;
    const int indexSize = version >= 1 ? static_cast<unsigned char>(out[at + 13]) & 15 : 0;
    const int idBytes = version < 2 ? 2 : 4;
    qsizetype entry = at + 14 + idBytes;
    for (std::uint64_t i = 0, n = getN(out, at + 14, idBytes); typed && i < n; ++i) {
        const std::uint64_t id = getN(out, entry, idBytes);
        const qsizetype extentsAt = entry + idBytes + (version >= 1 ? 2 : 0) + 2 + baseSize;
        const std::uint64_t extents = getN(out, extentsAt, 2);
        if (id == item) {
            if (extents != 1)
                return {};
            setN(out, extentsAt + 2 + indexSize + offsetSize, lengthSize, record.size());
            return out;
        }
        entry = extentsAt + 2 + qsizetype(extents) * (indexSize + offsetSize + lengthSize);
    }
    return {};
}

// The primary grid's layout record set to an output of `width` x `height`, its rows and
// columns kept: 32-bit fields when a side needs them.
inline QByteArray withGridLayout(const QByteArray& file, std::uint32_t width,
                                 std::uint32_t height) {
    const qsizetype idat = findBox(file, {"meta", "idat"});
    if (idat < 0)
        return {};
    const bool wide = width > 0xFFFF || height > 0xFFFF;
    QByteArray record(wide ? 12 : 8, '\0');
    record[1] = char(wide ? 1 : 0);
    record[2] = file[idat + 10];
    record[3] = file[idat + 11];
    setN(record, 4, wide ? 4 : 2, width);
    setN(record, wide ? 8 : 6, wide ? 4 : 2, height);
    return withPrimaryRecord(file, "grid", record);
}

// The primary grid made an overlay of its `tiles` tiles on a canvas of `width` x `height`
// (16-bit fields), each at the canvas's corner.
inline QByteArray asOverlay(const QByteArray& file, int tiles, std::uint16_t width,
                            std::uint16_t height) {
    QByteArray record(2 + 8 + 4 + 4 * tiles, '\0');
    setN(record, 10, 2, width);
    setN(record, 12, 2, height);
    return withPrimaryRecord(file, "iovl", record);
}

// Bits written from the most significant, as both codecs' headers are.
struct BitWriter {
    QByteArray bytes;
    int bits = 0;

    void put(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (bits % 8 == 0)
                bytes.append('\0');
            if ((value >> i) & 1)
                bytes[bytes.size() - 1] = char(bytes.back() | (0x80 >> (bits % 8)));
            ++bits;
        }
    }
    // ue(v): the value plus one, after as many zeros as it has bits less one.
    void golomb(std::uint64_t value) {
        int length = 0;
        while ((value + 1) >> (length + 1))
            ++length;
        put(0, length);
        put(value + 1, length + 1);
    }
};

// An AV1 sequence header OBU of a still picture whose frames are at most `width` x `height`.
inline QByteArray av1SequenceHeader(std::uint32_t width, std::uint32_t height) {
    BitWriter w;
    w.put(0, 3);  // seq_profile
    w.put(1, 1);  // still_picture
    w.put(1, 1);  // reduced_still_picture_header
    w.put(31, 5); // seq_level_idx: no level's limits
    w.put(15, 4); // frame_width_bits_minus_1
    w.put(15, 4);
    w.put(width - 1, 16);
    w.put(height - 1, 16);
    w.put(0, 6); // no 128 x 128 superblocks, filter intra, ...
    w.put(0, 4); // 8 bits, in colour, no colour description, limited range: 4:2:0
    w.put(1, 1); // trailing bits
    w.put(0, 5);
    return QByteArray(1, char(0x0A)) + QByteArray(1, char(w.bytes.size())) + w.bytes;
}

// An HEVC sequence parameter set, as a NAL unit with its emulation prevention bytes, of an
// 8-bit 4:2:0 picture of `width` x `height`; past its depth its fields are cut short.
inline QByteArray hevcSequence(std::uint32_t width, std::uint32_t height) {
    BitWriter w;
    w.put(0, 4); // sps_video_parameter_set_id
    w.put(0, 3); // no sub-layers
    w.put(1, 1);
    w.put(0, 2 + 1); // profile space, tier
    w.put(1, 5);     // Main
    w.put(0x60000000, 32);
    w.put(0, 48);
    w.put(90, 8); // level 3
    w.golomb(0);  // sps_seq_parameter_set_id
    w.golomb(1);  // 4:2:0
    w.golomb(width);
    w.golomb(height);
    w.put(0, 1); // no conformance window
    w.golomb(0); // 8 bits
    w.golomb(0);
    w.put(1, 1); // the rest is left out
    QByteArray nal("\x42\x01", 2);
    int zeros = 0;
    for (const char c : w.bytes) {
        if (zeros >= 2 && static_cast<unsigned char>(c) <= 3) {
            nal.append('\x03');
            zeros = 0;
        }
        zeros = c == 0 ? zeros + 1 : 0;
        nal.append(c);
    }
    return nal;
}

// Every decoder configuration in ipco made to state a coded picture of `width` x `height`:
// av1C's sequence header, or the sequence parameter sets of hvcC. The item's data, and its
// stated size, are left as they were.
inline QByteArray withCodedSize(const QByteArray& file, std::uint32_t width, std::uint32_t height) {
    return editBox(file, {"meta", "iprp", "ipco"}, [&](const QByteArray& ipco) {
        QByteArray out = ipco.left(8);
        for (qsizetype at = 8; at + 8 <= ipco.size(); at += get32(ipco, at)) {
            const QByteArray property = ipco.mid(at, get32(ipco, at));
            const QByteArray type = property.mid(4, 4);
            if (type == "av1C") {
                out += box("av1C", property.mid(8, 4) + av1SequenceHeader(width, height));
            } else if (type == "hvcC") {
                QByteArray body = property.mid(8, 23);
                const int arrays = static_cast<unsigned char>(property[8 + 22]);
                qsizetype from = 8 + 23;
                for (int a = 0; a < arrays; ++a) {
                    const bool sequence = (property[from] & 0x3F) == 33;
                    const int nals = int(getN(property, from + 1, 2));
                    body += property.mid(from, 3);
                    from += 3;
                    for (int n = 0; n < nals; ++n) {
                        const qsizetype length = qsizetype(getN(property, from, 2));
                        QByteArray nal = property.mid(from + 2, length);
                        if (sequence)
                            nal = hevcSequence(width, height);
                        QByteArray prefix(2, '\0');
                        setN(prefix, 0, 2, std::uint64_t(nal.size()));
                        body += prefix + nal;
                        from += 2 + length;
                    }
                }
                out += box("hvcC", body);
            } else {
                out += property;
            }
        }
        setN(out, 0, 4, std::uint64_t(out.size()));
        return out;
    });
}

} // namespace tavlin::test::heif
