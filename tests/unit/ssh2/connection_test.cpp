// TSSH2Connection's identification exchange over a real loopback socket
// (tests/data/ssh2/identification).
#include "../net/fake_peer.h"
#include "config/host_config.h"
#include "ssh/connection/ssh2_connection.h"
#include "ssh2_test_support.h"

namespace {

using ConnectionTest = Ssh2Test;

TEST_F(ConnectionTest, IdentificationExchange) {
    TFakeServer server;
    THostConfig host;
    host.SetAddress("127.0.0.1");
    host.SetPort(server.Port());
    host.SetProtocol(kProtocolSsh2);
    for (const TCase& c : ReadCases("ssh2/identification")) {
        SCOPED_TRACE(c.where);
        TSSH2Connection connection(&host, 0);
        const int fd = server.Accept();
        ASSERT_GE(fd, 0);
        SendBytes(fd, c[1]);
        if (c[0] == "fail") {
            if (c[2] == "1") server.Close(fd);
            EXPECT_EQ(c[3], FatalMessage([&] { connection.ExchangeVersions(); }));
            continue;
        }
        connection.ExchangeVersions();
        EXPECT_EQ(c[2], connection.GetContext()->server_version_string);
        EXPECT_EQ(Num(c[3]), connection.GetContext()->datafellows);
        EXPECT_EQ("SSH-2.1-Quenlor_3.24.00\n", ReadBytes(fd, 24));
        char rest[16];
        if (c.size() > 4 && !c[4].empty()) {
            EXPECT_EQ(c[4], Bytes(rest, connection.GetBuffer(rest, sizeof rest, true)));
        }
    }
}

}  // namespace
