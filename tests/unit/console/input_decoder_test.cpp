#include "console/input_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../base/case_file.h"
#include "console/key_table.h"
#include "key_names.h"
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

constexpr std::uint32_t C = LEFT_CTRL_PRESSED;

// Each event of `want` ("|" between events) as the fields the line gives.
std::vector<std::vector<std::string>> Events(const std::string& want) {
    std::vector<std::vector<std::string>> events;
    std::vector<std::string> words = Words(want);
    events.emplace_back();
    for (const std::string& w : words) {
        if (w == "|")
            events.emplace_back();
        else
            events.back().push_back(w);
    }
    return events;
}

// Every case of tests/data/console/input.cases (its head explains them).
TEST(InputDecoder, Cases) {
    for (const TCase& c : ReadCases("console/input.cases")) {
        SCOPED_TRACE(c.where);
        if (c[0] == "norm") {
            const std::vector<std::string> key = Words(c[1]);
            INPUT_RECORD r =
                MakeKeyEvent(key.size() < 4, KeyCode(key[0]),
                             static_cast<unsigned char>(Num(key[1])), Modifiers(key[2]));
            NormaliseKeyEvent(r);
            EXPECT_EQ(KeyChar(r), Num(c[2]));
            continue;
        }
        const std::vector<INPUT_RECORD> events = Decode(c[1]);
        const auto want = Events(c[2]);
        ASSERT_EQ(events.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            const std::vector<std::string>& w = want[i];
            if (c[0] == "keys") {
                const KEY_EVENT_RECORD& k = events[i].Event.KeyEvent;
                ASSERT_EQ(events[i].EventType, KEY_EVENT) << i;
                EXPECT_EQ(k.bKeyDown, 1) << i;
                EXPECT_EQ(k.wVirtualKeyCode, KeyCode(w[0])) << i;
                EXPECT_EQ(KeyChar(events[i]), Num(w[1])) << i;
                EXPECT_EQ(k.dwControlKeyState, Modifiers(w[2])) << i;
            } else {
                const MOUSE_EVENT_RECORD& m = events[i].Event.MouseEvent;
                ASSERT_EQ(events[i].EventType, MOUSE_EVENT) << i;
                EXPECT_EQ(m.dwMousePosition.X, Num(w[0])) << i;
                EXPECT_EQ(m.dwMousePosition.Y, Num(w[1])) << i;
                EXPECT_EQ(m.dwButtonState, Num(w[2])) << i;
                EXPECT_EQ(m.dwEventFlags, Num(w[3])) << i;
                EXPECT_EQ(m.dwControlKeyState, Modifiers(w[4])) << i;
            }
        }
    }
    // Until the pause, a lone ESC is held back.
    EXPECT_TRUE(Decode("\x1b", false).empty());
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

TEST(InputDecoder, BracketedPaste) {
    // A paste comes out as one SHIFT+INSERT, its text on the clipboard.
    auto pasted = [](const std::string& bytes) {
        const std::vector<INPUT_RECORD> e = Decode(bytes);
        return e.size() == 1 && e[0].Event.KeyEvent.wVirtualKeyCode == VK_INSERT &&
               e[0].Event.KeyEvent.dwControlKeyState == SHIFT_PRESSED;
    };
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
    EXPECT_TRUE(pasted("\x1b[200~\x1b[A\x03\x1b[201~"));
    EXPECT_EQ(GetClipboardText(), "\x1b[A\x03");

    // Whole or not at all: one byte past the limit, in pieces, and nothing is
    // pasted (the clipboard keeps the last paste); the next paste works.
    const std::string fits(TInputDecoder::kMaxPaste - 1, 'a');
    EXPECT_TRUE(pasted("\x1b[200~" + fits + "b\x1b[201~"));
    EXPECT_EQ(GetClipboardText().size(), TInputDecoder::kMaxPaste);
    StoreClipboardText("kept");
    TInputDecoder big;
    big.Feed("\x1b[200~", 6);
    big.Feed(fits.data(), fits.size());
    big.Feed("bc\x1b[201~q", 9);
    ASSERT_TRUE(big.HasEvent());
    EXPECT_EQ(big.PopEvent().Event.KeyEvent.wVirtualKeyCode, 'Q');
    EXPECT_EQ(GetClipboardText(), "kept");
    EXPECT_TRUE(pasted("\x1b[200~z\x1b[201~"));
}

TEST(InputDecoder, GarbageIsBounded) {
    // An endless parameter list and unknown sequences produce nothing and
    // do not stop the keys after them.
    std::string bytes = "\x1b[" + std::string(500, '1') + "~q\x1b[?1;2c\x1b[5;7R\x1b[I";
    const std::vector<INPUT_RECORD> events = Decode(bytes);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().Event.KeyEvent.wVirtualKeyCode, 'Q');
}

}  // namespace
