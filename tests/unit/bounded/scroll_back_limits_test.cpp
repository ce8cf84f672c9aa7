#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "config/host_config.h"
#include "console/headless_console.h"
#include "console/scroll_back.h"

// A scroll-back never asks for more than its cell budget, and what Assign
// returns is exactly what it holds: the count the console records is the
// count it can write into.
TEST(ScrollBackLimits, AssignReturnsWhatItHolds) {
    struct Case {
        int lines;
        int width;
        int expected;
    };
    const int most80 = static_cast<int>(TScrollBack::kMaxCells / 80);
    const std::vector<Case> cases = {
        {1000, 80, 1000},      {0, 80, 0},
        {-5, 80, 0},           {10, 0, 0},
        {most80, 80, most80},  {most80 + 1, 80, most80},
        {INT_MAX, 80, most80}, {INT_MAX, 1, static_cast<int>(TScrollBack::kMaxCells)},
    };
    const TCell blank{' ', 0, 7};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lines << " x " << c.width);
        TScrollBack back;
        const int got = back.Assign(c.lines, c.width, blank);
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(back.Lines(), got);
        EXPECT_EQ(back.size(), static_cast<std::size_t>(got) * (got > 0 ? c.width : 0));
        EXPECT_LE(back.size(), TScrollBack::kMaxCells);
    }
}

// A host asking for more scroll-back than can be had gets the most that can,
// recorded as the screen's scroll size, and scrolling far past it neither
// crashes nor writes outside it.
TEST(ScrollBackLimits, HugeMaxScrollSizeShrinksAndScrollsSafely) {
    THeadlessConsole console;
    console.SetConsoleSize(80, 25);
    const int screen = console.AddScreen();
    THostConfig host;
    host.SetMaxScrollSize(INT_MAX);
    console.SetHostConfig(screen, &host);
    const ScreenRecord& s = console.GetScreen(screen);
    EXPECT_GT(s.ScrollSize, 0);
    EXPECT_LE(static_cast<std::size_t>(s.ScrollSize) * 80, TScrollBack::kMaxCells);
    EXPECT_EQ(s.ScrollBack.Lines(), s.ScrollSize);
    for (int i = 0; i < 2000; ++i) console.WriteText(screen, "line\r\n");
    EXPECT_EQ(console.GetScreen(screen).ScrollLines, 2000 - 24);
    console.SetHostConfig(screen, nullptr);
}
