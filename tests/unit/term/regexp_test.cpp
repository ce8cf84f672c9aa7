#include "term/regexp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <sstream>

#include "base/exception.h"

namespace {

using V = std::vector<std::string>;

// A field of the case file: "" is empty; \t \n \\ and \xHH are escapes.
std::string Field(const std::string& text) {
    if (text == "\"\"") return "";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[++i] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i] == 't' ? '\t' : text[i] == 'n' ? '\n' : text[i];
        }
    }
    return out;
}

// Every case of tests/data/term/regexp/matches.cases (its head explains them).
TEST(RegExpTest, Cases) {
    std::ifstream in(QUENLOR_TEST_DATA "/term/regexp/matches.cases");
    ASSERT_TRUE(in) << "no case file";
    std::string line;
    int number = 0, cases = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        V f;
        std::stringstream fields(line);
        for (std::string part; std::getline(fields, part, '\t');) f.push_back(Field(part));
        SCOPED_TRACE("matches.cases:" + std::to_string(number) + ": " + line);
        ++cases;
        TRegExp re(f.at(1));
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
        if (!re.IsValid()) {
            ADD_FAILURE() << "does not compile";
            continue;
        }
        const bool hit = re.Match(f.at(2), caps);
        if (f[0] == "at") {
            EXPECT_TRUE(hit);
            const int index = std::stoi(f.at(3));
            if (f.at(4) != "-") {
                EXPECT_EQ(re.MatchStart(index), std::stoi(f[4]));
            }
            if (f.at(5) != "-") {
                EXPECT_EQ(re.MatchEnd(index), std::stoi(f[5]));
            }
        } else if (f.at(3) == "-") {
            EXPECT_FALSE(hit);
        } else if (!hit) {
            ADD_FAILURE() << "no match";
        } else if (f[0] == "w") {
            EXPECT_EQ(caps.at(0), f[3]);
        } else {
            EXPECT_EQ(caps, V(f.begin() + 3, f.end()));
        }
    }
    EXPECT_GT(cases, 100);
}

TEST(RegExpTest, CompilingAgainMendsABadPattern) {
    TRegExp re("/(a/");
    EXPECT_FALSE(re.IsValid());
    EXPECT_TRUE(re.Compile("/(a)/"));
}

TEST(RegExpTest, BoundedByTheWorkBuffer) {
    // Text beyond 1023 bytes is not seen.
    std::string text(2000, 'a');
    TRegExp end("/$/");
    V caps;
    ASSERT_TRUE(end.Match(text, caps));
    EXPECT_EQ(end.MatchStart(0), 1023);
    ASSERT_TRUE(TRegExp("/a+/").Match(text, caps));
    EXPECT_EQ(caps[0].size(), 1023u);
    EXPECT_FALSE(TRegExp("/b/").Match(std::string(1023, 'a') + "b", caps));

    // Patterns that backtrack a lot end in bounded time, with an answer or
    // without a match, never with a crash.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(TRegExp("/(a*)*b/").Match(std::string(1023, 'a'), caps));
    EXPECT_FALSE(TRegExp("/a*a*a*a*a*a*b/").Match(std::string(1023, 'a'), caps));
    EXPECT_TRUE(TRegExp("/(a|aa)*c/").Match(std::string(1022, 'a') + "c", caps));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

    // Deep nesting of marks is refused or handled, but never recursed on without bound.
    TRegExp d("/a" + std::string(1000, '?') + "/");
    if (d.IsValid()) d.Match("aaa", caps);
    EXPECT_FALSE(TRegExp("/" + std::string(2000, 'a') + "/").IsValid());
}

TEST(RegExpTest, Trim) {
    EXPECT_EQ(TRegExp::Trim(" \t:am:\\ \t"), ":am:\\");
    EXPECT_EQ(TRegExp::Trim(" \t "), "");
    EXPECT_EQ(TRegExp::Trim("x"), "x");
    EXPECT_EQ(TRegExp::Trim("\na\n"), "\na\n");
}

}  // namespace
