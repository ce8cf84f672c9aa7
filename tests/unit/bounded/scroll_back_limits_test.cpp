#include <gtest/gtest.h>

#include <climits>

#include "../base/case_file.h"
#include "config/host_config.h"
#include "console/headless_console.h"
#include "console/scroll_back.h"

// What Assign returns is exactly what the scroll-back holds: the count the
// console records is the count it can write into.
TEST(ScrollBackLimits, AssignHoldsWhatItReturnsAndHugeSizesShrink) {
    for (const TCase& c : ReadCases("bounded/scroll_back.cases")) {
        SCOPED_TRACE(c.where);
        TScrollBack back;
        const int width = static_cast<int>(Num(c[1]));
        const int got = back.Assign(static_cast<int>(Num(c[0])), width, TCell{' ', 0, 7});
        EXPECT_EQ(got, Num(c[2]));
        EXPECT_EQ(back.Lines(), got);
        EXPECT_EQ(back.size(), static_cast<std::size_t>(got) * (got > 0 ? width : 0));
    }
    // A host asking for more than can be had gets the most that can, as the
    // screen's scroll size, and scrolling far past it stays inside it.
    THeadlessConsole console(80, 25);
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
