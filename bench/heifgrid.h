#pragma once

#include <cstdint>
#include <cstring>
#include <libheif/heif.h>

#include <QByteArray>
#include <QImage>
#include <QList>

// A HEIC as phones write them: the picture cut into tiles of 512 x 512, each coded on its own,
// and a grid item that lays them out (cropping the last row and column to the picture).
// libheif 1.15 encodes only single pictures, so each tile is encoded as a file of its own and
// its hvcC and coded data are laid into the grid's file here.
namespace tavlin::bench {

// `image` as libheif's interleaved 8-bit RGB picture, to encode; null when libheif cannot make
// one. The caller releases it.
inline heif_image* heifPicture(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_image* picture = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &picture)
            .code != heif_error_Ok)
        return nullptr;
    if (heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8)
            .code != heif_error_Ok) {
        heif_image_release(picture);
        return nullptr;
    }
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + std::ptrdiff_t(y) * stride, rgb.constScanLine(y),
                    size_t(rgb.width()) * 3);
    return picture;
}

namespace heifgrid {

inline void put(QByteArray& b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

inline std::uint64_t get(const QByteArray& b, qsizetype at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

inline QByteArray box(const char* type, const QByteArray& body) {
    QByteArray out;
    put(out, std::uint64_t(body.size() + 8), 4);
    return out + QByteArray(type, 4) + body;
}

inline QByteArray fullBox(const char* type, int version, const QByteArray& body) {
    QByteArray head;
    put(head, std::uint64_t(version) << 24, 4);
    return box(type, head + body);
}

// The first box of `type` inside [begin, end), as (start, size); size 0 when there is none.
inline std::pair<qsizetype, qsizetype> find(const QByteArray& b, const char* type, qsizetype begin,
                                            qsizetype end) {
    for (qsizetype at = begin; at + 8 <= end;) {
        const auto size = qsizetype(get(b, at, 4));
        if (size < 8)
            break;
        if (b.mid(at + 4, 4) == type)
            return {at, size};
        at += size;
    }
    return {0, 0};
}

// One tile coded by libheif's HEVC encoder: its hvcC box and its coded data.
struct CodedTile {
    QByteArray hvcC;
    QByteArray data;
};

inline heif_error appendTo(heif_context*, const void* data, size_t size, void* out) {
    static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

inline CodedTile codeTile(const QImage& tile, int quality) {
    heif_image* picture = heifPicture(tile);
    if (!picture)
        return {};
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    QByteArray file;
    heif_writer writer{1, appendTo};
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code ==
            heif_error_Ok &&
        heif_encoder_set_lossy_quality(encoder, quality).code == heif_error_Ok &&
        heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code ==
            heif_error_Ok)
        heif_context_write(context, &writer, &file);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(picture);

    CodedTile coded;
    const auto [meta, metaSize] = find(file, "meta", 0, file.size());
    const auto [iprp, iprpSize] = find(file, "iprp", meta + 12, meta + metaSize);
    const auto [ipco, ipcoSize] = find(file, "ipco", iprp + 8, iprp + iprpSize);
    const auto [hvcC, hvcCSize] = find(file, "hvcC", ipco + 8, ipco + ipcoSize);
    const auto [iloc, ilocSize] = find(file, "iloc", meta + 12, meta + metaSize);
    if (!hvcCSize || !ilocSize)
        return coded;
    // libheif writes one item, in one extent.
    const int version = static_cast<unsigned char>(file[iloc + 8]);
    const int offsetSize = static_cast<unsigned char>(file[iloc + 12]) >> 4;
    const int lengthSize = static_cast<unsigned char>(file[iloc + 12]) & 15;
    const int baseSize = static_cast<unsigned char>(file[iloc + 13]) >> 4;
    qsizetype at = iloc + 14 + 2 + 2 + (version >= 1 ? 2 : 0) + 2;
    const auto base = qsizetype(get(file, at, baseSize));
    at += baseSize;
    if (get(file, at, 2) != 1)
        return coded;
    at += 2;
    const auto offset = base + qsizetype(get(file, at, offsetSize));
    const auto length = qsizetype(get(file, at + offsetSize, lengthSize));
    coded.hvcC = file.mid(hvcC, hvcCSize);
    coded.data = file.mid(offset, length);
    return coded;
}

} // namespace heifgrid

// `image` as a grid of `tile` x `tile` HEVC tiles at libheif's lossy `quality`; empty when
// the encoder fails.
inline QByteArray heifGrid(const QImage& image, int tile, int quality) {
    using namespace heifgrid;
    const int columns = (image.width() + tile - 1) / tile;
    const int rows = (image.height() + tile - 1) / tile;
    QList<CodedTile> tiles;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            CodedTile coded = codeTile(image.copy(c * tile, r * tile, tile, tile), quality);
            if (coded.data.isEmpty())
                return {};
            tiles.append(coded);
        }
    }
    const int count = int(tiles.size());
    const int grid = count + 1; // the tiles are items 1 to count

    QByteArray ftyp;
    ftyp += "heic";
    put(ftyp, 0, 4);
    ftyp += "mif1heicmiaf";

    QByteArray infos;
    put(infos, std::uint64_t(count + 1), 2);
    for (int i = 1; i <= grid; ++i) {
        QByteArray entry;
        put(entry, std::uint64_t(i), 2);
        put(entry, 0, 2);
        entry += i == grid ? "grid" : "hvc1";
        entry += '\0';
        QByteArray infe = fullBox("infe", 2, entry);
        if (i != grid)
            infe[11] = 1; // a tile is hidden: only the grid is a picture of its own
        infos += infe;
    }

    QByteArray record;
    put(record, 0, 2); // version 0, 16-bit sides
    put(record, std::uint64_t(rows - 1), 1);
    put(record, std::uint64_t(columns - 1), 1);
    put(record, std::uint64_t(image.width()), 2);
    put(record, std::uint64_t(image.height()), 2);

    QByteArray references;
    put(references, std::uint64_t(grid), 2);
    put(references, std::uint64_t(count), 2);
    for (int i = 1; i <= count; ++i)
        put(references, std::uint64_t(i), 2);

    // Properties: one hvcC for each tile, the tiles' size, the picture's size.
    QByteArray properties;
    for (const CodedTile& t : tiles)
        properties += t.hvcC;
    QByteArray tileSize, pictureSize;
    put(tileSize, std::uint64_t(tile), 4);
    put(tileSize, std::uint64_t(tile), 4);
    put(pictureSize, std::uint64_t(image.width()), 4);
    put(pictureSize, std::uint64_t(image.height()), 4);
    properties += fullBox("ispe", 0, tileSize) + fullBox("ispe", 0, pictureSize);
    QByteArray associations;
    put(associations, std::uint64_t(grid), 4); // entries: every item
    for (int i = 1; i <= count; ++i) {
        put(associations, std::uint64_t(i), 2);
        put(associations, 2, 1);
        put(associations, 0x80u | std::uint64_t(i), 1); // its hvcC, essential
        put(associations, std::uint64_t(count + 1), 1); // the tiles' ispe
    }
    put(associations, std::uint64_t(grid), 2);
    put(associations, 1, 1);
    put(associations, std::uint64_t(count + 2), 1);

    // The item locations, made twice: the second time with the tiles' offsets in mdat, which
    // follows the meta box whose size does not change.
    const auto metaWith = [&](qsizetype mdatData) {
        QByteArray locations;
        put(locations, 0x4400, 2); // 4-byte offsets and lengths, no base offset or index
        put(locations, std::uint64_t(count + 1), 2);
        qsizetype offset = mdatData;
        for (int i = 1; i <= count; ++i) {
            put(locations, std::uint64_t(i), 2);
            put(locations, 0, 2); // in this file
            put(locations, 0, 2);
            put(locations, 1, 2);
            put(locations, std::uint64_t(offset), 4);
            put(locations, std::uint64_t(tiles[i - 1].data.size()), 4);
            offset += tiles[i - 1].data.size();
        }
        put(locations, std::uint64_t(grid), 2);
        put(locations, 1, 2); // in idat
        put(locations, 0, 2);
        put(locations, 1, 2);
        put(locations, 0, 4);
        put(locations, std::uint64_t(record.size()), 4);

        QByteArray handler;
        put(handler, 0, 4);
        handler += "pict";
        handler += QByteArray(12, '\0');
        handler += '\0';
        QByteArray primary;
        put(primary, std::uint64_t(grid), 2);
        return fullBox("meta", 0,
                       fullBox("hdlr", 0, handler) + fullBox("pitm", 0, primary) +
                           fullBox("iinf", 0, infos) + fullBox("iloc", 1, locations) +
                           box("idat", record) + fullBox("iref", 0, box("dimg", references)) +
                           box("iprp", box("ipco", properties) + fullBox("ipma", 0, associations)));
    };
    const QByteArray head = box("ftyp", ftyp);
    const qsizetype mdatData = head.size() + metaWith(0).size() + 8;
    QByteArray data;
    for (const CodedTile& t : tiles)
        data += t.data;
    return head + metaWith(mdatData) + box("mdat", data);
}

} // namespace tavlin::bench
