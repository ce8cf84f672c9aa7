#include "console/key_table.h"

namespace {

bool IsFunctionKey(std::uint16_t vk) {
    return vk >= VK_F1 && vk <= VK_F12;
}
bool IsArrow(std::uint16_t vk) {
    return vk >= VK_LEFT && vk <= VK_DOWN;
}
// HOME, END, PAGE UP, PAGE DOWN.
bool IsPaging(std::uint16_t vk) {
    return vk == VK_HOME || vk == VK_END || vk == VK_PRIOR || vk == VK_NEXT;
}
bool IsKeypadDigit(std::uint16_t vk) {
    return vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9;
}
bool IsLetter(std::uint16_t vk) {
    return vk >= 'A' && vk <= 'Z';
}
bool IsDigit(std::uint16_t vk) {
    return vk >= '0' && vk <= '9';
}

bool IsModifierKey(std::uint16_t vk) {
    switch (vk) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_NUMLOCK:
        case VK_SCROLL:
        case VK_LSHIFT:
        case VK_RSHIFT:
        case VK_LCONTROL:
        case VK_RCONTROL:
        case VK_LMENU:
        case VK_RMENU:
            return true;
        default:
            return false;
    }
}

unsigned char Plain(std::uint16_t vk, unsigned char own, bool numLock) {
    switch (vk) {
        case VK_BACK:
            return 0;
        case VK_TAB:
            return 9;
        case VK_RETURN:
            return 13;
        case VK_ESCAPE:
            return 27;
        case VK_SPACE:
            return 32;
        case VK_INSERT:
        case VK_CLEAR:
        case VK_MULTIPLY:
        case VK_ADD:
        case VK_SUBTRACT:
            return 0;
        case VK_DELETE:
            return numLock ? own : 0;
        case VK_DECIMAL:
            return numLock ? '.' : 0;
        default:
            if (IsFunctionKey(vk) || IsArrow(vk) || IsPaging(vk)) return 0;
            return own;
    }
}

unsigned char Ctrl(std::uint16_t vk, unsigned char own, bool alt) {
    if (IsLetter(vk)) return static_cast<unsigned char>(vk - 'A' + 1);
    if (IsDigit(vk) || IsFunctionKey(vk)) return 0;
    switch (vk) {
        case VK_BACK:
        case VK_INSERT:
        case VK_DELETE:
        case VK_NUMPAD0:
        case VK_DECIMAL:
            return 0;
        case VK_TAB:
        case VK_RETURN:
        case VK_OEM_4:
        case VK_OEM_6:
        case VK_OEM_COMMA:
        case VK_OEM_PERIOD:
        case VK_OEM_5:
        case VK_ADD:
        case VK_SUBTRACT:
            return own;
        default:
            if (IsArrow(vk) || IsPaging(vk) || (vk >= VK_NUMPAD1 && vk <= VK_NUMPAD9)) return own;
            return alt ? 0 : own;
    }
}

unsigned char CtrlShift(std::uint16_t vk, unsigned char own, bool alt) {
    if (IsDigit(vk) || IsLetter(vk) || IsArrow(vk) || IsPaging(vk) || vk == VK_INSERT ||
        IsKeypadDigit(vk) || vk == VK_ADD || vk == VK_SUBTRACT)
        return 0;
    return Ctrl(vk, own, alt);
}

unsigned char Shift(std::uint16_t vk, unsigned char own) {
    if (IsFunctionKey(vk) || IsArrow(vk) || IsPaging(vk) || IsKeypadDigit(vk)) return 0;
    switch (vk) {
        case VK_TAB:
        case VK_RETURN:
        case VK_INSERT:
        case VK_DELETE:
        case VK_DECIMAL:
        case VK_ADD:
        case VK_SUBTRACT:
            return 0;
        default:
            return own;
    }
}

}  // namespace

void NormaliseKeyEvent(INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT) return;
    KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const unsigned char own = static_cast<unsigned char>(key.uChar.AsciiChar);
    unsigned char result = 0;
    if (key.bKeyDown && !IsModifierKey(key.wVirtualKeyCode)) {
        const std::uint32_t state = key.dwControlKeyState;
        const std::uint16_t vk = key.wVirtualKeyCode;
        bool ctrl = (state & CTRL_PRESSED) != 0;
        const bool alt = (state & ALT_PRESSED) != 0;
        const bool shift = (state & SHIFT_PRESSED) != 0;
        const bool altGr = (state & RIGHT_ALT_PRESSED) && (state & LEFT_CTRL_PRESSED);
        if (altGr && own != 0) {
            result = own;
        } else {
            if (altGr) ctrl = false;
            if (ctrl && shift)
                result = CtrlShift(vk, own, alt);
            else if (ctrl)
                result = Ctrl(vk, own, alt);
            else if (alt)
                result = 0;
            else if (shift)
                result = Shift(vk, own);
            else
                result = Plain(vk, own, (state & NUMLOCK_ON) != 0);
        }
    }
    key.uChar.UnicodeChar = 0;
    key.uChar.AsciiChar = static_cast<char>(result);
}
