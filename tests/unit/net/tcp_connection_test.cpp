#include "net/tcp_connection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "base/exception.h"
#include "config/host_config.h"
#include "fake_peer.h"
#include "platform/thread.h"

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

bool EndsWithin(TThread& thread, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!thread.Finished()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(1000);
    }
    return true;
}

// Runs `body` on a cancellable thread, checks that it is still blocked after
// a while, cancels it, and expects it to end soon, quietly (no TException).
void ExpectCancelEndsBlockedCall(const std::function<void()>& body) {
    TThread thread;
    std::atomic<bool> returned{false};
    std::atomic<bool> raised{false};
    thread.Start([&] {
        try {
            body();
            returned = true;
        } catch (const TException&) {
            raised = true;
        }
    });
    usleep(200000);
    ASSERT_FALSE(thread.Finished()) << "the call did not block";
    const auto start = std::chrono::steady_clock::now();
    thread.Cancel();
    ASSERT_TRUE(EndsWithin(thread, 3000));
    thread.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(returned);
    EXPECT_FALSE(raised);
}

// A connection to a fake server, accepted on the server side as `peer`.
class ConnectedTcp : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_GE(peer, 0); }

    TFakeServer server;
    THostConfig host = LocalHost(server.Port());
    TPlainTcp connection{&host, 0};
    int peer = server.Accept();
};

}  // namespace

TEST(TcpConnection, ConnectsAndCarriesBytesBothWays) {
    TFakeServer server;
    for (const char* address : {"127.0.0.1", "localhost"}) {
        THostConfig host = LocalHost(server.Port(), address);
        TPlainTcp connection(&host, 3);
        EXPECT_EQ(connection.GetState(), kStateOpen);
        EXPECT_EQ(connection.GetScreen(), 3);
        int peer = server.Accept();
        ASSERT_GE(peer, 0) << address;

        connection.PutBuffer("hello", 5, false);
        connection.PutBuffer("", 0, false);  // allowed, sends nothing
        EXPECT_EQ(ReadPending(peer), "hello");

        SendBytes(peer, std::string("w\0rld\r\n", 7));
        char buffer[32768];
        int count = connection.GetBuffer(buffer, sizeof buffer, false);
        EXPECT_EQ(std::string(buffer, count), std::string("w\0rld\r\n", 7));
    }
}

TEST(TcpConnection, NameLookupOnASessionThread) {
    // A cancellable thread looks names up on a helper thread; the result must
    // be the same as on the main thread.
    TFakeServer server;
    THostConfig host = LocalHost(server.Port(), "localhost");
    TThread thread;
    std::atomic<int> state{-1};
    thread.Start([&] {
        TPlainTcp connection(&host, 0);
        state = connection.GetState();
    });
    ASSERT_TRUE(EndsWithin(thread, 5000));
    thread.Join();
    EXPECT_EQ(state, kStateOpen);
}

TEST(TcpConnection, OpeningFailuresRaiseTheirMessages) {
    EXPECT_EQ(
        ConnectError(LocalHost(UnusedPort())),
        "TConnection::TConnection: Error on connect(). Error: " + std::to_string(ECONNREFUSED));

    // A DNS label longer than 63 characters fails inside the resolver,
    // without any query leaving the machine.
    const std::string bad_name = std::string(64, 'a') + ".invalid";
    EXPECT_EQ(ConnectError(LocalHost(23, bad_name)), "TConnection::TConnection: Bad address: " +
                                                         bad_name + ". Unable to lookup over DNS.");

    // Too long for any address: refused before a lookup, message cut at 1023.
    const std::string long_name(2000, 'b');
    const std::string message = ConnectError(LocalHost(23, long_name));
    EXPECT_EQ(message.size(), 1023u);
    EXPECT_EQ(message.rfind("TConnection::TConnection: Bad address: bbbb", 0), 0u);

    // A port outside 0..65535 must not wrap round to another port.
    EXPECT_EQ(ConnectError(LocalHost(65536 + 23)),
              "TConnection::TConnection: Error on connect(). Error: " + std::to_string(EINVAL));
}

TEST_F(ConnectedTcp, WaitForDataThenRemoteCloseEndsWithStateClosed) {
    EXPECT_FALSE(connection.WaitForData(20000));
    SendBytes(peer, "last");
    EXPECT_TRUE(connection.WaitForData(2000000));
    shutdown(peer, SHUT_WR);

    char buffer[64];
    EXPECT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 4);
    EXPECT_EQ(connection.GetState(), kStateOpen);
    EXPECT_EQ(connection.GetBuffer(buffer, sizeof buffer, false), 0);
    EXPECT_EQ(connection.GetState(), kStateClosed);
}

TEST_F(ConnectedTcp, OneReadTakesAtMost16000Bytes) {
    const std::string sent(40000, 'q');
    SendBytes(peer, sent);

    std::string received;
    std::vector<char> buffer(40000);
    while (received.size() < sent.size()) {
        int count = connection.InternalGetBuffer(buffer.data(), 40000);
        ASSERT_GT(count, 0);
        ASSERT_LE(count, 16000);
        received.append(buffer.data(), static_cast<std::size_t>(count));
    }
    EXPECT_EQ(received, sent);
    // A zero-length read neither blocks nor reads the connection as closed.
    EXPECT_EQ(connection.InternalGetBuffer(buffer.data(), 0), 0);
    EXPECT_EQ(connection.GetState(), kStateOpen);
}

TEST_F(ConnectedTcp, LargeSendCompletesThroughPartialSends) {
    // Far more than the socket buffers hold: the kernel takes it in parts.
    std::string data(8 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4099);

    std::string received;
    std::thread reader([&] {
        usleep(100000);  // let the buffers fill first
        received = ReadBytes(peer, data.size(), 20000);
    });
    connection.PutBuffer(data.data(), static_cast<unsigned>(data.size()), false);
    reader.join();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST_F(ConnectedTcp, SendToAClosedPeerRaisesWithoutSignal) {
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

TEST_F(ConnectedTcp, CancelBlockedReadEndsPromptly) {
    ExpectCancelEndsBlockedCall([&] {
        char buffer[256];
        connection.GetBuffer(buffer, sizeof buffer, false);
    });
    EXPECT_EQ(connection.GetState(), kStateOpen);
}

TEST_F(ConnectedTcp, CancelBlockedSendEndsPromptly) {
    // The peer never reads: the send stalls.
    const std::string data(64 << 20, 's');
    ExpectCancelEndsBlockedCall(
        [&] { connection.PutBuffer(data.data(), static_cast<unsigned>(data.size()), false); });
}

TEST(TcpConnectionCancel, BlockedConnectEndsPromptly) {
    // A listener whose accept queue is full drops further connection
    // requests, so a connect to it stays pending.
    TFakeServer server(0);
    std::vector<int> fillers;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    pollfd probe{fillers.back(), POLLOUT, 0};
    ASSERT_EQ(poll(&probe, 1, 200), 0) << "the accept queue did not fill";

    THostConfig host = LocalHost(server.Port());
    ExpectCancelEndsBlockedCall([&] { TPlainTcp connection(&host, 0); });
    for (int fd : fillers) close(fd);
}
