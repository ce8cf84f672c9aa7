#include "app/hot_keys.h"

THotKey ClassifyHotKey(const INPUT_RECORD& record, int& index) {
    index = -1;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return THotKey::None;
    const std::uint16_t vk = record.Event.KeyEvent.wVirtualKeyCode;
    const bool alt = (record.Event.KeyEvent.dwControlKeyState & ALT_PRESSED) != 0;
    if (vk == VK_ESCAPE) return THotKey::Escape;
    if (!alt) return THotKey::None;
    if (vk >= VK_F1 && vk <= VK_F12) {
        index = vk - VK_F1;
        return THotKey::SwitchTo;
    }
    switch (vk) {
        case 'N':
            return THotKey::Next;
        case 'P':
            return THotKey::Previous;
        case 'T':
            return THotKey::StatusLine;
        case 'A':
            return THotKey::NewSession;
        default:
            return THotKey::None;
    }
}
