#include "base/string_history.h"

#include <gtest/gtest.h>

#include <thread>

TEST(StringHistory, NewestFirstAndNavigationBounds) {
    TStringHistory h;
    EXPECT_EQ(h.Current(), "");  // empty history
    h.Newer();
    h.Older();
    EXPECT_EQ(h.Position(), 0);

    h.Add("x");
    h.Add("y");
    EXPECT_EQ(h.Current(), "y");
    h.Older();
    EXPECT_EQ(h.Current(), "x");
    h.Older();  // already the oldest
    EXPECT_EQ(h.Position(), 1);
    EXPECT_EQ(h.Current(), "x");
    h.Newer();
    h.Newer();  // already the newest
    EXPECT_EQ(h.Position(), 0);
    EXPECT_EQ(h.Current(), "y");

    h.Older();
    h.Add("z");  // a new entry brings the position back to the newest
    EXPECT_EQ(h.Position(), 0);
    EXPECT_EQ(h.Current(), "z");
}

TEST(StringHistory, DuplicatesLockingClearAndCopy) {
    TStringHistory h;
    h.Add("same");
    h.Add("same");
    EXPECT_EQ(h.Count(), 2);

    h.SetLocked(true);
    h.Add("ignored");
    EXPECT_EQ(h.Count(), 2);
    EXPECT_EQ(h.Current(), "same");

    h.Older();
    TStringHistory copy(h);
    EXPECT_EQ(copy.Position(), 1);
    EXPECT_TRUE(copy.IsLocked());
    EXPECT_EQ(copy.Count(), 2);

    h.SetLocked(false);
    h.Clear();
    EXPECT_EQ(h.Count(), 0);
    EXPECT_EQ(h.Position(), 0);
    EXPECT_EQ(copy.Count(), 2);  // the copy owns its entries

    TStringHistory assigned;
    assigned = copy;
    EXPECT_EQ(assigned.Current(), "same");
}

// Session threads append while prompts copy; under ThreadSanitizer this is
// the check that the shared history has no data race.
TEST(StringHistory, ConcurrentAddAndCopy) {
    TStringHistory shared;
    constexpr int kAdds = 2000;
    std::thread writer([&] {
        for (int i = 0; i < kAdds; ++i) shared.Add("host" + std::to_string(i));
    });
    int last = 0;
    for (int i = 0; i < 200; ++i) {
        TStringHistory copy(shared);
        EXPECT_GE(copy.Count(), last);  // copies never go back in time
        last = copy.Count();
    }
    writer.join();
    EXPECT_EQ(shared.Count(), kAdds);
    EXPECT_EQ(shared.Current(), "host" + std::to_string(kAdds - 1));
}
