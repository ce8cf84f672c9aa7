// The console input record: one key or mouse event, passed unchanged from the
// terminal back end to the main loop, the sessions, the line editors and the
// key map. Field names, constants and virtual-key codes keep the Windows
// vocabulary so that key tables written against those names read one to one.
#pragma once

#include <cstdint>

// EventType values.
constexpr std::uint16_t KEY_EVENT = 0x0001;
constexpr std::uint16_t MOUSE_EVENT = 0x0002;
constexpr std::uint16_t WINDOW_BUFFER_SIZE_EVENT = 0x0004;
constexpr std::uint16_t MENU_EVENT = 0x0008;
constexpr std::uint16_t FOCUS_EVENT = 0x0010;

// dwControlKeyState bits (key and mouse events).
constexpr std::uint32_t RIGHT_ALT_PRESSED = 0x0001;
constexpr std::uint32_t LEFT_ALT_PRESSED = 0x0002;
constexpr std::uint32_t RIGHT_CTRL_PRESSED = 0x0004;
constexpr std::uint32_t LEFT_CTRL_PRESSED = 0x0008;
constexpr std::uint32_t SHIFT_PRESSED = 0x0010;
constexpr std::uint32_t NUMLOCK_ON = 0x0020;
constexpr std::uint32_t SCROLLLOCK_ON = 0x0040;
constexpr std::uint32_t CAPSLOCK_ON = 0x0080;
constexpr std::uint32_t ENHANCED_KEY = 0x0100;

// Convenience masks: either ALT, either CTRL.
constexpr std::uint32_t ALT_PRESSED = RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED;
constexpr std::uint32_t CTRL_PRESSED = RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED;

// dwButtonState bits.
constexpr std::uint32_t FROM_LEFT_1ST_BUTTON_PRESSED = 0x0001;
constexpr std::uint32_t RIGHTMOST_BUTTON_PRESSED = 0x0002;
constexpr std::uint32_t FROM_LEFT_2ND_BUTTON_PRESSED = 0x0004;
constexpr std::uint32_t FROM_LEFT_3RD_BUTTON_PRESSED = 0x0008;
constexpr std::uint32_t FROM_LEFT_4TH_BUTTON_PRESSED = 0x0010;

// dwEventFlags values; 0 means a button was pressed or released.
constexpr std::uint32_t MOUSE_MOVED = 0x0001;
constexpr std::uint32_t DOUBLE_CLICK = 0x0002;
constexpr std::uint32_t MOUSE_WHEELED = 0x0004;
constexpr std::uint32_t MOUSE_HWHEELED = 0x0008;

// Virtual-key codes. Digits and letters are their ASCII codes ('0'..'9',
// 'A'..'Z') and have no named constant, as on Windows.
constexpr std::uint16_t VK_LBUTTON = 0x01;
constexpr std::uint16_t VK_RBUTTON = 0x02;
constexpr std::uint16_t VK_CANCEL = 0x03;
constexpr std::uint16_t VK_MBUTTON = 0x04;
constexpr std::uint16_t VK_BACK = 0x08;
constexpr std::uint16_t VK_TAB = 0x09;
constexpr std::uint16_t VK_CLEAR = 0x0C;
constexpr std::uint16_t VK_RETURN = 0x0D;
constexpr std::uint16_t VK_SHIFT = 0x10;
constexpr std::uint16_t VK_CONTROL = 0x11;
constexpr std::uint16_t VK_MENU = 0x12;
constexpr std::uint16_t VK_PAUSE = 0x13;
constexpr std::uint16_t VK_CAPITAL = 0x14;
constexpr std::uint16_t VK_ESCAPE = 0x1B;
constexpr std::uint16_t VK_SPACE = 0x20;
constexpr std::uint16_t VK_PRIOR = 0x21;
constexpr std::uint16_t VK_NEXT = 0x22;
constexpr std::uint16_t VK_END = 0x23;
constexpr std::uint16_t VK_HOME = 0x24;
constexpr std::uint16_t VK_LEFT = 0x25;
constexpr std::uint16_t VK_UP = 0x26;
constexpr std::uint16_t VK_RIGHT = 0x27;
constexpr std::uint16_t VK_DOWN = 0x28;
constexpr std::uint16_t VK_SELECT = 0x29;
constexpr std::uint16_t VK_PRINT = 0x2A;
constexpr std::uint16_t VK_EXECUTE = 0x2B;
constexpr std::uint16_t VK_SNAPSHOT = 0x2C;
constexpr std::uint16_t VK_INSERT = 0x2D;
constexpr std::uint16_t VK_DELETE = 0x2E;
constexpr std::uint16_t VK_HELP = 0x2F;
constexpr std::uint16_t VK_LWIN = 0x5B;
constexpr std::uint16_t VK_RWIN = 0x5C;
constexpr std::uint16_t VK_APPS = 0x5D;
constexpr std::uint16_t VK_NUMPAD0 = 0x60;
constexpr std::uint16_t VK_NUMPAD1 = 0x61;
constexpr std::uint16_t VK_NUMPAD2 = 0x62;
constexpr std::uint16_t VK_NUMPAD3 = 0x63;
constexpr std::uint16_t VK_NUMPAD4 = 0x64;
constexpr std::uint16_t VK_NUMPAD5 = 0x65;
constexpr std::uint16_t VK_NUMPAD6 = 0x66;
constexpr std::uint16_t VK_NUMPAD7 = 0x67;
constexpr std::uint16_t VK_NUMPAD8 = 0x68;
constexpr std::uint16_t VK_NUMPAD9 = 0x69;
constexpr std::uint16_t VK_MULTIPLY = 0x6A;
constexpr std::uint16_t VK_ADD = 0x6B;
constexpr std::uint16_t VK_SEPARATOR = 0x6C;
constexpr std::uint16_t VK_SUBTRACT = 0x6D;
constexpr std::uint16_t VK_DECIMAL = 0x6E;
constexpr std::uint16_t VK_DIVIDE = 0x6F;
constexpr std::uint16_t VK_F1 = 0x70;
constexpr std::uint16_t VK_F2 = 0x71;
constexpr std::uint16_t VK_F3 = 0x72;
constexpr std::uint16_t VK_F4 = 0x73;
constexpr std::uint16_t VK_F5 = 0x74;
constexpr std::uint16_t VK_F6 = 0x75;
constexpr std::uint16_t VK_F7 = 0x76;
constexpr std::uint16_t VK_F8 = 0x77;
constexpr std::uint16_t VK_F9 = 0x78;
constexpr std::uint16_t VK_F10 = 0x79;
constexpr std::uint16_t VK_F11 = 0x7A;
constexpr std::uint16_t VK_F12 = 0x7B;
constexpr std::uint16_t VK_F13 = 0x7C;
constexpr std::uint16_t VK_F14 = 0x7D;
constexpr std::uint16_t VK_F15 = 0x7E;
constexpr std::uint16_t VK_F16 = 0x7F;
constexpr std::uint16_t VK_F17 = 0x80;
constexpr std::uint16_t VK_F18 = 0x81;
constexpr std::uint16_t VK_F19 = 0x82;
constexpr std::uint16_t VK_F20 = 0x83;
constexpr std::uint16_t VK_F21 = 0x84;
constexpr std::uint16_t VK_F22 = 0x85;
constexpr std::uint16_t VK_F23 = 0x86;
constexpr std::uint16_t VK_F24 = 0x87;
constexpr std::uint16_t VK_NUMLOCK = 0x90;
constexpr std::uint16_t VK_SCROLL = 0x91;
constexpr std::uint16_t VK_LSHIFT = 0xA0;
constexpr std::uint16_t VK_RSHIFT = 0xA1;
constexpr std::uint16_t VK_LCONTROL = 0xA2;
constexpr std::uint16_t VK_RCONTROL = 0xA3;
constexpr std::uint16_t VK_LMENU = 0xA4;
constexpr std::uint16_t VK_RMENU = 0xA5;
constexpr std::uint16_t VK_OEM_1 = 0xBA;       // ;:
constexpr std::uint16_t VK_OEM_PLUS = 0xBB;    // =+
constexpr std::uint16_t VK_OEM_COMMA = 0xBC;   // ,<
constexpr std::uint16_t VK_OEM_MINUS = 0xBD;   // -_
constexpr std::uint16_t VK_OEM_PERIOD = 0xBE;  // .>
constexpr std::uint16_t VK_OEM_2 = 0xBF;       // /?
constexpr std::uint16_t VK_OEM_3 = 0xC0;       // `~
constexpr std::uint16_t VK_OEM_4 = 0xDB;       // [{
constexpr std::uint16_t VK_OEM_5 = 0xDC;       // \|
constexpr std::uint16_t VK_OEM_6 = 0xDD;       // ]}
constexpr std::uint16_t VK_OEM_7 = 0xDE;       // '"
constexpr std::uint16_t VK_OEM_102 = 0xE2;

struct COORD {
    std::int16_t X;
    std::int16_t Y;
};

struct KEY_EVENT_RECORD {
    std::int32_t bKeyDown;  // nonzero for a press (or auto-repeat), 0 for a release
    std::uint16_t wRepeatCount;
    std::uint16_t wVirtualKeyCode;
    std::uint16_t wVirtualScanCode;
    // The program reads only AsciiChar: one byte in the console code page
    // (CP866), or 0 for keys that carry no character.
    union {
        std::uint16_t UnicodeChar;
        char AsciiChar;
    } uChar;
    std::uint32_t dwControlKeyState;
};

struct MOUSE_EVENT_RECORD {
    COORD dwMousePosition;  // cell column and row, 0-based
    std::uint32_t dwButtonState;
    std::uint32_t dwControlKeyState;
    std::uint32_t dwEventFlags;
};

struct WINDOW_BUFFER_SIZE_RECORD {
    COORD dwSize;
};

struct FOCUS_EVENT_RECORD {
    std::int32_t bSetFocus;
};

struct INPUT_RECORD {
    std::uint16_t EventType;
    union {
        KEY_EVENT_RECORD KeyEvent;
        MOUSE_EVENT_RECORD MouseEvent;
        WINDOW_BUFFER_SIZE_RECORD WindowBufferSizeEvent;
        FOCUS_EVENT_RECORD FocusEvent;
    } Event;
};

// The 8-bit character of a key event as an unsigned value (AsciiChar is a
// plain char, signed on most targets).
inline unsigned char KeyChar(const INPUT_RECORD& record) {
    return static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar);
}

// Builders for the back ends and for tests; every other field is zero.
inline INPUT_RECORD MakeKeyEvent(bool down, std::uint16_t vk, unsigned char ch,
                                 std::uint32_t state = 0) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down ? 1 : 0;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.uChar.UnicodeChar = 0;
    r.Event.KeyEvent.uChar.AsciiChar = static_cast<char>(ch);
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}

inline INPUT_RECORD MakeMouseEvent(int x, int y, std::uint32_t buttons, std::uint32_t flags,
                                   std::uint32_t state = 0) {
    INPUT_RECORD r{};
    r.EventType = MOUSE_EVENT;
    r.Event.MouseEvent.dwMousePosition.X = static_cast<std::int16_t>(x);
    r.Event.MouseEvent.dwMousePosition.Y = static_cast<std::int16_t>(y);
    r.Event.MouseEvent.dwButtonState = buttons;
    r.Event.MouseEvent.dwControlKeyState = state;
    r.Event.MouseEvent.dwEventFlags = flags;
    return r;
}
