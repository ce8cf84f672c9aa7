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

}  // namespace

// Every exchange of tests/data/net/telnet.cases (its head explains them).
TEST(Telnet, Cases) {
    THeadlessConsole console(80, 25);
    Console = &console;
    const int screen = console.AddScreen();
    TFakeServer server;
    THostConfig host;
    host.SetAddress("127.0.0.1");
    host.SetPort(server.Port());
    std::unique_ptr<TTelnetConnection> connection;
    int peer = -1;
    char buffer[32768];
    for (const TCase& c : ReadCases("net/telnet.cases")) {
        SCOPED_TRACE(c.where);
        const std::string& step = c[0];
        if (step == "connect") {
            host.SetUser(c.size() > 1 ? Bytes(c[1]) : "guest");
            host.SetTerminalType(c.size() > 2 ? Bytes(c[2]) : "ansi5");
            connection = std::make_unique<TTelnetConnection>(&host, screen);
            ASSERT_GE(peer = server.Accept(), 0);
        } else if (step == "send") {
            SendBytes(peer, Bytes(c[1]));
            const int count = connection->GetBuffer(buffer, sizeof buffer, false);
            ASSERT_GE(count, 0);
            EXPECT_EQ(std::string(buffer, count), c.size() > 2 ? Bytes(c[2]) : "");
            EXPECT_EQ(connection->GetState(), kStateOpen);
        } else if (step == "reply") {
            const std::string reply = Bytes(c[1]);
            EXPECT_EQ(ReadBytes(peer, reply.size()), reply);
        } else if (step == "quiet") {
            EXPECT_EQ(ReadPending(peer, 50), "");
        } else if (step == "type") {
            const std::string typed = Bytes(c[1]);
            connection->PutBuffer(typed.data(), static_cast<unsigned>(typed.size()), false);
        } else if (step == "binary") {
            EXPECT_EQ(connection->SendsBinary(), c[1] == "1");
        } else if (step == "size") {
            const COORD size{static_cast<std::int16_t>(Num(c[1])),
                             static_cast<std::int16_t>(Num(c[2]))};
            EXPECT_TRUE(connection->ReportWindowSize(&size));
        } else if (step == "screen") {
            console.SetSize(screen, static_cast<int>(Num(c[1])), static_cast<int>(Num(c[2])));
        } else {
            ASSERT_EQ(step, "closed");
            server.Close(peer);
            EXPECT_EQ(connection->GetBuffer(buffer, sizeof buffer, false), 0);
            EXPECT_EQ(connection->GetState(), kStateClosed);
        }
    }
    connection.reset();
    Console = nullptr;
}
