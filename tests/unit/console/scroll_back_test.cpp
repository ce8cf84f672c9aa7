#include "console/scroll_back.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "config/host_config.h"
#include "console/headless_console.h"

namespace {

constexpr int W = 20, H = 5;

// One line as text: its characters, then its first cell's attribute in hex,
// so lines that trade places or mix their halves show up.
std::string LineText(const TCell* cells, int width) {
    std::string text;
    for (int x = 0; x < width; ++x) text.push_back(static_cast<char>(cells[x].Char));
    char attr[8];
    std::snprintf(attr, sizeof attr, "/%02x", cells[0].Attr & 0xFF);
    return text + attr;
}

// A session screen whose host output is numbered lines, next to a model of
// what the screen and the scroll-back must hold.
class ScrollBackTest : public ::testing::Test {
  protected:
    ScrollBackTest() : console(W, H) { screen = console.AddScreen(); }

    void Attach(int maxLines) {
        host.SetMaxScrollSize(maxLines);
        console.SetHostConfig(screen, &host);
        keep = maxLines;
        saved.clear();
        rows.assign(H, Blank());
        console.SetCursor(screen, 0, 0);
        console.ClearToEndOfScreen(screen);
        console.SetCursor(screen, 0, H - 1);
    }
    static std::string Blank() { return std::string(W, ' ') + "/07"; }

    // Line `n` goes to the bottom row after one scroll, in a colour of its own.
    void HostLine(int n) {
        char text[16];
        std::snprintf(text, sizeof text, "L%05d", n);
        const auto attr = static_cast<std::uint16_t>(n % 15 + 1);
        console.WriteText(screen, "\r\n");
        console.SetAttribute(screen, attr);
        console.WriteText(screen, text);
        console.SetAttribute(screen, 7);
        // The model: row 0 leaves for the scroll-back, the new bottom row
        // keeps the blanks of the attribute in force at the line feed.
        saved.push_back(rows.front());
        if (static_cast<int>(saved.size()) > keep) saved.pop_front();
        rows.pop_front();
        char attrText[8];
        std::snprintf(attrText, sizeof attrText, "/%02x", attr);
        rows.push_back(text + std::string(W - 6, ' ') + attrText);
    }

    std::vector<std::string> Expected() const {
        std::vector<std::string> lines(saved.begin(), saved.end());
        lines.insert(lines.end(), rows.begin(), rows.end());
        return lines;
    }
    std::vector<std::string> Snapshot() {
        int lines = 0;
        const std::vector<TCell> block = console.TakeSnapshot(screen, lines);
        EXPECT_EQ(block.size(), static_cast<std::size_t>(lines) * W);
        std::vector<std::string> text;
        for (int i = 0; i < lines; ++i) text.push_back(LineText(block.data() + i * W, W));
        return text;
    }
    // The record's own view of the scroll-back, cell by cell.
    std::vector<std::string> RecordLines() const {
        const ScreenRecord& s = console.GetScreen(screen);
        std::vector<std::string> text;
        for (int i = 0; i < s.ScrollLines; ++i) {
            std::vector<TCell> line;
            for (int x = 0; x < W; ++x) line.push_back(s.ScrollBack[i * W + x]);
            text.push_back(LineText(line.data(), W));
        }
        return text;
    }

    THeadlessConsole console;
    THostConfig host;
    int screen = 0;
    int keep = 0;
    std::deque<std::string> saved;
    std::deque<std::string> rows;
};

TEST_F(ScrollBackTest, KeepsTheNewestLinesOldestFirstAcrossManyWraps) {
    for (const int size : {1, 7, 64}) {
        SCOPED_TRACE("scroll-back of " + std::to_string(size));
        Attach(size);
        int n = 0;
        // Short of full, exactly full, one past, and many rounds with a
        // remainder, so the oldest line sits anywhere in the ring.
        for (const int upTo : {size - 1, size, size + 1, size * 37 + 5, size * 37 + 5 + size / 2}) {
            for (; n < upTo; ++n) HostLine(n);
            const std::vector<std::string> snapshot = Snapshot();
            ASSERT_EQ(snapshot, Expected()) << "after " << n << " lines";
            std::vector<std::string> held(saved.begin(), saved.end());
            EXPECT_EQ(RecordLines(), held);
            EXPECT_EQ(console.GetScreen(screen).ScrollLines, std::min(n, size));
        }
    }
}

TEST_F(ScrollBackTest, RegionBelowTheTopSavesNothingEvenWhenFull) {
    Attach(4);
    for (int n = 0; n < 30; ++n) HostLine(n);
    const std::vector<std::string> before = Snapshot();
    console.SetScrollRegion(screen, 1, H - 1);
    console.SetCursor(screen, 0, H - 1);
    console.WriteText(screen, "\n\n");
    const std::vector<std::string> after = Snapshot();
    ASSERT_EQ(after.size(), before.size());
    // The held lines are untouched; only the region's rows moved.
    EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 4),
              std::vector<std::string>(before.begin(), before.begin() + 4));
    EXPECT_EQ(after[4], before[4]);  // row 0 stays
    EXPECT_EQ(after[5], before[7]);  // rows 1.. moved up two
    EXPECT_EQ(after[4 + H - 1], Blank());
}

TEST_F(ScrollBackTest, SavedScreenBringsBackItsLinesInOrder) {
    Attach(6);
    int n = 0;
    for (; n < 6 * 5 + 4; ++n) HostLine(n);
    const std::vector<std::string> atSave = Snapshot();
    ScreenRecord copy;
    console.SaveScreen(screen, copy);
    // The live screen goes on wrapping; the copy must not follow.
    for (int i = 0; i < 9; ++i) console.WriteText(screen, "\r\nlater");
    console.RestoreScreen(screen, copy);
    EXPECT_EQ(Snapshot(), atSave);
    // Output after the restore continues the restored order.
    for (; n < 6 * 5 + 4 + 3; ++n) HostLine(n);
    EXPECT_EQ(Snapshot(), Expected());
}

TEST_F(ScrollBackTest, NewSizeOrHostStartsAnEmptyScrollBack) {
    Attach(5);
    for (int n = 0; n < 23; ++n) HostLine(n);
    // Lines of the old width would not fit: a new size starts afresh.
    console.SetSize(screen, W + 3, H);
    int lines = 0;
    EXPECT_EQ(console.TakeSnapshot(screen, lines).size(), static_cast<std::size_t>(H) * (W + 3));
    EXPECT_EQ(lines, H);
    console.SetCursor(screen, 0, H - 1);
    for (int i = 0; i < 8; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "\r\nw%d", i);
        console.WriteText(screen, text);
    }
    std::vector<TCell> block = console.TakeSnapshot(screen, lines);
    ASSERT_EQ(lines, 5 + H);
    // 8 scrolls: the 5 blank rows, then w0 w1 w2 left the top; 5 are kept.
    EXPECT_EQ(block[0].Char, ' ');
    EXPECT_EQ(block[2 * (W + 3)].Char, 'w');
    EXPECT_EQ(block[2 * (W + 3) + 1].Char, '0');
    EXPECT_EQ(block[4 * (W + 3) + 1].Char, '2');
    EXPECT_EQ(block[5 * (W + 3) + 1].Char, '3');  // the screen's first row

    // Attaching a host (again) also starts afresh, with its own size.
    Attach(2);
    EXPECT_EQ(console.GetScreen(screen).ScrollLines, 0);
    for (int n = 0; n < 11; ++n) HostLine(n);
    console.SetSize(screen, W, H);  // back to the model's width, empty again
    Attach(2);
    for (int n = 0; n < 11; ++n) HostLine(n);
    EXPECT_EQ(Snapshot(), Expected());
}

TEST(ScrollBackRing, EmptyAndClampedUses) {
    TScrollBack ring;
    ring.Assign(0, 80, TCell{' ', 0, 7});
    EXPECT_EQ(ring.size(), 0u);
    ring.Rotate();  // nothing to turn
    std::vector<TCell> out;
    ring.AppendLines(3, out);
    EXPECT_TRUE(out.empty());

    ring.Assign(3, 2, TCell{' ', 0, 7});
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
