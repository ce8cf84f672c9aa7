#include "platform/cp866.h"

namespace {

// Low half: ASCII, with the classic PC symbols for the control codes.
constexpr char16_t kLow[32] = {0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
                               0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
                               0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
                               0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

// 0xB0..0xDF: shades, box drawing and blocks.
constexpr char16_t kBox[48] = {
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580};

// 0xF0..0xFF.
constexpr char16_t kTail[16] = {0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
                                0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0};

}  // namespace

char32_t Cp866ToUnicode(unsigned char b) {
    if (b < 0x20) return kLow[b];
    if (b < 0x7F) return b;
    if (b == 0x7F) return 0x2302;
    if (b < 0xB0) return 0x0410 + (b - 0x80);  // А..Я, а..п
    if (b < 0xE0) return kBox[b - 0xB0];
    if (b < 0xF0) return 0x0440 + (b - 0xE0);  // р..я
    return kTail[b - 0xF0];
}

int UnicodeToCp866(char32_t code) {
    if (code < 0x80) return static_cast<int>(code);
    if (code >= 0x0410 && code <= 0x043F) return 0x80 + static_cast<int>(code - 0x0410);
    if (code >= 0x0440 && code <= 0x044F) return 0xE0 + static_cast<int>(code - 0x0440);
    for (int i = 0; i < 48; ++i)
        if (kBox[i] == code) return 0xB0 + i;
    for (int i = 0; i < 16; ++i)
        if (kTail[i] == code) return 0xF0 + i;
    if (code == 0x2302) return 0x7F;
    // The symbols of the control codes map back to their glyph bytes only
    // when drawn; typed, they are ordinary characters without a CP866 byte.
    return -1;
}

int Cp866GlyphCell(char32_t code) {
    if (code >= 0x80) {
        const int mapped = UnicodeToCp866(code);
        if (mapped >= 0) return mapped;
    }
    for (int i = 1; i < 32; ++i)
        if (kLow[i] == code) return i;
    return code >= 0x20 && code < 0x7F ? static_cast<int>(code) : -1;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string Cp866ToUtf8(std::string_view text, bool crToLf) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char ch : text) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if (b < 0x20)
            out.push_back(crToLf && b == '\r' ? '\n' : ch);  // control codes pass as such
        else
            AppendUtf8(out, Cp866ToUnicode(b));
    }
    return out;
}

std::string Utf8ToCp866(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        int len = 0;
        char32_t code = 0;
        if (b < 0x80) {
            len = 1;
            code = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
            code = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            code = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            code = b & 0x07;
        } else {
            ++i;  // stray continuation or invalid lead byte
            continue;
        }
        if (i + len > text.size()) break;
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            code = (code << 6) | (c & 0x3F);
        }
        if (!ok) {
            ++i;
            continue;
        }
        i += len;
        const int mapped = UnicodeToCp866(code);
        if (mapped >= 0) out.push_back(static_cast<char>(mapped));
    }
    return out;
}
