#include "console/input_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/key_table.h"
#include "platform/clipboard.h"

namespace {

// Decodes `bytes` (settling a trailing lone ESC as after a pause) and
// normalises the characters as the back end does.
std::vector<INPUT_RECORD> Decode(const std::string& bytes, bool pause = true) {
    TInputDecoder decoder;
    decoder.Feed(bytes.data(), bytes.size());
    if (pause && decoder.Incomplete()) decoder.Timeout();
    std::vector<INPUT_RECORD> events;
    while (decoder.HasEvent()) {
        INPUT_RECORD r = decoder.PopEvent();
        NormaliseKeyEvent(r);
        events.push_back(r);
    }
    return events;
}

struct Key {
    std::uint16_t vk;
    unsigned char ch;
    std::uint32_t state;
};

void ExpectKeys(const std::string& bytes, const std::vector<Key>& keys) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    const std::vector<INPUT_RECORD> events = Decode(bytes);
    ASSERT_EQ(events.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const INPUT_RECORD& r = events[i];
        ASSERT_EQ(r.EventType, KEY_EVENT) << i;
        EXPECT_EQ(r.Event.KeyEvent.bKeyDown, 1) << i;
        EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, keys[i].vk) << i;
        EXPECT_EQ(KeyChar(r), keys[i].ch) << i;
        EXPECT_EQ(r.Event.KeyEvent.dwControlKeyState, keys[i].state) << i;
    }
}

constexpr std::uint32_t S = SHIFT_PRESSED, C = LEFT_CTRL_PRESSED, A = LEFT_ALT_PRESSED;

TEST(InputDecoder, TextAndControlBytes) {
    ExpectKeys(
        "aZ5 ?",
        {{'A', 'a', 0}, {'Z', 'Z', S}, {'5', '5', 0}, {VK_SPACE, ' ', 0}, {VK_OEM_2, '?', S}});
    ExpectKeys("\r\t\x7f", {{VK_RETURN, 13, 0}, {VK_TAB, 9, 0}, {VK_BACK, 0, 0}});
    ExpectKeys("\x01\x03\x1a", {{'A', 1, C}, {'C', 3, C}, {'Z', 26, C}});
    ExpectKeys("\x1d", {{VK_OEM_6, 0x1d, C}});
}

TEST(InputDecoder, ArrowsAndFunctionKeysWithModifiers) {
    ExpectKeys("\x1b[A\x1b[B\x1b[C\x1b[D",
               {{VK_UP, 0, 0}, {VK_DOWN, 0, 0}, {VK_RIGHT, 0, 0}, {VK_LEFT, 0, 0}});
    ExpectKeys("\x1bOA\x1bOH\x1bOF", {{VK_UP, 0, 0}, {VK_HOME, 0, 0}, {VK_END, 0, 0}});
    ExpectKeys("\x1b[1;2A\x1b[1;5D\x1b[1;3C\x1b[1;6B",
               {{VK_UP, 0, S}, {VK_LEFT, 0, C}, {VK_RIGHT, 0, A}, {VK_DOWN, 0, C | S}});
    ExpectKeys("\x1bOP\x1bOQ\x1bOR\x1bOS",
               {{VK_F1, 0, 0}, {VK_F2, 0, 0}, {VK_F3, 0, 0}, {VK_F4, 0, 0}});
    ExpectKeys("\x1b[1;3P\x1b[1;2S", {{VK_F1, 0, A}, {VK_F4, 0, S}});
    ExpectKeys("\x1b[15~\x1b[17~\x1b[21~\x1b[24~",
               {{VK_F5, 0, 0}, {VK_F6, 0, 0}, {VK_F10, 0, 0}, {VK_F12, 0, 0}});
    ExpectKeys("\x1b[15;3~\x1b[24;5~\x1b[23;2~", {{VK_F5, 0, A}, {VK_F12, 0, C}, {VK_F11, 0, S}});
    ExpectKeys("\x1b[2~\x1b[3~\x1b[5~\x1b[6~\x1b[1~\x1b[4~", {{VK_INSERT, 0, 0},
                                                              {VK_DELETE, 0, 0},
                                                              {VK_PRIOR, 0, 0},
                                                              {VK_NEXT, 0, 0},
                                                              {VK_HOME, 0, 0},
                                                              {VK_END, 0, 0}});
    ExpectKeys("\x1b[2;2~\x1b[2;5~", {{VK_INSERT, 0, S}, {VK_INSERT, 0, C}});
    ExpectKeys("\x1b[Z", {{VK_TAB, 0, S}});
}

TEST(InputDecoder, EscapePrefixAndLoneEscape) {
    ExpectKeys(
        "\x1bn\x1bN\x1b"
        "a",
        {{'N', 0, A}, {'N', 0, A | S}, {'A', 0, A}});
    // CTRL+ALT+letter keeps its control character.
    ExpectKeys("\x1b\x01", {{'A', 1, A | C}});
    ExpectKeys("\x1b\x1b[A", {{VK_UP, 0, A}});
    // A lone ESC needs the pause; until then it is held back.
    EXPECT_TRUE(Decode("\x1b", false).empty());
    ExpectKeys("\x1b", {{VK_ESCAPE, 27, 0}});
    ExpectKeys("x\x1b", {{'X', 'x', 0}, {VK_ESCAPE, 27, 0}});
    ExpectKeys("\x1b[", {{VK_OEM_4, 0, A}});
    // The substitute for SCROLL LOCK.
    ExpectKeys("\x1b\x13", {{VK_SCROLL, 0, 0}});
}

TEST(InputDecoder, SplitReads) {
    TInputDecoder decoder;
    const std::string bytes = "\x1b[1;5A\xd0\xb6";
    // Fed a byte at a time, every prefix waits for more; nothing comes out
    // before the sequence (byte 5) or the character (byte 7) is complete.
    std::vector<INPUT_RECORD> events;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        decoder.Feed(&bytes[i], 1);
        const bool complete = i == 5 || i == 7;
        EXPECT_EQ(decoder.HasEvent(), complete) << i;
        EXPECT_EQ(decoder.Incomplete(), !complete) << i;
        while (decoder.HasEvent()) events.push_back(decoder.PopEvent());
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Event.KeyEvent.wVirtualKeyCode, VK_UP);
    EXPECT_EQ(events[0].Event.KeyEvent.dwControlKeyState, C);
    EXPECT_EQ(KeyChar(events[1]), 0xA6);  // ж
}

TEST(InputDecoder, Utf8CyrillicToCp866) {
    // "Жж" and "Ёё", then a character CP866 lacks (€).
    ExpectKeys("\xd0\x96\xd0\xb6\xd0\x81\xd1\x91\xe2\x82\xac", {{VK_PACKET, 0x86, 0},
                                                                {VK_PACKET, 0xA6, 0},
                                                                {VK_PACKET, 0xF0, 0},
                                                                {VK_PACKET, 0xF1, 0},
                                                                {VK_PACKET, 0, 0}});
    // р..я live in the upper block.
    ExpectKeys("\xd1\x80\xd1\x8f", {{VK_PACKET, 0xE0, 0}, {VK_PACKET, 0xEF, 0}});
}

TEST(InputDecoder, SgrMouse) {
    const std::vector<INPUT_RECORD> events = Decode(
        "\x1b[<0;11;6M\x1b[<32;9;5M\x1b[<32;3;4M\x1b[<0;3;4m\x1b[<2;1;1M\x1b[<2;1;1m"
        "\x1b[<16;5;5M\x1b[<64;2;2M");
    ASSERT_EQ(events.size(), 8u);
    auto check = [&](int i, int x, int y, std::uint32_t buttons, std::uint32_t flags,
                     std::uint32_t state) {
        SCOPED_TRACE(i);
        const MOUSE_EVENT_RECORD& m = events[i].Event.MouseEvent;
        EXPECT_EQ(events[i].EventType, MOUSE_EVENT);
        EXPECT_EQ(m.dwMousePosition.X, x);
        EXPECT_EQ(m.dwMousePosition.Y, y);
        EXPECT_EQ(m.dwButtonState, buttons);
        EXPECT_EQ(m.dwEventFlags, flags);
        EXPECT_EQ(m.dwControlKeyState, state);
    };
    check(0, 10, 5, FROM_LEFT_1ST_BUTTON_PRESSED, 0, 0);           // press
    check(1, 8, 4, FROM_LEFT_1ST_BUTTON_PRESSED, MOUSE_MOVED, 0);  // drag
    check(2, 2, 3, FROM_LEFT_1ST_BUTTON_PRESSED, MOUSE_MOVED, 0);
    check(3, 2, 3, 0, 0, 0);  // release
    check(4, 0, 0, RIGHTMOST_BUTTON_PRESSED, 0, 0);
    check(5, 0, 0, 0, 0, 0);
    check(6, 4, 4, FROM_LEFT_1ST_BUTTON_PRESSED, 0, C);
    check(7, 1, 1, (120u << 16) | FROM_LEFT_1ST_BUTTON_PRESSED, MOUSE_WHEELED, 0);
}

TEST(InputDecoder, BracketedPaste) {
    StoreClipboardText("");
    // UTF-8 text with CR LF and LF line ends, split inside the end marker.
    TInputDecoder decoder;
    const std::string first = "x\x1b[200~ab\r\nc\xd0\x96\nd\x1b[20";
    decoder.Feed(first.data(), first.size());
    ASSERT_TRUE(decoder.HasEvent());
    EXPECT_EQ(decoder.PopEvent().Event.KeyEvent.wVirtualKeyCode, 'X');
    EXPECT_FALSE(decoder.HasEvent());
    const std::string second = "1~\x1b[A";
    decoder.Feed(second.data(), second.size());
    ASSERT_TRUE(decoder.HasEvent());
    INPUT_RECORD r = decoder.PopEvent();
    NormaliseKeyEvent(r);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, VK_INSERT);
    EXPECT_EQ(r.Event.KeyEvent.dwControlKeyState, SHIFT_PRESSED);
    EXPECT_EQ(KeyChar(r), 0);
    EXPECT_EQ(GetClipboardText(), "ab\rc\x86\rd");
    ASSERT_TRUE(decoder.HasEvent());
    EXPECT_EQ(decoder.PopEvent().Event.KeyEvent.wVirtualKeyCode, VK_UP);
    // Keys inside a paste are text, not keys.
    ExpectKeys("\x1b[200~\x1b[A\x03\x1b[201~", {{VK_INSERT, 0, S}});
    EXPECT_EQ(GetClipboardText(), "\x1b[A\x03");

    // Whole or not at all: one byte past the limit, in pieces, and nothing is
    // pasted (the clipboard keeps the last paste); the next paste works.
    const std::string fits(TInputDecoder::kMaxPaste - 1, 'a');
    ExpectKeys("\x1b[200~" + fits + "b\x1b[201~", {{VK_INSERT, 0, S}});
    EXPECT_EQ(GetClipboardText().size(), TInputDecoder::kMaxPaste);
    StoreClipboardText("kept");
    TInputDecoder big;
    big.Feed("\x1b[200~", 6);
    big.Feed(fits.data(), fits.size());
    big.Feed("bc\x1b[201~q", 9);
    ASSERT_TRUE(big.HasEvent());
    EXPECT_EQ(big.PopEvent().Event.KeyEvent.wVirtualKeyCode, 'Q');
    EXPECT_EQ(GetClipboardText(), "kept");
    ExpectKeys("\x1b[200~z\x1b[201~", {{VK_INSERT, 0, S}});
}

TEST(InputDecoder, GarbageIsBounded) {
    // An endless parameter list and unknown sequences produce nothing and
    // do not stop the keys after them.
    std::string bytes = "\x1b[" + std::string(500, '1') + "~q\x1b[?1;2c\x1b[5;7R\x1b[I";
    const std::vector<INPUT_RECORD> events = Decode(bytes);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().Event.KeyEvent.wVirtualKeyCode, 'Q');
}

TEST(KeyTable, CharacterNormalisation) {
    auto stored = [](std::uint16_t vk, unsigned char own, std::uint32_t state, bool down = true) {
        INPUT_RECORD r = MakeKeyEvent(down, vk, own, state);
        NormaliseKeyEvent(r);
        return KeyChar(r);
    };
    EXPECT_EQ(stored(VK_ESCAPE, 27, 0), 27);
    EXPECT_EQ(stored('C', 3, C), 3);
    EXPECT_EQ(stored('C', 'c', A), 0);       // ALT chords carry none
    EXPECT_EQ(stored(VK_OEM_4, 27, C), 27);  // CTRL+[ keeps its own
    EXPECT_EQ(stored(VK_SHIFT, 0, S), 0);
    EXPECT_EQ(stored('A', 'a', 0, false), 0);  // releases
    EXPECT_EQ(stored(VK_F5, 0, 0), 0);
    EXPECT_EQ(stored(VK_BACK, 8, 0), 0);
    EXPECT_EQ(stored(VK_DELETE, 0x7F, 0), 0);
    EXPECT_EQ(stored(VK_DELETE, 0x7F, NUMLOCK_ON), 0x7F);
    EXPECT_EQ(stored(VK_DECIMAL, ',', NUMLOCK_ON), '.');
    EXPECT_EQ(stored('1', '!', C | S), 0);
    EXPECT_EQ(stored(VK_OEM_2, '?', C | S), '?');  // as with CTRL alone
    EXPECT_EQ(stored('5', '5', C), 0);
    EXPECT_EQ(stored(VK_OEM_1, ';', C | A), 0);
    EXPECT_EQ(stored(VK_OEM_1, ';', C), ';');
    EXPECT_EQ(stored(VK_RETURN, 13, S), 0);
    EXPECT_EQ(stored('A', 'A', S), 'A');
    // ALTGR with a character keeps it; without one it is an ALT chord.
    EXPECT_EQ(stored('Q', '@', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED), '@');
    EXPECT_EQ(stored('Q', 0, RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED), 0);
}

}  // namespace
