// TSession against a fake host on 127.0.0.1: output, keys, the close
// question, error reports, the raw log, start-up and cancellation. A replay
// session failing on a typed key is covered end to end (test_replay.py).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "session_test_support.h"

namespace {

// Connects once to a listener whose queue holds one connection, so that the
// next connect stays pending (its SYN is dropped and retried after a second).
int FillAcceptQueue(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A session whose connect stays pending on a listener with a full queue.
class PendingSessionTest : public TelnetSessionTest {
  protected:
    void SetUp() override {
        TelnetSessionTest::SetUp();
        filler_ = FillAcceptQueue(busy_.Port());
        ASSERT_GE(filler_, 0);
        Begin(LoopbackAddress(busy_.Port()));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    void TearDown() override {
        TelnetSessionTest::TearDown();
        if (filler_ >= 0) close(filler_);
    }

    TFakeServer busy_{0};
    int filler_ = -1;
};

const INPUT_RECORD kAltX = MakeKeyEvent(true, 'X', 'x', LEFT_ALT_PRESSED);

TEST_F(TelnetSessionTest, HostOutputIsShownAndKeysAreSentWithEnterAsCrLfOrBinaryCr) {
    Open();
    EXPECT_EQ(session_->GetName(), LoopbackAddress(server_.Port()));
    SendBytes(peer_, "hello from the host\r\n");
    ASSERT_TRUE(WaitForText("hello from the host"));
    EXPECT_FALSE(Give(Char('l')));
    EXPECT_FALSE(Give(Char('s')));
    // ENTER on telnet: CR LF.
    EXPECT_FALSE(Give(Key(VK_RETURN, '\r')));
    EXPECT_EQ(ReadBytes(peer_, 4), "ls\r\n");
    // Modifier keys alone send nothing.
    EXPECT_FALSE(Give(Key(VK_SHIFT, 0, SHIFT_PRESSED)));
    EXPECT_EQ(ReadPending(peer_, 50), "");

    // ENTER is a lone CR while sending binary.
    SendBytes(peer_, std::string("\xff\xfd\x00", 3) + "ready\r\n");  // DO BINARY
    EXPECT_EQ(ReadBytes(peer_, 3), std::string("\xff\xfb\x00", 3));  // WILL BINARY
    ASSERT_TRUE(WaitForText("ready"));
    EXPECT_FALSE(Give(Key(VK_RETURN, '\r')));
    EXPECT_EQ(ReadPending(peer_, 100), "\r");
    SendBytes(peer_, std::string("\xff\xfe\x00", 3) + "again\r\n");  // DONT BINARY
    EXPECT_EQ(ReadBytes(peer_, 3), std::string("\xff\xfc\x00", 3));  // WONT BINARY
    ASSERT_TRUE(WaitForText("again"));
    EXPECT_FALSE(Give(Key(VK_RETURN, '\r')));
    EXPECT_EQ(ReadBytes(peer_, 2), "\r\n");
}

TEST_F(TelnetSessionTest, CloseQuestionPausesOutputNoResumesYesEnds) {
    Open();
    SendBytes(peer_, "before\r\n");
    ASSERT_TRUE(WaitForText("before"));
    EXPECT_TRUE(Give(kAltX));
    EXPECT_EQ(session_->GetState(), kSessionQuestion);
    ASSERT_TRUE(WaitForText("Are you sure you want to close the connection? Y/N"));
    SendBytes(peer_, "meanwhile\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(ScreenText().find("meanwhile"), std::string::npos);
    // Other keys are swallowed, and reach neither the screen nor the host.
    EXPECT_TRUE(Give(Char('q')));
    EXPECT_EQ(session_->GetState(), kSessionQuestion);
    EXPECT_EQ(ReadPending(peer_, 50), "");
    EXPECT_TRUE(Give(Char('n')));
    ASSERT_TRUE(WaitForText("meanwhile"));
    EXPECT_EQ(ScreenText().find("Are you sure"), std::string::npos);
    EXPECT_EQ(session_->GetState(), kSessionNormal);
    EXPECT_FALSE(session_->Finished());

    // Y ends the session, blocked in its read.
    EXPECT_TRUE(Give(kAltX));
    EXPECT_TRUE(Give(Char('y')));
    EXPECT_TRUE(WaitFinished());
    EXPECT_EQ(ScreenText().find("Exception"), std::string::npos);
}

TEST_F(TelnetSessionTest, RemoteCloseEndsTheSessionWithoutAReport) {
    Open();
    SendBytes(peer_, "bye\r\n");
    ASSERT_TRUE(WaitForText("bye"));
    server_.Close(peer_);
    EXPECT_TRUE(WaitFinished(5000));
    EXPECT_EQ(ScreenText().find("Exception"), std::string::npos);
}

TEST_F(TelnetSessionTest, ConnectionErrorIsReportedUntilEnter) {
    Begin(LoopbackAddress(UnusedPort()));
    ASSERT_TRUE(WaitForText("Press Enter to close..."));
    EXPECT_NE(
        ScreenText().find("Exception: TConnection::TConnection: Error on connect(). Error: 111"),
        std::string::npos);
    EXPECT_EQ(session_->GetState(), kSessionError);
    // Only ENTER closes it; everything is taken meanwhile.
    EXPECT_TRUE(Give(Char('a')));
    EXPECT_TRUE(Give(kAltX));
    EXPECT_TRUE(Give(MakeMouseEvent(1, 1, RIGHTMOST_BUTTON_PRESSED, 0)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(session_->Finished());
    EXPECT_EQ(session_->GetState(), kSessionError);
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    EXPECT_TRUE(WaitFinished());
}

TEST_F(TelnetSessionTest, FullLogHoldsEveryReceivedByte) {
    const std::string name = ::testing::TempDir() + "quenlor-log-" + std::to_string(getpid());
    std::remove(name.c_str());  // the session creates it
    DefineTestHost("logged",
                   "ADDRESS=" + LoopbackAddress(server_.Port()) + "\nLOG_FILE=full:" + name);
    Open("logged");
    // Every byte value but the telnet command byte, and escape sequences.
    std::string sent;
    for (int b = 0; b < 255; ++b) sent.push_back(static_cast<char>(b));
    sent += "\x1b[2J\x1b[5;5Hmarker\r\n";
    SendBytes(peer_, sent);
    ASSERT_TRUE(WaitForText("marker"));
    // A doubled command byte arrives as one data byte.
    SendBytes(peer_, std::string("\xff\xff", 2) + "end\r\n");
    ASSERT_TRUE(WaitForText("end"));
    std::ifstream log(name, std::ios::binary);
    const std::string logged((std::istreambuf_iterator<char>(log)), {});
    EXPECT_EQ(logged, sent + "\xff" + "end\r\n");
    std::remove(name.c_str());
}

TEST_F(PendingSessionTest, KeysTypedWhileConnectingAreSentAfterTheLogin) {
    ASSERT_FALSE(session_->IsStarted());
    // Neither blocks the caller.
    EXPECT_FALSE(Give(Char('o')));
    EXPECT_FALSE(Give(Char('k')));
    ASSERT_GE(busy_.Accept(), 0);  // frees the queue; the client's SYN is retried
    const int peer = busy_.Accept(5000);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(ReadBytes(peer, 2), "ok");
}

TEST_F(PendingSessionTest, ASessionBlockedInConnectEndsAtOnce) {
    EXPECT_TRUE(Give(kAltX));
    ASSERT_TRUE(WaitForText("Are you sure you want to close the connection? Y/N"));
    EXPECT_TRUE(Give(Char('y')));
    // Well before the connect would be retried.
    EXPECT_TRUE(WaitFinished(500));
    EXPECT_FALSE(session_->IsStarted());
}

TEST_F(TelnetSessionTest, SshLoginDataIsAskedForAndEscapeEnds) {
    DefineTestHost("asking", "PROTOCOL=ssh\nADDRESS=ssh:127.0.0.1:1\nSSH_AUTH=pwd:");
    Begin("asking");
    ASSERT_TRUE(WaitForText("Login on 127.0.0.1 as user:"));
    ASSERT_TRUE(WaitUntil([&] { return session_->IsPromptActive(); }));
    for (char c : std::string("bob")) EXPECT_TRUE(Give(Char(c)));
    EXPECT_EQ(Row(0), "Login on 127.0.0.1 as user: bob");
    EXPECT_TRUE(Give(Key(VK_RETURN, '\r')));
    ASSERT_TRUE(WaitForText("bob@127.0.0.1's password:"));
    ASSERT_TRUE(WaitUntil([&] { return session_->IsPromptActive(); }));
    EXPECT_EQ(UserHistory.Current(), "bob");
    for (char c : std::string("pw")) EXPECT_TRUE(Give(Char(c)));
    EXPECT_EQ(Row(1), "bob@127.0.0.1's password:");
    EXPECT_TRUE(Give(Key(VK_ESCAPE, 27)));
    EXPECT_TRUE(WaitFinished());
    EXPECT_EQ(ScreenText().find("Exception"), std::string::npos);
}

}  // namespace
