// Keyboard-interactive requests and responses, server text cleaning and the
// EXT_INFO extensions.
#include "ssh/auth/kbdint.h"

#include <gtest/gtest.h>

#include "ssh/auth/ext_info.h"

namespace {

Blob Request(const std::vector<std::pair<std::string, bool>>& prompts, uint32_t count,
             const std::string& trailer = "") {
    BlobWriter w;
    w.PutString("name");
    w.PutString("instruction");
    w.PutString("");
    w.PutU32(count);
    for (const auto& p : prompts) {
        w.PutString(p.first);
        w.PutByte(p.second ? 1 : 0);
    }
    w.PutRaw(reinterpret_cast<const uint8_t*>(trailer.data()), trailer.size());
    return w.Take();
}

TEST(KbdInt, ParsesRequests) {
    KbdIntRequest r;
    const Blob two = Request({{"Password: ", false}, {"Token: ", true}}, 2);
    ASSERT_TRUE(ParseKbdIntRequest(two.data(), two.size(), &r));
    EXPECT_EQ("name", r.name);
    EXPECT_EQ("instruction", r.instruction);
    ASSERT_EQ(2u, r.prompts.size());
    EXPECT_EQ("Password: ", r.prompts[0].text);
    EXPECT_FALSE(r.prompts[0].echo);
    EXPECT_EQ("Token: ", r.prompts[1].text);
    EXPECT_TRUE(r.prompts[1].echo);

    const Blob none = Request({}, 0);
    ASSERT_TRUE(ParseKbdIntRequest(none.data(), none.size(), &r));
    EXPECT_TRUE(r.prompts.empty());

    struct Bad {
        const char* what;
        Blob bytes;
    };
    const Bad bad[] = {
        {"count above the prompts", Request({{"a", false}}, 2)},
        {"trailing bytes", Request({{"a", false}}, 1, "x")},
        {"too many prompts", Request({}, kKbdIntMaxPrompts + 1)},
    };
    for (const Bad& b : bad)
        EXPECT_FALSE(ParseKbdIntRequest(b.bytes.data(), b.bytes.size(), &r)) << b.what;
    for (std::size_t n = 0; n < two.size(); ++n)
        EXPECT_FALSE(ParseKbdIntRequest(two.data(), n, &r)) << n;
}

TEST(KbdInt, BuildsResponses) {
    BlobWriter expected;
    expected.PutU32(2);
    expected.PutString("secret");
    expected.PutString("");
    EXPECT_EQ(expected.bytes(), BuildKbdIntResponse({"secret", ""}));
}

TEST(KbdInt, CleansServerText) {
    EXPECT_EQ("a b\nc", CleanServerText("a\tb\nc"));
    EXPECT_EQ("[31mred", CleanServerText("\x1b[31mred\x07\r"));
    EXPECT_EQ("\xd0\x9f\xd1\x80", CleanServerText("\xd0\x9f\x7f\xd1\x80"));
}

TEST(ExtInfo, ServerSigAlgs) {
    BlobWriter w;
    w.PutU32(3);
    w.PutString("no-flow-control");
    w.PutString("p");
    w.PutString("server-sig-algs");
    w.PutString("ssh-ed25519,rsa-sha2-256");
    w.PutString("delay-compression");
    w.PutString("x");
    ExtInfo info;
    ASSERT_TRUE(ParseExtInfo(w.bytes().data(), w.bytes().size(), &info));
    EXPECT_TRUE(info.has_server_sig_algs);
    EXPECT_EQ((std::vector<std::string>{"ssh-ed25519", "rsa-sha2-256"}), info.server_sig_algs);

    ExtInfo cut;
    EXPECT_FALSE(ParseExtInfo(w.bytes().data(), w.bytes().size() - 1, &cut));
    ExtInfo empty;
    const Blob zero = {0, 0, 0, 0};
    EXPECT_TRUE(ParseExtInfo(zero.data(), zero.size(), &empty));
    EXPECT_FALSE(empty.has_server_sig_algs);
}

}  // namespace
