#include <cstring>

#include "base/exception.h"
#include "term/termcap.h"

namespace {

struct KeyName {
    const char* name;
    std::uint16_t code;
};

const KeyName kKeyNames[] = {
    {"VK_TAB", 0x09},    {"VK_RETURN", 0x0D}, {"VK_BACK", 0x08},  {"VK_UP", 0x26},
    {"VK_DOWN", 0x28},   {"VK_LEFT", 0x25},   {"VK_RIGHT", 0x27}, {"VK_PRIOR", 0x21},
    {"VK_NEXT", 0x22},   {"VK_HOME", 0x24},   {"VK_END", 0x23},   {"VK_DELETE", 0x2E},
    {"VK_INSERT", 0x2D}, {"VK_F1", 0x70},     {"VK_F2", 0x71},    {"VK_F3", 0x72},
    {"VK_F4", 0x73},     {"VK_F5", 0x74},     {"VK_F6", 0x75},    {"VK_F7", 0x76},
    {"VK_F8", 0x77},     {"VK_F9", 0x78},     {"VK_F10", 0x79},   {"VK_F11", 0x7A},
    {"VK_F12", 0x7B},
};

struct ModifierMark {
    const char* mark;
    std::uint32_t bits;
};

const ModifierMark kMarks[] = {
    {"_SS_", SHIFT_PRESSED}, {"_LC_", LEFT_CTRL_PRESSED}, {"_RC_", RIGHT_CTRL_PRESSED},
    {"_CC_", CTRL_PRESSED},  {"_LA_", LEFT_ALT_PRESSED},  {"_RA_", RIGHT_ALT_PRESSED},
    {"_AA_", ALT_PRESSED},
};

// The three groups a binding's modifiers are checked in.
const std::uint32_t kGroups[] = {SHIFT_PRESSED, CTRL_PRESSED, ALT_PRESSED};

}  // namespace

void TTermcap::AssignToKeyList() {
    KeyList.clear();
    for (const auto& [name, value] : Capabilities) {
        if (name.compare(0, 2, "K_") != 0) continue;
        TKeyEntry entry;
        for (const ModifierMark& m : kMarks) {
            if (name.find(m.mark) != std::string::npos) entry.Modifiers |= m.bits;
        }
        int code = -1;
        size_t longest = 0;
        for (const KeyName& k : kKeyNames) {
            const std::string pattern = std::string("_") + k.name;
            if (name.find(pattern) != std::string::npos && pattern.size() > longest) {
                longest = pattern.size();
                code = k.code;
            }
        }
        if (name.size() >= 2 && name[name.size() - 2] == '_') {
            code = static_cast<unsigned char>(name.back());
        }
        if (code < 0) ThrowError("TTermcap::AssignToKeyList. Unknown key in: %s.", name.c_str());
        entry.Code = static_cast<std::uint16_t>(code);
        entry.Value = value;
        KeyList.push_back(std::move(entry));
    }
}

std::string TTermcap::FindKeyBinding(const KEY_EVENT_RECORD& key) const {
    for (const TKeyEntry& e : KeyList) {
        if (e.Code != key.wVirtualKeyCode) continue;
        bool match = true;
        for (std::uint32_t group : kGroups) {
            std::uint32_t wanted = e.Modifiers & group;
            if (wanted != 0 && (key.dwControlKeyState & wanted) == 0) match = false;
        }
        if (match) return e.Value;
    }
    return std::string();
}
