#include "term/acs_table.h"

namespace {

struct GlyphEntry {
    char vt100;
    unsigned char cp866;
};

// Code page 866 shares the IBM box-drawing block with code page 437; symbols
// it lacks (pi, not-equal, pound, plus-minus ...) get the nearest ASCII.
// Nothing maps below 0x0E except where the console prints the byte.
const GlyphEntry kGlyphs[] = {
    {'+', 0x10}, {',', 0x11}, {'-', 0x18}, {'.', 0x19}, {'0', 0xDB}, {'`', 0xFE}, {'a', 0xB1},
    {'f', 0xF8}, {'g', '+'},  {'h', 0xB0}, {'i', 0x0F}, {'j', 0xD9}, {'k', 0xBF}, {'l', 0xDA},
    {'m', 0xC0}, {'n', 0xC5}, {'o', 0xC4}, {'p', 0xC4}, {'q', 0xC4}, {'r', 0xC4}, {'s', '_'},
    {'t', 0xC3}, {'u', 0xB4}, {'v', 0xC1}, {'w', 0xC2}, {'x', 0xB3}, {'y', '<'},  {'z', '>'},
    {'{', '*'},  {'|', '!'},  {'}', 'f'},  {'~', 0xF9},
};

}  // namespace

TAcsTable::TAcsTable() {
    for (int b = 0; b < 256; ++b) Map[b] = static_cast<unsigned char>(b);
}

unsigned char TAcsTable::Glyph(unsigned char vt100) {
    for (const GlyphEntry& g : kGlyphs) {
        if (static_cast<unsigned char>(g.vt100) == vt100) return g.cp866;
    }
    return 0;
}

void TAcsTable::Fill(const std::string& ac) {
    *this = TAcsTable();
    bool taken[256] = {};
    int count = 0;
    for (size_t i = 0; i + 1 < ac.size() && count < kMaxEntries; i += 2) {
        unsigned char glyph = Glyph(static_cast<unsigned char>(ac[i]));
        if (glyph == 0) continue;
        ++count;
        // The first pair for a byte wins, as a search of the pairs in order would.
        unsigned char sent = static_cast<unsigned char>(ac[i + 1]);
        if (taken[sent]) continue;
        taken[sent] = true;
        Map[sent] = glyph;
    }
}
