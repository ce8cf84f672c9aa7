// The in-session prompt: echo and no echo, editing keys, history copies and
// the two ways a prompt ends.
#include <future>

#include "app/simple_session.h"
#include "session_test_support.h"

namespace {

// Asks one line and keeps the answer.
class TPromptSession : public TSimpleSession {
  public:
    TPromptSession(int screen, bool echo, const TStringHistory* history, bool endOnEscape)
        : TSimpleSession(screen), echo_(echo), history_(history), read_(endOnEscape) {}
    ~TPromptSession() override { StopThread(); }

    int Run() override {
        BeginPrompt(echo_, history_, "Name: ");
        answer_.set_value(read_ ? ReadLine() : WaitLine());
        return 0;
    }
    bool Answered() const {
        return line_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    // The line entered, or "<no answer>" after five seconds.
    std::string WaitAnswer() {
        if (line_.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
            return "<no answer>";
        return line_.get();
    }

  private:
    const bool echo_;
    const TStringHistory* history_;
    const bool read_;
    std::promise<std::string> answer_;
    std::future<std::string> line_ = answer_.get_future();
};

class PromptTest : public SessionTest {
  protected:
    std::unique_ptr<TPromptSession> Ask(bool echo, const TStringHistory* history = nullptr,
                                        bool endOnEscape = false) {
        auto session = std::make_unique<TPromptSession>(NewScreen(), echo, history, endOnEscape);
        session->Start();
        EXPECT_TRUE(WaitUntil([&] { return session->IsPromptActive(); }));
        return session;
    }
    void Type(TSimpleSession& session, const std::string& text) {
        for (char c : text) {
            INPUT_RECORD record = Char(c);
            EXPECT_TRUE(session.HandleInput(record));
        }
    }
    void Press(TSimpleSession& session, std::uint16_t vk, unsigned char ch = 0) {
        INPUT_RECORD record = Key(vk, ch);
        EXPECT_TRUE(session.HandleInput(record));
    }
};

TEST_F(PromptTest, EchoedLineIsEditedAndReturnedOnEnter) {
    auto session = Ask(true);
    Type(*session, "abd");
    Press(*session, VK_BACK, 8);
    Type(*session, "c");
    EXPECT_EQ(Row(0), "Name: abc");
    // Keys without a printable ASCII character add nothing, silently.
    Press(*session, VK_LEFT);
    Press(*session, 0xC0, 0x80);  // a Cyrillic letter in code page 866
    EXPECT_EQ(Row(0), "Name: abc");
    EXPECT_EQ(console_->Beeps(), 0);
    // Every event is taken while the prompt is active, mouse events too.
    INPUT_RECORD mouse = MakeMouseEvent(3, 3, FROM_LEFT_1ST_BUTTON_PRESSED, 0);
    EXPECT_TRUE(session->HandleInput(mouse));
    Press(*session, VK_RETURN, '\r');
    EXPECT_EQ(session->WaitAnswer(), "abc");
    EXPECT_EQ(console_->ShownCursorY(), 1);
    EXPECT_EQ(console_->ShownCursorX(), 0);
    INPUT_RECORD after = Char('z');
    EXPECT_FALSE(session->HandleInput(after));
}

TEST_F(PromptTest, PasswordIsNeverShown) {
    auto session = Ask(false);
    Type(*session, "secret");
    Press(*session, VK_BACK, 8);
    EXPECT_EQ(Row(0), "Name:");
    Press(*session, VK_RETURN, '\r');
    EXPECT_EQ(session->WaitAnswer(), "secre");
}

TEST_F(PromptTest, HistoryIsBrowsedOnACopy) {
    TStringHistory history;
    history.Add("a");
    history.Add("b");
    auto session = Ask(true, &history);
    // The oldest entry and the empty newest one stay; HOME goes back to the
    // entry (the position unchanged), END too.
    const std::pair<std::uint16_t, const char*> steps[] = {
        {VK_UP, "Name: b"}, {VK_UP, "Name: a"},   {VK_UP, "Name: a"}, {VK_DOWN, "Name: b"},
        {'X', "Name: bxy"}, {VK_HOME, "Name: b"}, {VK_DOWN, "Name:"}, {VK_DOWN, "Name:"},
        {VK_UP, "Name: b"}, {VK_END, "Name: b"}};
    for (const auto& [vk, row] : steps) {
        if (vk == 'X')
            Type(*session, "xy");
        else
            Press(*session, vk);
        EXPECT_EQ(Row(0), row) << vk;
    }
    Press(*session, VK_RETURN, '\r');
    EXPECT_EQ(session->WaitAnswer(), "b");
    // The shared history is untouched.
    EXPECT_EQ(history.Count(), 2);
    EXPECT_EQ(history.Current(), "b");
}

TEST_F(PromptTest, EscapeEndsTheThreadInReadLine) {
    auto session = Ask(false, nullptr, true);
    Type(*session, "abc");
    Press(*session, VK_ESCAPE, 27);
    ASSERT_TRUE(WaitUntil([&] { return session->Finished(); }));
    EXPECT_FALSE(session->Answered());
}

TEST_F(PromptTest, LongLineStaysOnThePromptRow) {
    auto session = Ask(true);
    std::string typed;
    for (int i = 0; i < 100; ++i) typed.push_back(static_cast<char>('a' + i % 26));
    Type(*session, typed);
    // The tail that fits, the last column left free; nothing wrapped.
    const std::string shown = "Name: " + typed.substr(100 - (79 - 6));
    EXPECT_EQ(Row(0), shown);
    EXPECT_EQ(Row(1), "");
    for (int i = 0; i < 40; ++i) Press(*session, VK_BACK, 8);
    EXPECT_EQ(Row(0), "Name: " + typed.substr(0, 60));
    Press(*session, VK_RETURN, '\r');
    EXPECT_EQ(session->WaitAnswer(), typed.substr(0, 60));
}

}  // namespace
