// DSA keys and signatures: the public-key blob, both signature forms, and
// how verification adapts the compatibility word to what a server sends.
#include <openssl/bn.h>
#include <openssl/evp.h>

#include "ssh/keys/authfile.h"
#include "ssh/keys/dsa.h"
#include "ssh/transport/compat.h"
#include "ssh/wire/bufaux.h"
#include "ssh/wire/scoped.h"
#include "ssh/wire/xmalloc.h"
#include "ssh2_test_support.h"

namespace {

const std::string kKeyFile = QUENLOR_TEST_DATA "/ssh2/user_dsa";
const std::string kLockedKeyFile = QUENLOR_TEST_DATA "/ssh2/locked_dsa";

class DsaTest : public Ssh2Test {
  protected:
    void SetUp() override {
        Ssh2Test::SetUp();
        key_.reset(key_new(KEY_DSA));
        ASSERT_TRUE(load_private_key_file(kKeyFile.c_str(), "", key_.get(), nullptr));
    }
    std::string Blob() { return DsaBlob(key_.get()); }
    std::string Sign(const std::string& data, int datafellows) {
        unsigned char* signature = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(0, dsa_sign(key_.get(), &signature, &length,
                              reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<uint32_t>(data.size()), datafellows));
        std::string result(reinterpret_cast<char*>(signature), length);
        xfree(signature);
        return result;
    }
    int Verify(const std::string& signature, const std::string& data, int* datafellows) {
        return DsaVerify(key_.get(), signature, data, datafellows);
    }
    KeyPtr key_;
};

TEST_F(DsaTest, BlobRoundTripsAndHasTheWireLayout) {
    const std::string blob = Blob();
    ASSERT_GT(blob.size(), 11u);
    EXPECT_EQ(Str("ssh-dss"), blob.substr(0, 11));

    KeyPtr back(dsa_key_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                  static_cast<uint32_t>(blob.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(blob, DsaBlob(back.get()));
    // The public key read back verifies what the private key signed.
    int word = 0;
    EXPECT_EQ(1, DsaVerify(back.get(), Sign("payload", 0), "payload", &word));
}

TEST_F(DsaTest, BadBlobs) {
    // Another key type: refused without a fatal end.
    ScopedBuffer rsa;
    buffer_put_cstring(rsa.get(), "ssh-rsa");
    buffer_put_cstring(rsa.get(), "whatever");
    EXPECT_EQ(nullptr, dsa_key_from_blob(buffer_ptr(rsa.get()), buffer_len(rsa.get())));

    // Truncated inside y: fatal, nothing leaks (checked by the sanitizer run).
    const std::string blob = Blob();
    EXPECT_FALSE(FatalMessage([&] {
                     dsa_key_from_blob(reinterpret_cast<const unsigned char*>(blob.data()),
                                       static_cast<uint32_t>(blob.size() - 3));
                 }).empty());

    // Trailing bytes are only reported; the key is still usable.
    const std::string longer = blob + "xyz";
    KeyPtr key(dsa_key_from_blob(reinterpret_cast<const unsigned char*>(longer.data()),
                                 static_cast<uint32_t>(longer.size())));
    EXPECT_TRUE(key);

    EXPECT_EQ(0u, dsa_key_to_blob(nullptr, nullptr, nullptr));
    KeyPtr empty(key_new(KEY_EMPTY));
    EXPECT_EQ(0u, dsa_key_to_blob(empty.get(), nullptr, nullptr));
}

TEST_F(DsaTest, SignatureFormFollowsTheWordAndVerifyAdaptsIt) {
    const std::string outer = Sign("data", 0);
    ASSERT_EQ(55u, outer.size());
    EXPECT_EQ(Str("ssh-dss") + U32(40), outer.substr(0, 15));
    EXPECT_EQ(SIGBLOB_LEN, Sign("data", SSH_BUG_SIGBLOB).size());

    // A server without table entry sends 40 bytes: the bit is set, and kept
    // for the signatures this login makes later.
    int word = SSH_BUG_SESSIONSTR;
    EXPECT_EQ(1, Verify(Sign("hash", SSH_BUG_SIGBLOB), "hash", &word));
    EXPECT_EQ(SSH_BUG_SESSIONSTR | SSH_BUG_SIGBLOB, word);
    EXPECT_EQ(SIGBLOB_LEN, Sign("x", word).size());

    // A server listed as bare-blob that sends the standard form: cleared.
    word = SSH_BUG_SIGBLOB | SSH_BUG_PKSERVICE | SSH_BUG_HMACKEY;
    EXPECT_EQ(1, Verify(Sign("hash", 0), "hash", &word));
    EXPECT_EQ(SSH_BUG_PKSERVICE | SSH_BUG_HMACKEY, word);

    // Standard form, standard word: unchanged.
    word = 0;
    EXPECT_EQ(1, Verify(Sign("hash", 0), "hash", &word));
    EXPECT_EQ(0, word);

    // r = 1, s = 2 in the bare form: leading zeros, then the number. Not a
    // valid signature, but parsed as r = 1 and s = 2 and checked.
    std::string bare(SIGBLOB_LEN, '\0');
    bare[19] = 1;
    bare[39] = 2;
    word = SSH_BUG_SIGBLOB;
    EXPECT_EQ(0, Verify(bare, "hash", &word));
    EXPECT_EQ(SSH_BUG_SIGBLOB, word);
}

TEST_F(DsaTest, VerifyRefusesWrongSignatures) {
    int word = 0;
    std::string signature = Sign("hash", 0);
    EXPECT_EQ(0, Verify(signature, "other data", &word));
    signature[30] ^= 0x01;
    EXPECT_EQ(0, Verify(signature, "hash", &word));

    // Another type name, or bytes after the blob: an error result.
    std::string renamed = signature;
    renamed[10] = 'x';
    EXPECT_EQ(-1, Verify(renamed, "hash", &word));
    EXPECT_EQ(-1, Verify(Sign("hash", 0) + "!", "hash", &word));

    // A standard-form signature whose inner blob is not 40 bytes is fatal.
    const std::string short_inner = Str("ssh-dss") + Str(std::string(39, '\1'));
    EXPECT_EQ("bad sigbloblen 39 != SIGBLOB_LEN",
              FatalMessage([&] { Verify(short_inner, "hash", &word); }));

    KeyPtr empty(key_new(KEY_EMPTY));
    EXPECT_EQ(-1, dsa_verify(empty.get(), reinterpret_cast<const unsigned char*>("x"), 1,
                             reinterpret_cast<const unsigned char*>("x"), 1, &word));
}

TEST_F(DsaTest, KeyFiles) {
    KeyPtr key(key_new(KEY_DSA));
    char* comment = nullptr;
    EXPECT_TRUE(load_private_key_file(kKeyFile.c_str(), "", key.get(), &comment));
    ASSERT_NE(nullptr, comment);
    EXPECT_STREQ("dsa w/o comment", comment);
    xfree(comment);

    // A protected key cannot be read with the empty passphrase, and nothing
    // asks for one.
    KeyPtr locked(key_new(KEY_DSA));
    EXPECT_FALSE(load_private_key_file(kLockedKeyFile.c_str(), "", locked.get(), nullptr));
    EXPECT_TRUE(load_private_key_file(kLockedKeyFile.c_str(), "secret", locked.get(), nullptr));

    KeyPtr missing(key_new(KEY_DSA));
    EXPECT_FALSE(load_private_key_file("/nonexistent/key", "", missing.get(), nullptr));
    // Not a PEM file at all.
    EXPECT_FALSE(
        load_private_key_file(QUENLOR_SOURCE_DIR "/CMakeLists.txt", "", missing.get(), nullptr));
}

TEST_F(DsaTest, KeyRecords) {
    EXPECT_EQ("key_new: bad key type 7", FatalMessage([] { key_new(7); }));
    Key* rsa = key_new(KEY_RSA);
    EXPECT_NE(nullptr, rsa->rsa);
    key_free(rsa);
    Key* empty = key_new(KEY_EMPTY);
    EXPECT_EQ(nullptr, empty->dsa);
    key_free(empty);
}

}  // namespace
