// Mouse selection, copy and paste, and the scroll-back viewer, on a session
// connected to a fake host.
#include <thread>

#include "platform/clipboard.h"
#include "session_test_support.h"

namespace {

class SelectionTest : public TelnetSessionTest {
  protected:
    // Rows 0..5 hold "row N: " and the alphabet.
    void FillRows() {
        std::string text;
        for (int i = 0; i < 6; ++i)
            text += "row " + std::to_string(i) + ": abcdefghijklmnopqrstuvwxyz\r\n";
        SendBytes(peer_, text);
        ASSERT_TRUE(WaitForText("row 5"));
    }
    std::int16_t SelectionX1() const { return console_->GetScreen(screen_).SelX1; }
};

const std::uint32_t kLeft = FROM_LEFT_1ST_BUTTON_PRESSED;

TEST_F(SelectionTest, DragCopiesTheRectangleAndClearsTheMark) {
    Open();
    FillRows();
    EXPECT_TRUE(Give(MakeMouseEvent(10, 5, kLeft, 0)));
    EXPECT_TRUE(Give(MakeMouseEvent(6, 4, kLeft, MOUSE_MOVED)));
    EXPECT_TRUE(Give(MakeMouseEvent(2, 3, kLeft, MOUSE_MOVED)));
    // Marked by background intensity while dragging.
    EXPECT_NE(console_->ShownCell(5, 4).Attr & 0x80, 0);
    EXPECT_EQ(console_->ShownCell(11, 4).Attr & 0x80, 0);
    EXPECT_TRUE(Give(MakeMouseEvent(2, 3, 0, 0)));
    EXPECT_EQ(GetClipboardText(), "w 3: abcd\rw 4: abcd\rw 5: abcd");
    // Offered to the desktop too.
    EXPECT_NE(console_->TerminalBytes().find("\x1b]52;c;" + Base64Encode("w 3: abcd\nw 4: abcd\n"
                                                                         "w 5: abcd")),
              std::string::npos);
    EXPECT_EQ(SelectionX1(), -1);
    EXPECT_EQ(console_->ShownCell(5, 4).Attr & 0x80, 0);
    // Moving the mouse with no button held marks nothing.
    EXPECT_TRUE(Give(MakeMouseEvent(20, 8, 0, MOUSE_MOVED)));
    EXPECT_EQ(SelectionX1(), -1);
    EXPECT_EQ(console_->ShownCell(15, 6).Attr & 0x80, 0);
    EXPECT_EQ(ReadPending(peer_, 50), "");
}

TEST_F(SelectionTest, KeepSelectionLeavesTheMarkAndCtrlInsCopiesAgain) {
    DefineTestHost("keeping", "ADDRESS=" + LoopbackAddress(server_.Port()) + "\nKEEP_SELECTION=1");
    Open("keeping");
    FillRows();
    EXPECT_TRUE(Give(MakeMouseEvent(0, 1, kLeft, 0)));
    EXPECT_TRUE(Give(MakeMouseEvent(4, 1, kLeft, MOUSE_MOVED)));
    EXPECT_TRUE(Give(MakeMouseEvent(4, 1, 0, 0)));
    EXPECT_EQ(GetClipboardText(), "row 1");
    EXPECT_EQ(SelectionX1(), 0);
    StoreClipboardText("other");
    EXPECT_TRUE(Give(Key(VK_INSERT, 0, LEFT_CTRL_PRESSED)));
    EXPECT_EQ(GetClipboardText(), "row 1");
    // A new press replaces the selection.
    EXPECT_TRUE(Give(MakeMouseEvent(7, 2, kLeft, 0)));
    EXPECT_TRUE(Give(MakeMouseEvent(7, 2, 0, 0)));
    EXPECT_EQ(GetClipboardText(), "a");
}

TEST_F(SelectionTest, PasteIsRecodedWithCrLfAsCrInOneWrite) {
    Open();
    // Code page 866 "А" (0x80) is KOI8-R 0xE1 on the wire.
    StoreClipboardText("a\r\nb\x80\nc\r\n\n");
    EXPECT_TRUE(Give(Key(VK_INSERT, 0, SHIFT_PRESSED)));
    EXPECT_EQ(ReadBytes(peer_, 8), "a\rb\xe1\nc\r\n");
    // The right button pastes too; the text is the clipboard's, unchanged.
    EXPECT_TRUE(Give(MakeMouseEvent(0, 0, RIGHTMOST_BUTTON_PRESSED, 0)));
    EXPECT_EQ(ReadBytes(peer_, 8), "a\rb\xe1\nc\r\n");
    EXPECT_EQ(GetClipboardText(), "a\r\nb\x80\nc\r\n\n");
    // An empty clipboard sends nothing.
    StoreClipboardText("");
    EXPECT_TRUE(Give(Key(VK_INSERT, 0, SHIFT_PRESSED)));
    EXPECT_EQ(ReadPending(peer_, 50), "");
}

TEST_F(SelectionTest, ViewerPagesBackThroughScrolledLines) {
    Open();
    std::string lines;
    char line[32];
    for (int i = 1; i <= 200; ++i) {
        std::snprintf(line, sizeof line, "line %03d\r\n", i);
        lines += line;
    }
    SendBytes(peer_, lines);
    ASSERT_TRUE(WaitForText("line 200"));
    // 176 lines scrolled off; the screen shows 177..200 and an empty row.
    EXPECT_EQ(Row(0), "line 177");
    const INPUT_RECORD scrollLock = Key(VK_SCROLL);
    EXPECT_TRUE(Give(scrollLock));
    EXPECT_TRUE(session_->IsScrollBackOpen());
    EXPECT_EQ(Row(0), "line 177");
    // UP at the oldest line stays there.
    const std::pair<std::uint16_t, const char*> steps[] = {
        {VK_PRIOR, "line 152"}, {VK_UP, "line 151"},   {VK_HOME, "line 001"},
        {VK_UP, "line 001"},    {VK_NEXT, "line 026"}, {VK_DOWN, "line 027"},
        {VK_END, "line 177"},   {VK_HOME, "line 001"}};
    for (const auto& [vk, top] : steps) {
        EXPECT_TRUE(Give(Key(vk)));
        EXPECT_EQ(Row(0), top) << vk;
        if (vk == VK_PRIOR) {
            EXPECT_EQ(Row(24), "line 176");
        }
    }

    // While open: typing sends nothing, and host output waits.
    EXPECT_TRUE(Give(Char('x')));
    EXPECT_TRUE(Give(MakeKeyEvent(false, 'X', 'x')));
    EXPECT_EQ(ReadPending(peer_, 50), "");
    SendBytes(peer_, "arrived meanwhile\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(ScreenText().find("arrived meanwhile"), std::string::npos);
    EXPECT_EQ(Row(0), "line 001");

    EXPECT_TRUE(Give(scrollLock));
    EXPECT_FALSE(session_->IsScrollBackOpen());
    ASSERT_TRUE(WaitForText("arrived meanwhile"));
    EXPECT_EQ(Row(0), "line 178");
}

TEST_F(SelectionTest, SelectionInTheViewerCopiesThePageShown) {
    Open();
    std::string lines;
    for (int i = 1; i <= 40; ++i) lines += "L" + std::to_string(i) + "\r\n";
    SendBytes(peer_, lines);
    ASSERT_TRUE(WaitForText("L40"));
    EXPECT_TRUE(Give(Key(VK_SCROLL)));
    EXPECT_TRUE(Give(Key(VK_HOME)));
    EXPECT_TRUE(Give(MakeMouseEvent(0, 0, kLeft, 0)));
    EXPECT_TRUE(Give(MakeMouseEvent(1, 1, kLeft, MOUSE_MOVED)));
    EXPECT_TRUE(Give(MakeMouseEvent(1, 1, 0, 0)));
    EXPECT_EQ(GetClipboardText(), "L1\rL2");
    EXPECT_TRUE(Give(Key(VK_SCROLL)));
}

}  // namespace
