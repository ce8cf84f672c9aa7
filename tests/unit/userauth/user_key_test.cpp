// Ed25519 against the RFC 8032 vectors, the choice of signature algorithm
// and the encodings; the other key types are signed with in key_file_test.
#include "ssh/keys/user_key.h"

#include <gtest/gtest.h>

#include "../ssh/data_rows.h"
#include "key_test_support.h"

namespace {

TEST(UserKey, Ed25519MatchesRfc8032) {
    const auto rows = DataRows("userauth/ed25519");
    EXPECT_EQ(3u, rows.size());
    for (const auto& row : rows) {
        SCOPED_TRACE(row[1]);
        const Blob secret = HexBlob(row[0]);
        auto key = UserKey::FromPkey(
            EvpPkeyPtr(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret.data(), 32)),
            "rfc");
        ASSERT_TRUE(key);
        EXPECT_STREQ("ssh-ed25519", key->TypeName());
        BlobWriter blob;
        blob.PutString("ssh-ed25519");
        blob.PutString(HexBlob(row[1]));
        EXPECT_EQ(blob.bytes(), key->PublicBlob());

        const Blob message = HexBlob(row.size() > 3 ? row[3] : "");
        Blob signature;
        ASSERT_TRUE(key->Sign("ssh-ed25519", message.data(), message.size(), false, &signature));
        BlobWriter expected;
        expected.PutString("ssh-ed25519");
        expected.PutString(HexBlob(row[2]));
        EXPECT_EQ(expected.bytes(), signature);
        // Another key type's algorithm is refused.
        EXPECT_FALSE(key->Sign("ssh-rsa", message.data(), message.size(), false, &signature));
    }
}

TEST(UserKey, SignatureAlgorithmChoice) {
    struct Case {
        std::string key_type;
        std::vector<std::string> server;
        bool known;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"ssh-rsa", {}, false, {"rsa-sha2-512", "ssh-rsa"}},
        {"ssh-rsa", {"ssh-ed25519", "rsa-sha2-256"}, true, {"rsa-sha2-256"}},
        {"ssh-rsa", {"rsa-sha2-256", "rsa-sha2-512"}, true, {"rsa-sha2-512"}},
        {"ssh-rsa", {"ssh-rsa", "ssh-dss"}, true, {"ssh-rsa"}},
        {"ssh-ed25519", {"rsa-sha2-256"}, true, {"ssh-ed25519"}},
        {"ecdsa-sha2-nistp521", {}, false, {"ecdsa-sha2-nistp521"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, SignatureAlgorithms(c.key_type, c.server, c.known)) << c.key_type;
    EXPECT_EQ((std::vector<std::string>{"a", "b-c", "d"}), SplitNameList("a,b-c,,d,"));
    EXPECT_TRUE(SplitNameList("").empty());
}

TEST(UserKey, DerSignatureSplit) {
    Blob r, s;
    // SEQUENCE { INTEGER 0x00 0x80, INTEGER 0x05 }
    const Blob der = HexBlob("300702020080020105");
    ASSERT_TRUE(SplitDerSignature(der.data(), der.size(), &r, &s));
    EXPECT_EQ(HexBlob("80"), r);
    EXPECT_EQ(HexBlob("05"), s);
    Blob longer = der;
    longer.push_back(0);
    EXPECT_FALSE(SplitDerSignature(longer.data(), longer.size(), &r, &s));
    EXPECT_FALSE(SplitDerSignature(der.data(), der.size() - 1, &r, &s));
}

TEST(UserKey, MpintEncoding) {
    struct Case {
        std::string magnitude, expected;
    };
    const Case cases[] = {{"", "00000000"},
                          {"0000", "00000000"},
                          {"7f", "000000017f"},
                          {"80", "000000020080"},
                          {"00ff01", "0000000300ff01"}};
    for (const Case& c : cases) {
        BlobWriter w;
        const Blob m = HexBlob(c.magnitude);
        w.PutMpint(m.data(), m.size());
        EXPECT_EQ(HexBlob(c.expected), w.bytes()) << c.magnitude;
    }
}

}  // namespace
