#pragma once

#include <vector>

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include "decode/decodesource.h"

namespace tavlin {

// One kind of picture file the program shows. The table of them is the one place a format is
// named: the file list's pattern, the sniffing of a file's first bytes, the sentences that
// name the formats, and the desktop entry's and the metainfo's MIME types all follow it.
struct PictureFormat {
    const char* name;      // "png": what LoadedPicture::format says
    const char* caption;   // "PNG": how sentences name it
    QStringList endings;   // file-name endings, lower case, without the dot
    QStringList mimeTypes; // the first is the format's own, the rest its aliases
    // Whether a file starting with `head` (its first sniffBytes bytes, fewer if it is shorter)
    // is of this format.
    bool (*identifies)(QByteArrayView head);
    OpenPicture open;
};

// How many of a file's first bytes the sniffing looks at.
constexpr int sniffBytes = 256;

// Every format, in the order their files are tried and named.
const std::vector<PictureFormat>& pictureFormats();
// The format a file's first bytes say it is in; null when none.
const PictureFormat* formatOfBytes(QByteArrayView head);
// "*.jpg;*.jpeg;...": every ending of every format, for the file list.
QString pictureNamePattern();
// Every MIME type of every format, aliases included.
QStringList pictureMimeTypes();
// "JPEG, BMP, GIF, ... or JPEG XL", for sentences.
QString pictureFormatCaptions();
// Whether a HEIF container's first bytes name it AVIF by its brands (HEIC otherwise): the two
// share one reader, which names the format by this.
bool hasAvifBrand(QByteArrayView head);

} // namespace tavlin
