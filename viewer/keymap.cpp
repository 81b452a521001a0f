#include "viewer/keymap.h"

#include <algorithm>

#include <QKeyEvent>

namespace tavlin {

int virtualKeyOf(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 'A' + (key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return '0' + (key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return vk::F1 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_Escape:
        return vk::Escape;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return vk::PageUp;
    case Qt::Key_PageDown:
        return vk::PageDown;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return vk::Up;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return vk::Down;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return vk::Delete;
    default:
        return 0;
    }
}

int shiftStateOf(const QInputEvent& event) {
    const Qt::KeyboardModifiers m = event.modifiers();
    return (m & Qt::ShiftModifier ? ShiftMask : 0) | (m & Qt::ControlModifier ? CtrlMask : 0) |
           (m & Qt::AltModifier ? AltMask : 0);
}

namespace {
// Right and Space step on as Down does, Left and BackSpace back as Up does, without a
// shift key; Down and Up with any.
bool isDown(int key, int shift) {
    return key == vk::Down || ((key == vk::Right || key == vk::Space) && shift == 0);
}
bool isUp(int key, int shift) {
    return key == vk::Up || ((key == vk::Left || key == vk::Backspace) && shift == 0);
}
} // namespace

KeyDecision decideKey(const KeyState& s) {
    KeyDecision d;
    if (s.screensaver)
        return d; // keys never end the screensaver
    // The last picture of a running slideshow: any key ends or restarts the round.
    if (s.count > 0 && s.selected == s.count - 1 && s.slideshowRunning) {
        if (s.loop) {
            d.action = KeyAction::Select;
            d.index = 0;
        } else {
            d.action = KeyAction::StopSlideshow;
        }
        return d;
    }
    std::int64_t i = s.selected;
    const bool noneSelected = i == -1 && s.count > 0;
    if (noneSelected) {
        // Down then walks from the first picture rather than past it.
        if (isDown(s.key, s.shift))
            return {false, KeyAction::Select, 0};
        // The way out shows nothing on its way.
        if (s.key == vk::Escape)
            return {false, KeyAction::Exit, -1};
        d.selectFirst = true;
        i = 0;
    }
    // A key that selects another picture replaces the first one: only the picture
    // that stays on screen is shown.
    auto select = [&](std::int64_t index) {
        d.selectFirst = false;
        d.action = KeyAction::Select;
        d.index = index;
        return d;
    };
    if ((s.key == vk::P || s.key == vk::F1) && s.shift == CtrlMask) {
        d.action = KeyAction::Print;
        return d;
    }
    if (s.key == vk::PageUp) {
        if (s.panelShown || s.count == 0)
            return d;
        return select(std::max<std::int64_t>(i - 20, 0));
    }
    if (s.key == vk::PageDown) {
        if (s.panelShown || s.count == 0)
            return d;
        return select(i + 20 < s.count ? i + 20 : s.count - 1);
    }
    if ((s.key == vk::Home || s.key == vk::End) && s.shift == 0) {
        if (s.count == 0)
            return d;
        return select(s.key == vk::Home ? 0 : s.count - 1);
    }
    if (isUp(s.key, s.shift) && i > 0)
        return s.panelShown ? d : select(i - 1);
    if (isDown(s.key, s.shift) && i < s.count - 1)
        return select(i + 1);
    if (s.key == vk::Escape) {
        d.action = KeyAction::Exit;
        return d;
    }
    if (s.key == vk::Delete && s.count > 0) {
        d.action = s.shift == ShiftMask ? KeyAction::Delete : KeyAction::MoveToTrash;
        return d;
    }
    return d;
}

bool fileListKeepsKey(int key) {
    return key == vk::PageUp || key == vk::PageDown || key == vk::Up || key == vk::Down;
}

bool isMenuShortcut(int key, int shift) {
    switch (key) {
    case vk::F1:
    case vk::F2:
    case vk::F3:
    case vk::F4:
    case vk::F5:
    case vk::F9:
    case vk::F11:
    case vk::F12:
        return true;
    case vk::P:
        return shift == CtrlMask;
    default:
        return false;
    }
}

bool isViewerKey(int key, int shift) {
    if (shift != 0)
        return false;
    switch (key) {
    case vk::Right:
    case vk::Space:
    case vk::Left:
    case vk::Backspace:
    case vk::Home:
    case vk::End:
        return true;
    default:
        return false;
    }
}

bool panelWidgetKeepsKey(PanelWidget widget, int key) {
    switch (widget) {
    case PanelWidget::TextBox:
        return true;
    case PanelWidget::ScrollBar:
        return key == vk::Left || key == vk::Right || key == vk::Home || key == vk::End;
    case PanelWidget::Button:
        return key == vk::Space;
    case PanelWidget::DropDown:
    case PanelWidget::List:
        return key == vk::Home || key == vk::End;
    }
    return true;
}

} // namespace tavlin
