#include "net/telnet_connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
