// The formats table: what a file's first bytes say it is, and the desktop files that must
// name the same formats as the table.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include "decode/formats.h"
#include "decode/pictureloader.h"
#include "support/testsupport.h"

namespace tavlin {
namespace {

QByteArray ftyp(const char* major, std::initializer_list<const char*> compatible) {
    QByteArray box("\0\0\0\0ftyp", 8);
    box.append(major, 4);
    box.append("\0\0\0\0", 4);
    for (const char* brand : compatible)
        box.append(brand, 4);
    const auto size = quint32(box.size());
    box[0] = char(size >> 24);
    box[1] = char(size >> 16);
    box[2] = char(size >> 8);
    box[3] = char(size);
    return box + QByteArray("\0\0\0\x08meta", 8);
}

TEST(PictureFormats, AFileIsKnownByItsFirstBytes) {
    const struct {
        QByteArray head;
        const char* format; // null: no format
    } cases[] = {
        {QByteArray("\xFF\xD8\xFF\xE0", 4), "jpeg"},
        {"BM\x36\0\0\0", "bmp"},
        {"GIF89a", "gif"},
        {"\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", "png"},
        {QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16), "webp"},
        {QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16), nullptr},
        {QByteArray("II*\0\x08\0\0\0", 8), "tiff"},
        {QByteArray("MM\0*\0\0\0\x08", 8), "tiff"},
        {QByteArray("II+\0\x08\0\0\0", 8), "tiff"},
        {ftyp("heic", {"mif1", "heic"}), "heif"},
        {ftyp("mif1", {"mif1", "heic"}), "heif"},
        {ftyp("avif", {"mif1", "miaf"}), "avif"},
        {ftyp("mif1", {"avif", "mif1"}), "avif"}, // an AVIF brand anywhere makes it AVIF
        {ftyp("isom", {"mp41"}), nullptr},        // a video, not a picture
        {QByteArray("\xFF\x0A\xFA\x7F", 4), "jxl"},
        {QByteArray("\0\0\0\x0CJXL \r\n\x87\n", 12), "jxl"},
        {"\x89PN", nullptr}, // too short to be sure
        {"", nullptr},
        {"plain text, not a picture", nullptr},
    };
    for (const auto& c : cases) {
        const PictureFormat* format = formatOfBytes(c.head);
        if (!c.format)
            EXPECT_EQ(format, nullptr) << c.head.toHex().toStdString();
        else
            EXPECT_STREQ(format ? format->name : "none", c.format) << c.head.toHex().toStdString();
    }
}

TEST(PictureFormats, TheDesktopEntryAndTheMetainfoNameTheTablesMimeTypes) {
    const QStringList types = pictureMimeTypes();
    const QSet<QString> table(types.cbegin(), types.cend());
    const QDir assets(QDir(test::sourceDir()).filePath(QStringLiteral("assets")));

    QFile desktop(assets.filePath(QStringLiteral("io.github.tavlin.Tavlin.desktop")));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    const QRegularExpressionMatch line =
        QRegularExpression(QStringLiteral("^MimeType=(.*)$"), QRegularExpression::MultilineOption)
            .match(entry);
    ASSERT_TRUE(line.hasMatch());
    const QStringList listed = line.captured(1).split(u';', Qt::SkipEmptyParts);
    EXPECT_EQ(QSet<QString>(listed.cbegin(), listed.cend()), table);

    QFile metainfo(assets.filePath(QStringLiteral("io.github.tavlin.Tavlin.metainfo.xml")));
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    QSet<QString> provided;
    const QRegularExpression mediatype(QStringLiteral("<mediatype>([^<]+)</mediatype>"));
    for (const auto& m : mediatype.globalMatch(QString::fromUtf8(metainfo.readAll())))
        provided.insert(m.captured(1));
    EXPECT_EQ(provided, table);
}

TEST(PictureFormats, AFileOfNoKnownFormatIsRefusedNamingTheFormatsShown) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.png"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("These are notes, whatever the name says.\n");
    file.close();
    const LoadedPicture picture = loadPicture(path, [](QSize s) { return DecodeRequest{s, {}}; });
    EXPECT_FALSE(picture.ok);
    EXPECT_EQ(picture.error, QStringLiteral("\u201cnotes.png\u201d is not a JPEG, BMP, GIF, PNG, "
                                            "WebP, TIFF, HEIF, AVIF or JPEG XL picture."));
}

} // namespace
} // namespace tavlin
