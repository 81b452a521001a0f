#include <gtest/gtest.h>

#include "viewer/keymap.h"

using namespace tavlin;

namespace {

struct Case {
    const char* name;
    KeyState state;
    KeyDecision expected;
};

KeyState st(int key, std::int64_t selected, std::int64_t count, bool panel = true, int shift = 0,
            bool running = false, bool loop = true, bool saver = false) {
    return {key, shift, selected, count, panel, running, loop, saver};
}

constexpr KeyDecision none{};
KeyDecision select(std::int64_t i, bool first = false) {
    return {first, KeyAction::Select, i};
}
KeyDecision act(KeyAction a, bool first = false) {
    return {first, a, -1};
}

} // namespace

TEST(KeyMap, DecidesEveryKeyFromTheStateItMeets) {
    const Case cases[] = {
        // The end of the folder during a slideshow, whatever the key.
        {"last, running, loop off: stop", st(vk::Escape, 2, 3, true, 0, true, false),
         act(KeyAction::StopSlideshow)},
        {"last, running, loop on: first", st('A', 2, 3, true, 0, true, true), select(0)},
        {"last, running, Down loop on", st(vk::Down, 2, 3, false, 0, true, true), select(0)},
        {"last, stopped: Escape exits", st(vk::Escape, 2, 3, true, 0, false), act(KeyAction::Exit)},
        {"last, stopped: Down does nothing", st(vk::Down, 2, 3), none},
        // Nothing selected: Down shows the first picture; a key that selects
        // another shows only that one; Escape ends without showing any; others
        // show the first before they act.
        {"nothing selected, Down", st(vk::Down, -1, 3), select(0)},
        {"nothing selected, Down, one entry", st(vk::Down, -1, 1), select(0)},
        {"nothing selected, Page Up", st(vk::PageUp, -1, 3, false), select(0)},
        {"nothing selected, Page Down", st(vk::PageDown, -1, 50, false), select(20)},
        {"nothing selected, Up", st(vk::Up, -1, 3, false), {true, KeyAction::None, -1}},
        {"nothing selected, Escape", st(vk::Escape, -1, 3), act(KeyAction::Exit)},
        {"nothing selected, Ctrl+P", st(vk::P, -1, 3, true, CtrlMask), act(KeyAction::Print, true)},
        {"nothing selected, Delete", st(vk::Delete, -1, 3), act(KeyAction::MoveToTrash, true)},
        {"nothing selected, other key", st('X', -1, 3), {true, KeyAction::None, -1}},
        {"empty list, Down", st(vk::Down, -1, 0), none},
        // Paging by twenty, clamped, only with the panel hidden.
        {"5th, Page Down", st(vk::PageDown, 4, 50, false), select(24)},
        {"25th, Page Up", st(vk::PageUp, 24, 50, false), select(4)},
        {"5th, Page Up", st(vk::PageUp, 4, 50, false), select(0)},
        {"40th, Page Down", st(vk::PageDown, 39, 50, false), select(49)},
        {"Page Down, panel shown", st(vk::PageDown, 4, 50, true), none},
        {"Page Up, panel shown", st(vk::PageUp, 24, 50, true), none},
        // Up only with the panel hidden, Down always.
        {"Up, panel hidden", st(vk::Up, 3, 50, false), select(2)},
        {"Up, panel shown", st(vk::Up, 3, 50, true), none},
        {"Up on the first", st(vk::Up, 0, 50, false), none},
        {"Down, panel shown", st(vk::Down, 3, 50, true), select(4)},
        {"Shift+Down acts as Down", st(vk::Down, 3, 50, true, ShiftMask), select(4)},
        // The keys other viewers share: Right and Space as Down, Left and BackSpace as Up,
        // Home and End to the ends; all of them bare.
        {"Right", st(vk::Right, 3, 50, true), select(4)},
        {"Space", st(vk::Space, 3, 50, true), select(4)},
        {"Space on the last", st(vk::Space, 49, 50, true), none},
        {"Space, nothing selected", st(vk::Space, -1, 3), select(0)},
        {"Left, panel hidden", st(vk::Left, 3, 50, false), select(2)},
        {"BackSpace, panel hidden", st(vk::Backspace, 3, 50, false), select(2)},
        {"Left, panel shown", st(vk::Left, 3, 50, true), none},
        {"BackSpace on the first", st(vk::Backspace, 0, 50, false), none},
        {"Home", st(vk::Home, 30, 50, true), select(0)},
        {"End", st(vk::End, 3, 50, false), select(49)},
        {"End, nothing selected", st(vk::End, -1, 50), select(49)},
        {"End on an empty list", st(vk::End, -1, 0), none},
        {"Shift+Space", st(vk::Space, 3, 50, true, ShiftMask), none},
        {"Ctrl+Right", st(vk::Right, 3, 50, true, CtrlMask), none},
        {"Shift+End", st(vk::End, 3, 50, true, ShiftMask), none},
        {"last, running, Space loop off: stop", st(vk::Space, 2, 3, true, 0, true, false),
         act(KeyAction::StopSlideshow)},
        // Printing with Ctrl alone.
        {"Ctrl+P", st(vk::P, 0, 3, true, CtrlMask), act(KeyAction::Print)},
        {"Ctrl+F1", st(vk::F1, 0, 3, true, CtrlMask), act(KeyAction::Print)},
        {"Ctrl+Shift+P", st(vk::P, 0, 3, true, CtrlMask | ShiftMask), none},
        {"Alt+P", st(vk::P, 0, 3, true, AltMask), none},
        {"P", st(vk::P, 0, 3), none},
        {"Ctrl+P on an empty list", st(vk::P, -1, 0, true, CtrlMask), act(KeyAction::Print)},
        {"Escape", st(vk::Escape, 0, 3), act(KeyAction::Exit)},
        {"Escape on an empty list", st(vk::Escape, -1, 0), act(KeyAction::Exit)},
        {"Delete", st(vk::Delete, 1, 3), act(KeyAction::MoveToTrash)},
        {"Ctrl+Delete", st(vk::Delete, 1, 3, true, CtrlMask), act(KeyAction::MoveToTrash)},
        {"Shift+Delete", st(vk::Delete, 1, 3, true, ShiftMask), act(KeyAction::Delete)},
        {"Delete on an empty list", st(vk::Delete, -1, 0), none},
        {"other key", st('X', 1, 3), none},
        // The screensaver ignores every key, Escape too.
        {"screensaver Escape", st(vk::Escape, 0, 3, false, 0, true, true, true), none},
        {"screensaver Down", st(vk::Down, 0, 3, false, 0, true, true, true), none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyDecision d = decideKey(c.state);
        EXPECT_EQ(d.selectFirst, c.expected.selectFirst);
        EXPECT_EQ(static_cast<int>(d.action), static_cast<int>(c.expected.action));
        EXPECT_EQ(d.index, c.expected.index);
    }
}

TEST(KeyMap, FileListKeepsOnlyItsNavigationKeys) {
    for (int key : {vk::PageUp, vk::PageDown, vk::Up, vk::Down})
        EXPECT_TRUE(fileListKeepsKey(key)) << key;
    for (int key : {vk::Escape, vk::Delete, vk::P, vk::F1, 37, 39})
        EXPECT_FALSE(fileListKeepsKey(key)) << key;
}

TEST(KeyMap, MenuShortcutsAreTheMenusKeysAndLeaveTheWidgetsTheirOwn) {
    const struct {
        const char* name;
        int key;
        int shift;
        bool shortcut;
    } cases[] = {
        // What the menu shows beside its commands, with any shift state for the function keys.
        {"F1", vk::F1, 0, true},
        {"Ctrl+F1", vk::F1, CtrlMask, true},
        {"F2", vk::F2, 0, true},
        {"Ctrl+F2", vk::F2, CtrlMask, true},
        {"F3", vk::F3, 0, true},
        {"F4", vk::F4, 0, true},
        {"Alt+F4", vk::F4, AltMask, true},
        {"F5", vk::F5, 0, true},
        {"Shift+F5", vk::F5, ShiftMask, true},
        {"F9", vk::F9, 0, true},
        {"F12", vk::F12, 0, true},
        {"Ctrl+P", vk::P, CtrlMask, true},
        // Function keys the menu does not name.
        {"F6", vk::F1 + 5, 0, false},
        {"F8", vk::F1 + 7, 0, false},
        {"F10", vk::F1 + 9, 0, false},
        {"F11, as other viewers use it", vk::F11, 0, true},
        // P is a letter to type unless Ctrl alone goes with it.
        {"P", vk::P, 0, false},
        {"Shift+P", vk::P, ShiftMask, false},
        {"Ctrl+Shift+P", vk::P, CtrlMask | ShiftMask, false},
        {"Alt+P", vk::P, AltMask, false},
        // Keys the focused widget needs: typing, editing, list keys, Space and Enter.
        {"digit 2", '2', 0, false},
        {"letter A", 'A', 0, false},
        {"Ctrl+A", 'A', CtrlMask, false},
        {"Ctrl+V", 'V', CtrlMask, false},
        {"Backspace", 8, 0, false},
        {"Tab", 9, 0, false},
        {"Enter", 13, 0, false},
        {"Space", 32, 0, false},
        {"Home", 36, 0, false},
        {"Left", 37, 0, false},
        {"Down", vk::Down, 0, false},
        {"Page Down", vk::PageDown, 0, false},
        {"Delete", vk::Delete, 0, false},
        {"Escape", vk::Escape, 0, false},
        {"no key code", 0, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isMenuShortcut(c.key, c.shift), c.shortcut) << c.name;
}
