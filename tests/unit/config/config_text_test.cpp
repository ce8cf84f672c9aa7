#include "config/config_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "../base/case_file.h"
#include "base/exception.h"
#include "config/telnet_config.h"

// Every case of tests/data/config/text.cases (its head explains them).
TEST(ConfigText, Cases) {
    for (const TCase& c : ReadCases("config/text.cases")) {
        SCOPED_TRACE(c.where);
        const std::string& want = c[0] == "key" ? c[3] : c[2];
        if (c[0] == "key") {
            const auto value = MatchKey(c[1], c[2].c_str());
            EXPECT_EQ(value.value_or("-"), want);
        } else {
            const auto value = ParseCanonicalInt(c[1]);
            EXPECT_EQ(value ? std::to_string(*value) : "-", want);
        }
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
