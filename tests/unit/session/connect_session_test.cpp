// TConnectSession: its prompt, a child session on the same screen, and the
// prompt again when the child ends.
#include <chrono>

#include "app/connect_session.h"
#include "session_test_support.h"

namespace {

class ConnectSessionTest : public SessionTest {
  protected:
    bool Give(INPUT_RECORD record) { return session_->HandleInput(record); }
    void Type(const std::string& text) {
        for (char c : text) EXPECT_TRUE(Give(Char(c)));
    }
    bool WaitForPrompt() {
        return WaitUntil([&] { return session_->IsPromptActive(); });
    }
    // Starts a connect session on a new screen and waits for its prompt.
    int Begin() {
        const int screen = NewScreen();
        session_ = std::make_unique<TConnectSession>(screen);
        session_->Start();
        EXPECT_TRUE(WaitForPrompt());
        return screen;
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }

    std::unique_ptr<TConnectSession> session_;
};

TEST_F(ConnectSessionTest, AsksRunsTheChildAndAsksAgainAfterItEndsOrFails) {
    TFakeServer server;
    const std::string prompt = "[" + std::to_string(Begin()) + "] Connect to: ";
    EXPECT_EQ(Row(0) + " ", prompt);
    EXPECT_EQ(session_->GetName(), "none");

    // ESC asks again on the same row; an empty line too.
    Type("abc");
    EXPECT_TRUE(Give(Key(VK_ESCAPE, 27)));
    ASSERT_TRUE(WaitUntil([&] { return session_->IsPromptActive() && Row(0) + " " == prompt; }));
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    ASSERT_TRUE(WaitUntil([&] { return session_->IsPromptActive() && Row(1) + " " == prompt; }));

    const std::string host = LoopbackAddress(server.Port());
    Type(host);
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(WaitUntil([&] { return session_->GetName() == host; }));
    SendBytes(peer, "child output\r\n");
    ASSERT_TRUE(WaitForText("child output"));
    // Keys reach the child's host.
    EXPECT_FALSE(Give(Char('k')));
    EXPECT_EQ(ReadBytes(peer, 1), "k");

    // Closing the child brings the prompt back two lines further down.
    EXPECT_TRUE(Give(MakeKeyEvent(true, 'X', 'x', LEFT_ALT_PRESSED)));
    EXPECT_TRUE(Give(Char('y')));
    ASSERT_TRUE(WaitForPrompt());
    EXPECT_EQ(session_->GetName(), "none");
    EXPECT_FALSE(session_->Finished());
    const int childRow = 2;  // the row the child's output began on
    EXPECT_EQ(Row(childRow), "child output");
    EXPECT_EQ(Row(childRow + 3) + " ", prompt);

    // A child's error report is closed with ENTER, and the prompt returns.
    Type(LoopbackAddress(UnusedPort()));
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    ASSERT_TRUE(WaitForText("Press Enter to close..."));
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    ASSERT_TRUE(WaitForPrompt());
    EXPECT_EQ(session_->GetName(), "none");
}

TEST_F(ConnectSessionTest, DeletingItEndsAChildStillConnected) {
    TFakeServer server;
    Begin();
    Type(LoopbackAddress(server.Port()));
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    ASSERT_GE(server.Accept(), 0);
    const auto start = std::chrono::steady_clock::now();
    session_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
