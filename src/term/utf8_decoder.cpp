#include "term/utf8_decoder.h"

int TUtf8Decoder::Feed(unsigned char b, char32_t out[2]) {
    int count = 0;
    if (Need > 0) {
        if (b >= Low && b <= High) {
            Code = (Code << 6) | (b & 0x3Fu);
            Low = 0x80;
            High = 0xBF;
            if (--Need > 0) return 0;
            out[0] = Code;
            return 1;
        }
        // The sequence ends here unfinished; the byte may start a new one.
        Need = 0;
        Low = 0x80;
        High = 0xBF;
        out[count++] = kInvalid;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        Need = 1;
        Code = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        Need = 2;
        Code = b & 0x0Fu;
        if (b == 0xE0) Low = 0xA0;   // overlong below U+0800
        if (b == 0xED) High = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        Need = 3;
        Code = b & 0x07u;
        if (b == 0xF0) Low = 0x90;   // overlong below U+10000
        if (b == 0xF4) High = 0x8F;  // above U+10FFFF
    } else {
        // A continuation byte out of place, C0/C1 (always overlong) or
        // F5..FF (beyond Unicode).
        out[count++] = kInvalid;
    }
    return count;
}

bool TUtf8Decoder::Interrupt() {
    const bool cut = Need > 0;
    Need = 0;
    Low = 0x80;
    High = 0xBF;
    return cut;
}
