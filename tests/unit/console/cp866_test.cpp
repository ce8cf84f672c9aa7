#include "platform/cp866.h"

#include <gtest/gtest.h>

#include "platform/clipboard.h"

namespace {

TEST(Cp866, EveryByteHasAGlyphThatMapsBack) {
    for (int b = 0; b < 0x100; ++b) {
        const char32_t code = Cp866ToUnicode(static_cast<unsigned char>(b));
        // Control codes draw as symbols, never as control bytes.
        EXPECT_GE(code, 0x20u) << b;
        EXPECT_EQ(b < 0x20 ? b : UnicodeToCp866(code), b);
    }
    EXPECT_EQ(Cp866ToUnicode(0x7F), U'⌂');
    EXPECT_EQ(Cp866ToUnicode(0x80), U'А');
    EXPECT_EQ(Cp866ToUnicode(0xAF), U'п');
    EXPECT_EQ(Cp866ToUnicode(0xE0), U'р');
    EXPECT_EQ(Cp866ToUnicode(0xC4), U'─');
    EXPECT_EQ(UnicodeToCp866(U'€'), -1);
    // The cell of a character drawn by the host: printable ASCII, the space
    // included, is its own; DEL has none.
    EXPECT_EQ(Cp866GlyphCell(U' '), 0x20);
    EXPECT_EQ(Cp866GlyphCell(U'~'), 0x7E);
    EXPECT_EQ(Cp866GlyphCell(0x7F), -1);
}

TEST(Cp866, Utf8Conversions) {
    EXPECT_EQ(Cp866ToUtf8("\x8f\xe0\xa8\xa2\xa5\xe2\rok", true), "Привет\nok");
    EXPECT_EQ(Utf8ToCp866("Привет!"), "\x8f\xe0\xa8\xa2\xa5\xe2!");
    // Malformed and unmappable input is left out, never misread.
    EXPECT_EQ(Utf8ToCp866("a\xd0\xff"
                          "b\x80\xe2\x82\xac"
                          "c\xd0"),
              "abc");
    EXPECT_EQ(Base64Encode("Ma"), "TWE=");  // the copy to the clipboard is in clipboard.test
}

}  // namespace
