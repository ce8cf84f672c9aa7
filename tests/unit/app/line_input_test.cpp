#include "app/line_input.h"

#include <gtest/gtest.h>

#include <string>

#include "base/exception.h"
#include "base/string_history.h"
#include "console/headless_console.h"

namespace {

class LineInputTest : public ::testing::Test {
  protected:
    LineInputTest() : console(80, 25) {
        screen = console.AddScreen();
        console.SetActiveScreen(screen);
        console.WriteText(screen, "Connect to: ");
        console.Refresh();
    }
    void Type(const std::string& text) {
        for (char c : text) {
            const unsigned char ch = static_cast<unsigned char>(c);
            console.PushKey(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch, ch);
        }
    }
    bool Run(const TStringHistory* history = nullptr, bool echo = true, int max = 64) {
        console.CloseInput();
        return LineInput(console, screen, buffer, max, history, echo);
    }
    std::string Shown() const { return console.ShownRow(0).substr(0, 40); }

    THeadlessConsole console;
    int screen = 0;
    char buffer[65] = {};
};

TEST_F(LineInputTest, TypingAndEnter) {
    Type("host.example");
    console.PushKey(VK_BACK, 8);
    console.PushEvent(MakeKeyEvent(false, 'Q', 'q'));  // a release: ignored
    console.PushEvent(MakeMouseEvent(3, 3, 1, 0));     // mouse: ignored
    console.PushKey(VK_SHIFT, 0, SHIFT_PRESSED);       // modifier alone
    console.PushKey(VK_RETURN, 13);
    ASSERT_TRUE(Run());
    EXPECT_STREQ(buffer, "host.exampl");
    EXPECT_EQ(Shown(), "Connect to: host.exampl                 ");
    EXPECT_EQ(console.ShownCursorX(), 23);
    EXPECT_EQ(console.Beeps(), 0);
}

TEST_F(LineInputTest, RefusedKeysBeepAndEscapeCancels) {
    console.PushKey(VK_LEFT, 0);
    console.PushKey(VK_TAB, 9);
    console.PushKey(0xE7, 0x86);  // a Cyrillic letter
    console.PushKey('A', 0, LEFT_ALT_PRESSED);
    console.PushKey(VK_RETURN, 13);  // still empty: beeps too
    console.PushKey(VK_BACK, 0);     // nothing to erase: silent
    Type("ab");
    console.PushKey(VK_ESCAPE, 27);
    EXPECT_FALSE(Run());
    EXPECT_EQ(console.Beeps(), 5);
}

TEST_F(LineInputTest, LengthLimit) {
    Type(std::string(64, 'x') + "y");
    console.PushKey(VK_RETURN, 13);
    ASSERT_TRUE(Run());
    EXPECT_EQ(std::string(buffer), std::string(64, 'x'));
    EXPECT_EQ(console.Beeps(), 1);
}

TEST_F(LineInputTest, HistoryWalk) {
    TStringHistory history;
    history.Add("a");
    history.Add("b");
    const std::string steps[] = {"b", "a", "a", "b", "", ""};
    const std::uint16_t keys[] = {VK_UP, VK_UP, VK_UP, VK_DOWN, VK_DOWN, VK_DOWN};
    for (int i = 0; i < 6; ++i) {
        THeadlessConsole local(80, 25);
        const int s = local.AddScreen();
        local.SetActiveScreen(s);
        for (int k = 0; k <= i; ++k) local.PushKey(keys[k], 0);
        local.PushKey(VK_ESCAPE, 27);
        local.CloseInput();
        char line[65];
        EXPECT_FALSE(LineInput(local, s, line, 64, &history, true));
        EXPECT_EQ(local.ShownRow(0).substr(0, 2), (steps[i] + "  ").substr(0, 2)) << i;
    }
    // The shared history is not changed by the prompt.
    EXPECT_EQ(history.Count(), 2);
    // A history entry longer than the limit is cut to it.
    TStringHistory long_history;
    long_history.Add(std::string(100, 'h'));
    console.PushKey(VK_UP, 0);
    console.PushKey(VK_RETURN, 13);
    ASSERT_TRUE(Run(&long_history, true, 10));
    EXPECT_STREQ(buffer, "hhhhhhhhhh");
}

TEST_F(LineInputTest, NoEcho) {
    Type("secret");
    console.PushKey(VK_BACK, 0);
    console.PushKey(VK_RETURN, 13);
    ASSERT_TRUE(Run(nullptr, false));
    EXPECT_STREQ(buffer, "secre");
    EXPECT_EQ(Shown().substr(0, 14), "Connect to:   ");
}

TEST_F(LineInputTest, ScriptRunningDryEndsTheEditor) {
    Type("abc");
    EXPECT_THROW(Run(), TException);
}

}  // namespace
