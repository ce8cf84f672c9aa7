#include "console/console.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/exception.h"
#include "config/host_config.h"
#include "console/headless_console.h"

namespace {

class ConsoleTest : public ::testing::Test {
  protected:
    ConsoleTest() : console(80, 25) { screen = console.AddScreen(); }

    std::string Row(int y, int screenIndex = -1) const {
        const ScreenRecord& s = console.GetScreen(screenIndex < 0 ? screen : screenIndex);
        std::string row;
        for (int x = 0; x < s.Width; ++x)
            row.push_back(static_cast<char>(s.Cells[y * s.Width + x].Char));
        return row;
    }
    std::string RowPrefix(int y, int n) const { return Row(y).substr(0, n); }
    // The first three characters of rows `from`..`to`, joined by '|'.
    std::string Rows(int from, int to) const {
        std::string text;
        for (int y = from; y <= to; ++y) text += (y > from ? "|" : "") + RowPrefix(y, 3);
        return text;
    }
    TCell Cell(int x, int y) const {
        const ScreenRecord& s = console.GetScreen(screen);
        return s.Cells[y * s.Width + x];
    }
    void Write(const std::string& text) { console.WriteText(screen, text.c_str()); }
    void WriteAt(int x, int y, const std::string& text) {
        console.SetCursor(screen, x, y);
        Write(text);
    }
    std::pair<int, int> Cursor() const {
        return {console.GetCursorX(screen), console.GetCursorY(screen)};
    }
    // Writes a marker text at the start of every row: "r00", "r01" ...
    void NumberRows() {
        for (int y = 0; y < 25; ++y) {
            char text[8];
            std::snprintf(text, sizeof text, "r%02d", y);
            WriteAt(0, y, text);
        }
    }

    THeadlessConsole console;
    int screen = 0;
};

TEST_F(ConsoleTest, SlotsAndErrors) {
    // A new screen is blank, at the console's size, with a full region.
    const ScreenRecord& s = console.GetScreen(screen);
    EXPECT_EQ(s.Width, 80);
    EXPECT_EQ(s.Height, 25);
    EXPECT_EQ(s.RegionTop, 0);
    EXPECT_EQ(s.RegionBottom, 24);
    EXPECT_EQ(s.Attribute, 7);
    EXPECT_EQ(Row(24), std::string(80, ' '));
    EXPECT_EQ(Cell(79, 24).Attr, 7);
    // The first screen already counts; 15 more fit, the 17th is refused.
    for (int i = 1; i < 16; ++i) EXPECT_EQ(console.AddScreen(), i);
    try {
        console.AddScreen();
        FAIL() << "17th screen accepted";
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "TConsole::AddScreen: Unable to add new screen.");
    }
    console.DelScreen(3);
    EXPECT_EQ(console.AddScreen(), 3);  // lowest free slot
    console.DelScreen(5);
    try {
        console.DelScreen(5);
        FAIL() << "freed twice";
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "TConsole::DelScreen: Screen 5 is not in use.");
    }
    try {
        console.SetSize(5, 10, 10);
        FAIL();
    } catch (const TException& e) {
        EXPECT_STREQ(e.what(), "TConsole::SetSize: Screen 5 is not in use.");
    }
    EXPECT_THROW(console.DelScreen(16), TException);
    EXPECT_THROW(console.DelScreen(-1), TException);
    // Operations on a free or invalid slot do nothing instead of crashing.
    console.PutChar(5, 'x');
    console.PutChar(99, 'x');
    console.ClearToEndOfScreen(-3);
    EXPECT_EQ(console.GetSelectionText(5), "");
}

// The rest of the screen operations are checked through the emulator in
// console_edges.test; what a host cannot send is checked here.
TEST_F(ConsoleTest, WrapPastBottomFlagAndNegativeArguments) {
    console.SetAutoWrap(screen, true);
    WriteAt(0, 24, std::string(80, 'z'));
    EXPECT_FALSE(console.WrappedPastBottom(screen));
    Write("y");
    EXPECT_TRUE(console.WrappedPastBottom(screen));
    Write("x");  // the next printed byte clears the flag
    EXPECT_FALSE(console.WrappedPastBottom(screen));

    NumberRows();
    WriteAt(3, 5, "abc");
    console.SetScrollRegion(screen, 5, 10);
    console.SetCursor(screen, 4, 5);
    console.InsertLines(screen, -4);
    console.DeleteLines(screen, -1);
    console.InsertChars(screen, -5);
    console.DeleteChars(screen, -5);
    console.ClearChars(screen, -5);
    EXPECT_EQ(Rows(4, 6), "r04|r05|r06");
    EXPECT_EQ(RowPrefix(5, 6), "r05abc");
    console.SetCursor(screen, -100, -3);
    EXPECT_EQ(Cursor(), std::make_pair(0, 0));
}

TEST_F(ConsoleTest, ControlBytes) {
    Write("ab");
    for (unsigned char c = 0; c <= 6; ++c) console.PutChar(screen, c);
    EXPECT_EQ(console.GetCursorX(screen), 2);
    EXPECT_EQ(RowPrefix(0, 3), "ab ");
    // A bell on the banner (no host) or with EnableBeep off makes no sound.
    console.PutChar(screen, 7);
    THostConfig quiet;
    quiet.SetEnableBeep(false);
    console.SetHostConfig(screen, &quiet);
    console.PutChar(screen, 7);
    EXPECT_EQ(console.Beeps(), 0);
    THostConfig loud;
    console.SetHostConfig(screen, &loud);
    console.PutChar(screen, 7);
    EXPECT_EQ(console.Beeps(), 1);
    EXPECT_EQ(console.GetCursorX(screen), 2);

    // Tabs: next multiple of 8, clamped to the last column.
    console.SetCursor(screen, 3, 1);
    console.PutChar(screen, 9);
    EXPECT_EQ(console.GetCursorX(screen), 8);
    console.SetCursor(screen, 75, 1);
    console.PutChar(screen, 9);
    EXPECT_EQ(console.GetCursorX(screen), 79);

    // Backspace, with and without reverse wrap.
    console.SetCursor(screen, 0, 2);
    console.PutChar(screen, 8);
    EXPECT_EQ(Cursor(), std::make_pair(0, 2));
    console.SetReverseWrap(screen, true);
    console.PutChar(screen, 8);
    EXPECT_EQ(Cursor(), std::make_pair(79, 1));
    // 11, 12 and 14.. are printed.
    console.SetCursor(screen, 0, 3);
    console.PutChar(screen, 12);
    console.PutChar(screen, 0xE0);
    EXPECT_EQ(Cell(0, 3).Char, 12);
    EXPECT_EQ(Cell(1, 3).Char, 0xE0);
}

TEST_F(ConsoleTest, ScrollRegionFeedsScrollBack) {
    THostConfig host;
    host.SetMaxScrollSize(3);
    console.SetHostConfig(screen, &host);
    NumberRows();
    console.SetCursor(screen, 0, 24);
    for (int i = 0; i < 5; ++i) console.PutChar(screen, 10);
    const ScreenRecord& s = console.GetScreen(screen);
    ASSERT_EQ(s.ScrollLines, 3);
    EXPECT_EQ(RowPrefix(0, 3), "r05");
    EXPECT_EQ(Row(24), std::string(80, ' '));

    // A region below the top scrolls only its rows and saves nothing.
    console.SetScrollRegion(screen, 5, 10);
    console.SetCursor(screen, 0, 10);
    console.PutChar(screen, 10);
    EXPECT_EQ(s.ScrollLines, 3);
    EXPECT_EQ(Rows(4, 11), "r09|r11|r12|r13|r14|r15|   |r16");
    EXPECT_EQ(Row(10), std::string(80, ' '));
    // Line feed below the region moves down, never scrolls the region.
    console.SetCursor(screen, 0, 22);
    console.PutChar(screen, 10);
    console.PutChar(screen, 10);
    console.PutChar(screen, 10);
    EXPECT_EQ(console.GetCursorY(screen), 24);
    EXPECT_EQ(RowPrefix(5, 3), "r11");

    // Bad regions from the host are ignored.
    console.SetScrollRegion(screen, 10, 3);
    console.SetScrollRegion(screen, -1, 5);
    console.SetScrollRegion(screen, 0, 25);
    EXPECT_EQ(s.RegionTop, 5);
    EXPECT_EQ(s.RegionBottom, 10);
}

TEST_F(ConsoleTest, Attributes) {
    console.SetAttribute(screen, 0x17);
    console.SetReverse(screen);
    console.SetReverse(screen);  // only one swap
    EXPECT_EQ(console.GetAttribute(screen), 0x71);
    console.ClearReverse(screen);
    EXPECT_EQ(console.GetAttribute(screen), 0x17);
    console.SetBold(screen);
    EXPECT_EQ(console.GetAttribute(screen), 0x1F);
    console.ClearBold(screen);
    EXPECT_EQ(console.GetAttribute(screen), 0x17);
    console.SetAttribute(screen, 0x0F);
    console.ClearBold(screen);  // not set by SetBold: stays
    EXPECT_EQ(console.GetAttribute(screen), 0x0F);
    console.SetBlink(screen);
    EXPECT_EQ(console.GetAttribute(screen), 0x8F);
    console.ClearBlink(screen);
    console.SetForeground(screen, 12);  // only the low three bits count
    console.SetBackground(screen, 9);
    EXPECT_EQ(console.GetAttribute(screen), 0x1C);
    console.SetReverse(screen);
    console.ResetAttributes(screen);
    EXPECT_EQ(console.GetAttribute(screen), 7);
    console.SetReverse(screen);
    EXPECT_EQ(console.GetAttribute(screen), 0x70);
}

TEST_F(ConsoleTest, SelectionTextAndMarks) {
    WriteAt(0, 3, "abcdefghijkl");
    WriteAt(0, 4, "ABCDE");
    console.PutChar(screen, 0x0B);  // a control byte in the cells
    Write("GHIJKL");
    WriteAt(0, 5, "0123456789ab");
    // Corners in any order: dragged from (10, 5) to (2, 3).
    console.SetSelection(screen, 10, 5, 2, 3);
    EXPECT_EQ(console.GetSelectionText(screen), "cdefghijk\rCDEGHIJK\r23456789a");
    console.SetActiveScreen(screen);
    EXPECT_EQ(console.ShownCell(2, 3).Attr, 0x87);
    EXPECT_EQ(console.ShownCell(10, 5).Attr, 0x87);
    EXPECT_EQ(console.ShownCell(11, 5).Attr, 0x07);
    EXPECT_EQ(console.ShownCell(1, 4).Attr, 0x07);
    EXPECT_EQ(Cell(2, 3).Attr, 0x07);  // marks live in the display only
    // Clamped to the screen; none gives an empty text.
    console.SetSelection(screen, 78, 24, 500, 300);
    EXPECT_EQ(console.GetSelectionText(screen), "  ");
    // Past the right edge: the row's own last columns, nothing of the next.
    console.SetSelection(screen, 78, 3, 500, 3);
    EXPECT_EQ(console.GetSelectionText(screen), "  ");
    console.Refresh();
    EXPECT_EQ(console.ShownCell(79, 3).Attr, 0x87);
    EXPECT_EQ(console.ShownCell(0, 4).Attr, 0x07);
    // Only all four corners at -1 mean none; one corner there is clamped.
    console.SetSelection(screen, -1, -1, 2, 3);
    EXPECT_EQ(console.GetSelectionText(screen), "   \r   \r   \rabc");
    console.SetSelection(screen, -1, -1, -1, -1);
    EXPECT_EQ(console.GetSelectionText(screen), "");
    console.Refresh();
    EXPECT_EQ(console.ShownCell(2, 3).Attr, 0x07);
}

TEST_F(ConsoleTest, SnapshotOfHundredSavedLines) {
    THostConfig host;
    host.SetMaxScrollSize(256);
    console.SetHostConfig(screen, &host);
    console.SetCursor(screen, 0, 24);
    for (int i = 0; i < 100; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "\r\nline%03d", i);
        Write(text);
    }
    int lines = 0;
    std::vector<TCell> block = console.TakeSnapshot(screen, lines);
    ASSERT_EQ(lines, 125);
    ASSERT_EQ(block.size(), 125u * 80u);
    auto blockRow = [&](int line) {
        std::string text;
        for (int x = 0; x < 7; ++x) text.push_back(static_cast<char>(block[line * 80 + x].Char));
        return text;
    };
    // 100 scrolls saved the 25 blank rows of the new screen, then line000..
    EXPECT_EQ(blockRow(24), "       ");
    EXPECT_EQ(blockRow(25), "line000");
    EXPECT_EQ(blockRow(99), "line074");
    EXPECT_EQ(blockRow(100), "line075");  // the screen starts here
    EXPECT_EQ(blockRow(124), "line099");
    // The page above the screen: block lines 75..99.
    console.ShowPage(screen, block.data() + 75 * 80, block.size() - 75 * 80);
    EXPECT_EQ(RowPrefix(0, 7), "line050");
    EXPECT_EQ(RowPrefix(24, 7), "line074");
    // A short block copies only what it holds.
    console.ShowPage(screen, block.data() + 124 * 80, 80);
    EXPECT_EQ(RowPrefix(0, 7), "line099");
    EXPECT_EQ(RowPrefix(1, 7), "line051");
}

TEST_F(ConsoleTest, SaveAndRestoreScreen) {
    THostConfig host;
    host.SetMaxScrollSize(10);
    console.SetHostConfig(screen, &host);
    Write("before");
    console.SetAttribute(screen, 0x1E);
    ScreenRecord saved;
    console.SaveScreen(screen, saved);
    console.ResetAttributes(screen);
    WriteAt(0, 24, "\r\nAre you sure?\n\n");
    EXPECT_EQ(console.GetScreen(screen).ScrollLines, 3);
    console.RestoreScreen(screen, saved);
    EXPECT_EQ(RowPrefix(0, 6), "before");
    EXPECT_EQ(console.GetCursorX(screen), 6);
    EXPECT_EQ(console.GetAttribute(screen), 0x1E);
    EXPECT_EQ(console.GetScreen(screen).ScrollLines, 0);
    // The saved copy is independent of the screen.
    Write("!");
    EXPECT_EQ(saved.Cells[6].Char, ' ');
}

TEST_F(ConsoleTest, StatusLineAndDrawing) {
    console.SetActiveScreen(screen);
    console.SetStatusText("status");
    console.SetStatusLine(true);
    // The status row lies below the screen, which gives up its last row.
    EXPECT_EQ(console.GetScreen(screen).Height, 24);
    EXPECT_EQ(console.ShownRow(24).substr(0, 7), "status ");
    EXPECT_EQ(console.ShownCell(0, 24).Attr, 0x70);
    EXPECT_EQ(console.ShownCell(79, 24).Attr, 0x70);
    // A selection down to the bottom marks the screen's rows, never the status row.
    console.SetSelection(screen, 0, 0, 500, 300);
    console.Refresh();
    EXPECT_EQ(console.ShownCell(0, 23).Attr, 0x87);
    EXPECT_EQ(console.ShownCell(0, 24).Attr, 0x70);
    console.SetSelection(screen, -1, -1, -1, -1);
    console.SetStatusLine(false);
    EXPECT_EQ(console.GetScreen(screen).Height, 25);
    EXPECT_EQ(console.ShownRow(24), std::string(80, ' '));

    // An update changes only what differs; one on another screen draws nothing.
    console.BeginUpdate(screen);
    console.EndUpdate(screen);
    EXPECT_EQ(console.LastUpdateCells(), 0);
    console.BeginUpdate(screen);
    Write("hi");
    console.EndUpdate(screen);
    EXPECT_EQ(console.LastUpdateCells(), 2);
    EXPECT_EQ(console.ShownRow(0).substr(0, 3), "hi ");
    EXPECT_EQ(console.ShownCursorX(), 2);
    const int other = console.AddScreen();
    console.BeginUpdate(other);
    console.WriteText(other, "elsewhere");
    console.EndUpdate(other);
    EXPECT_EQ(console.ShownRow(0).substr(0, 3), "hi ");
    console.SetActiveScreen(other);
    EXPECT_EQ(console.ShownRow(0).substr(0, 9), "elsewhere");
}

}  // namespace
