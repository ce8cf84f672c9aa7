#include "config/config_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/exception.h"
#include "config/telnet_config.h"

TEST(MatchKey, SeparatorsAndCase) {
    EXPECT_EQ(MatchKey("ADDRESS=host", "ADDRESS"), "host");
    EXPECT_EQ(MatchKey("ADDRESS = host", "ADDRESS"), "host");
    EXPECT_EQ(MatchKey("ADDRESS host", "ADDRESS"), "host");
    EXPECT_EQ(MatchKey("address=host", "ADDRESS"), "host");
    EXPECT_EQ(MatchKey("AdDrEsS\t=\t host", "ADDRESS"), "host");
    // Whatever stands right after the key is skipped.
    EXPECT_EQ(MatchKey("ADDRESSxhost", "ADDRESS"), "host");
    EXPECT_EQ(MatchKey("ADDRESS:==  host", "ADDRESS"), "host");
    // The value is not trimmed at its end.
    EXPECT_EQ(MatchKey("USER=bob  ", "USER"), "bob  ");
}

TEST(MatchKey, NoMatchAndShortLines) {
    EXPECT_FALSE(MatchKey("ADDRES", "ADDRESS"));
    EXPECT_FALSE(MatchKey(" ADDRESS=x", "ADDRESS"));
    EXPECT_FALSE(MatchKey("", "USER"));
    // A line ending at the key, or at the skipped character, has no value
    // rather than a value read past the line.
    EXPECT_EQ(MatchKey("USER", "USER"), "");
    EXPECT_EQ(MatchKey("USER=", "USER"), "");
    EXPECT_EQ(MatchKey("USER = =", "USER"), "");
}

TEST(ParseCanonicalInt, AcceptsOnlyThePrintedForm) {
    EXPECT_EQ(ParseCanonicalInt("100"), 100);
    EXPECT_EQ(ParseCanonicalInt(" \t100 \t"), 100);
    EXPECT_EQ(ParseCanonicalInt("-7"), -7);
    EXPECT_EQ(ParseCanonicalInt("0"), 0);
    EXPECT_EQ(ParseCanonicalInt("2147483647"), 2147483647);
    for (const char* bad :
         {"0100", "+5", "5a", "", "   ", "-0", "1 2", "2147483648", "99999999999", "0x10"}) {
        EXPECT_FALSE(ParseCanonicalInt(bad)) << bad;
    }
}

TEST(ReadConfigLine, LineEndsAndCounting) {
    std::istringstream in("one\r\ntwo\n\nlast");
    int start = LineNumber;
    std::string line;
    for (const char* expected : {"one", "two", "", "last"}) {
        ASSERT_TRUE(ReadConfigLine(in, line));
        EXPECT_EQ(line, expected);
    }
    EXPECT_FALSE(ReadConfigLine(in, line));
    EXPECT_FALSE(ReadConfigLine(in, line));
    EXPECT_EQ(LineNumber - start, 4);
}

TEST(ReadConfigLine, LengthLimit) {
    std::string longest(kMaxLineLength, 'x');
    std::istringstream in(longest + "\r\n" + longest + "y\nnext\n");
    LineNumber = 10;
    std::string line;
    ASSERT_TRUE(ReadConfigLine(in, line));
    EXPECT_EQ(line, longest);
    try {
        ReadConfigLine(in, line);
        FAIL() << "a 256-character line was accepted";
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "Config error. Line longer than 255 characters. Line number: 12.");
    }
}

TEST(ReadConfigLine, EndlessLineStopsEarly) {
    // A file without line ends (a binary given by mistake) is refused after
    // the limit instead of being read whole.
    std::istringstream in(std::string(1 << 20, 'z'));
    std::string line;
    EXPECT_THROW(ReadConfigLine(in, line), TException);
    EXPECT_LT(in.tellg(), 300);
}
