// Named 8-bit recoding tables and the two built-in Cyrillic ones.
#pragma once

constexpr int kRecodeNameSize = 64;  // 63 characters and the terminator
constexpr int kRecodeTableSize = 128;

// Replacements for the byte values 0x80..0xFF in order; lower bytes are never
// recoded.
struct TRecodeTable {
    char Name[kRecodeNameSize];
    unsigned char Table[kRecodeTableSize];
};

// KOI8-R to code page 866 ("koi8r_alt") and back ("alt_koi8r"). Each is a
// permutation of 0x80..0xFF and the exact inverse of the other.
extern const unsigned char kKoi8rToAlt[kRecodeTableSize];
extern const unsigned char kAltToKoi8r[kRecodeTableSize];

// The recoding choice that is not a table: host text in UTF-8, decoded into
// code page 866 cells and encoded from them (TEmulator does both). Stored as
// the table index; the byte lookups pass every byte unchanged for it.
constexpr int kRecodeUtf8 = -2;
constexpr char kRecodeUtf8Name[] = "utf-8";

// The byte through the table: bytes below 0x80 pass unchanged.
inline unsigned char RecodeByte(const TRecodeTable& table, unsigned char byte) {
    return byte < 0x80 ? byte : table.Table[byte - 0x80];
}
