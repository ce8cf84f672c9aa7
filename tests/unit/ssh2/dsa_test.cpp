// DSA keys and signatures: the key files and public-key blob, both
// signature forms, and how verification adapts the compatibility word to
// what a server sends.
#include "ssh/keys/authfile.h"
#include "ssh/transport/compat.h"
#include "ssh2_test_support.h"

namespace {

const std::string kKeyFile = QUENLOR_TEST_DATA "/ssh2/user_dsa";

class DsaTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        char* comment = nullptr;
        ASSERT_TRUE(load_private_key_file(kKeyFile.c_str(), "", key_.get(), &comment));
        EXPECT_STREQ("dsa w/o comment", comment);
        xfree(comment);
    }
    Bytes Sign(const Bytes& data, int word) {
        unsigned char* signature = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(0, dsa_sign(key_.get(), &signature, &length,
                              reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<uint32_t>(data.size()), word));
        Bytes result(reinterpret_cast<char*>(signature), length);
        xfree(signature);
        return result;
    }
    KeyPtr FromBlob(const Bytes& blob) {
        return KeyPtr(dsa_key_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                        static_cast<uint32_t>(blob.size())));
    }
    KeyPtr key_{key_new(KEY_DSA)};
};

TEST_F(DsaTest, Blobs) {
    const Bytes blob = DsaBlob(key_.get());
    EXPECT_EQ(Str("ssh-dss"), blob.substr(0, 11));
    KeyPtr back = FromBlob(blob);
    ASSERT_TRUE(back);
    EXPECT_EQ(blob, DsaBlob(back.get()));
    int word = 0;
    EXPECT_EQ(1, DsaVerify(back.get(), Sign("payload", 0), "payload", &word));
    // Trailing bytes are only reported; another key type is refused, a
    // truncated number is fatal.
    EXPECT_TRUE(FromBlob(blob + "xyz"));
    EXPECT_FALSE(FromBlob(Str("ssh-rsa") + Str("whatever")));
    EXPECT_FALSE(FatalMessage([&] { FromBlob(blob.substr(0, blob.size() - 3)); }).empty());
    EXPECT_EQ(0u, dsa_key_to_blob(nullptr, nullptr, nullptr));
    KeyPtr empty(key_new(KEY_EMPTY));
    EXPECT_EQ(0u, dsa_key_to_blob(empty.get(), nullptr, nullptr));
    EXPECT_EQ(-1, DsaVerify(empty.get(), "x", "x", &word));
    // A protected key opens with its passphrase only; other files not at all.
    const std::string locked = QUENLOR_TEST_DATA "/ssh2/locked_dsa";
    KeyPtr other(key_new(KEY_DSA));
    EXPECT_FALSE(load_private_key_file(locked.c_str(), "", other.get(), nullptr));
    EXPECT_TRUE(load_private_key_file(locked.c_str(), "secret", other.get(), nullptr));
    EXPECT_FALSE(
        load_private_key_file(QUENLOR_SOURCE_DIR "/CMakeLists.txt", "", other.get(), nullptr));
}

TEST_F(DsaTest, SignatureFormFollowsTheWord) {
    const Bytes standard = Sign("hash", 0);
    ASSERT_EQ(55u, standard.size());
    EXPECT_EQ(Str("ssh-dss") + U32(40), standard.substr(0, 15));
    const Bytes bare = Sign("hash", SSH_BUG_SIGBLOB);
    EXPECT_EQ(SIGBLOB_LEN, bare.size());
    int word = 0;
    EXPECT_EQ(1, DsaVerify(key_.get(), standard, "hash", &word));
    EXPECT_EQ(1, DsaVerify(key_.get(), bare, "hash", &word));
    EXPECT_EQ(SSH_BUG_SIGBLOB, word);
    EXPECT_EQ(SIGBLOB_LEN, Sign("x", SSH_BUG_SESSIONSTR | SSH_BUG_SIGBLOB).size());
}

TEST_F(DsaTest, VerifyAdaptsTheWordToTheFormTheServerSends) {
    for (const TCase& c : ReadCases("ssh2/dsa")) {
        SCOPED_TRACE(c.where);
        const Bytes signature = HexBytes(c[1]);
        int word = c[0] == "verify" ? static_cast<int>(Num(c[3])) : 0;
        if (c[0] == "fatal") {
            EXPECT_EQ(c[2], FatalMessage([&] { DsaVerify(key_.get(), signature, "hash", &word); }));
            continue;
        }
        EXPECT_EQ(Num(c[4]), DsaVerify(key_.get(), signature, c[2], &word));
        EXPECT_EQ(Num(c[5]), word);
    }
}

}  // namespace
