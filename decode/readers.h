#pragma once

// The readers of the picture formats, one for each row of the formats table. Each reads and
// checks a file's header and hands the loader a Source (see decodesource.h).

#include "decode/decodesource.h"

namespace tavlin {

bool openJpeg(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error);
bool openBmp(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error);
bool openGif(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error);
bool openPng(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error);
bool openWebP(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error);
bool openTiff(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error);
// HEIF and AVIF share their container and libheif.
bool openHeif(const QString& path, QFile& file, const LoadControl& control, Source& source,
              QString& error);
bool openJxl(const QString& path, QFile& file, const LoadControl& control, Source& source,
             QString& error);

} // namespace tavlin
