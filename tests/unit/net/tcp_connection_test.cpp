#include "net/tcp_connection.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>

#include "../platform/bounded_wait.h"
#include "base/exception.h"
#include "config/host_config.h"
#include "fake_peer.h"

namespace {

// The TCP layer is abstract (no Login of its own); a plain byte pipe on top.
class TPlainTcp : public TTCPConnection {
  public:
    using TTCPConnection::TTCPConnection;
    void Login() override {}
};

THostConfig LocalHost(int port, const std::string& address = "127.0.0.1") {
    THostConfig host;
    host.SetAddress(address);
    host.SetPort(port);
    return host;
}

std::string ConnectError(const THostConfig& host) {
    try {
        TPlainTcp connection(&host, 0);
    } catch (const TException& e) {
        return e.Message();
    }
    return "(connected)";
}

class ConnectedTcp : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GE(peer, 0); }

    TFakeServer server;
    THostConfig host = LocalHost(server.Port());
    TPlainTcp connection{&host, 0};
    int peer = server.Accept();
};

}  // namespace

// Opened on a session thread (names are looked up on a helper thread there),
// by number and by name; bytes pass both ways unchanged.
TEST(TcpConnection, ConnectsFromASessionThreadAndCarriesBytes) {
    TFakeServer server;
    for (const char* address : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(address);
        THostConfig host = LocalHost(server.Port(), address);
        std::unique_ptr<TPlainTcp> connection;
        TThread opener;
        opener.Start([&] { connection = std::make_unique<TPlainTcp>(&host, 3); });
        ASSERT_TRUE(EndsWithin(opener));
        opener.Join();
        ASSERT_TRUE(connection);
        EXPECT_EQ(connection->GetState(), kStateOpen);
        EXPECT_EQ(connection->GetScreen(), 3);
        const int peer = server.Accept();
        ASSERT_GE(peer, 0);
        connection->PutBuffer("hello", 5, false);
        connection->PutBuffer("", 0, false);
        EXPECT_EQ(ReadPending(peer), "hello");
        SendBytes(peer, std::string("w\0rld\r\n", 7));
        char buffer[64];
        const int count = connection->GetBuffer(buffer, sizeof buffer, false);
        EXPECT_EQ(std::string(buffer, count), std::string("w\0rld\r\n", 7));
    }
}

TEST(TcpConnection, OpeningFailuresRaiseTheirMessages) {
    const std::string head = "TConnection::TConnection: ";
    EXPECT_EQ(ConnectError(LocalHost(UnusedPort())),
              head + "Error on connect(). Error: " + std::to_string(ECONNREFUSED));
    // A port outside 0..65535 must not wrap round to another port.
    EXPECT_EQ(ConnectError(LocalHost(65536 + 23)),
              head + "Error on connect(). Error: " + std::to_string(EINVAL));
    // A DNS label longer than 63 characters fails inside the resolver,
    // without any query leaving the machine.
    const std::string bad_name = std::string(64, 'a') + ".invalid";
    EXPECT_EQ(ConnectError(LocalHost(23, bad_name)),
              head + "Bad address: " + bad_name + ". Unable to lookup over DNS.");
    // Too long for any address: refused before a lookup, message cut at 1023.
    const std::string message = ConnectError(LocalHost(23, std::string(2000, 'b')));
    EXPECT_EQ(message.size(), 1023u);
    EXPECT_EQ(message.rfind(head + "Bad address: bbbb", 0), 0u);
}

// WaitForData waits for data; one read takes at most 16000 bytes, a read of
// none neither blocks nor closes; the peer's end reads as 0 and closes.
TEST_F(ConnectedTcp, ReadsAreBoundedAndTheRemoteEndCloses) {
    EXPECT_FALSE(connection.WaitForData(20000));
    const std::string sent(40000, 'q');
    SendBytes(peer, sent);
    EXPECT_TRUE(connection.WaitForData(2000000));
    shutdown(peer, SHUT_WR);
    std::string received;
    std::vector<char> buffer(40000);
    while (received.size() < sent.size()) {
        const int count = connection.InternalGetBuffer(buffer.data(), 40000);
        ASSERT_GT(count, 0);
        ASSERT_LE(count, 16000);
        received.append(buffer.data(), static_cast<std::size_t>(count));
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(connection.InternalGetBuffer(buffer.data(), 0), 0);
    EXPECT_EQ(connection.GetState(), kStateOpen);
    EXPECT_EQ(connection.GetBuffer(buffer.data(), 64, false), 0);
    EXPECT_EQ(connection.GetState(), kStateClosed);
}

// Far more than the socket buffers hold: the kernel takes it in parts.
TEST_F(ConnectedTcp, LargeSendCompletesThroughPartialSends) {
    std::string data(8 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4099);
    std::string received;
    std::thread reader([&] { received = ReadBytes(peer, data.size(), 20000); });
    connection.PutBuffer(data.data(), static_cast<unsigned>(data.size()), false);
    reader.join();
    EXPECT_TRUE(received == data) << received.size() << " bytes arrived";
}

TEST_F(ConnectedTcp, SendToAResetPeerRaisesWithoutSignal) {
    server.Close(peer, true);
    const std::string chunk(65536, 'z');
    std::string message;
    for (int i = 0; i < 200 && message.empty(); ++i) {
        try {
            connection.PutBuffer(chunk.data(), static_cast<unsigned>(chunk.size()), false);
        } catch (const TException& e) {
            message = e.Message();
        }
        usleep(1000);
    }
    // Reaching this line at all means no SIGPIPE ended the process.
    EXPECT_EQ(message.rfind("TConnection::InternalPutBuffer(): Error: ", 0), 0u) << message;
}

// A session closed while its connection blocks, in a read, in a send the
// peer never takes, or in a connect, ends promptly and quietly.
TEST_F(ConnectedTcp, CancelEndsBlockedReadAndSend) {
    ExpectCancelUnwinds([&] {
        char buffer[256];
        connection.GetBuffer(buffer, sizeof buffer, false);
    });
    EXPECT_EQ(connection.GetState(), kStateOpen);
    const std::string data(64 << 20, 's');
    ExpectCancelUnwinds(
        [&] { connection.PutBuffer(data.data(), static_cast<unsigned>(data.size()), false); });
}

TEST(TcpConnectionCancel, BlockedConnectEndsPromptly) {
    // A listener whose accept queue is full drops further connection
    // requests, so a connect to it stays pending.
    TFakeServer server(0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fillers[3];
    for (int& fd : fillers) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    pollfd probe{fillers[2], POLLOUT, 0};
    ASSERT_EQ(poll(&probe, 1, 200), 0) << "the accept queue did not fill";
    THostConfig host = LocalHost(server.Port());
    ExpectCancelUnwinds([&] { TPlainTcp connection(&host, 0); });
    for (int fd : fillers) close(fd);
}
