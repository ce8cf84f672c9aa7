#include "term/cap_matcher.h"

#include <gtest/gtest.h>

#include <random>

#include "term_test_util.h"

namespace {

TCapMatcher Build(const std::string& file, const std::string& type) {
    TTermcap t;
    t.Load(file, type);
    TCapMatcher m;
    m.Build(t.GetOutputCaps());
    return m;
}

TMatchStatus MatchText(const TCapMatcher& m, const std::string& data, TCapMatch& out) {
    auto p = reinterpret_cast<const unsigned char*>(data.data());
    return m.Match(p, p + data.size(), out);
}

const char kRich[] =
    "rich:\\\n"
    "\t:cm=\\E[%i%d;%dH:ch=\\E|%.:cv=5*\\E=%+ :cs=\\E[%i%d;%dr:ce=\\E>%>xyK:\\\n"
    "\t:cd=\\E<%%J:DO=\\E[%dB:SF=\\E[%dS:UP=\\E[%dA:cl=\\E[H\\E[J:ho=\\E[H:\\\n"
    "\t:as=\\E[11m:ae=\\E[10m:cb=\\E[1K:sc=\\E7:rc=\\E8:sf=\\E[%d:sr=\\E[%.T:\\\n"
    "\t:so=^N:se=^O:ks=\\E[?%dh:ke=\\E[?%dl:vi=\\E[?25l:up=%i:nd=%d:\\\n"
    "\t:x2=\\E[%d;%d;x:ic=\\E[4h:IC=\\E[%d@:AL=\\E[%+0L:\n";

// The indexes must never change the outcome of trying every template in
// table order: same status, same record, same bytes and parameters.
TEST(CapMatcherTest, IndexesAgreeWithTheTableOrder) {
    TTempFile rich(kRich);
    const std::string shipped = std::string(QUENLOR_SOURCE_DIR) + "/etc/termcap";
    std::vector<TCapMatcher> matchers;
    matchers.push_back(Build(shipped, "cons25r"));
    matchers.push_back(Build(shipped, "ansi"));
    matchers.push_back(Build(rich.Path(), "rich"));
    const std::string alphabet = "\x1b\x1b\x1b[[[??0123456789;;;;HJKLmmrxBST@=|<>1K4hlc\x0e\x80 a";
    std::mt19937 rng(12345);
    long compared = 0, matched = 0, incomplete = 0;
    for (const TCapMatcher& m : matchers) {
        for (int round = 0; round < 4000; ++round) {
            std::string data;
            const int len = 1 + static_cast<int>(rng() % 12);
            for (int i = 0; i < len; ++i) data += alphabet[rng() % alphabet.size()];
            auto p = reinterpret_cast<const unsigned char*>(data.data());
            for (size_t at = 0; at < data.size(); ++at) {
                TCapMatch fast, slow;
                TMatchStatus a = m.Match(p + at, p + data.size(), fast);
                TMatchStatus b = m.MatchExhaustive(p + at, p + data.size(), slow);
                ASSERT_EQ(a, b) << "data " << testing::PrintToString(data) << " at " << at;
                ++compared;
                if (a == TMatchStatus::Incomplete) ++incomplete;
                if (a != TMatchStatus::Matched) continue;
                ++matched;
                ASSERT_EQ(fast.Record, slow.Record) << testing::PrintToString(data);
                ASSERT_EQ(fast.Consumed, slow.Consumed);
                ASSERT_EQ(fast.ParamCount, slow.ParamCount);
                for (int i = 0; i < fast.ParamCount; ++i) ASSERT_EQ(fast.Params[i], slow.Params[i]);
            }
        }
    }
    // The data must exercise all three outcomes, or the comparison says little.
    EXPECT_GT(matched, compared / 20);
    EXPECT_GT(incomplete, compared / 50);
}

TEST(CapMatcherTest, Outcomes) {
    TTempFile rich(kRich);
    TCapMatcher m = Build(rich.Path(), "rich");
    TCapMatch out;
    // "\E[H" could still become "cl" (\E[H\E[J), which comes first; then a
    // number still being read, and a "%." with no byte yet. A number without
    // digits fails the template but the rest of it is still compared: with
    // the data ending inside it, that is incomplete.
    for (const char* data : {"\x1b[H", "\x1b[12", "\x1b|", "\x1b[?"})
        EXPECT_EQ(MatchText(m, data, out), TMatchStatus::Incomplete) << data;
    // Templates that consume nothing ("%i") never match.
    EXPECT_EQ(MatchText(m, "x", out), TMatchStatus::NoMatch);

    const struct {
        const char* data;
        TCapEffect effect;
        int consumed;
        std::vector<int> params;
    } matched[] = {
        {"\x1b[Hx", TCapEffect::ho, 3, {}},
        {"\x1b[H\x1b[J", TCapEffect::cl, 6, {}},
        {"\x1b[?25l", TCapEffect::None, 6, {25}},   // ke, which comes before vi
        {"\x1b[5;10H", TCapEffect::cm, 7, {4, 9}},  // %i makes the numbers one less
        // Numbers saturate instead of overflowing.
        {"\x1b[99999999999999999999B", TCapEffect::DO, 23, {TCapMatcher::kMaxNumber}},
        // %. and %+ take bytes as signed values.
        {"\x1b|\x90", TCapEffect::ch, 3, {-112}},
        {"\x1b=%", TCapEffect::cv, 3, {5}},
        // A template that starts with a number ("%d") is tried at every byte.
        {"42x", TCapEffect::nd, 2, {42}},
    };
    for (const auto& row : matched) {
        SCOPED_TRACE(testing::PrintToString(std::string(row.data)));
        ASSERT_EQ(MatchText(m, row.data, out), TMatchStatus::Matched);
        EXPECT_EQ(out.Effect, row.effect);
        EXPECT_EQ(out.Consumed, row.consumed);
        EXPECT_EQ(std::vector<int>(out.Params, out.Params + out.ParamCount), row.params);
    }
    EXPECT_FALSE(m.IsPlain('7'));
    EXPECT_FALSE(m.IsPlain('x'));
}

}  // namespace
