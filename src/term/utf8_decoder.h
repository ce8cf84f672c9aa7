// UTF-8 decoding of host output, one byte at a time, so that a character
// cut by the end of a read is joined with the rest from the next read.
//
// Well-formed means the Unicode definition: no overlong forms, no
// surrogates, nothing above U+10FFFF. An ill-formed stretch yields one
// kInvalid per maximal subpart (the practice the Unicode standard
// recommends), so a stray byte costs one cell and never swallows the valid
// character that follows it.
//
// A plain value with no lock: each emulator owns one.
#pragma once

class TUtf8Decoder {
  public:
    static constexpr char32_t kInvalid = 0xFFFFFFFFu;

    // Feeds a byte of 0x80 or above (the caller handles ASCII itself, after
    // Interrupt). Writes 0, 1 or 2 results to `out` and returns how many:
    // code points of U+0080 and above, or kInvalid.
    int Feed(unsigned char byte, char32_t out[2]);
    // A byte below 0x80 arrived: true when it cut a sequence short (that
    // sequence is one kInvalid); the decoder starts afresh either way.
    bool Interrupt();
    bool InSequence() const { return Need > 0; }

  private:
    char32_t Code = 0;
    int Need = 0;              // continuation bytes still expected
    unsigned char Low = 0x80;  // range of the next continuation byte
    unsigned char High = 0xBF;
};
