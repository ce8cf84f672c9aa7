// TSSH1Connection over loopback against the scripted server: the key
// exchange and the one authentication attempt row by row, a whole session,
// and sends from two threads.
#include "ssh/connection/ssh1_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "config/host_config.h"
#include "console/headless_console.h"
#include "ssh1_scripted_server.h"

namespace {

// The terminal gets the session screen's size, no pixel sizes, no modes.
const std::string kShellEvents = "pty vt100 30 100 0 0 0 rest 0, shell";

class Ssh1ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        console_.SetConsoleSize(100, 30);
        Console = &console_;
        screen_ = console_.AddScreen();
        host_.SetAddress("127.0.0.1");
        host_.SetProtocol(kProtocolSsh);
        host_.SetUser("quenlor");
        host_.SetPassword("secret");
        host_.SetTerminalType("vt100");
    }
    void TearDown() override { Console = nullptr; }

    void Connect(const std::string& settings,
                 const std::string& identification = "SSH-1.5-ScriptedServer_1.0\n") {
        connection_.reset();
        server_ = std::make_unique<ScriptedServer>(settings);
        host_.SetPort(server_->listener_.Port());
        server_->Start(identification);
        connection_ = std::make_unique<TSSH1Connection>(&host_, screen_);
    }
    std::string Read() {
        char buffer[32768];
        const int n = connection_->GetBuffer(buffer, sizeof buffer, false);
        return std::string(buffer, static_cast<size_t>(std::max(n, 0)));
    }
    THeadlessConsole console_{100, 30};
    int screen_ = 0;
    THostConfig host_;
    std::unique_ptr<ScriptedServer> server_;
    std::unique_ptr<TSSH1Connection> connection_;
};

// Each row: the server's settings, the client's ("password=" or "key=" a key
// file of tests/data/ssh1/keyfiles or a path), the login's fatal message (""
// when it reaches the shell), text the log holds, and what the server saw.
TEST_F(Ssh1ConnectionTest, Logins) {
    for (const TCase& c : ReadCases("ssh1/logins")) {
        SCOPED_TRACE(c.where);
        host_.SetAuthType(kAuthPassword);
        host_.SetPassword("secret");
        host_.SetKeyFile("");
        std::unique_ptr<TempKeyFile> key;
        for (const std::string& word : Words(c[1])) {
            const std::string value = word.substr(word.find('=') + 1);
            if (word.rfind("key=", 0) != 0) {
                host_.SetPassword(value);
                continue;
            }
            host_.SetAuthType(kAuthRsa);
            host_.SetPassword("");
            if (value[0] != '/') key = std::make_unique<TempKeyFile>(KeyFileBytes(value));
            host_.SetKeyFile(key ? key->path : value);
        }
        Connect(c[0]);
        std::string message;
        const std::string log = StderrOf([&] {
            try {
                connection_->Login();
            } catch (const TException& e) {
                message = e.Message();
            }
        });
        EXPECT_EQ(message, c[2]);
        EXPECT_NE(log.find(c[3]), std::string::npos) << log;
        if (message.empty()) {
            EXPECT_EQ(Read(), "welcome\r\n");
            connection_->PutBuffer("exit\r", 5, false);
            while (!Read().empty()) {
            }
        }
        connection_.reset();
        const auto& seen = server_->Seen();
        for (const std::string& word : Words(c[4])) {
            const std::string name = word.substr(0, word.find('='));
            const auto it = seen.find(name);
            EXPECT_EQ(name + "=" + (it == seen.end() ? "" : it->second), word);
        }
        EXPECT_EQ(seen.count("error"), 0u) << seen.at("error");
        const std::string events = seen.count("events") ? seen.at("events") : "";
        EXPECT_EQ(events.find("unexpected"), std::string::npos) << events;
        if (message.empty()) {
            EXPECT_EQ(events, kShellEvents + ", exit confirmed");
        }
    }
}

TEST_F(Ssh1ConnectionTest, ASessionCarriesDataBothWays) {
    // A server of version 1.99 after a banner line is spoken to in protocol 1.
    Connect("", "some banner\r\nSSH-1.99-Dual_2.0\r\n");
    connection_->Login();
    EXPECT_EQ(connection_->GetProtocolMajor(), 1);
    EXPECT_EQ(connection_->GetProtocolMinor(), 5);
    EXPECT_STREQ(connection_->GetContext()->server_version_string, "SSH-1.99-Dual_2.0");
    EXPECT_STREQ(connection_->GetContext()->client_version_string, "SSH-1.5-Quenlor_3.24.00");

    // Standard output and standard error arrive alike.
    EXPECT_EQ(Read(), "welcome\r\n");
    EXPECT_EQ(Read(), "stderr line\r\n");
    connection_->PutBuffer("ls -l\r", 6, false);
    EXPECT_EQ(Read(), "echo:ls -l\r");

    // ALT+Q's size: rows 10, columns 80, through either entry.
    connection_->SetWindowSize(80, 10);
    EXPECT_EQ(Read(), "window 10 80 0 0");
    const COORD size{132, 43};
    EXPECT_TRUE(connection_->ReportWindowSize(&size));
    EXPECT_EQ(Read(), "window 43 132 0 0");

    // Output longer than the caller's buffer comes in pieces; a paste longer
    // than one packet goes out in several.
    connection_->PutBuffer("big", 3, false);
    std::string got;
    for (std::string piece = "-"; got.size() < ScriptedServer::kBigSize && !piece.empty();)
        got += piece = Read();
    EXPECT_EQ(got, ScriptedServer::Big());
    const std::string paste(40000, 'p');
    connection_->PutBuffer(paste.data(), static_cast<unsigned>(paste.size()), false);
    std::string echoed;
    while (echoed.size() < 3 * 5 + paste.size()) echoed += Read();
    EXPECT_EQ(echoed, "echo:" + paste.substr(0, 16384) + "echo:" + paste.substr(0, 16384) +
                          "echo:" + paste.substr(0, 40000 - 2 * 16384));

    connection_->PutBuffer("exit\r", 5, false);
    EXPECT_EQ(connection_->GetState(), kStateOpen);
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(connection_->GetState(), kStateClosed);
    connection_.reset();
    const auto& seen = server_->Seen();
    EXPECT_EQ(seen.count("error"), 0u);
    EXPECT_EQ(seen.at("identification"), "SSH-1.5-Quenlor_3.24.00\n");
    EXPECT_EQ(seen.at("events"), kShellEvents +
                                     ", stdin 6, window 10 80 0 0, window 43 132 0 0, "
                                     "stdin 16384, stdin 16384, stdin 7232, exit confirmed");
}

// The exit confirmation (session thread) and keystrokes (input thread) go
// out at the same time; the server checks every packet's framing and check
// bytes, so an interleaved send would show as a corrupt packet there.
TEST_F(Ssh1ConnectionTest, TheExitConfirmationNeverInterleavesWithKeystrokes) {
    Connect("exit_at_once=1");
    connection_->Login();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread input([&] {
        try {
            while (!stop.load()) {
                connection_->PutBuffer("keystroke", 9, false);
                sent++;
            }
        } catch (const TException&) {
            // The server may close first.
        }
    });
    // Let keystrokes flow before the exit status is read.
    while (sent.load() < 50) std::this_thread::yield();
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(connection_->GetState(), kStateClosed);
    while (sent.load() < 100) std::this_thread::yield();
    stop = true;
    input.join();
    connection_.reset();  // closes the socket: the server reads to the end
    EXPECT_EQ(server_->Seen().count("error"), 0u);
    EXPECT_EQ(server_->Seen().at("events"), kShellEvents + ", exit confirmed");
    EXPECT_EQ(server_->stdin_packets_, sent.load());
}

}  // namespace
