// TSSH2Connection over a real loopback socket: the identification exchange,
// and the send lock that keeps the input thread's data and the session
// thread's window adjustments from interleaving.
#include <thread>

#include "../net/fake_peer.h"
#include "config/host_config.h"
#include "fake_ssh2_server.h"
#include "ssh/connection/ssh2_connection.h"
#include "ssh/transport/compat.h"
#include "ssh/transport/ssh2.h"
#include "ssh/wire/xmalloc.h"
#include "ssh2_test_support.h"

namespace {

class ConnectionTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        host_.SetAddress("127.0.0.1");
        host_.SetPort(server_.Port());
        host_.SetProtocol(kProtocolSsh2);
    }
    // Connects and returns the server's end of the new connection.
    int Connect() {
        connection_ = std::make_unique<TSSH2Connection>(&host_, 0);
        const int fd = server_.Accept();
        EXPECT_GE(fd, 0);
        return fd;
    }
    std::string Exchange(const std::string& server_lines) {
        const int fd = Connect();
        SendBytes(fd, server_lines);
        return FatalMessage([&] { connection_->ExchangeVersions(); });
    }

    TFakeServer server_;
    THostConfig host_;
    std::unique_ptr<TSSH2Connection> connection_;
};

// Lines before the identification are dropped; LF or CR LF end it; 1.99
// counts as 2; the compatibility word follows the version; nothing after
// the line feed is taken from the socket.
TEST_F(ConnectionTest, IdentificationExchange) {
    const struct {
        const char* lines;
        const char* version;
        int datafellows;
    } cases[] = {
        {"Welcome\r\nto the host\nSSH-1.99-2.0.13 (SSH Secure Shell)\r\nrest",
         "SSH-1.99-2.0.13 (SSH Secure Shell)", 0x0F},
        {"SSH-2.0-OpenSSH_9.2\nrest", "SSH-2.0-OpenSSH_9.2", 0},
        {"SSH-2.0-OpenSSH_9.2\r\nrest", "SSH-2.0-OpenSSH_9.2", 0},
        {"SSH-2.0-2.3.0 SSH Secure Shell\nrest", "SSH-2.0-2.3.0 SSH Secure Shell", 0x14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        const int fd = Connect();
        SendBytes(fd, c.lines);
        connection_->ExchangeVersions();
        PacketContext* context = connection_->GetContext();
        EXPECT_STREQ(c.version, context->server_version_string);
        EXPECT_STREQ("SSH-2.1-Quenlor_3.24.00", context->client_version_string);
        EXPECT_EQ(c.datafellows, context->datafellows);
        EXPECT_EQ("SSH-2.1-Quenlor_3.24.00\n", ReadBytes(fd, 24));
        char rest[16];
        EXPECT_EQ(4, connection_->GetBuffer(rest, sizeof rest, true));
        EXPECT_EQ("rest", std::string(rest, 4));
    }
    // An overlong line ends where the buffer does, its last character lost.
    const int fd = Connect();
    SendBytes(fd, "SSH-2.0-" + std::string(300, 'x') + "\n");
    connection_->ExchangeVersions();
    EXPECT_EQ("SSH-2.0-" + std::string(246, 'x'),
              std::string(connection_->GetContext()->server_version_string));
}

TEST_F(ConnectionTest, IdentificationFailures) {
    EXPECT_EQ(
        "TSSHConnection::ExchangeVersions. Protocol versions incompatible, remote major: 1, "
        "local major: 2.",
        Exchange("SSH-1.5-OldServer\n"));
    EXPECT_EQ(
        "TSSHConnection::ExchangeVersions. Bad remote protocol version identification: "
        "'SSH-2.0-'",
        Exchange("SSH-2.0-\n"));
    const int fd = Connect();
    SendBytes(fd, "no identification here\n");
    server_.Close(fd);
    EXPECT_EQ("TSSHConnection::ExchangeVersions. Connection closed by foreign host.",
              FatalMessage([&] { connection_->ExchangeVersions(); }));
}

TEST_F(ConnectionTest, InputAndSessionThreadSendsNeverInterleave) {
    FakeSsh2End server;
    FakeSsh2Attach(&server, Connect());
    PacketContext* client = connection_->GetContext();
    packet_set_io_hooks(client, TSSHConnection::WriteHook, TSSHConnection::ReadHook);
    client->compat20 = 1;
    packet_set_ssh2_format(client);

    constexpr int kServerMessages = 200;
    constexpr int kClientMessages = 300;
    constexpr uint32_t kMessageBytes = 16000;
    for (int i = 0; i < kServerMessages; i++) {
        packet_start(&server.context, SSH2_MSG_CHANNEL_DATA);
        packet_put_int(&server.context, 0);
        packet_put_string(&server.context, std::string(kMessageBytes, 'd').data(), kMessageBytes);
        packet_send(&server.context);
    }
    // No login here: the server's window is simply wide open.
    connection_->GetChannel()->gate.SetWindow(UINT32_MAX);

    // The server writes while the client reads, so neither fills its socket.
    std::thread writer([&] { packet_write_wait(&server.context); });
    long received = 0;
    std::string session_error;
    std::thread session([&] {
        try {
            char buffer[32768];
            while (connection_->GetState() == kStateOpen)
                received += connection_->GetBuffer(buffer, sizeof buffer, false);
        } catch (const TException& e) {
            session_error = e.Message();
        }
    });
    for (int i = 0; i < kClientMessages; i++) {
        const std::string line = "line " + std::to_string(i) + std::string(200, '.');
        connection_->PutBuffer(line.data(), static_cast<unsigned>(line.size()), false);
    }
    // The close comes after all input was written: data after it is dropped.
    writer.join();
    packet_start(&server.context, SSH2_MSG_CHANNEL_CLOSE);
    packet_put_int(&server.context, 0);
    packet_send(&server.context);
    packet_write_wait(&server.context);
    session.join();
    EXPECT_EQ("", session_error);
    EXPECT_EQ(kServerMessages * static_cast<long>(kMessageBytes), received);

    int data = 0;
    int adjustments = 0;
    // An adjustment goes out once more than half the window was delivered,
    // so after every kPerAdjustment-th message, wherever it falls among the
    // input thread's data.
    constexpr uint32_t kPerAdjustment = kChannelWindowSize / 2 / kMessageBytes + 1;
    constexpr int kAdjustments = kServerMessages / kPerAdjustment;
    static_assert(kAdjustments >= 5);
    while (data < kClientMessages || adjustments < kAdjustments) {
        const int type = packet_read(&server.context, nullptr);
        ASSERT_EQ(0u, packet_get_int(&server.context));
        if (type == SSH2_MSG_CHANNEL_WINDOW_ADJUST) {
            // exactly what was taken
            EXPECT_EQ(kPerAdjustment * kMessageBytes, packet_get_int(&server.context));
            adjustments++;
            continue;
        }
        ASSERT_EQ(SSH2_MSG_CHANNEL_DATA, type);
        uint32_t length = 0;
        XmallocPtr<char> text(static_cast<char*>(packet_get_string(&server.context, &length)));
        EXPECT_EQ("line " + std::to_string(data) + std::string(200, '.'),
                  std::string(text.get(), length));
        data++;
    }
    EXPECT_EQ(kClientMessages, data);
    EXPECT_EQ(kAdjustments, adjustments);
    packet_free(&server.context);
}

}  // namespace
