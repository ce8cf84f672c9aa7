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

TEST_F(DsaTest, SignatureFormFollowsTheWordAndVerifyAdaptsIt) {
    const Bytes standard = Sign("hash", 0);
    ASSERT_EQ(55u, standard.size());
    EXPECT_EQ(Str("ssh-dss") + U32(40), standard.substr(0, 15));
    const Bytes bare = Sign("hash", SSH_BUG_SIGBLOB);
    EXPECT_EQ(SIGBLOB_LEN, bare.size());
    const struct {
        Bytes signature;
        int word, result, word_after;
    } cases[] = {
        // A server without table entry sends the bare form: the bit is set
        // for the signatures this login makes later.
        {bare, SSH_BUG_SESSIONSTR, 1, SSH_BUG_SESSIONSTR | SSH_BUG_SIGBLOB},
        // One listed as bare that sends the standard form: cleared.
        {standard, SSH_BUG_SIGBLOB | SSH_BUG_HMACKEY, 1, SSH_BUG_HMACKEY},
        {standard, 0, 1, 0},
        // r = 1, s = 2 in the bare form: parsed, checked, refused.
        {Bytes(19, '\0') + "\x01" + Bytes(19, '\0') + "\x02", SSH_BUG_SIGBLOB, 0, SSH_BUG_SIGBLOB},
        {standard.substr(0, 30) + static_cast<char>(standard[30] ^ 1) + standard.substr(31), 0, 0,
         0},
        // Another type name, or bytes after the blob.
        {Str("ssh-dsx") + standard.substr(11), 0, -1, 0},
        {standard + "!", 0, -1, 0},
    };
    for (const auto& c : cases) {
        int word = c.word;
        EXPECT_EQ(c.result, DsaVerify(key_.get(), c.signature, "hash", &word));
        EXPECT_EQ(c.word_after, word);
    }
    int word = 0;
    EXPECT_EQ(0, DsaVerify(key_.get(), standard, "other data", &word));
    EXPECT_EQ(SIGBLOB_LEN, Sign("x", SSH_BUG_SESSIONSTR | SSH_BUG_SIGBLOB).size());
    EXPECT_EQ("bad sigbloblen 39 != SIGBLOB_LEN", FatalMessage([&] {
                  DsaVerify(key_.get(), Str("ssh-dss") + Str(Bytes(39, '\1')), "hash", &word);
              }));
}

}  // namespace
