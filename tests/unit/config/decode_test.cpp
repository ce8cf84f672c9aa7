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

TEST(DecodeAddress, TheThreeForms) {
    struct Case {
        int protocol, port;  // the host's settings before decoding
        const char* text;
        int expectedProtocol;
        const char* address;
        int expectedPort;
    } cases[] = {
        // A bare host keeps protocol and port; host:port keeps the protocol.
        {kProtocolSsh2, 2222, "example.org", kProtocolSsh2, "example.org", 2222},
        {kProtocolSsh, 22, "example.org:2323", kProtocolSsh, "example.org", 2323},
        {kProtocolSsh, 22, "example.org: 24 ", kProtocolSsh, "example.org", 24},  // trimmed
        // protocol:host takes the protocol's default port.
        {kProtocolTelnet, 23, "ssh:example.org", kProtocolSsh, "example.org", 22},
        // "ssh" is a prefix of "ssh2"; the exact name must still win.
        {kProtocolTelnet, 99, "ssh2:example.org", kProtocolSsh2, "example.org", 22},
        {kProtocolSsh, 22, "file:capture.bin", kProtocolFile, "capture.bin", -1},
        {kProtocolSsh, 22, "telnet:example.org", kProtocolTelnet, "example.org", 23},
        {kProtocolSsh, 22, "serial:ttyS0", kProtocolSerial, "ttyS0", -1},
        {kProtocolTelnet, 23, "ssh2:10.0.0.1:2200", kProtocolSsh2, "10.0.0.1", 2200},
        // Everything between the first and the last colon is the address.
        {kProtocolSsh, 22, "telnet:a:b:23", kProtocolTelnet, "a:b", 23},
        {kProtocolSsh, 22, "telnet:a:65535", kProtocolTelnet, "a", 65535},
    };
    for (const Case& c : cases) {
        THostConfig host;
        host.SetProtocol(c.protocol);
        host.SetPort(c.port);
        DecodeAddress(c.text, host);
        EXPECT_EQ(host.GetProtocol(), c.expectedProtocol) << c.text;
        EXPECT_EQ(host.GetAddress(), c.address) << c.text;
        EXPECT_EQ(host.GetPort(), c.expectedPort) << c.text;
    }
    THostConfig host;
    DecodeAddress(std::string(255, 'h'), host);
    EXPECT_EQ(host.GetAddress().size(), 255u);
}

TEST(DecodeAddress, Errors) {
    const std::string h250 = std::string(250, 'h') + ":23", h256(256, 'h');
    const std::string prefix = "DecodeAddress error. ";
    struct Case {
        int protocol;
        std::string text, message;
    } cases[] = {
        {kProtocolTelnet, "example.org:", "Unknown protocol: example.org."},
        {kProtocolTelnet, "gopher:example.org", "Unknown protocol: gopher."},
        // Prefix "ssh" matches, but the three-part form wants the exact name.
        {kProtocolTelnet, "sshx:example.org", "Unknown protocol: sshx."},
        {kProtocolTelnet, "Telnet:a:23", "Unknown protocol: Telnet."},
        {kProtocolTelnet, "telnet:a:023", "Bad port: 023."},
        {kProtocolTelnet, "telnet:a:", "Bad port: ."},
        // Ports that would wrap around when converted to 16 bits.
        {kProtocolTelnet, "example.org:65536", "Bad port: 65536."},
        {kProtocolTelnet, "telnet:a:-2", "Bad port: -2."},
        // 250 + ":23" fits, but the prepended "telnet:" makes it 260.
        {kProtocolTelnet, h250, "Address longer than 255 characters: telnet:" + h250 + "."},
        {kProtocolTelnet, h256, "Address longer than 255 characters: " + h256 + "."},
        // A protocol number out of range is an error, not an overread.
        {7, "example.org:23", "Unknown protocol: 7."},
    };
    for (const Case& c : cases) {
        THostConfig host;
        host.SetProtocol(c.protocol);
        EXPECT_EQ(MessageOf(DecodeAddress, c.text, host), prefix + c.message);
    }
}

TEST(DecodeAuth, ThreeKindsAndUnknownShowsWholeValue) {
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

    THostConfig fresh;
    for (const char* text : {"PWD:secret", "pwd", ""}) {
        EXPECT_EQ(MessageOf(DecodeAuth, text, fresh),
                  std::string("DecodeAuth. Unknown SSH authentication type: |") + text + "|.");
    }
    EXPECT_EQ(fresh.GetAuthType(), 0);
}
