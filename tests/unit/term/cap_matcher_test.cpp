#include "term/cap_matcher.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The indexes must never change the outcome of trying every template in
// table order: same status, same record, same bytes and parameters. What
// the outcomes are is in matcher_outcomes.test.
TEST(CapMatcherTest, IndexesAgreeWithTheTableOrder) {
    const std::string alphabet = "\x1b\x1b\x1b[[[??0123456789;;;;HJKLmmrxBST@=|<>1K4hlc\x0e\x80 a";
    std::mt19937 rng(12345);
    long compared = 0, matched = 0, incomplete = 0;
    const std::string shipped = QUENLOR_SOURCE_DIR "/etc/termcap";
    for (const auto& [file, type] : {std::pair{shipped, "cons25r"},
                                     {shipped, "ansi"},
                                     {QUENLOR_TEST_DATA "/term/termcap/rich.termcap", "rich"}}) {
        TTermcap t;
        t.Load(file, type);
        TCapMatcher m;
        m.Build(t.GetOutputCaps());
        for (int round = 0; round < 4000; ++round) {
            std::string data;
            for (int i = 1 + static_cast<int>(rng() % 12); i > 0; --i)
                data += alphabet[rng() % alphabet.size()];
            auto p = reinterpret_cast<const unsigned char*>(data.data());
            for (size_t at = 0; at < data.size(); ++at) {
                TCapMatch fast, slow;
                TMatchStatus a = m.Match(p + at, p + data.size(), fast);
                ASSERT_EQ(a, m.MatchExhaustive(p + at, p + data.size(), slow))
                    << "data " << testing::PrintToString(data) << " at " << at;
                ++compared;
                incomplete += a == TMatchStatus::Incomplete;
                if (a != TMatchStatus::Matched) continue;
                ++matched;
                ASSERT_EQ(fast.Record, slow.Record) << testing::PrintToString(data);
                ASSERT_EQ(fast.Consumed, slow.Consumed);
                ASSERT_EQ(std::vector<int>(fast.Params, fast.Params + fast.ParamCount),
                          std::vector<int>(slow.Params, slow.Params + slow.ParamCount));
            }
        }
    }
    // The data must exercise all three outcomes, or the comparison says little.
    EXPECT_GT(matched, compared / 20);
    EXPECT_GT(incomplete, compared / 50);
}

}  // namespace
