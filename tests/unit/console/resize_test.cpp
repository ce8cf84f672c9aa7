// Screens taking a new terminal size: content from the top left, cursor
// inside, scroll region reset, scroll-back kept; the status row below.
#include <gtest/gtest.h>

#include <string>

#include "config/host_config.h"
#include "console/headless_console.h"

namespace {

std::string Row(const TConsole& console, int screen, int y) {
    const ScreenRecord& s = console.GetScreen(screen);
    std::string row;
    for (int x = 0; x < s.Width; ++x)
        row.push_back(static_cast<char>(s.Cells[y * s.Width + x].Char));
    while (!row.empty() && row.back() == ' ') row.pop_back();
    return row;
}

TEST(Resize, EveryScreenKeepsItsContentFromTheTopLeft) {
    const struct {
        int width, height;
        const char* row0;
        const char* row2;
        int cursorX, cursorY;
    } cases[] = {
        {12, 6, "abcdefghij", "line two", 9, 4},  // wider and taller: all kept
        {4, 3, "abcd", "line", 3, 2},             // narrower and shorter: cut
        {6, 4, "abcdef", "line t", 5, 3},
    };
    for (const auto& c : cases) {
        THeadlessConsole console(10, 5);
        THostConfig host;
        host.SetMaxScrollSize(8);
        const int a = console.AddScreen();
        const int b = console.AddScreen();
        console.SetHostConfig(a, &host);
        console.WriteText(a, "abcdefghij\r\n\r\nline two\r\n\r\n\x1b");
        console.SetCursor(a, 9, 4);
        console.SetScrollRegion(a, 1, 2);
        console.WriteText(b, "b");
        console.Resize(c.width, c.height);
        for (int screen : {a, b}) {
            EXPECT_EQ(console.GetScreen(screen).Width, c.width);
            EXPECT_EQ(console.GetScreen(screen).Height, c.height);
        }
        EXPECT_EQ(Row(console, a, 0), c.row0) << c.width;
        EXPECT_EQ(Row(console, a, 2), c.row2) << c.width;
        EXPECT_EQ(Row(console, b, 0), "b");
        EXPECT_EQ(console.GetCursorX(a), c.cursorX);
        EXPECT_EQ(console.GetCursorY(a), c.cursorY);
        EXPECT_EQ(console.GetScreen(a).RegionTop, 0);
        EXPECT_EQ(console.GetScreen(a).RegionBottom, c.height - 1);
        // New screens get the new size too.
        const int fresh = console.AddScreen();
        EXPECT_EQ(console.GetScreen(fresh).Width, c.width);
    }
}

TEST(Resize, ScrollBackLinesAreKeptCutOrPadded) {
    THeadlessConsole console(6, 2);
    THostConfig host;
    host.SetMaxScrollSize(4);
    const int screen = console.AddScreen();
    console.SetHostConfig(screen, &host);
    console.WriteText(screen, "one\r\ntwo\r\nthree\r\nx");
    ASSERT_EQ(console.GetScreen(screen).ScrollLines, 2);
    console.Resize(3, 2);
    int lines = 0;
    std::vector<TCell> block = console.TakeSnapshot(screen, lines);
    ASSERT_EQ(lines, 4);
    std::string text;
    for (const TCell& cell : block) text.push_back(static_cast<char>(cell.Char));
    EXPECT_EQ(text, "onetwothrx  ");
    console.Resize(8, 2);
    block = console.TakeSnapshot(screen, lines);
    text.clear();
    for (const TCell& cell : block) text.push_back(static_cast<char>(cell.Char));
    EXPECT_EQ(text.substr(0, 16), "one     two     ");
    // Scrolling on keeps filling the kept scroll-back.
    console.WriteText(screen, "\r\nmore");
    EXPECT_EQ(console.GetScreen(screen).ScrollLines, 3);
}

TEST(Resize, TheStatusRowTakesTheBottomRowOfTheTerminal) {
    THeadlessConsole console(20, 4);
    const int screen = console.AddScreen();
    console.SetActiveScreen(screen);
    console.SetCursor(screen, 5, 3);
    console.SetStatusText("(1) host");
    console.SetStatusLine(true);
    EXPECT_EQ(console.GetScreen(screen).Height, 3);
    EXPECT_EQ(console.GetConsoleHeight(), 3);
    EXPECT_EQ(console.GetCursorY(screen), 2);
    EXPECT_EQ(console.ShownRow(3).substr(0, 8), "(1) host");
    // Host output on the last screen row never reaches the status row.
    console.BeginUpdate(screen);
    console.WriteText(screen, "\r\n\r\n\r\nzzz");
    console.EndUpdate(screen);
    EXPECT_EQ(console.ShownRow(2).substr(0, 3), "zzz");
    EXPECT_EQ(console.ShownRow(3).substr(0, 8), "(1) host");
    // A size change keeps the status row.
    console.Resize(20, 6);
    EXPECT_EQ(console.GetScreen(screen).Height, 5);
    console.SetStatusLine(false);
    EXPECT_EQ(console.GetScreen(screen).Height, 6);
}

}  // namespace
