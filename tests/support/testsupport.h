#pragma once

#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include "platform/platform.h"
#include "viewer/tavlin.h"

#include <ostream>

// Readable strings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace tavlin::test {

// A Platform that counts beeps and cursor changes instead of performing them.
class CountingPlatform : public Platform {
public:
    void beep() override { ++beeps; }
    void playSlideSound() override { ++slideSounds; }
    void setCursorVisible(bool visible) override {
        ++cursorCalls;
        cursorVisible = visible;
    }
    bool openUrl(const QUrl& url) override;
    // Tests never reach the desktop's screensaver; the holds are counted.
    void keepScreenAwake(bool awake) override {
        if (awake && !screenAwake)
            ++awakeHolds;
        screenAwake = awake;
    }

    int beeps = 0;
    int slideSounds = 0;
    int cursorCalls = 0;
    bool cursorVisible = true;
    int awakeHolds = 0;
    bool screenAwake = false;
    QList<QUrl> openedUrls;
};

// Options for a main window under test: a 1024 x 768 screen at 15 twips per
// pixel, no splash, beeps and cursor calls counted by `platform`, every exit
// counted in `exits` instead of ending the process.
TavlinOptions windowOptions(CountingPlatform& platform, int& exits);

// Waits, with a bound, until the picture the window last asked for is on the
// screen (or its error picture is): decoding runs on worker threads.
[[nodiscard]] bool waitForPicture(const Tavlin& window, int timeoutMs = 20000);

// True when the process can read and write any file (root), so permission
// cases cannot be made with plain mode bits.
bool runningAsRoot();

// A picture with a recognisable pattern: a gradient with a dark square in the
// top left quarter, so orientation and scaling can be checked.
QImage patternImage(int width, int height);

// Writes `image` to `path` in the format its extension names (jpg, bmp, gif).
void writePicture(const QString& path, const QImage& image, int quality = 90);

// Writes `size` bytes of text to `path`.
void writeFile(const QString& path, const QByteArray& bytes);

// The project's source folder (for the bundled samples).
QString sourceDir();

} // namespace tavlin::test
