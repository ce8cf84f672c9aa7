// TSSH2Connection's identification exchange over a real loopback socket
// (tests/data/ssh2/identification).
#include "../net/fake_peer.h"
#include "config/host_config.h"
#include "ssh/connection/ssh2_connection.h"
#include "ssh2_test_support.h"

namespace {

class ConnectionTest : public Ssh2Test {
  protected:
    // Connects and returns the server's end of the new connection.
    int Connect() {
        host_.SetAddress("127.0.0.1");
        host_.SetPort(server_.Port());
        host_.SetProtocol(kProtocolSsh2);
        connection_ = std::make_unique<TSSH2Connection>(&host_, 0);
        const int fd = server_.Accept();
        EXPECT_GE(fd, 0);
        return fd;
    }
    TFakeServer server_;
    THostConfig host_;
    std::unique_ptr<TSSH2Connection> connection_;
};

TEST_F(ConnectionTest, IdentificationExchange) {
    for (const TCase& c : ReadCases("ssh2/identification")) {
        SCOPED_TRACE(c.where);
        const int fd = Connect();
        SendBytes(fd, c[1]);
        if (c[0] == "fail") {
            if (c[2] == "1") server_.Close(fd);
            EXPECT_EQ(c[3], FatalMessage([&] { connection_->ExchangeVersions(); }));
            continue;
        }
        connection_->ExchangeVersions();
        PacketContext* context = connection_->GetContext();
        EXPECT_EQ(c[2], context->server_version_string);
        EXPECT_EQ(Num(c[3]), context->datafellows);
        EXPECT_EQ("SSH-2.1-Quenlor_3.24.00\n", ReadBytes(fd, 24));
        char rest[16];
        if (c.size() > 4 && !c[4].empty()) {
            EXPECT_EQ(c[4], Bytes(rest, connection_->GetBuffer(rest, sizeof rest, true)));
        }
    }
}

}  // namespace
