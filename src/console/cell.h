// One character cell of a screen.
#pragma once

#include <cstdint>

// Laid out as the Windows console output call takes it: the character byte
// (CP866), an unused byte, and the attribute word (bits 0-2 foreground BGR,
// bit 3 foreground intensity, bits 4-6 background BGR, bit 7 background
// intensity).
struct TCell {
    unsigned char Char;
    unsigned char Reserved;
    std::uint16_t Attr;

    bool operator==(const TCell& other) const { return Char == other.Char && Attr == other.Attr; }
};
static_assert(sizeof(TCell) == 4, "a cell is four bytes");
