// Keys as case files write them.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

#include "console/input_decoder.h"
#include "platform/input_record.h"

// A letter or digit stands for its own key; other keys are named as their
// VK_ constant, with or without the prefix ("UP", "VK_F5"), or in hex.
inline std::uint16_t KeyCode(std::string name) {
    if (name.rfind("VK_", 0) == 0) name.erase(0, 3);
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<std::uint16_t>(std::toupper(static_cast<unsigned char>(name[0])));
    static const std::pair<const char*, std::uint16_t> kNames[] = {
        {"BACK", VK_BACK},     {"TAB", VK_TAB},           {"RETURN", VK_RETURN},
        {"SHIFT", VK_SHIFT},   {"ESCAPE", VK_ESCAPE},     {"SPACE", VK_SPACE},
        {"PRIOR", VK_PRIOR},   {"NEXT", VK_NEXT},         {"END", VK_END},
        {"HOME", VK_HOME},     {"LEFT", VK_LEFT},         {"UP", VK_UP},
        {"RIGHT", VK_RIGHT},   {"DOWN", VK_DOWN},         {"INSERT", VK_INSERT},
        {"DELETE", VK_DELETE}, {"DECIMAL", VK_DECIMAL},   {"SCROLL", VK_SCROLL},
        {"OEM_1", VK_OEM_1},   {"OEM_2", VK_OEM_2},       {"OEM_4", VK_OEM_4},
        {"OEM_6", VK_OEM_6},   {"PACKET", VK_PACKET},     {"MULTIPLY", VK_MULTIPLY},
        {"ADD", VK_ADD},       {"SUBTRACT", VK_SUBTRACT},
    };
    for (const auto& [n, code] : kNames) {
        if (name == n) return code;
    }
    if (name.size() > 1 && name[0] == 'F' && std::isdigit(static_cast<unsigned char>(name[1])))
        return static_cast<std::uint16_t>(VK_F1 + std::stoi(name.substr(1)) - 1);
    return static_cast<std::uint16_t>(std::stoul(name, nullptr, 16));
}

// Modifier letters: S shift, C left CTRL, A left ALT, R right ALT, N num
// lock; "-" for none.
inline std::uint32_t Modifiers(const std::string& letters) {
    const std::string kLetters = "SCARN";
    const std::uint32_t kBits[] = {SHIFT_PRESSED, LEFT_CTRL_PRESSED, LEFT_ALT_PRESSED,
                                   RIGHT_ALT_PRESSED, NUMLOCK_ON};
    std::uint32_t state = 0;
    for (char c : letters) {
        if (kLetters.find(c) != std::string::npos) state |= kBits[kLetters.find(c)];
    }
    return state;
}
