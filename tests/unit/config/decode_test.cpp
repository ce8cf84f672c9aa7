#include <gtest/gtest.h>

#include <string>

#include "base/exception.h"
#include "config/decode_address.h"
#include "config/decode_auth.h"

namespace {

std::string MessageOf(void (*decode)(const std::string&, THostConfig&), const std::string& text,
                      THostConfig& host) {
    try {
        decode(text, host);
    } catch (const TException& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(DecodeAddress, BareHostKeepsProtocolAndPort) {
    THostConfig host;
    host.SetProtocol(kProtocolSsh2);
    host.SetPort(2222);
    DecodeAddress("example.org", host);
    EXPECT_EQ(host.GetAddress(), "example.org");
    EXPECT_EQ(host.GetProtocol(), kProtocolSsh2);
    EXPECT_EQ(host.GetPort(), 2222);
}

TEST(DecodeAddress, HostAndPortKeepProtocol) {
    THostConfig host;
    host.SetProtocol(kProtocolSsh);
    host.SetPort(22);
    DecodeAddress("example.org:2323", host);
    EXPECT_EQ(host.GetAddress(), "example.org");
    EXPECT_EQ(host.GetProtocol(), kProtocolSsh);
    EXPECT_EQ(host.GetPort(), 2323);
    // The port test trims like integer options do.
    DecodeAddress("example.org: 24 ", host);
    EXPECT_EQ(host.GetPort(), 24);
}

TEST(DecodeAddress, ProtocolAndHostTakeTheDefaultPort) {
    THostConfig host;
    DecodeAddress("ssh:example.org", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolSsh);
    EXPECT_EQ(host.GetPort(), 22);
    EXPECT_EQ(host.GetAddress(), "example.org");

    // "ssh" is a prefix of "ssh2"; the exact name must still win.
    host.SetPort(99);
    DecodeAddress("ssh2:example.org", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolSsh2);
    EXPECT_EQ(host.GetPort(), 22);

    DecodeAddress("file:capture.bin", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolFile);
    EXPECT_EQ(host.GetPort(), -1);
    EXPECT_EQ(host.GetAddress(), "capture.bin");

    DecodeAddress("telnet:example.org", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolTelnet);
    EXPECT_EQ(host.GetPort(), 23);

    DecodeAddress("serial:ttyS0", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolSerial);
    EXPECT_EQ(host.GetPort(), -1);
}

TEST(DecodeAddress, ThreeParts) {
    THostConfig host;
    DecodeAddress("ssh2:10.0.0.1:2200", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolSsh2);
    EXPECT_EQ(host.GetAddress(), "10.0.0.1");
    EXPECT_EQ(host.GetPort(), 2200);
    // Everything between the first and the last colon is the address.
    DecodeAddress("telnet:a:b:23", host);
    EXPECT_EQ(host.GetProtocol(), kProtocolTelnet);
    EXPECT_EQ(host.GetAddress(), "a:b");
    EXPECT_EQ(host.GetPort(), 23);
}

TEST(DecodeAddress, Errors) {
    THostConfig host;
    EXPECT_EQ(MessageOf(DecodeAddress, "example.org:", host),
              "DecodeAddress error. Unknown protocol: example.org.");
    EXPECT_EQ(MessageOf(DecodeAddress, "gopher:example.org", host),
              "DecodeAddress error. Unknown protocol: gopher.");
    // Prefix "ssh" matches, but the three-part form wants the exact name.
    EXPECT_EQ(MessageOf(DecodeAddress, "sshx:example.org", host),
              "DecodeAddress error. Unknown protocol: sshx.");
    EXPECT_EQ(MessageOf(DecodeAddress, "Telnet:a:23", host),
              "DecodeAddress error. Unknown protocol: Telnet.");
    EXPECT_EQ(MessageOf(DecodeAddress, "telnet:a:023", host),
              "DecodeAddress error. Bad port: 023.");
    EXPECT_EQ(MessageOf(DecodeAddress, "telnet:a:", host), "DecodeAddress error. Bad port: .");
    // Ports that would wrap around when converted to 16 bits.
    EXPECT_EQ(MessageOf(DecodeAddress, "example.org:65536", host),
              "DecodeAddress error. Bad port: 65536.");
    EXPECT_EQ(MessageOf(DecodeAddress, "telnet:a:-2", host), "DecodeAddress error. Bad port: -2.");
    DecodeAddress("telnet:a:65535", host);
    EXPECT_EQ(host.GetPort(), 65535);
}

TEST(DecodeAddress, LengthLimitCountsThePrependedProtocol) {
    THostConfig host;
    DecodeAddress(std::string(255, 'h'), host);
    EXPECT_EQ(host.GetAddress().size(), 255u);
    // 250 + ":23" fits, but "telnet:" makes it 260.
    std::string text = std::string(250, 'h') + ":23";
    EXPECT_EQ(MessageOf(DecodeAddress, text, host),
              "DecodeAddress error. Address longer than 255 characters: telnet:" + text + ".");
    EXPECT_EQ(
        MessageOf(DecodeAddress, std::string(256, 'h'), host),
        "DecodeAddress error. Address longer than 255 characters: " + std::string(256, 'h') + ".");
}

TEST(DecodeAddress, ProtocolOutOfRangeIsAnErrorNotAnOverread) {
    THostConfig host;
    host.SetProtocol(7);
    EXPECT_EQ(MessageOf(DecodeAddress, "example.org:23", host),
              "DecodeAddress error. Unknown protocol: 7.");
}

TEST(DecodeAuth, ThreeKinds) {
    THostConfig host;
    DecodeAuth("pwd:secret:with:colons", host);
    EXPECT_EQ(host.GetAuthType(), kAuthPassword);
    EXPECT_EQ(host.GetPassword(), "secret:with:colons");
    DecodeAuth("rsa:identity", host);
    EXPECT_EQ(host.GetAuthType(), kAuthRsa);
    EXPECT_EQ(host.GetKeyFile(), "identity");
    DecodeAuth("dsa:/home/u/id_dsa", host);
    EXPECT_EQ(host.GetAuthType(), kAuthDsa);
    EXPECT_EQ(host.GetKeyFile(), "/home/u/id_dsa");
    EXPECT_EQ(host.GetPassword(), "secret:with:colons");
}

TEST(DecodeAuth, UnknownKindShowsWholeValue) {
    THostConfig host;
    EXPECT_EQ(MessageOf(DecodeAuth, "PWD:secret", host),
              "DecodeAuth. Unknown SSH authentication type: |PWD:secret|.");
    EXPECT_EQ(host.GetAuthType(), 0);
    EXPECT_EQ(MessageOf(DecodeAuth, "pwd", host),
              "DecodeAuth. Unknown SSH authentication type: |pwd|.");
    EXPECT_EQ(MessageOf(DecodeAuth, "", host), "DecodeAuth. Unknown SSH authentication type: ||.");
}
