#include "net/telnet_connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "../base/case_file.h"
#include "config/host_config.h"
#include "console/headless_console.h"
#include "fake_peer.h"

namespace {

// Bytes as the case file writes them: hex pairs, "quoted" text, N*WORD.
std::string Bytes(const std::string& field) {
    std::string out;
    for (std::string w : Words(field)) {
        const std::size_t star = w.find('*');
        const long times = star == std::string::npos ? 1 : Num(w.substr(0, star));
        if (star != std::string::npos) w.erase(0, star + 1);
        const std::string one = w[0] == '"' ? w.substr(1, w.size() - 2)
                                            : std::string(1, static_cast<char>(Num("0x" + w)));
        for (long i = 0; i < times; ++i) out += one;
    }
    return out;
}

class TelnetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Console = &console_;
        screen_ = console_.AddScreen();
        host_.SetAddress("127.0.0.1");
        host_.SetPort(server_.Port());
    }
    void TearDown() override {
        connection_.reset();
        Console = nullptr;
    }
    void Connect(const std::string& user = "guest", const std::string& type = "ansi5") {
        host_.SetUser(user);
        host_.SetTerminalType(type);
        connection_ = std::make_unique<TTelnetConnection>(&host_, screen_);
        peer_ = server_.Accept();
        ASSERT_GE(peer_, 0);
    }
    int Read(char* buffer, unsigned size) { return connection_->GetBuffer(buffer, size, false); }

    THeadlessConsole console_{80, 25};
    int screen_ = 0;
    THostConfig host_;
    TFakeServer server_;
    std::unique_ptr<TTelnetConnection> connection_;
    int peer_ = -1;
};

}  // namespace

// Every exchange of tests/data/net/telnet.cases (its head explains them).
TEST_F(TelnetTest, Cases) {
    char buffer[32768];
    for (const TCase& c : ReadCases("net/telnet.cases")) {
        SCOPED_TRACE(c.where);
        const std::string& step = c[0];
        if (step == "connect") {
            connection_.reset();
            ASSERT_NO_FATAL_FAILURE(Connect(c.size() > 1 ? Bytes(c[1]) : "guest",
                                            c.size() > 2 ? Bytes(c[2]) : "ansi5"));
        } else if (step == "send") {
            SendBytes(peer_, Bytes(c[1]));
            const int count = Read(buffer, sizeof buffer);
            ASSERT_GE(count, 0);
            EXPECT_EQ(std::string(buffer, count), c.size() > 2 ? Bytes(c[2]) : "");
            EXPECT_EQ(connection_->GetState(), kStateOpen);
        } else if (step == "reply") {
            const std::string reply = Bytes(c[1]);
            EXPECT_EQ(ReadBytes(peer_, reply.size()), reply);
        } else if (step == "quiet") {
            EXPECT_EQ(ReadPending(peer_, 50), "");
        } else if (step == "type") {
            const std::string typed = Bytes(c[1]);
            connection_->PutBuffer(typed.data(), static_cast<unsigned>(typed.size()), false);
        } else if (step == "binary") {
            EXPECT_EQ(connection_->SendsBinary(), c[1] == "1");
        } else if (step == "size") {
            const COORD size{static_cast<std::int16_t>(Num(c[1])),
                             static_cast<std::int16_t>(Num(c[2]))};
            EXPECT_TRUE(connection_->ReportWindowSize(&size));
        } else if (step == "screen") {
            Console->SetSize(screen_, static_cast<int>(Num(c[1])), static_cast<int>(Num(c[2])));
        } else {
            ASSERT_EQ(step, "closed");
            server_.Close(peer_);
            EXPECT_EQ(Read(buffer, sizeof buffer), 0);
            EXPECT_EQ(connection_->GetState(), kStateClosed);
        }
    }
}

// Reads of one byte still complete a command (IAC, then DO, then the option)
// and a doubled IAC, the stream kept in order.
TEST_F(TelnetTest, SmallCallerBufferKeepsTheStreamInOrder) {
    Connect();
    SendBytes(peer_, "a\xff\xfd\x03");
    char byte;
    ASSERT_EQ(Read(&byte, 1), 1);
    EXPECT_EQ(byte, 'a');
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(&byte, 1), 0);
    EXPECT_EQ(ReadBytes(peer_, 3), "\xff\xfb\x03");
    SendBytes(peer_, "b\xff\xff");
    std::string data;
    for (int i = 0; i < 3; ++i) data.append(&byte, static_cast<std::size_t>(Read(&byte, 1)));
    EXPECT_EQ(data, "b\xff");
}

// The session thread answers NAWS (12 bytes each) while the input thread
// types: the server gets every answer whole and the keys in order.
TEST_F(TelnetTest, AnswersAndUserDataDoNotInterleave) {
    Connect();
    constexpr int kRequests = 400, kKeys = 2000;
    std::string requests;
    for (int i = 0; i < kRequests; ++i) requests += "\xff\xfd\x1f";
    std::thread session([&] {
        std::string data;
        char buffer[32768];
        while (data.find("END") == std::string::npos) {
            const int count = Read(buffer, sizeof buffer);
            if (count <= 0 && connection_->GetState() != kStateOpen) break;
            data.append(buffer, static_cast<std::size_t>(count));
        }
    });
    std::thread typist([&] {
        for (int i = 0; i < kKeys; ++i) connection_->PutBuffer("key", 3, false);
    });
    SendBytes(peer_, requests + "END");
    typist.join();
    session.join();

    const std::string answer("\xff\xfb\x1f\xff\xfa\x1f\x00\x50\x00\x19\xff\xf0", 12);
    const std::string received = ReadBytes(peer_, kRequests * answer.size() + kKeys * 3);
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
