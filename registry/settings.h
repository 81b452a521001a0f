#pragma once

#include <QString>

#include "registry/registrymanager.h"

namespace tavlin {

inline constexpr int kMinLoopSeconds = 1;
inline constexpr int kMaxLoopSeconds = 30;
// The very first start runs its slideshow at 10 seconds, though it stores 5 for later starts.
inline constexpr int kFirstStartLoopSeconds = 10;

// The persisted settings as plain values, kept under HKEY_CURRENT_USER\Software\Zan\Tavlin.
// The main window copies them into its widgets after loading and out of them before saving.
struct Settings {
    bool showControls = true;       // "Show Controls": the settings panel is shown
    bool centerPicture = true;      // "Center Picture"
    bool stretchPicture = true;     // "Stretch Picture"
    bool loopSlideshow = true;      // "Loop Slideshow"
    bool playSlideshowSound = true; // "Play Slideshow Sound"
    QString lastDirectory;          // "Last Directory": after loading, a folder that exists
    QString workingDirectory;       // "Working Directory": fixed at the first start
    bool showDimensions = true;     // "Show Dimensions"
    bool showFileSize = true;       // "Show File Size"
    int loopSeconds = kFirstStartLoopSeconds; // "Loop Seconds": 1 to 30 after loading
    bool showFilename = true;                 // "Show Filename"
    bool showPictureNumber = true;            // "Show Picture Number"
    // "Shuffle": the screensaver shows every picture once before any comes back; not
    // written on the first start, so off until the screensaver settings store it.
    bool shuffle = false;
    // "Include Subfolders": the screensaver shows the pictures of the folder's whole tree;
    // off until the screensaver settings store it.
    bool includeSubfolders = false;

    bool operator==(const Settings&) const = default;
};

// A RegistryManager set up for the settings key HKEY_CURRENT_USER\Software\Zan\Tavlin.
RegistryManager SettingsKey();

// Reads the settings. On the first start (no settings key yet) it creates the key with the
// first-start values and returns them; later starts return what is stored. A command line
// that names an existing folder, tested as given, replaces the last folder, on the first start
// too; a last folder that no longer exists becomes DefaultFolder(), which is stored back.
// With `store` false nothing is written: a run that saves nothing leaves no settings behind.
Settings LoadRegistrySettings(const QString& svCommandLine, bool store = true);

// Stores the eleven values the program changes ("Working Directory" is never rewritten).
// Never creates the key. True when every value was stored.
bool SaveRegistrySettings(const Settings& settings);

// The screensaver settings dialog's OK: stores only "Last Directory", "Show Dimensions",
// "Show File Size", "Loop Seconds", "Show Filename" and "Show Picture Number", which the viewer
// shares, and the screensaver's own "Include Subfolders" and "Shuffle".
bool SaveScreensaverSettings(const Settings& settings);

// Text forms of the stored values.
QString SwitchText(bool on);
// On exactly when the text, lower-cased, is "true".
bool SwitchIsOn(const QString& text);
// The leading decimal number of the text, rounded half to even (0 when the text does not
// begin with a number), limited to low..high.
int LeadingSecondsInRange(const QString& text, int low, int high);
// The leading decimal number of the text, rounded half to even, clamped to 1..30; a text
// that does not begin with a number gives 1.
int LoopSecondsFromText(const QString& text);

} // namespace tavlin
