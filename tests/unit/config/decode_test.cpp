#include <gtest/gtest.h>

#include <string>

#include "base/exception.h"
#include "config/decode_address.h"
#include "config/decode_auth.h"

// The forms of ADDRESS and SSH_AUTH are checked by
// tests/data/config/cases/addresses.cfgcase; here what a file cannot express.
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

TEST(DecodeAddress, LengthLimitAndProtocolRange) {
    const std::string h250 = std::string(250, 'h') + ":23", h256(256, 'h');
    const std::string prefix = "DecodeAddress error. ";
    THostConfig host;
    DecodeAddress(std::string(255, 'h'), host);
    EXPECT_EQ(host.GetAddress().size(), 255u);
    // 250 + ":23" fits, but the prepended "telnet:" makes it 260.
    EXPECT_EQ(MessageOf(DecodeAddress, h250, host),
              prefix + "Address longer than 255 characters: telnet:" + h250 + ".");
    EXPECT_EQ(MessageOf(DecodeAddress, h256, host),
              prefix + "Address longer than 255 characters: " + h256 + ".");
    // A protocol number out of range is an error, not an overread.
    host.SetProtocol(7);
    EXPECT_EQ(MessageOf(DecodeAddress, "example.org:23", host), prefix + "Unknown protocol: 7.");
}

TEST(DecodeAuth, FailureLeavesTheTypeAlone) {
    THostConfig fresh;
    EXPECT_NE(MessageOf(DecodeAuth, "PWD:secret", fresh), "(no error)");
    EXPECT_EQ(fresh.GetAuthType(), 0);
}
