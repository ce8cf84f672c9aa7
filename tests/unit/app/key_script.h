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

// [U-][A-][R-][C-][S-]NAME: a release, left ALT, right ALT, left CTRL, SHIFT, and
// a character, a key name, F1..F12, or MOUSE for a left button press.
inline INPUT_RECORD ParseKey(std::string name) {
    static const std::map<char, std::uint32_t> kStates = {{'A', LEFT_ALT_PRESSED},
                                                          {'R', RIGHT_ALT_PRESSED},
                                                          {'C', LEFT_CTRL_PRESSED},
                                                          {'S', SHIFT_PRESSED},
                                                          {'U', 0}};
    std::uint32_t state = 0;
    bool down = true;
    for (; name.size() > 2 && name[1] == '-'; name.erase(0, 2)) {
        state |= kStates.at(name[0]);
        down = down && name[0] != 'U';
    }
    static const std::map<std::string, std::pair<std::uint16_t, unsigned char>> kKeys = {
        {"RETURN", {VK_RETURN, '\r'}},
        {"ESCAPE", {VK_ESCAPE, 27}},
        {"BACK", {VK_BACK, 8}},
        {"SHIFT", {VK_SHIFT, 0}},
        {"SCROLL", {VK_SCROLL, 0}},
        {"INSERT", {VK_INSERT, 0}},
        {"UP", {VK_UP, 0}},
        {"DOWN", {VK_DOWN, 0}},
        {"LEFT", {VK_LEFT, 0}},
        {"HOME", {VK_HOME, 0}},
        {"END", {VK_END, 0}},
        {"PRIOR", {VK_PRIOR, 0}},
        {"NEXT", {VK_NEXT, 0}},
        {"TAB", {VK_TAB, 9}},
        {"CYRILLIC", {0xC0, 0x80}}};
    if (name == "MOUSE") return MakeMouseEvent(3, 3, FROM_LEFT_1ST_BUTTON_PRESSED, 0);
    INPUT_RECORD key =
        name.size() == 1 ? Char(name[0])
        : name[0] == 'F' && std::isdigit(static_cast<unsigned char>(name[1]))
            ? MakeKeyEvent(true, static_cast<std::uint16_t>(VK_F1 + std::stoi(name.substr(1)) - 1),
                           0, 0)
            : MakeKeyEvent(true, kKeys.at(name).first, kKeys.at(name).second, 0);
    key.Event.KeyEvent.bKeyDown = down;
    key.Event.KeyEvent.dwControlKeyState |= state;
    // With ALT or CTRL held a letter key gives no character.
    if (state & (ALT_PRESSED | CTRL_PRESSED)) key.Event.KeyEvent.uChar.AsciiChar = 0;
    return key;
}
