#include "net/telnet_connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "../base/case_file.h"
#include "config/host_config.h"
#include "console/headless_console.h"
#include "fake_peer.h"

namespace {

// Bytes written as numbers, the way the telnet RFCs list them.
std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

class TelnetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        console_ = std::make_unique<THeadlessConsole>(80, 25);
        Console = console_.get();
        screen_ = Console->AddScreen();
        host_.SetAddress("127.0.0.1");
        host_.SetPort(server_.Port());
        host_.SetTerminalType("ansi5");
        host_.SetUser("guest");
    }
    void TearDown() override {
        connection_.reset();
        Console = nullptr;
    }

    void Connect() {
        connection_ = std::make_unique<TTelnetConnection>(&host_, screen_);
        peer_ = server_.Accept();
        ASSERT_GE(peer_, 0);
    }

    // The server sends `bytes`; one read of the client's session buffer.
    std::string Exchange(const std::string& bytes) {
        SendBytes(peer_, bytes);
        char buffer[32768];
        int count = connection_->GetBuffer(buffer, sizeof buffer, false);
        EXPECT_GE(count, 0);
        return std::string(buffer, static_cast<std::size_t>(std::max(count, 0)));
    }
    std::string Reply(std::size_t count) { return ReadBytes(peer_, count); }
    // A read holding nothing but the `request` command delivers no data and
    // leaves the connection open; the server gets exactly `reply`.
    void ExpectAnswer(const std::string& request, const std::string& reply) {
        SCOPED_TRACE(testing::PrintToString(request));
        EXPECT_EQ(Exchange(request), "");
        EXPECT_EQ(connection_->GetState(), kStateOpen);
        EXPECT_EQ(Reply(reply.size()), reply);
    }
    std::string NoMoreReplies() { return ReadPending(peer_, 50); }

    std::unique_ptr<THeadlessConsole> console_;
    int screen_ = 0;
    THostConfig host_;
    TFakeServer server_;
    std::unique_ptr<TTelnetConnection> connection_;
    int peer_ = -1;
};

}  // namespace

// Bytes as case files write them: hex pairs and "quoted" text.
std::string Bytes(const std::string& field) {
    std::string out;
    for (const std::string& w : Words(field))
        out += w[0] == '"' ? w.substr(1, w.size() - 2)
                           : std::string(1, static_cast<char>(Num("0x" + w)));
    return out;
}

// Every exchange of tests/data/net/telnet.cases (its head explains them).
TEST_F(TelnetTest, Cases) {
    for (const TCase& c : ReadCases("net/telnet.cases")) {
        SCOPED_TRACE(c.where);
        if (c[0] == "connect") {
            host_.SetUser(c.size() > 1 ? c[1] : "guest");
            connection_.reset();
            Connect();
        } else if (c[0] == "send") {
            EXPECT_EQ(Exchange(Bytes(c[1])), c.size() > 2 ? Bytes(c[2]) : "");
            EXPECT_EQ(connection_->GetState(), kStateOpen);
        } else if (c[0] == "reply") {
            const std::string reply = Bytes(c[1]);
            EXPECT_EQ(Reply(reply.size()), reply);
        } else {
            EXPECT_EQ(NoMoreReplies(), "");
        }
    }
}

TEST_F(TelnetTest, WindowSizeOnDoNawsIsSixteenBitsWithIacDoubled) {
    Connect();
    ExpectAnswer(B({255, 253, 31}), B({255, 251, 31, 255, 250, 31, 0, 80, 0, 25, 255, 240}));
    EXPECT_EQ(NoMoreReplies(), "");

    const COORD size{300, 255};
    EXPECT_TRUE(connection_->ReportWindowSize(&size));
    // 300 = 1 * 256 + 44; a byte 255 inside a sub-negotiation is doubled.
    EXPECT_EQ(Reply(10), B({255, 250, 31, 1, 44, 0, 255, 255, 255, 240}));

    // DO NAWS reports the size of the session's own screen.
    Console->SetSize(screen_, 132, 50);
    ExpectAnswer(B({255, 253, 31}), B({255, 251, 31, 255, 250, 31, 0, 132, 0, 50, 255, 240}));
}

TEST_F(TelnetTest, LongNamesAreSentWholeAndEscaped) {
    host_.SetTerminalType(std::string(200, 't'));
    host_.SetUser(std::string("a\xff", 2) + std::string(150, 'u'));
    Connect();
    ExpectAnswer(B({255, 250, 24, 1, 255, 240}),
                 B({255, 250, 24, 0}) + std::string(200, 't') + B({255, 240}));
    ExpectAnswer(B({255, 250, 39, 1, 255, 240}), B({255, 250, 39, 0, 0}) + "USER" +
                                                     B({1, 'a', 255, 255}) + std::string(150, 'u') +
                                                     B({255, 240}));
}

TEST_F(TelnetTest, SmallCallerBufferKeepsTheStreamInOrder) {
    Connect();
    SendBytes(peer_, B({'a', 255, 253, 3}));
    char buffer[1];
    ASSERT_EQ(connection_->GetBuffer(buffer, 1, false), 1);
    EXPECT_EQ(buffer[0], 'a');
    // Reads of one byte still complete the command: IAC, then DO, then 3.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(connection_->GetBuffer(buffer, 1, false), 0);
    EXPECT_EQ(Reply(3), B({255, 251, 3}));
    SendBytes(peer_, B({'b', 255, 255}));
    std::string data;
    for (int i = 0; i < 3; ++i) {
        int count = connection_->GetBuffer(buffer, 1, false);
        data.append(buffer, static_cast<std::size_t>(count));
    }
    EXPECT_EQ(data, B({'b', 255}));
}

TEST_F(TelnetTest, UnendingSubnegotiationIsGivenUp) {
    Connect();
    // 1 option byte plus 1199 parameter bytes over two reads: the first
    // kMaxSubnegotiationLength bytes are dropped, the rest is data again.
    EXPECT_EQ(Exchange(B({'<', 255, 250, 24}) + std::string(599, 'x')), "<");
    EXPECT_EQ(Exchange(std::string(600, 'x') + ">"),
              std::string(1200 - kMaxSubnegotiationLength, 'x') + ">");
    // Nothing was answered, and commands work again.
    ExpectAnswer(B({255, 253, 1}), B({255, 251, 1}));
    EXPECT_EQ(NoMoreReplies(), "");

    // A long one that is closed within the limit is removed whole.
    EXPECT_EQ(Exchange(B({255, 250, 24, 0}) + std::string(1000, 'v') + B({255, 240, '!'})), "!");
}

TEST_F(TelnetTest, UserDataDoublesIacAndRemoteCloseEnds) {
    Connect();
    connection_->PutBuffer("x\xffy", 3, false);
    connection_->PutBuffer("plain", 5, false);
    EXPECT_EQ(ReadPending(peer_), B({'x', 255, 255, 'y'}) + "plain");

    server_.Close(peer_);
    char buffer[64];
    EXPECT_EQ(connection_->GetBuffer(buffer, sizeof buffer, false), 0);
    EXPECT_EQ(connection_->GetState(), kStateClosed);
}

TEST_F(TelnetTest, AnswersAndUserDataDoNotInterleave) {
    Connect();
    constexpr int kRequests = 400;
    constexpr int kKeys = 2000;
    std::string requests;
    for (int i = 0; i < kRequests; ++i) requests += B({255, 253, 31});
    requests += "END";

    // The session thread reads (and answers NAWS, 12 bytes each) while the
    // input thread types.
    std::thread session([&] {
        std::string data;
        char buffer[32768];
        while (data.find("END") == std::string::npos) {
            int count = connection_->GetBuffer(buffer, sizeof buffer, false);
            if (count <= 0 && connection_->GetState() != kStateOpen) break;
            data.append(buffer, static_cast<std::size_t>(count));
        }
    });
    std::thread typist([&] {
        for (int i = 0; i < kKeys; ++i) connection_->PutBuffer("key", 3, false);
    });
    SendBytes(peer_, requests);
    typist.join();
    session.join();

    const std::string answer = B({255, 251, 31, 255, 250, 31, 0, 80, 0, 25, 255, 240});
    std::string received = ReadBytes(peer_, kRequests * answer.size() + kKeys * 3);
    int answers = 0;
    std::string keys;
    for (std::size_t i = 0; i < received.size();) {
        if (received.compare(i, answer.size(), answer) == 0) {
            ++answers;
            i += answer.size();
        } else {
            keys += received[i++];
        }
    }
    EXPECT_EQ(answers, kRequests);
    std::string expected_keys;
    for (int i = 0; i < kKeys; ++i) expected_keys += "key";
    EXPECT_TRUE(keys == expected_keys) << keys.size() << " bytes outside whole answers";
}
