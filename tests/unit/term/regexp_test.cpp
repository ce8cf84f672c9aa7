#include "term/regexp.h"

#include <gtest/gtest.h>

#include "../base/case_file.h"
#include "base/exception.h"

namespace {

using V = std::vector<std::string>;

// Every case of tests/data/term/regexp/matches.cases (its head explains them).
TEST(RegExpTest, Cases) {
    for (const TCase& f : ReadCases("term/regexp/matches.cases")) {
        SCOPED_TRACE(f.where);
        if (f[0] == "trim") {
            EXPECT_EQ(TRegExp::Trim(f[1]), f[2]);
            continue;
        }
        TRegExp re(f[1]);
        V caps{"kept"};
        if (f[0] == "bad") {
            EXPECT_FALSE(re.IsValid());
            try {
                re.Match("abc", caps);
                ADD_FAILURE() << "no exception";
            } catch (const TException& e) {
                EXPECT_STREQ(e.what(), "bad RegExp");
            }
            EXPECT_EQ(caps, V{"kept"});
            continue;
        }
        ASSERT_TRUE(re.IsValid());
        const bool hit = re.Match(f[2], caps);
        if (f[0] == "at") {
            EXPECT_TRUE(hit);
            const int i = std::stoi(f[3]);
            EXPECT_EQ(f[4] == "-" ? "-" : std::to_string(re.MatchStart(i)), f[4]);
            EXPECT_EQ(f[5] == "-" ? "-" : std::to_string(re.MatchEnd(i)), f[5]);
        } else if (f[3] == "-") {
            EXPECT_FALSE(hit);
        } else if (!hit) {
            ADD_FAILURE() << "no match";
        } else {
            EXPECT_EQ(f[0] == "w" ? V{caps.at(0)} : caps, V(f.fields.begin() + 3, f.fields.end()));
        }
    }
}

TEST(RegExpTest, CompilingAgainMendsABadPattern) {
    TRegExp re("/(a/");
    EXPECT_FALSE(re.IsValid());
    EXPECT_TRUE(re.Compile("/(a)/"));
}

}  // namespace
