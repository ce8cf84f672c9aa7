#include "term/regexp.h"

#include <gtest/gtest.h>

#include <chrono>

#include "base/exception.h"

namespace {

// Captures of a match, or {"<no match>"}.
std::vector<std::string> Caps(const std::string& pattern, const std::string& text) {
    TRegExp re(pattern);
    EXPECT_TRUE(re.IsValid()) << pattern;
    std::vector<std::string> caps;
    if (!re.Match(text, caps)) return {"<no match>"};
    return caps;
}

bool Matches(const std::string& pattern, const std::string& text) {
    return Caps(pattern, text) != std::vector<std::string>{"<no match>"};
}

using V = std::vector<std::string>;

const char kNone[] = "<no match>";

// Triples of pattern, text and the whole match expected (kNone: no match).
void ExpectWhole(std::initializer_list<const char*> rows) {
    for (size_t i = 0; i + 2 < rows.size(); i += 3) {
        const char* const* r = rows.begin() + i;
        EXPECT_EQ(Caps(r[0], r[1])[0], r[2]) << r[0] << " on " << r[1];
    }
}

const char kStringCap[] = "/:([^:=]+)=([^:]+)/";
const char kBoolCap[] = "/:([a-z]+):?=/";
const char kEntry[] = "/(^)?:|(\\|)?:cons25r(:)?:|(\\|)?:/";

TEST(RegExpTest, TermcapPatternsOnCapabilityLines) {
    // The string pattern skips a numeric capability and starts at the colon
    // before the string one.
    TRegExp str(kStringCap);
    std::vector<std::string> caps;
    ASSERT_TRUE(str.Match(":co#80:cm=\\E[%i%d;%dH:\\", caps));
    EXPECT_EQ(caps, (V{":cm=\\E[%i%d;%dH", "cm", "\\E[%i%d;%dH"}));
    EXPECT_EQ(str.MatchStart(0), 6);
    EXPECT_EQ(str.MatchEnd(0), 21);
    EXPECT_EQ(Caps(kStringCap, ":am:bw:co#80:"), V{"<no match>"});

    // The boolean pattern takes the first name; the colon after it is only
    // looked at.
    TRegExp boolean(kBoolCap);
    ASSERT_TRUE(boolean.Match(":am:bw:", caps));
    EXPECT_EQ(caps, (V{":am", "am"}));
    EXPECT_EQ(boolean.MatchEnd(0), 3);
    for (const char* text : {":co#80:it#8:", ":ku=\\E[A:", ":NP:"})
        EXPECT_EQ(Caps(kBoolCap, text), V{kNone}) << text;
    EXPECT_EQ(Caps(kBoolCap, ":xx=1:ms:"), (V{":ms", "ms"}));

    // The entry pattern: at the start or after "|", then ":" or "|".
    EXPECT_TRUE(Matches(kEntry, "cons25r|pc3r|FreeBSD console:\\"));
    EXPECT_TRUE(Matches(kEntry, "cons25|ansis|cons25r:\\"));
    EXPECT_TRUE(Matches(kEntry, "pc3r|cons25r|ibmpc3r:"));
    EXPECT_FALSE(Matches(kEntry, ":tc=cons25r:"));
    EXPECT_FALSE(Matches(kEntry, "cons25rx|other:"));
    EXPECT_FALSE(Matches(kEntry, "xcons25r|other:"));
}

TEST(RegExpTest, InvalidPatternsRaiseOnUse) {
    // The last one nests groups deeper than allowed.
    // clang-format off
    const std::string kBad[] = {
        "abc", "/abc", "/(ab/", "/ab)/", "/[ab/", "/a]/", "/a}/", "/a{2/", "/a{(}/", "/a{2,x}/",
        "/a{3,2}/", "/*a/", "/a|/", "/|a/", "/a|*/", "/?=a/", "/a?#/", "/\\x4/", "/\\/", "/[z-a]/",
        "/\\17/", "/" + std::string(17, '(') + "a" + std::string(17, ')') + "/"};
    // clang-format on
    for (const std::string& bad : kBad) {
        TRegExp re(bad);
        EXPECT_FALSE(re.IsValid()) << bad;
        std::vector<std::string> caps{"kept"};
        try {
            re.Match("abc", caps);
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const TException& e) {
            EXPECT_STREQ(e.what(), "bad RegExp");
        }
        EXPECT_EQ(caps, V{"kept"});
    }
    // Compiling again mends it.
    TRegExp re("/(a/");
    EXPECT_FALSE(re.IsValid());
    EXPECT_TRUE(re.Compile("/(a)/"));
    EXPECT_TRUE(Matches("//", "anything"));
}

TEST(RegExpTest, SetsAndEscapes) {
    // Special characters are plain inside a bracket, "-" at its edges too;
    // class escapes mean the same inside a bracket as outside. Code page 866
    // letters: capital A is 0x80, small a 0xA0. Sets test the byte as it is,
    // even under /i.
    // clang-format off
    ExpectWhole({
        "/^[a-c]$/", "a", "a",          "/^[a-c]$/", "c", "c",         "/^[a-c]$/", "d", kNone,
        "/^[^:=]$/", "x", "x",          "/^[^:=]$/", "=", kNone,
        "/[.*(]+/", "ab.*(cd", ".*(",   "/[-a]+/", "x-a-y", "-a-",
        "/[\\d]+/", "ab123c", "123",    "/[\\D]+/", "12abc3", "abc",   "/[\\s]+/", "a \t b", " \t ",
        "/[\\x41-\\x43]+/", "xxABCDxx", "ABC",                         "/\\d+/", "ab42", "42",
        "/\\w+/", "  foo_1 ", "foo_1",  "/\\W/", "ab;", ";",           "/\\s\\S/", "ab cd", " c",
        "/\\x3a\\t\\n/", "a:\t\nb", ":\t\n",                           "/\\.\\*/", "a.*b", ".*",
        "/\\u\\l/", "x\x80\xA0y", "\x80\xA0",                          "/\x80/i", "\xA0", "\xA0",
        "/ABC/i", "xabcx", "abc",       "/ABC/", "xabcx", kNone,       "/[A]/i", "a", kNone,
        "/a b c/x", "abc", "abc"});
    // clang-format on
}

TEST(RegExpTest, Repetition) {
    // clang-format off
    ExpectWhole({
        "/^x{2,3}$/", "x", kNone,       "/^x{2,3}$/", "xx", "xx",      "/^x{2,3}$/", "xxx", "xxx",
        "/^x{2,3}$/", "xxxx", kNone,    "/^x{2}$/", "xx", "xx",        "/^x{2,}$/", "xxxxx", "xxxxx",
        "/x{2,3}?/", "xxxx", "xx",      "/ab?" "?/", "ab", "a",          "/ab?/", "ab", "ab",
        "/a+/", "baaa", "aaa",          "/a+/", "bbb", kNone});
    // clang-format on
    EXPECT_EQ(Caps("/<(.*)>/", "<a><b>"), (V{"<a><b>", "a><b"}));
    EXPECT_EQ(Caps("/<(.*?)>/", "<a><b>"), (V{"<a>", "a"}));
    EXPECT_EQ(Caps("/<(.+?)>/", "<><b>"), (V{"<><b>", "><b"}));
    // Backtracking over whole iterations of a longer item.
    EXPECT_EQ(Caps("/(ab)*abc/", "abababc"), (V{"abababc", "ab"}));
    EXPECT_EQ(Caps("/(ab)*b/", "ab"), (V{"b", ""}));
    // Backing off an iteration also backs off its captures.
    TRegExp back("/(a)*ab/");
    std::vector<std::string> caps;
    ASSERT_TRUE(back.Match("aab", caps));
    EXPECT_EQ(caps, (V{"aab", "a"}));
    EXPECT_EQ(back.MatchStart(1), 0);
    // An item that can match empty does not loop.
    EXPECT_EQ(Caps("/(a?)*b/", "aab"), (V{"aab", ""}));
    EXPECT_TRUE(Matches("/^(x?){3}$/", ""));
    EXPECT_TRUE(Matches("/^(x?){3,}?y/", "y"));
}

TEST(RegExpTest, AlternationBindsSingleItems) {
    // a, then b or c, then d.
    ExpectWhole({"/^ab|cd$/", "abd", "abd", "/^ab|cd$/", "acd", "acd", "/^ab|cd$/", "abcd", kNone});
    EXPECT_EQ(Caps("/x(a|b|c)y/", "xcy"), (V{"xcy", "c"}));
    EXPECT_EQ(Caps("/(ab)|(cd)e/", "cde"), (V{"cde", "", "cd"}));
    // A failed first alternative does not commit: the next one is tried
    // when the rest of the pattern fails after it.
    EXPECT_EQ(Caps("/^(a)|(ab)c/", "abc"), (V{"abc", "", "ab"}));
}

TEST(RegExpTest, CapturesAndReferences) {
    EXPECT_EQ(Caps("/((a)(b))c/", "xabc"), (V{"abc", "ab", "a", "b"}));
    // "?:" gives the index back; groups opened inside it move down.
    EXPECT_EQ(Caps("/(x)?:(y)/", "xy"), (V{"xy", "y"}));
    EXPECT_EQ(Caps("/(a(b))?:(c)/", "abc"), (V{"abc", "b", "c"}));
    EXPECT_EQ(Caps("/(a)?b/", "b"), (V{"b", ""}));
    EXPECT_EQ(Caps("/(.)\\1/", "abccd"), (V{"cc", "c"}));
    // An unset group never matches; no previous match is kept (\y1).
    ExpectWhole({"/(a)?x\\1/", "x", kNone, "/(A)\\1/i", "Aa", "Aa", "/(a)\\y1/", "aa", kNone});
    TRegExp many("/(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)\\11/");
    std::vector<std::string> caps;
    ASSERT_TRUE(many.IsValid());
    ASSERT_TRUE(many.Match("abcdefghijkk", caps));
    EXPECT_EQ(caps.size(), 12u);
    EXPECT_EQ(caps[11], "k");
}

TEST(RegExpTest, LookaroundAndPositionTests) {
    TRegExp ahead("/a(b)?=/");
    std::vector<std::string> caps;
    ASSERT_TRUE(ahead.Match("acab", caps));
    EXPECT_EQ(caps, (V{"a", "b"}));
    EXPECT_EQ(ahead.MatchStart(0), 2);
    TRegExp behind("/:?#1b/");
    ASSERT_TRUE(behind.Match("b:b", caps));
    EXPECT_EQ(behind.MatchStart(0), 2);
    // "#3" and "~3" with fewer bytes before the position than the distance.
    // clang-format off
    ExpectWhole({
        "/\\w+x?=/", "abc ddx", "dd",      "/\\w+;?!/", "ab; cd", "a",    "/:?#1b/", "b:b", "b",
        "/^x?#3/", "xx", kNone,             "/^x?~3/", "xx", "",            "/^\\b$/", "", "",
        "/\\bo\\w/", "foo oak", "oa",       "/o\\B/", "foo bar", "o",      "/^/", "abc", "",
        "/\\c[a-z]+/", "1ab cd", "cd",      "/ab\\mcd\\Mef/", "xabcdefx", "cd",  "/$/", "abc", ""});
    // clang-format on
    TRegExp end("/$/");
    ASSERT_TRUE(end.Match("abc", caps));
    EXPECT_EQ(end.MatchStart(0), 3);
}

TEST(RegExpTest, BoundedByTheWorkBuffer) {
    // Text beyond 1023 bytes is not seen.
    std::string text(2000, 'a');
    TRegExp end("/$/");
    std::vector<std::string> caps;
    ASSERT_TRUE(end.Match(text, caps));
    EXPECT_EQ(end.MatchStart(0), 1023);
    EXPECT_EQ(Caps("/a+/", text)[0].size(), 1023u);
    EXPECT_FALSE(Matches("/b/", std::string(1023, 'a') + "b"));

    // Patterns that backtrack a lot end in bounded time, with an answer or
    // without a match, never with a crash.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Matches("/(a*)*b/", std::string(1023, 'a')));
    EXPECT_FALSE(Matches("/a*a*a*a*a*a*b/", std::string(1023, 'a')));
    EXPECT_TRUE(Matches("/(a|aa)*c/", std::string(1022, 'a') + "c"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

    // Deep nesting of marks is refused or handled, but never recursed on without bound.
    std::string deep = "/a" + std::string(1000, '?') + "/";
    TRegExp d(deep);
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
