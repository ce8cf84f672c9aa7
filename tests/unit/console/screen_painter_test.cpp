#include "console/screen_painter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int W = 80, H = 25;

std::vector<TCell> Blank() {
    return std::vector<TCell>(W * H, TCell{' ', 0, 7});
}

void Put(std::vector<TCell>& cells, int x, int y, const std::string& text, std::uint16_t attr = 7) {
    for (std::size_t i = 0; i < text.size(); ++i)
        cells[y * W + x + i] = TCell{static_cast<unsigned char>(text[i]), 0, attr};
}

// The painter after a full paint of `cells`: the state EndUpdate starts from.
struct Painted {
    explicit Painted(const std::vector<TCell>& cells) : shown(Blank()) {
        std::string out;
        painter.Paint(out, cells.data(), shown.data(), W, H, true);
    }
    std::string Update(const std::vector<TCell>& cells) {
        std::string out;
        painter.Paint(out, cells.data(), shown.data(), W, H, false);
        return out;
    }
    TScreenPainter painter;
    std::vector<TCell> shown;
};

TEST(ScreenPainter, OnlyChangedCellsAreSent) {
    std::vector<TCell> before = Blank();
    Put(before, 0, 0, "unchanged text on the first row");
    Put(before, 0, 10, "old");
    Painted painted(before);
    // Nothing changed: nothing sent.
    EXPECT_EQ(painted.Update(before), "");

    std::vector<TCell> after = before;
    Put(after, 40, 10, "XY");
    Put(after, 5, 20, "Z");
    const std::string bytes = painted.Update(after);
    EXPECT_EQ(bytes, "\x1b[11;41HXY\x1b[21;6HZ");
    EXPECT_EQ(bytes.find("unchanged"), std::string::npos);
    EXPECT_EQ(painted.Update(after), "");
    EXPECT_TRUE(painted.shown == after);
}

TEST(ScreenPainter, ColoursAndGlyphs) {
    std::vector<TCell> before = Blank();
    Painted painted(before);
    std::vector<TCell> after = before;
    // Red on blue (BGR 4 on 1), bright white on black with the selection's
    // background intensity, then a CP866 letter and a control-code symbol.
    Put(after, 0, 0, "a", 0x14);
    Put(after, 1, 0, "b", 0x8F);
    after[2] = TCell{0x86, 0, 0x8F};
    after[3] = TCell{0x1B, 0, 0x8F};
    const std::string bytes = painted.Update(after);
    EXPECT_EQ(bytes,
              "\x1b[H\x1b[31;44ma\x1b[97;100mb"
              "\xd0\x96"
              "\xe2\x86\x90");
}

TEST(ScreenPainter, ShortGapsAreRepaintedAndCursorMovesAreShort) {
    std::vector<TCell> before = Blank();
    Painted painted(before);
    std::vector<TCell> after = before;
    Put(after, 10, 3, "a");
    Put(after, 12, 3, "b");  // one unchanged blank between: repainted
    Put(after, 30, 3, "c");  // far: a relative move
    Put(after, 0, 4, "d");   // next row start: CR LF
    EXPECT_EQ(painted.Update(after), "\x1b[4;11Ha b\x1b[17Cc\r\nd");
    std::string out;
    painted.painter.PlaceCursor(out, 1, 4);
    EXPECT_EQ(out, "");  // already there
    painted.painter.PlaceCursor(out, 0, 0);
    EXPECT_EQ(out, "\x1b[H");
}

TEST(ScreenPainter, FullScrollRewritesEveryRowOnce) {
    std::vector<TCell> before = Blank();
    for (int y = 0; y < H; ++y) Put(before, 0, y, std::string(W, static_cast<char>('A' + y)));
    Painted painted(before);
    std::vector<TCell> after(before.begin() + W, before.end());
    after.resize(W * H, TCell{' ', 0, 7});
    const std::string bytes = painted.Update(after);
    // 24 rows of 80 changed letters and one blank row, no colour changes.
    EXPECT_EQ(bytes.find("m"), std::string::npos);
    EXPECT_LT(bytes.size(), static_cast<std::size_t>(W * H + 25 * 8));
    EXPECT_TRUE(painted.shown == after);
}

TEST(ScreenPainter, ClippedToASmallerTerminal) {
    std::vector<TCell> cells = Blank();
    Put(cells, 0, 0, std::string(W, 'a'));
    Put(cells, 0, 24, "last row");
    std::vector<TCell> shown = Blank();
    TScreenPainter painter;
    std::string out;
    painter.Paint(out, cells.data(), shown.data(), W, H, true, 60, 20);
    // 60 columns of row 0, nothing of row 24, never a line feed on row 19.
    EXPECT_NE(out.find(std::string(60, 'a')), std::string::npos);
    EXPECT_EQ(out.find(std::string(61, 'a')), std::string::npos);
    EXPECT_EQ(out.find("last"), std::string::npos);
    EXPECT_EQ(out.find("\x1b[21"), std::string::npos);
    std::size_t line_feeds = 0;
    for (char c : out) line_feeds += c == '\n';
    EXPECT_EQ(line_feeds, 19u);
}

}  // namespace
