// The UTF-8 decoder over all of Unicode.
#include <gtest/gtest.h>

#include <string>

#include "../base/case_file.h"
#include "platform/cp866.h"
#include "term/char_width.h"
#include "term/utf8_decoder.h"

namespace {

std::u32string Decode(const std::string& bytes) {
    TUtf8Decoder decoder;
    std::u32string out;
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        char32_t codes[2];
        if (b >= 0x80) out.append(codes, codes + decoder.Feed(b, codes));
        if (b < 0x80 && decoder.Interrupt()) out.push_back(TUtf8Decoder::kInvalid);
        if (b < 0x80) out.push_back(b);
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

}  // namespace
