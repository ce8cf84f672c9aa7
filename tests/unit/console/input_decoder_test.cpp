#include "console/input_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../base/case_file.h"
#include "console/key_table.h"
#include "key_names.h"
#include "platform/clipboard.h"

namespace {

using Events = std::vector<std::vector<long>>;

// The events of `bytes`, fed whole or a byte at a time, with a trailing lone
// ESC settled as after a pause and the characters normalised as the back end
// does; each event as the numbers a case gives for it.
Events Decode(const std::string& bytes, bool bytewise) {
    TInputDecoder decoder;
    Events events;
    auto take = [&] {
        while (decoder.HasEvent()) {
            INPUT_RECORD r = decoder.PopEvent();
            NormaliseKeyEvent(r);
            const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
            const MOUSE_EVENT_RECORD& m = r.Event.MouseEvent;
            if (r.EventType == KEY_EVENT)
                events.push_back({k.bKeyDown, k.wVirtualKeyCode, KeyChar(r), k.dwControlKeyState});
            else
                events.push_back({m.dwMousePosition.X, m.dwMousePosition.Y, m.dwButtonState,
                                  m.dwEventFlags, m.dwControlKeyState});
        }
    };
    for (std::size_t i = 0; i < bytes.size(); i += bytewise ? 1 : bytes.size()) {
        decoder.Feed(bytes.data() + i, bytewise ? 1 : bytes.size());
        take();
    }
    if (decoder.Incomplete()) decoder.Timeout();
    take();
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
        Events want;
        std::istringstream list(c[2]);
        for (std::string event; std::getline(list, event, '|');) {
            const std::vector<std::string> w = Words(event);
            if (c[0] == "keys")
                want.push_back({1, KeyCode(w.at(0)), Num(w.at(1)), Modifiers(w.at(2))});
            else
                want.push_back(
                    {Num(w.at(0)), Num(w.at(1)), Num(w.at(2)), Num(w.at(3)), Modifiers(w.at(4))});
        }
        for (const bool bytewise : {false, true}) {
            StoreClipboardText("kept");
            EXPECT_EQ(Decode(c[1], bytewise), want) << "a byte at a time: " << bytewise;
            EXPECT_EQ(GetClipboardText(), c.size() > 3 ? c[3] : "kept");
        }
    }
    // Until the pause, a lone ESC is held back.
    TInputDecoder decoder;
    decoder.Feed("\x1b", 1);
    EXPECT_TRUE(decoder.Incomplete());
    EXPECT_FALSE(decoder.HasEvent());
}

// A paste is whole or not at all: one byte past the limit, in pieces, and
// nothing is pasted; the next paste works.
TEST(InputDecoder, PasteLimit) {
    const std::string fits(TInputDecoder::kMaxPaste - 1, 'a');
    const Events paste = {{1, VK_INSERT, 0, SHIFT_PRESSED}};
    EXPECT_EQ(Decode("\x1b[200~" + fits + "b\x1b[201~", false), paste);
    EXPECT_EQ(GetClipboardText().size(), TInputDecoder::kMaxPaste);
    StoreClipboardText("kept");
    TInputDecoder big;
    big.Feed("\x1b[200~", 6);
    big.Feed(fits.data(), fits.size());
    big.Feed("bc\x1b[201~q", 9);
    ASSERT_TRUE(big.HasEvent());
    EXPECT_EQ(big.PopEvent().Event.KeyEvent.wVirtualKeyCode, 'Q');
    EXPECT_EQ(GetClipboardText(), "kept");
    EXPECT_EQ(Decode("\x1b[200~z\x1b[201~", false), paste);
    EXPECT_EQ(GetClipboardText(), "z");
}

}  // namespace
