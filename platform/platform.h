#pragma once

class QUrl;

namespace tavlin {

// The desktop services the program asks for: the beep, the mouse cursor and
// opening a document with the desktop's handler. Every window receives one
// Platform; tests hand in a subclass that counts instead of sounding.
class Platform {
public:
    virtual ~Platform() = default;

    virtual void beep();
    // The short sound of a slideshow step: the program's own sound through the
    // desktop's sound system, or the bell where none answers.
    virtual void playSlideSound();
    // Hides or shows the mouse cursor over the whole application.
    virtual void setCursorVisible(bool visible);
    // Opens a file or address with the desktop's handler; false when nothing took it.
    virtual bool openUrl(const QUrl& url);
    // Keeps the screen from blanking while a slideshow runs (true) or lets it
    // blank again (false); nothing where the desktop offers no way.
    virtual void keepScreenAwake(bool awake);
};

// The process-wide instance used by the program itself.
Platform& desktopPlatform();

} // namespace tavlin
