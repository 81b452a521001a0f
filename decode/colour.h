#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace tavlin {

// What a picture file says about the colours its numbers stand for. Every part is optional;
// a picture that says nothing is taken as sRGB and shown unchanged.
struct ColourDescription {
    // An embedded ICC profile (JPEG APP2, PNG iCCP, WebP ICCP, TIFF, HEIF colr, JPEG XL).
    QByteArray iccProfile;
    // Coding-independent code points (ITU-T H.273), as HEIF/AVIF nclx boxes and JPEG XL carry
    // them: 0 means not given.
    int cicpPrimaries = 0;
    int cicpTransfer = 0;
    // PNG's colour chunks: sRGB, gAMA (the file gamma, e.g. 0.45455) and cHRM (white point
    // and primaries as x, y pairs: white, red, green, blue).
    bool pngSrgb = false;
    double pngGamma = 0;
    bool hasChromaticities = false;
    double chromaticities[8] = {};
    // Why what the file says cannot be used, found while reading it (chunks of a profile
    // missing, say), as a clause like `warning` below; the picture is then shown unconverted.
    QString problem;

    bool isEmpty() const {
        return iccProfile.isEmpty() && cicpPrimaries == 0 && cicpTransfer == 0 && !pngSrgb &&
               pngGamma == 0 && !hasChromaticities && problem.isEmpty();
    }
};

// Converts `image` (RGB32 or ARGB32 premultiplied, any size) from the colours `source`
// describes to the display's. Pictures that describe no colours, or the display's own, are
// left as they are, bit for bit. A profile that cannot be used leaves the picture unconverted
// and says why in `warning`, a sentence's clause such as "its colour profile is damaged".
// Safe to call from any thread.
void convertToDisplayColours(QImage& image, const ColourDescription& source, QString& warning);

// The display's ICC profile; empty means sRGB. Pictures converted afterwards use it (those
// converted before keep their colours). A profile that cannot be used leaves the display
// taken as sRGB, and displayProfileProblem() says why; empty when it can be used.
void setDisplayProfile(const QByteArray& iccProfile);
QByteArray displayProfile();
QString displayProfileProblem();

} // namespace tavlin
