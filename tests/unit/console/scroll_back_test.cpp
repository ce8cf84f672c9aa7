#include "console/scroll_back.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The ring through a console is in tests/data/console/scroll_back_*.test;
// these are the uses a console never makes.
TEST(ScrollBackRing, EmptyAndClampedUses) {
    TScrollBack ring;
    EXPECT_EQ(ring.Assign(0, 80, TCell{' ', 0, 7}), 0);
    EXPECT_EQ(ring.size(), 0u);
    ring.Rotate();  // nothing to turn
    std::vector<TCell> out;
    ring.AppendLines(3, out);
    EXPECT_TRUE(out.empty());

    ASSERT_EQ(ring.Assign(3, 2, TCell{' ', 0, 7}), 3);
    for (int i = 0; i < 3; ++i) ring.Line(i)[0].Char = static_cast<unsigned char>('a' + i);
    ring.Rotate();
    ring.Rotate();
    ring.AppendLines(10, out);  // more than there are: all three, in order
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0].Char, 'c');
    EXPECT_EQ(out[2].Char, 'a');
    EXPECT_EQ(out[4].Char, 'b');
    EXPECT_EQ(ring[4].Char, 'b');
    ring.Release();
    EXPECT_EQ(ring.Lines(), 0);
}

}  // namespace
