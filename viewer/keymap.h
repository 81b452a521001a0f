#pragma once

#include <cstdint>

class QInputEvent;
class QKeyEvent;

namespace tavlin {

// Key codes the key map knows, as the old platform's virtual-key codes.
namespace vk {
inline constexpr int Backspace = 8;
inline constexpr int Space = 32;
inline constexpr int PageUp = 33;
inline constexpr int PageDown = 34;
inline constexpr int End = 35;
inline constexpr int Home = 36;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int Escape = 27;
inline constexpr int Delete = 46;
inline constexpr int P = 80;
inline constexpr int F1 = 112;
inline constexpr int F2 = 113;
inline constexpr int F3 = 114;
inline constexpr int F4 = 115;
inline constexpr int F5 = 116;
inline constexpr int F9 = 120;
inline constexpr int F11 = 122;
inline constexpr int F12 = 123;
} // namespace vk

// Shift state bits.
inline constexpr int ShiftMask = 1;
inline constexpr int CtrlMask = 2;
inline constexpr int AltMask = 4;

// The virtual-key code and shift state of a Qt key event; code 0 for keys
// without one.
int virtualKeyOf(const QKeyEvent& event);
int shiftStateOf(const QInputEvent& event);

struct KeyState {
    int key = 0;
    int shift = 0;
    std::int64_t selected = -1; // selected index of the file list
    std::int64_t count = 0;     // entries in the file list
    bool panelShown = true;
    bool slideshowRunning = false;
    bool loop = true;
    bool screensaver = false;
};

enum class KeyAction {
    None,
    StopSlideshow, // the slideshow reached the end of the folder, loop off
    Select,        // select `index`
    Print,
    Exit,
    MoveToTrash, // Delete: the current picture goes to the Trash
    Delete,      // Shift+Delete: the current picture is deleted for good
};

struct KeyDecision {
    bool selectFirst = false; // nothing was selected: select the first entry before the action
    KeyAction action = KeyAction::None;
    std::int64_t index = -1; // for Select
    bool operator==(const KeyDecision&) const = default;
};

// What a key press does in the main window, from the state it meets.
KeyDecision decideKey(const KeyState& state);

// The file list moves its own selection for these keys; it hands on all others.
bool fileListKeepsKey(int key);

// The keys the pop-up menu shows beside its commands: F1 to F5, F9 (and F11, as other
// viewers use it) and F12 with any shift state, and Ctrl+P. They belong to the window whichever
// widget of the panel has the focus; no widget there needs them, so typing, list keys, Space and
// Enter stay with the focused widget.
bool isMenuShortcut(int key, int shift);

// The keys other viewers share for walking a folder: Right and Space as Down, Left and
// BackSpace as Up, Home and End for the first and last picture, without a shift key.
bool isViewerKey(int key, int shift);

// The kinds of widget in the panel, for the viewer keys each needs for itself.
enum class PanelWidget { TextBox, ScrollBar, Button, DropDown, List };

// True when a focused widget of this kind uses the viewer key itself: editing keys in a
// text box, the arrows and Home/End on a scroll bar, Space on a button or check box,
// Home/End in a list or the drive list. Any other viewer key acts on the pictures.
bool panelWidgetKeepsKey(PanelWidget widget, int key);

} // namespace tavlin
