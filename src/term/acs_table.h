// The alternate character set: what a byte received in that mode shows as.
#pragma once

#include <string>

// Filled from the description's "ac" capability: pairs of (VT100 line-drawing
// character, byte this terminal is sent for it). In alternate-character-set
// mode a received byte that is the second of a pair shows as the code page
// 866 glyph of the first; other bytes pass unchanged. Up to 32 entries; pairs
// naming a character without a glyph here are skipped.
class TAcsTable {
  public:
    static constexpr int kMaxEntries = 32;

    TAcsTable();
    void Fill(const std::string& ac);
    unsigned char Translate(unsigned char b) const { return Map[b]; }

    // The code page 866 glyph for a VT100 line-drawing character, 0 if none.
    static unsigned char Glyph(unsigned char vt100);

  private:
    unsigned char Map[256];  // what each received byte shows as
};
