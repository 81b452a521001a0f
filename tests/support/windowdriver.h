#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <Qt>

#include <cstdint>
#include <functional>

#include "layout/layout.h"
#include "viewer/startrequest.h"

class QLineEdit;
class QWidget;

namespace tavlin {

class Tavlin;
class frmMenus;

namespace test {

// The parts of the main window a test may look at or act on. Tests name them here and never
// reach for the window's widgets, so a widget can change without touching the tests.
enum class Part {
    // Over the picture.
    Picture,
    ErrorPicture,
    NumberLine, // "Picture: n of m"
    FileLine,
    FileSizeLine,
    WidthLine,
    HeightLine,
    // The settings panel and what it holds.
    Panel,
    Checks, // the frame of check boxes and buttons under the lists
    Drives,
    Folders,
    Files,
    Center,
    Stretch,
    Loop,
    PlaySound,
    ShowNumber,
    ShowFilename,
    ShowFileSize,
    ShowDimensions,
    StartButton,
    Seconds, // where the slideshow's seconds are typed or stepped
    RenameButton,
    ExitButton,
};

// Drives a main window as a person or the program's start-up would, and reads what it shows.
class WindowDriver {
public:
    explicit WindowDriver(Tavlin& window) : m_window(window) {}

    // Start-up, as the program runs it for a command line already read.
    bool start(const StartRequest& request);

    // --- Parts ---
    QWidget* part(Part part) const;
    // Not hidden by the program (a part of a window not yet shown counts as shown).
    bool shown(Part part) const;
    // The text of a line, a button or the seconds box.
    QString text(Part part) const;
    bool checked(Part box) const;
    // Sets a check box as the program does; its handler runs on a change.
    void setChecked(Part box, bool checked);
    // Focuses a part and types a key on it, as a person at the keyboard would.
    void press(Part part, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The geometry of a part in twips, relative to its parent.
    TwipRect twips(Part part) const;
    // Clicks a button as the mouse would; its handler runs.
    void click(Part button);

    // --- The picture on show ---
    const QImage& picture() const;
    QRect pictureGeometry() const;
    // Where the picture lies in its view, in the view's logical pixels.
    QRectF pictureRect() const;
    // Shows a file's picture as the program does, or the error picture and a beep.
    void showPicture(const QString& file);

    // --- The files of the folder ---
    std::int64_t count() const;
    QStringList names() const;
    std::int64_t selected() const;
    QString selectedName() const;
    // Selects a picture as a click in the list would; the window shows it.
    void select(std::int64_t index);
    QString folder() const;
    // Opens a folder in the folder list; false when it cannot be opened.
    bool openFolder(const QString& path);
    // Folders larger than this are read in the background; 0 reads every folder there.
    void setFolderBackgroundBytes(qint64 bytes);
    bool driveListOpen() const;
    // Reads the folder's files again, as after another program changed them.
    void refreshFiles();
    // Calls `handler` each time the selection moves to another file.
    void onSelectionChanged(std::function<void()> handler);
    // The patterns of the names the file list shows, ";" between them.
    QString filePattern() const;
    // The text the file list shows for an entry; names() are the names on disk.
    QString listedText(std::int64_t index) const;
    // The folder whose files the file list holds.
    QString listedFolder() const;
    // Whether the folder list is still reading a folder in the background.
    bool folderReading() const;
    // The drive the drive list shows, and choosing one as the program does.
    QString drive() const;
    void setDrive(const QString& path);

    // --- The slideshow ---
    bool slideshowRunning() const;
    int slideshowIntervalMs() const;
    void startSlideshow();
    void stopSlideshow();
    // The slideshow's timer fires once.
    void slideshowTick();
    // Makes the slideshow's timer wait `ms` from now on, beyond what the seconds box allows
    // (a benchmark that ticks the slideshow itself).
    void setSlideshowIntervalMs(int ms);
    // The seconds the slideshow waits, and what the seconds box shows.
    int seconds() const;
    QString secondsText() const;
    // Sets the seconds as the program does (the arrows' value).
    void setSeconds(int seconds);
    // Focuses the seconds box, selects what it shows and types `text` over it.
    void typeSeconds(const QString& text);
    int minimumSeconds() const;
    int maximumSeconds() const;
    // Puts `text` in the seconds box as the program does, typing nothing, with the cursor before
    // character `cursor` (at the end when it is negative).
    void setSecondsText(const QString& text, int cursor = -1);
    // Where the cursor stands in the seconds box.
    int secondsCursor() const;

    // --- Keys and the mouse, in the program's own terms ---
    // Key handlers take virtual-key codes and the shift state (1 Shift, 2 Ctrl, 4 Alt).
    void keyDown(int keyCode, int shift = 0);
    void keyUp(int keyCode, int shift = 0);
    // Mouse handlers take the button (1 left, 2 right, 4 middle) and twips.
    void mouseUp(int button, int shift, double x, double y);
    void pictureMouseUp(int button, int shift, double x, double y);
    void mouseMove(int button, int shift, double x, double y);
    void pictureMouseMove(int button, int shift, double x, double y);
    void doubleClick();
    void pictureDoubleClick();
    // The timer that hides the pointer again in the screensaver fires once.
    void cursorTimerTick();
    // Shows or hides the pointer as the program does.
    void setCursorVisible(bool visible);
    int cursorTimerIntervalMs() const;

    // --- State ---
    bool screensaverMode() const;
    // Whether the panel is meant to show (the stored "Show Controls").
    bool controlsShown() const;
    void setControlsShown(bool shown);
    bool topMost() const;
    frmMenus& menus() const;
    // The folder of the very first start, where the help document is looked for first.
    void setWorkingDirectory(const QString& folder);
    // Shows or hides the panel and lays the picture out again.
    void toggleControls();

private:
    QLineEdit* secondsBox() const;

    Tavlin& m_window;
};

inline WindowDriver drive(Tavlin& window) { return WindowDriver(window); }

} // namespace test
} // namespace tavlin
