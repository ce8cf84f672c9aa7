// Keys as the app and session case files write them.
#pragma once

#include <cctype>
#include <map>
#include <string>

#include "platform/input_record.h"

// A character as its own key, a letter as its capital's.
inline INPUT_RECORD Char(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool key = std::isalnum(u) || c == ' ';
    return MakeKeyEvent(true, key ? static_cast<std::uint16_t>(std::toupper(u)) : 0, u,
                        std::isupper(u) ? SHIFT_PRESSED : 0);
}

// [U-][A-][R-][C-][S-]NAME: a release, left ALT, right ALT, left CTRL, SHIFT,
// and a character, a key name, F1..F12, or MOUSE for a left button press.
inline INPUT_RECORD ParseKey(std::string name) {
    const std::string kMods = "UARCS";
    const std::uint32_t kBits[] = {0, LEFT_ALT_PRESSED, RIGHT_ALT_PRESSED, LEFT_CTRL_PRESSED,
                                   SHIFT_PRESSED};
    std::uint32_t state = 0;
    const bool down = name.rfind("U-", 0) != 0;
    for (; name.size() > 2 && name[1] == '-'; name.erase(0, 2)) state |= kBits[kMods.find(name[0])];
    static const std::map<std::string, std::uint16_t> kKeys = {
        {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"BACK", VK_BACK},     {"TAB", VK_TAB},
        {"SHIFT", VK_SHIFT},   {"SCROLL", VK_SCROLL}, {"INSERT", VK_INSERT}, {"UP", VK_UP},
        {"DOWN", VK_DOWN},     {"LEFT", VK_LEFT},     {"HOME", VK_HOME},     {"END", VK_END},
        {"PRIOR", VK_PRIOR},   {"NEXT", VK_NEXT}};
    if (name == "MOUSE") return MakeMouseEvent(3, 3, FROM_LEFT_1ST_BUTTON_PRESSED, 0);
    const bool f =
        name.size() > 1 && name[0] == 'F' && std::isdigit(static_cast<unsigned char>(name[1]));
    // The keys named here that give a character give their own code.
    const std::uint16_t vk = f ? static_cast<std::uint16_t>(VK_F1 + std::stoi(name.substr(1)) - 1)
                             : name.size() > 1 ? kKeys.at(name)
                                               : 0;
    INPUT_RECORD key =
        name.size() == 1 ? Char(name[0]) : MakeKeyEvent(true, vk, vk < 0x20 && !f ? vk : 0);
    key.Event.KeyEvent.bKeyDown = down;
    key.Event.KeyEvent.dwControlKeyState |= state;
    // With ALT or CTRL held a letter key gives no character.
    if (state & (ALT_PRESSED | CTRL_PRESSED)) key.Event.KeyEvent.uChar.AsciiChar = 0;
    return key;
}
