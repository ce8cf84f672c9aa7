#include "console/screen_painter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int W = 80, H = 25;

struct Cells : std::vector<TCell> {
    Cells() : std::vector<TCell>(W * H, TCell{' ', 0, 7}) {}
    Cells& Put(int x, int y, const std::string& text, std::uint16_t attr = 7) {
        for (std::size_t i = 0; i < text.size(); ++i)
            at(y * W + x + i) = TCell{static_cast<unsigned char>(text[i]), 0, attr};
        return *this;
    }
};

// A terminal the painter draws on, and what it shows.
struct Terminal {
    std::string Paint(const Cells& cells, bool whole = false) {
        std::string out;
        painter.Paint(out, cells.data(), shown.data(), W, H, whole);
        return out;
    }
    TScreenPainter painter;
    std::vector<TCell> shown = Cells();
};

TEST(ScreenPainter, SendsOnlyWhatChangedInShortMoves) {
    Terminal t;
    const Cells before = Cells().Put(0, 0, "unchanged text on the first row").Put(0, 10, "old");
    t.Paint(before, true);
    const Cells after = Cells(before).Put(40, 10, "XY").Put(5, 20, "Z");
    EXPECT_EQ(t.Paint(after), "\x1b[11;41HXY\x1b[21;6HZ");
    EXPECT_EQ(t.Paint(after), "");
    EXPECT_TRUE(t.shown == after);

    // One unchanged blank between is repainted; far away, a relative move;
    // the next row's start, CR LF.
    const Cells gaps = Cells(after).Put(10, 3, "a").Put(12, 3, "b").Put(30, 3, "c").Put(0, 4, "d");
    EXPECT_EQ(t.Paint(gaps), "\x1b[4;11Ha b\x1b[17Cc\r\nd");
    std::string out;
    t.painter.PlaceCursor(out, 1, 4);
    EXPECT_EQ(out, "");  // already there
    t.painter.PlaceCursor(out, 0, 0);
    EXPECT_EQ(out, "\x1b[H");

    // Red on blue (BGR 4 on 1), bright white on black with the selection's
    // background intensity, then a CP866 letter and a control-code symbol.
    Terminal blank;
    blank.Paint(Cells(), true);
    const Cells colours = Cells().Put(0, 0, "a", 0x14).Put(1, 0, "b\x86\x1b", 0x8F);
    EXPECT_EQ(blank.Paint(colours), "\x1b[H\x1b[31;44ma\x1b[97;100mb\xd0\x96\xe2\x86\x90");
}

TEST(ScreenPainter, FullScrollRewritesEveryRowOnce) {
    Cells before;
    for (int y = 0; y < H; ++y) before.Put(0, y, std::string(W, static_cast<char>('A' + y)));
    Terminal t;
    t.Paint(before, true);
    Cells after;
    std::copy(before.begin() + W, before.end(), after.begin());
    const std::string bytes = t.Paint(after);
    // 24 rows of 80 changed letters and one blank row, no colour changes.
    EXPECT_EQ(bytes.find("m"), std::string::npos);
    EXPECT_LT(bytes.size(), static_cast<std::size_t>(W * H + 25 * 8));
    EXPECT_TRUE(t.shown == after);
}

TEST(ScreenPainter, ClippedToASmallerTerminal) {
    const Cells cells = Cells().Put(0, 0, std::string(W, 'a')).Put(0, 24, "last row");
    std::vector<TCell> shown = Cells();
    TScreenPainter painter;
    std::string out;
    painter.Paint(out, cells.data(), shown.data(), W, H, true, 60, 20);
    // 60 columns of row 0, nothing of row 24, never a line feed on row 19.
    EXPECT_NE(out.find(std::string(60, 'a')), std::string::npos);
    EXPECT_EQ(out.find(std::string(61, 'a')), std::string::npos);
    EXPECT_EQ(out.find("last"), std::string::npos);
    EXPECT_EQ(out.find("\x1b[21"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 19);
}

}  // namespace
