#include "term/termcap_value.h"

namespace {

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

}  // namespace

std::string DecodeTermcapValue(const std::string& value) {
    size_t i = 0;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') ++i;
    if (i < value.size() && value[i] == '*' && i + 1 < value.size()) {
        ++i;
    } else {
        i = 0;
    }

    std::string out;
    out.reserve(value.size());
    while (i < value.size()) {
        char c = value[i++];
        if (c == '^' && i < value.size()) {
            unsigned char x = static_cast<unsigned char>(value[i++]);
            // Termcap files write DEL as ^? and sometimes lower-case control
            // letters; both mean what a terminal sends for them.
            if (x == '?') {
                out += '\x7f';
            } else if (x >= 'a' && x <= 'z') {
                out += static_cast<char>(x - 0x60);
            } else {
                out += static_cast<char>(static_cast<unsigned char>(x - 0x40));
            }
        } else if (c == '\\' && i < value.size()) {
            char x = value[i++];
            if (IsOctal(x)) {
                unsigned v = static_cast<unsigned>(x - '0');
                while (i < value.size() && IsOctal(value[i])) {
                    v = (v * 8 + static_cast<unsigned>(value[i++] - '0')) & 0xFF;
                }
                out += static_cast<char>(v);
            } else if (x == 'E') {
                out += '\x1b';
            } else {
                out += x;
            }
        } else {
            out += c;
        }
    }
    return out;
}
