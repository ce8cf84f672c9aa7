// Public blobs and signatures of every user key type: Ed25519 against the
// RFC 8032 vectors, the others verified by libcrypto alone.
#include "ssh/keys/user_key.h"

#include <gtest/gtest.h>

#include "key_test_support.h"

namespace {

TEST(UserKey, Ed25519MatchesRfc8032) {
    struct Case {
        const char *secret, *pub, *message, *signature;
    };
    const Case cases[] = {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39"
         "701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f36"
         "13d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
        {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f7"
         "60984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pub);
        const Blob secret = HexBlob(c.secret);
        auto key = UserKey::FromPkey(
            EvpPkeyPtr(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret.data(), 32)),
            "rfc");
        ASSERT_TRUE(key);
        EXPECT_STREQ("ssh-ed25519", key->TypeName());
        BlobWriter blob;
        blob.PutString("ssh-ed25519");
        blob.PutString(HexBlob(c.pub));
        EXPECT_EQ(blob.bytes(), key->PublicBlob());

        const Blob message = HexBlob(c.message);
        Blob signature;
        ASSERT_TRUE(key->Sign("ssh-ed25519", message.data(), message.size(), false, &signature));
        BlobWriter expected;
        expected.PutString("ssh-ed25519");
        expected.PutString(HexBlob(c.signature));
        EXPECT_EQ(expected.bytes(), signature);
        // Another key type's algorithm is refused.
        EXPECT_FALSE(key->Sign("ssh-rsa", message.data(), message.size(), false, &signature));
    }
}

EvpPkeyPtr Generate(const char* type, const char* arg) {
    if (std::string(type) == "RSA")
        return EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048)));
    return EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, type, arg));
}

TEST(UserKey, SignaturesVerifyWithLibcrypto) {
    struct Case {
        const char* type;
        const char* arg;
        const char* name;
        std::vector<std::string> algorithms;
    };
    const Case cases[] = {
        {"EC", "P-256", "ecdsa-sha2-nistp256", {"ecdsa-sha2-nistp256"}},
        {"EC", "P-384", "ecdsa-sha2-nistp384", {"ecdsa-sha2-nistp384"}},
        {"EC", "P-521", "ecdsa-sha2-nistp521", {"ecdsa-sha2-nistp521"}},
        {"ED25519", nullptr, "ssh-ed25519", {"ssh-ed25519"}},
        {"RSA", nullptr, "ssh-rsa", {"rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"}},
    };
    const Blob data = ToBlob("the data a login signs");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto key = UserKey::FromPkey(Generate(c.type, c.arg), "");
        ASSERT_TRUE(key);
        EXPECT_STREQ(c.name, key->TypeName());
        EXPECT_EQ(c.name, BlobKeyType(key->PublicBlob()));
        for (const std::string& algorithm : c.algorithms) {
            Blob signature;
            ASSERT_TRUE(key->Sign(algorithm, data.data(), data.size(), false, &signature));
            std::string named;
            EXPECT_TRUE(VerifySshSignature(key->Pkey(), signature, data, &named));
            EXPECT_EQ(algorithm, named);
            Blob other = data;
            other[0] ^= 1;
            EXPECT_FALSE(VerifySshSignature(key->Pkey(), signature, other));
        }
    }
}

TEST(UserKey, EcdsaBlobCarriesUncompressedPoint) {
    auto key = UserKey::FromPkey(Generate("EC", "P-384"), "");
    ASSERT_TRUE(key);
    BlobReader r(key->PublicBlob());
    std::string type, curve;
    Blob point;
    ASSERT_TRUE(r.GetString(&type) && r.GetString(&curve) && r.GetString(&point) && r.AtEnd());
    EXPECT_EQ("nistp384", curve);
    ASSERT_EQ(97u, point.size());
    EXPECT_EQ(0x04, point[0]);
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
