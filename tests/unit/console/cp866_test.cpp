#include "platform/cp866.h"

#include <gtest/gtest.h>

#include "platform/clipboard.h"
#include "platform/terminal_output.h"

namespace {

TEST(Cp866, EveryByteHasAGlyphThatMapsBack) {
    for (int b = 0x20; b < 0x100; ++b) {
        const char32_t code = Cp866ToUnicode(static_cast<unsigned char>(b));
        EXPECT_GE(code, 0x20u) << b;
        EXPECT_EQ(UnicodeToCp866(code), b) << b;
    }
    // Control codes draw as symbols, never as control bytes.
    for (int b = 0; b < 0x20; ++b) EXPECT_GE(Cp866ToUnicode(static_cast<unsigned char>(b)), 0x20u);
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
}

TEST(Clipboard, CopySendsOsc52) {
    std::string sent;
    SetTerminalOutputSink([&](std::string_view bytes) { sent.append(bytes); });
    SetClipboardText("\x8f\xe0\xa8\rx");  // "При" CR "x"
    SetTerminalOutputSink({});
    EXPECT_EQ(GetClipboardText(), "\x8f\xe0\xa8\rx");
    EXPECT_EQ(sent, "\x1b]52;c;" + Base64Encode("При\nx") + "\x07");
    EXPECT_EQ(Base64Encode("Man"), "TWFu");
    EXPECT_EQ(Base64Encode("Ma"), "TWE=");
    EXPECT_EQ(Base64Encode("M"), "TQ==");
}

}  // namespace
