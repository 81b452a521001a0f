#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QPrinter;

namespace tavlin {

// Prints `picture` as one document of one page on the desktop's default printer: at its own
// size, with its top-left corner one twip into the printable area, neither scaled to the page
// nor centred on it. `ownPixels` is the picture's own pixel size when `picture` was decoded
// reduced (empty: the picture's size); `twipsPerPixel` turns pixels into the length they have
// on screen. The job is named `documentName` (the picture's file name), with the program as
// its creator: a queue that writes files names them after the job, so two prints never land
// in one file. Returns false, printing nothing, when there is no picture or no printer.
bool PrintPicture(const QImage& picture, const QString& documentName, QSize ownPixels = {},
                  double twipsPerPixel = 15);

// The same on a printer that is already set up (a queue, or a PDF file for a preview).
bool PrintPictureOn(QPrinter& printer, const QImage& picture, const QString& documentName,
                    QSize ownPixels = {}, double twipsPerPixel = 15);

} // namespace tavlin
