#include "net/tcp_connection.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "../base/case_file.h"
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
        ASSERT_TRUE(WaitUntil([&] { return opener.Finished(); }));
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
    for (const TCase& c : ReadCases("net/tcp_errors.cases")) {
        SCOPED_TRACE(c.where);
        const int port = c[1] == "unused" ? UnusedPort() : static_cast<int>(Num(c[1]));
        THostConfig host = LocalHost(port, c[0]);
        try {
            TPlainTcp connection(&host, 0);
            ADD_FAILURE() << "connected";
        } catch (const TException& e) {
            EXPECT_EQ(e.Message(), c[2]);
        }
    }
}

// A send the peer never takes blocks, and a cancel (the session closed)
// ends it promptly and quietly. The other way, WaitForData waits for data;
// one read takes at most 16000 bytes, a read of none neither blocks nor
// closes; the peer's end reads as 0 and closes.
TEST(TcpConnection, CancelledSendBoundedReadsAndTheRemoteEnd) {
    TFakeServer server;
    THostConfig host = LocalHost(server.Port());
    TPlainTcp connection(&host, 0);
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    const std::string data(64 << 20, 's');
    ExpectCancelUnwinds(
        [&] { connection.PutBuffer(data.data(), static_cast<unsigned>(data.size()), false); });

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
