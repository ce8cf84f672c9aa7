// The UTF-8 decoder over all of Unicode, and the outgoing encoding of typed
// and pasted text.
#include <gtest/gtest.h>

#include <string>

#include "../base/case_file.h"
#include "config/host_config.h"
#include "config/recode_table.h"
#include "console/headless_console.h"
#include "platform/cp866.h"
#include "term/char_width.h"
#include "term/emulator.h"
#include "term/utf8_decoder.h"

namespace {

std::u32string Decode(const std::string& bytes) {
    TUtf8Decoder decoder;
    std::u32string out;
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            if (decoder.Interrupt()) out.push_back(TUtf8Decoder::kInvalid);
            out.push_back(b);
            continue;
        }
        char32_t codes[2];
        const int n = decoder.Feed(b, codes);
        out.append(codes, codes + n);
    }
    return out;
}

TEST(Utf8Decoder, EveryScalarValueRoundTrips) {
    for (char32_t code = 0x80; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        std::string bytes;
        AppendUtf8(bytes, code);
        const std::u32string got = Decode(bytes);
        ASSERT_EQ(got, std::u32string(1, code)) << std::hex << static_cast<unsigned>(code);
    }
}

// Every case of tests/data/term/utf8.cases (its head explains them).
TEST(Utf8Decoder, IllFormedPartsStateAcrossCallsAndWidths) {
    for (const TCase& c : ReadCases("term/utf8.cases")) {
        SCOPED_TRACE(c.where);
        if (c[0] == "width") {
            EXPECT_EQ(CharWidth(static_cast<char32_t>(Num("0x" + c[1]))), Num(c[2]));
            continue;
        }
        std::u32string want;
        for (const std::string& w : Words(c[2]))
            want.push_back(w == "X" ? TUtf8Decoder::kInvalid
                                    : static_cast<char32_t>(Num("0x" + w)));
        EXPECT_EQ(Decode(c[1]), want);
    }
}

TEST(OutgoingText, Utf8OrTheTable) {
    THeadlessConsole console(20, 3);
    const int screen = console.AddScreen();
    THostConfig utf8;
    utf8.SetIncomingTable(kRecodeUtf8);
    utf8.SetOutgoingTable(kRecodeUtf8);
    THostConfig koi8;  // the defaults: KOI8-R both ways
    TEmulator toUtf8(&utf8, screen, &console);
    TEmulator toKoi8(&koi8, screen, &console);
    const std::string text = "\x8f\xe0\xa8\xa2\xa5\xe2 \xc4\xf0\r";  // "Привет ─Ё" CR
    EXPECT_EQ(toUtf8.RecodeOutgoingText(text), "Привет ─Ё\r");
    EXPECT_EQ(toKoi8.RecodeOutgoingText(text), "\xf0\xd2\xc9\xd7\xc5\xd4 \x80\xb3\r");
    toUtf8.QueueTyped(0xF1);
    char out[8];
    EXPECT_EQ(std::string(out, toUtf8.GetOutput(out, sizeof out)), "ё");
    EXPECT_EQ(toKoi8.RecodeIncoming(0xC1), 0xA0);
    EXPECT_EQ(toKoi8.RecodeOutgoing(0xA0), 0xC1);
    EXPECT_EQ(toKoi8.RecodeIncoming('a'), 'a');
}

}  // namespace
